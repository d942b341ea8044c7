// The fade's arithmetic on every sample width the device takes: a full-scale signal rises from
// near silence to near full scale without a step, falls the same way, and nothing outside the
// fade or below a container's significant bits changes.
#include "engine/fade.h"
#include "engine/format.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct FadeCase {
    const char* name;
    int channels;
    int bits; // as the host gives them; 24 with wide24 travels in 32-bit containers
    int wide24;
};

const FadeCase kCases[] = {
    {"8-bit mono", 1, 8, 0},         {"24-bit packed 6 channels", 6, 24, 2},
    {"16-bit stereo", 2, 16, 0},     {"24-bit packed", 2, 24, 0},
    {"24-in-32", 2, 24, 8},          {"32-bit stereo", 2, 32, 0},
    {"16-bit 6 channels", 6, 16, 0},
};

constexpr DWORD kFrames = 441; // 10 ms at 44.1 kHz

// The sample's offset from silence as a fraction of full scale (-1..1).
double Level(const BYTE* p, int bytes) {
    if (bytes == 1)
        return ((int)p[0] - 128) / 128.0;
    LONG v = 0;
    memcpy((BYTE*)&v + 4 - bytes, p, bytes);
    return v / 2147483648.0;
}

// Full scale, positive on even channels and negative on odd ones (as 24-in-32: low byte 0).
std::vector<BYTE> FullScale(const WAVEFORMATEXTENSIBLE& wfx, DWORD frames) {
    int bytes = wfx.Format.wBitsPerSample / 8;
    std::vector<BYTE> data((size_t)frames * wfx.Format.nBlockAlign);
    for (size_t at = 0; at < data.size(); at += bytes) {
        bool negative = (at / bytes) % wfx.Format.nChannels % 2;
        LONG v = negative ? (LONG)0x80000000 : 0x7FFFFF00;
        if (bytes == 1)
            data[at] = negative ? 0x00 : 0xFF;
        else
            memcpy(&data[at], (BYTE*)&v + 4 - bytes, bytes);
    }
    return data;
}

// The largest step between neighbouring frames of a raised cosine over kFrames: pi / (kFrames+1)
// of full scale at its steepest.
const double kMaxStep = 3.2 / (kFrames + 1);

TEST(Fade, EachWidthRisesAndFallsWithoutAStep) {
    for (const FadeCase& c : kCases) {
        for (bool in : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (in ? " in" : " out"));
            WAVEFORMATEXTENSIBLE wfx;
            BuildWaveFormat(&wfx, 44100, c.channels, c.bits, c.wide24);
            KSFadeFormat f = FadeFormatOf(wfx);
            ASSERT_NE(0, f.bytes);
            int bytes = wfx.Format.wBitsPerSample / 8;
            DWORD block = wfx.Format.nBlockAlign;
            // Two frames past the fade stay as they are.
            std::vector<BYTE> data = FullScale(wfx, kFrames + 2);
            const std::vector<BYTE> before = data;
            ApplyFade(data.data(), kFrames / 2, f, 0, kFrames, in);
            ApplyFade(data.data() + kFrames / 2 * block, kFrames + 2 - kFrames / 2, f, kFrames / 2,
                      kFrames, in);
            EXPECT_EQ(0, memcmp(&data[kFrames * block], &before[kFrames * block], 2 * block));
            // Room for the rounding of the width (8 bits: two steps of 1/128).
            double tol = bytes == 1 ? 2.0 / 128 : 1.0 / 1024;
            double last = in ? 0 : 1;
            for (DWORD i = 0; i < kFrames; i++) {
                for (int ch = 0; ch < c.channels; ch++) {
                    const BYTE* p = &data[i * block + ch * bytes];
                    double level = std::fabs(Level(p, bytes));
                    if (ch == 0) {
                        ASSERT_LE(std::fabs(level - last), kMaxStep + tol) << "frame " << i;
                        last = level;
                    }
                    if (bytes == 4 && c.wide24) {
                        ASSERT_EQ(0, p[0]) << "frame " << i;
                    }
                }
            }
            const BYTE* first = &data[(in ? 0 : kFrames - 1) * block];
            const BYTE* full = &data[(in ? kFrames - 1 : 0) * block];
            for (int ch = 0; ch < c.channels; ch++) {
                EXPECT_LE(std::fabs(Level(first + ch * bytes, bytes)), tol);
                EXPECT_GE(std::fabs(Level(full + ch * bytes, bytes)), 1.0 - tol);
            }
        }
    }
}

// Read in pieces that cut frames and samples (7 bytes), the fade-in is the whole-frame one, each
// sample within 1/128 of full scale; the bytes past it are the stream's.
TEST(Fade, InPiecesMatchesTheWholeFrames) {
    for (const FadeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        WAVEFORMATEXTENSIBLE wfx;
        BuildWaveFormat(&wfx, 44100, c.channels, c.bits, c.wide24);
        KSFadeFormat f = FadeFormatOf(wfx);
        int bytes = wfx.Format.wBitsPerSample / 8;
        std::vector<BYTE> whole = FullScale(wfx, kFrames + 2), pieces = whole;
        const std::vector<BYTE> before = whole;
        ApplyFade(whole.data(), kFrames, f, 0, kFrames, true);
        KSFadeIn fadeIn;
        fadeIn.Start(f, kFrames);
        for (size_t at = 0; at < pieces.size(); at += 7)
            fadeIn.Apply(&pieces[at], (DWORD)std::min<size_t>(7, pieces.size() - at));
        EXPECT_FALSE(fadeIn.Active());
        for (size_t at = 0; at + bytes <= pieces.size(); at += bytes)
            ASSERT_LE(std::fabs(Level(&pieces[at], bytes) - Level(&whole[at], bytes)), 1.0 / 128)
                << "byte " << at;
        size_t past = (size_t)kFrames * wfx.Format.nBlockAlign;
        EXPECT_EQ(0, memcmp(&pieces[past], &before[past], pieces.size() - past));
    }
}

TEST(Fade, SilenceStaysSilenceAndUnknownFormatsPassUntouched) {
    WAVEFORMATEXTENSIBLE wfx;
    BuildWaveFormat(&wfx, 44100, 1, 8, 0);
    std::vector<BYTE> mid(64, 0x80);
    ApplyFade(mid.data(), 64, FadeFormatOf(wfx), 0, 64, true);
    EXPECT_EQ(std::vector<BYTE>(64, 0x80), mid);
    wfx.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    EXPECT_EQ(0, FadeFormatOf(wfx).bytes);
    std::vector<BYTE> other(64, 0x7F);
    ApplyFade(other.data(), 64, FadeFormatOf(wfx), 0, 64, true);
    EXPECT_EQ(std::vector<BYTE>(64, 0x7F), other);
}

} // namespace
