// qhost's report of where the sound stopped and started: at the host's calls on the first
// track's stream (each pause and its resume, each seek's old place's end and new place's start,
// the stop) and at the edges of every stretch of silence on each simulated stream; each with the
// largest sample next to it.
#pragma once

#include "tools/qhost/audio.h"
#include "tools/qhost/seek.h"

#include <windows.h>
#include <mmreg.h>

#include <vector>

// An edge of a stretch of silence: the frame where the sound starts, or just past its last frame.
struct SilenceEdge {
    bool started;
    size_t frame;
    double peak; // the largest sample of the frame next to it, as a fraction of full scale
};

// The largest magnitude in the frame just before `at` (before) or at `at`, as a fraction of full
// scale (8-bit: unsigned around 0x80); 0 where there is no such frame.
double PeakNext(const std::vector<char>& bytes, size_t at, bool before, const WAVEFORMATEX& f);

// The edges of the silences of at least `least` frames in bytes, and the start and end of sound.
std::vector<SilenceEdge> SilenceEdges(const std::vector<char>& bytes, const WAVEFORMATEX& f,
                                      size_t least);

// Prints, for the first track (null: none) the places of the host's calls, and for every stream
// the simulated devices opened each place where at least a millisecond of silence begins or ends.
void PrintEdges(const Track* first, const SeekPlan& plan, const SeekOutcome& moved, int fadeMs);
