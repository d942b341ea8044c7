// Packed 24-bit widening and volume scaling of 8-, 16- and 32-bit samples.
#include "engine/samples.h"

#include <cstring>

DWORD Convert24To32(BYTE* dst, const BYTE* src, DWORD n) {
    DWORD samples = (n + 2) / 3;
    for (DWORD i = 0; i < samples; i++) {
        dst[0] = 0;
        dst[1] = src[0];
        dst[2] = src[1];
        dst[3] = src[2];
        dst += 4;
        src += 3;
    }
    return samples * 4;
}

namespace {

DWORD Scale8(BYTE* dst, const BYTE* src, DWORD count, int volume) {
    for (DWORD i = 0; i < count; i++)
        dst[i] = (BYTE)(128 + (((int)src[i] - 128) * volume >> 8));
    return count;
}

DWORD Scale16(BYTE* dst, const BYTE* src, DWORD count, int volume) {
    DWORD samples = count / 2;
    for (DWORD i = 0; i < samples; i++) {
        SHORT s;
        memcpy(&s, src + 2 * i, 2);
        s = (SHORT)((s * volume) >> 8);
        memcpy(dst + 2 * i, &s, 2);
    }
    return samples * 2;
}

DWORD Scale32(BYTE* dst, const BYTE* src, DWORD count, int volume) {
    DWORD samples = count / 4;
    for (DWORD i = 0; i < samples; i++) {
        LONG s;
        memcpy(&s, src + 4 * i, 4);
        s = (s >> 8) * volume;
        memcpy(dst + 4 * i, &s, 4);
    }
    return samples * 4;
}

} // namespace

void CopyScaled(BYTE* dst, const BYTE* src, DWORD count, int bitsPerSample, DWORD volume) {
    DWORD done = 0;
    switch (bitsPerSample) {
    case 8:
        done = Scale8(dst, src, count, (int)volume);
        break;
    case 16:
        done = Scale16(dst, src, count, (int)volume);
        break;
    case 32:
        done = Scale32(dst, src, count, (int)volume);
        break;
    }
    memcpy(dst + done, src + done, count - done);
}
