// Taking the silence a WaveRT stream adds out of what it played, and counting the gaps.
#include "tools/qhost/rtverdict.h"

#include <cstring>

namespace {

// Frames that must match after a fade-in for the silence before it to be placed.
const size_t kProbeFrames = 32;

bool Silent(const char* frame, size_t block, char silence) {
    for (size_t i = 0; i < block; i++)
        if (frame[i] != silence)
            return false;
    return true;
}

size_t SilentStart(const std::vector<char>& bytes, size_t block, char silence) {
    return SilentFrames(bytes, block, silence, false);
}

// The bytes of the silent frames of bytes from `at` on.
size_t SilentRun(const std::vector<char>& bytes, size_t at, size_t block, char silence) {
    size_t s = at;
    while (s + block <= bytes.size() && Silent(&bytes[s], block, silence))
        s += block;
    return s - at;
}

bool InSeek(const RtShape& shape, size_t at) {
    for (const DeviceSpan& s : shape.seeks)
        if (at >= s.from && at <= s.to)
            return true;
    return false;
}

// A stretch of added silence at g, n bytes long.
void CountGap(RtPlayed& r, const RtShape& shape, size_t g, size_t n) {
    bool seek = InSeek(shape, g);
    (seek ? r.seekGaps : r.gaps)++;
    (seek ? r.seekGapBytes : r.gapBytes) += n;
}

// Of `added` bytes of silence at g, the silent frames a fade-in begins with: as many (up to
// shape.fadeQuiet) as make got line up with want again once the fade is over.
size_t FadeInQuiet(const std::vector<char>& got, const std::vector<char>& want, size_t g, size_t w,
                   size_t added, const RtShape& shape) {
    size_t probe = shape.fadeBytes + shape.fadeQuiet, window = kProbeFrames * shape.block;
    for (size_t k = 0; k <= added && k <= shape.fadeQuiet; k += shape.block) {
        size_t at = g + added - k;
        if (at + probe + window <= got.size() && w + probe + window <= want.size() &&
            !memcmp(&got[at + probe], &want[w + probe], window))
            return k;
    }
    return 0;
}

// Of `quiet` bytes of silence at g where want has sound, those the plug-in added: with fades,
// none of a silence shorter than a fade's quiet end, and not the silent frames a fade-in begins
// with.
size_t AddedSilence(const std::vector<char>& got, const std::vector<char>& want, size_t g, size_t w,
                    size_t quiet, const RtShape& shape) {
    if (shape.fadeQuiet && quiet < shape.fadeQuiet)
        return 0;
    return shape.fadeBytes ? quiet - FadeInQuiet(got, want, g, w, quiet, shape) : quiet;
}

} // namespace

size_t SilentFrames(const std::vector<char>& bytes, size_t block, char silence, bool atEnd) {
    size_t n = 0, whole = bytes.size() / block * block;
    while (n + block <= whole && Silent(&bytes[atEnd ? whole - n - block : n], block, silence))
        n += block;
    return n;
}

RtPlayed TakeOutSilence(const std::vector<char>& got, const std::vector<char>& want,
                        const RtShape& shape) {
    RtPlayed r;
    size_t block = shape.block;
    char silence = shape.silence;
    // The track may itself begin with silence: the added silence ends where got's first sound
    // lies as far into got as want's first sound lies into want.
    size_t gotSound = SilentStart(got, block, silence),
           wantSound = SilentStart(want, block, silence);
    size_t g = gotSound > wantSound ? gotSound - wantSound : 0, w = 0;
    while (g + block <= got.size() && w + block <= want.size()) {
        bool same = !memcmp(&got[g], &want[w], block);
        size_t quiet = same ? 0 : SilentRun(got, g, block, silence);
        size_t added = quiet ? AddedSilence(got, want, g, w, quiet, shape) : 0;
        if (!same && !added && !shape.fadeQuiet)
            break;    // a real difference: it stays in audio below
        if (!added) { // the track's frame, or with fades a faded one
            r.audio.insert(r.audio.end(), got.begin() + g, got.begin() + g + block);
            g += block;
            w += block;
            continue;
        }
        CountGap(r, shape, g, added);
        g += added;
    }
    size_t tail = g;
    while (w == want.size() && tail + block <= got.size() && Silent(&got[tail], block, silence))
        tail += block;
    if (w < want.size() || tail < got.size())
        r.audio.insert(r.audio.end(), got.begin() + g, got.end());
    return r;
}
