// The conversion step between the ring and the device: throughput of each kind of conversion
// (widening, 8-bit to signed, mono on two channels, volume after widening) against memcpy of the
// same device bytes in the same run. Prints figures; asserts nothing.
#include "engine/convert.h"
#include "engine/format.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const DWORD kFrames = 48000; // one second at 48 kHz per pass
const int kPasses = 200;

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return t.QuadPart * 1000.0 / f.QuadPart;
}

WAVEFORMATEXTENSIBLE Format(int channels, int container, int valid) {
    WAVEFORMATEXTENSIBLE w;
    BuildWaveFormat(&w, 48000, channels, container);
    w.Format.wBitsPerSample = (WORD)container;
    w.Format.nBlockAlign = (WORD)(container / 8 * channels);
    w.Format.nAvgBytesPerSec = 48000 * w.Format.nBlockAlign;
    w.Samples.wValidBitsPerSample = (WORD)valid;
    return w;
}

struct Case {
    const char* name;
    int srcChannels, srcContainer, dstChannels, dstContainer, dstValid, volume;
};

// Milliseconds for kPasses conversions of kFrames frames, and for memcpy of the device's bytes.
void Run(const Case& c) {
    WAVEFORMATEXTENSIBLE src = Format(c.srcChannels, c.srcContainer, c.srcContainer);
    WAVEFORMATEXTENSIBLE dst = Format(c.dstChannels, c.dstContainer, c.dstValid);
    KSConversion conv;
    if (!PlanConversion(&conv, src, dst)) {
        printf("%-36s no conversion planned\n", c.name);
        return;
    }
    std::vector<BYTE> in((size_t)kFrames * src.Format.nBlockAlign, 0x5A);
    std::vector<BYTE> out((size_t)kFrames * dst.Format.nBlockAlign);
    std::vector<BYTE> copySrc(out.size(), 0x5A);
    for (size_t i = 0; i < in.size(); i++)
        in[i] = (BYTE)(i * 37 + 11);
    double t0 = NowMs();
    for (int p = 0; p < kPasses; p++)
        ConvertFrames(out.data(), in.data(), kFrames, conv, c.volume);
    double convertMs = NowMs() - t0;
    t0 = NowMs();
    for (int p = 0; p < kPasses; p++) {
        copySrc[p % copySrc.size()] ^= 1; // each pass copies bytes the compiler cannot know
        memcpy(out.data(), copySrc.data(), out.size());
    }
    double copyMs = NowMs() - t0;
    double mb = (double)out.size() * kPasses / (1024.0 * 1024.0);
    double secondsOfAudio = (double)kPasses; // each pass is one second at 48 kHz
    printf("%-36s %8.0f MB/s  memcpy %8.0f MB/s  %5.1fx memcpy's time  %6.0fx real time\n", c.name,
           mb / (convertMs / 1000.0), mb / (copyMs / 1000.0), convertMs / copyMs,
           secondsOfAudio * 1000.0 / convertMs);
}

} // namespace

int main() {
    const Case cases[] = {
        {"16-bit into 32-bit containers", 2, 16, 2, 32, 24, kUnityVolume},
        {"16-bit into packed 24-bit", 2, 16, 2, 24, 24, kUnityVolume},
        {"packed 24-bit into 32-bit", 2, 24, 2, 32, 24, kUnityVolume},
        {"8-bit unsigned to signed 16-bit", 2, 8, 2, 16, 16, kUnityVolume},
        {"mono 16-bit on two channels", 1, 16, 2, 16, 16, kUnityVolume},
        {"16-bit stereo on six channels", 2, 16, 6, 16, 16, kUnityVolume},
        {"16-bit into 32-bit, volume 101/256", 2, 16, 2, 32, 24, 101},
    };
    printf("Conversion step, %d passes of %lu frames at 48 kHz each (device bytes per second):\n",
           kPasses, kFrames);
    for (const Case& c : cases)
        Run(c);
    return 0;
}
