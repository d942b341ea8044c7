// The fade on the WaveRT device (fade_ms=20): a stop fades out where the audio lies in the
// cyclic buffer. Judged on what the DMA engine read of a full-scale tone: within 1/16 of full
// scale next to the silence, the tone's own bytes before the fade, only silence after it.
#include "tests/wavert_fixture.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

const size_t kBlock = 4;                // 16-bit stereo
const size_t kFadeBytes = 882 * kBlock; // 20 ms at 44.1 kHz
const size_t kSlack = 64 * kBlock;      // fade frames that round to silence, at most

// Full scale, its sign changing at every frame.
std::vector<char> Tone(size_t frames) {
    std::vector<char> out;
    for (size_t i = 0; i < frames; i++)
        for (int c = 0; c < 2; c++) {
            SHORT v = i % 2 ? (SHORT)-32768 : (SHORT)32767;
            out.insert(out.end(), (const char*)&v, (const char*)&v + 2);
        }
    return out;
}

double Peak(const std::vector<char>& d, size_t at) {
    SHORT l, r;
    memcpy(&l, &d[at], 2);
    memcpy(&r, &d[at + 2], 2);
    return std::fmax(std::fabs(l / 32768.0), std::fabs(r / 32768.0));
}

bool Silent(const std::vector<char>& d, size_t at) {
    return !memcmp(&d[at], "\0\0\0\0", kBlock);
}

DWORD WINAPI RunCall(LPVOID call) {
    (*static_cast<std::function<void()>*>(call))();
    return 0;
}

struct WaveRtFades : WaveRtPlugin {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = WaveRtPlugin::Settings();
        s.push_back("fade_ms=20");
        return s;
    }
    // The host's call on a thread of its own while the DMA engine moves on in small steps (the
    // engine writes no half meanwhile: the stepper would wait for it); bounded by the watchdog.
    void WhilePlayingFade(std::function<void()> call) {
        stepper.Stop();
        HANDLE thread = CreateThread(NULL, 0, RunCall, &call, 0, NULL);
        ASSERT_NE(nullptr, thread);
        DWORD start = GetTickCount();
        while (WaitForSingleObject(thread, 1) == WAIT_TIMEOUT) {
            SimKs_AdvanceWaveRt(0, 8);
            if (GetTickCount() - start > kCallHangMs)
                MustReturn("the host's call", [thread] { WaitForSingleObject(thread, INFINITE); });
        }
        CloseHandle(thread);
    }
};

// Played 40000 bytes in, the user's stop.
TEST_F(WaveRtFades, StopIsQuietWhereTheSoundStops) {
    std::vector<char> tone = Tone(44100 / 2);
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(tone));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(tone.begin(), tone.begin() + 16)));
    stepper.Start();
    ASSERT_TRUE(WaitConsumed(0, 40000));
    WhilePlayingFade([this] { mod->Close(); });
    std::vector<char> got = Consumed(0);
    size_t lead = Lead(got, 0, kBlock), stop = lead;
    while (stop < got.size() && !Silent(got, stop))
        stop += kBlock;
    ASSERT_LT(stop, got.size());
    ASSERT_GT(stop - lead, kFadeBytes / 2);
    EXPECT_LE(Peak(got, stop - kBlock), 1.0 / 16) << "where the sound stopped";
    EXPECT_TRUE(HoldsAt(got, lead, std::vector<char>(tone.begin(), tone.begin() + 40000 - lead)));
    size_t after = stop;
    while (after < got.size() && Silent(got, after))
        after += kBlock;
    EXPECT_EQ(got.size(), after) << "only silence after the stop";
    EXPECT_EQ(1, LogCount("Fade at pause, seek and stop: 20 ms"));
}

} // namespace
