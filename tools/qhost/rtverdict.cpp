// Taking the silence a WaveRT stream adds out of what it played, and counting the gaps.
#include "tools/qhost/rtverdict.h"

#include <cstring>

namespace {

bool Silent(const char* frame, size_t block, char silence) {
    for (size_t i = 0; i < block; i++)
        if (frame[i] != silence)
            return false;
    return true;
}

size_t SilentStart(const std::vector<char>& bytes, size_t block, char silence) {
    return SilentFrames(bytes, block, silence, false);
}

} // namespace

size_t SilentFrames(const std::vector<char>& bytes, size_t block, char silence, bool atEnd) {
    size_t n = 0, whole = bytes.size() / block * block;
    while (n + block <= whole && Silent(&bytes[atEnd ? whole - n - block : n], block, silence))
        n += block;
    return n;
}

RtPlayed TakeOutSilence(const std::vector<char>& got, const std::vector<char>& want, char silence,
                        size_t block) {
    RtPlayed r;
    // The track may itself begin with silence: the added silence ends where got's first sound
    // lies as far into got as want's first sound lies into want.
    size_t gotSound = SilentStart(got, block, silence),
           wantSound = SilentStart(want, block, silence);
    size_t g = gotSound > wantSound ? gotSound - wantSound : 0, w = 0;
    while (g + block <= got.size() && w + block <= want.size()) {
        if (!memcmp(&got[g], &want[w], block)) {
            r.audio.insert(r.audio.end(), got.begin() + g, got.begin() + g + block);
            g += block;
            w += block;
            continue;
        }
        size_t s = g;
        while (s + block <= got.size() && Silent(&got[s], block, silence))
            s += block;
        if (s == g)
            break; // a real difference: it stays in audio below
        r.gaps++;
        r.gapBytes += s - g;
        g = s;
    }
    size_t tail = g;
    while (w == want.size() && tail + block <= got.size() && Silent(&got[tail], block, silence))
        tail += block;
    if (w < want.size() || tail < got.size())
        r.audio.insert(r.audio.end(), got.begin() + g, got.end());
    return r;
}
