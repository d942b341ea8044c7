// qhost's reading of what a simulated WaveRT device played. Such a device never waits for audio:
// it plays silence that the plug-in wrote before the first track, where the host fell behind
// (starvation), and after the last sample. That silence is taken out before the comparison with
// what was sent, and the stretches of it between audio are counted.
#pragma once

#include <cstddef>
#include <vector>

struct RtPlayed {
    std::vector<char> audio; // what played, without the silence the plug-in added
    int gaps = 0;            // stretches of silence inserted between audio
    size_t gapBytes = 0;     // their bytes
};

// Bytes of whole silent frames at the start of bytes, or at its end.
size_t SilentFrames(const std::vector<char>& bytes, size_t block, char silence, bool atEnd);

// Takes the added silence out of got, frame by frame, as far as want says where audio is: whole
// frames of silence before want's first frame, where want has a frame that is not silence, and
// after want's end. Where got differs otherwise, the rest of got stays in audio as it is.
RtPlayed TakeOutSilence(const std::vector<char>& got, const std::vector<char>& want, char silence,
                        size_t block);
