// qhost's reading of what a simulated WaveRT device played. Such a device never waits for audio:
// it plays silence that the plug-in wrote before the first track, where the host fell behind
// (starvation), between a seek's Flush and its new place, and after the last sample. That silence
// is taken out before the comparison with what was sent, and the stretches of it between audio
// are counted: those that begin within a seek's or a pause's span apart, as their own gap.
#pragma once

#include <cstddef>
#include <vector>

struct RtPlayed {
    std::vector<char> audio; // what played, without the silence the plug-in added
    int gaps = 0;            // stretches of silence inserted between audio
    size_t gapBytes = 0;     // their bytes
    int seekGaps = 0;        // of those, the ones a seek made
    size_t seekGapBytes = 0;
};

// Where a seek may leave the device silent: from its Flush to its new place's first byte
// (offsets in what the device played).
struct DeviceSpan {
    unsigned long long from, to;
};

// How the silence is told from the audio.
struct RtShape {
    char silence = 0;
    size_t block = 1;
    std::vector<DeviceSpan> seeks;
    size_t fadeQuiet = 0; // with fades: silence shorter than this between audio is a fade's end
    size_t fadeBytes = 0; // with fades: what a fade spans
};

// Bytes of whole silent frames at the start of bytes, or at its end.
size_t SilentFrames(const std::vector<char>& bytes, size_t block, char silence, bool atEnd);

// Takes the added silence out of got, frame by frame, as far as want says where audio is: whole
// frames of silence before want's first frame, where want has a frame that is not silence, and
// after want's end. Silent frames that want itself has at that place stay. Where got differs
// otherwise, the rest of got stays in audio as it is; with fades (fadeQuiet > 0) a frame that
// differs and is not silence is taken as audio (a faded sample) and the comparison goes on, and
// the silent frames a fade-in begins with are told from the silence before them by where the
// audio after the fade lines up.
RtPlayed TakeOutSilence(const std::vector<char>& got, const std::vector<char>& want,
                        const RtShape& shape);
