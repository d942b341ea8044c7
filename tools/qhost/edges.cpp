// The edges of the silences in what each simulated stream consumed, and the samples next to them.
#include "tools/qhost/edges.h"

#include "testbed/simks.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// One frame's largest magnitude as a fraction of full scale (8-bit: unsigned around 0x80).
double Peak(const BYTE* frame, int channels, int bytes) {
    double peak = 0;
    for (int c = 0; c < channels; c++, frame += bytes) {
        double v;
        if (bytes == 1) {
            v = (frame[0] - 128) / 128.0;
        } else {
            LONG s = 0;
            memcpy((BYTE*)&s + 4 - bytes, frame, bytes);
            v = s / 2147483648.0;
        }
        v = v < 0 ? -v : v;
        peak = v > peak ? v : peak;
    }
    return peak;
}

bool Silent(const BYTE* frame, int block, int bytes) {
    for (int i = 0; i < block; i++)
        if (frame[i] != (bytes == 1 ? 0x80 : 0))
            return false;
    return true;
}

void PrintEdge(const char* what, size_t frame, DWORD rate, double peak, int bits) {
    double full = (double)((1LL << (bits - 1)) - 1);
    printf("    sound %s at %.1f ms: largest sample next to it %.0f of %.0f\n", what,
           frame * 1000.0 / rate, peak * full, full);
}

void PrintStreamEdges(int stream) {
    SimKsStreamInfo info;
    if (!SimKs_GetStream(stream, &info) || !info.ConsumedBytes)
        return;
    const WAVEFORMATEX& f = info.Format.Format;
    int bytes = f.wBitsPerSample / 8, block = f.nBlockAlign;
    if (!bytes || !block || block != bytes * f.nChannels)
        return;
    std::vector<BYTE> data((size_t)info.ConsumedBytes);
    data.resize(SimKs_CopyConsumed(stream, 0, data.data(), (ULONG)data.size()));
    size_t frames = data.size() / block, least = f.nSamplesPerSec / 1000, run = 0;
    bool sound = false; // a stretch of sound has begun
    printf("  edges of stream %d's sound:\n", stream);
    for (size_t i = 0; i <= frames; i++) {
        bool silent = i < frames && Silent(&data[i * block], block, bytes);
        if (silent) {
            run++;
            continue;
        }
        if (sound && run >= least)
            PrintEdge("stopped", i - run, f.nSamplesPerSec,
                      Peak(&data[(i - run - 1) * block], f.nChannels, bytes), f.wBitsPerSample);
        if (i < frames && (!sound || run >= least))
            PrintEdge("started", i, f.nSamplesPerSec, Peak(&data[i * block], f.nChannels, bytes),
                      f.wBitsPerSample);
        if (i == frames && run < least && sound)
            PrintEdge("stopped", frames, f.nSamplesPerSec,
                      Peak(&data[(frames - run - 1) * block], f.nChannels, bytes),
                      f.wBitsPerSample);
        sound = true;
        run = 0;
    }
}

} // namespace

void PrintEdges() {
    for (int stream = 0; stream < SimKs_StreamCount(); stream++)
        PrintStreamEdges(stream);
}
