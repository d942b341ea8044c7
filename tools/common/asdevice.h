// What a bit-transparent device holds for audio the player sent, shared by qhost's verdict and
// the tests: each sample at the top of the device's container with zeros below (8-bit samples
// unsigned in 8-bit containers, signed in wider ones), a mono channel on the first two, channels
// the stream lacks silent.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <vector>

namespace asdevice {

// A sample of `bytes` bytes (1: unsigned) as a signed value at the top of 32 bits.
inline LONG Top(const char* p, int bytes) {
    if (bytes == 1)
        return (LONG)(((DWORD)(BYTE)p[0] - 128u) << 24);
    DWORD v = 0;
    for (int i = 0; i < bytes; i++)
        v |= (DWORD)(BYTE)p[i] << (8 * (4 - bytes + i));
    return (LONG)v;
}

// The device's bytes for the first `size` bytes of pcm (channels, bits as the player announced).
inline std::vector<char> Bytes(const char* pcm, size_t size, int channels, int bits,
                               const WAVEFORMATEX& device) {
    int in = (bits + 7) / 8, out = device.wBitsPerSample / 8;
    std::vector<char> want;
    if (in < 1 || out < 1 || channels < 1)
        return want;
    size_t frames = size / ((size_t)in * channels);
    want.reserve(frames * device.nChannels * out);
    for (size_t f = 0; f < frames; f++) {
        for (int j = 0; j < device.nChannels; j++) {
            int from = channels == 1 ? (j < 2 ? 0 : -1) : (j < channels ? j : -1);
            DWORD v = from < 0 ? 0 : (DWORD)Top(pcm + (f * channels + from) * in, in);
            for (int b = 0; b < out; b++)
                want.push_back(out == 1 ? (char)((v >> 24) + 128)
                                        : (char)(v >> (8 * (4 - out + b))));
        }
    }
    return want;
}

} // namespace asdevice
