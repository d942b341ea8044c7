// Comparing what was sent with what a device received when the plug-in fades the sound where it
// stops and starts: the differences must gather in short stretches (a fade out and the fade in
// after it), and every byte outside them must be the same.
#pragma once

#include <cstddef>
#include <vector>

struct Faded {
    size_t firstDiff =
        0;             // the first byte that differs outside a faded stretch (or the shorter size)
    int stretches = 0; // faded stretches before it
    size_t bytes = 0;  // their bytes
};

// Differences within `reach` bytes of one another make one stretch, allowed while it spans at most
// `reach` bytes; with reach 0 every difference counts.
Faded CompareOutsideFades(const std::vector<char>& want, const std::vector<char>& got,
                          size_t reach);
