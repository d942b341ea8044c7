// The fades at a pause, a seek and a stop (fade_ms=20), on every width the device takes and on an
// adapted stream: judged on the device's bytes, the samples either side of where the sound stopped
// and started within 1/16 of full scale for a full-scale tone, everything else the stream's own,
// nothing lost and nothing twice. The manual clock plays the stream and the faded packets.
#include "tests/plugin_fixture.h"
#include "tests/waits.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

const int kVersatile = SIMKS_DEFAULT_VERSATILE;
const DWORD kFadeFrames = 882; // 20 ms at 44.1 kHz

struct FadeFormat {
    const char* name;
    int channels; // the host's
    int bits;     // the host's
    int deviceChannels;
    int deviceBytes; // per sample
    bool adapted;    // the device takes 16-bit stereo only
};

const FadeFormat kFormats[] = {
    {"8-bit mono", 1, 8, 1, 1, false},          {"16-bit stereo", 2, 16, 2, 2, false},
    {"24-in-32 stereo", 2, 24, 2, 4, false},    {"32-bit stereo", 2, 32, 2, 4, false},
    {"16-bit 4 channels", 4, 16, 4, 2, false},  {"16-bit 6 channels", 6, 16, 6, 2, false},
    {"16-bit mono adapted", 1, 16, 2, 2, true},
};

enum class Event { kPause, kSeek, kStop };
const char* const kEventNames[] = {"Pause", "Seek", "Stop"};

struct FadeCase {
    FadeFormat format;
    Event event;
};

// Full scale, its sign changing at every frame, in whole samples of bytes (8-bit: unsigned).
void PutSample(std::vector<char>& out, int bytes, bool negative) {
    LONG v = negative ? (LONG)0x80000000 : 0x7FFFFFFF;
    if (bytes == 1) {
        out.push_back(negative ? 0x00 : (char)0xFF);
        return;
    }
    const char* p = (const char*)&v;
    out.insert(out.end(), p + 4 - bytes, p + 4);
}

std::vector<char> Tone(DWORD frames, int channels, int bytes, bool widened) {
    std::vector<char> out;
    for (DWORD i = 0; i < frames; i++)
        for (int c = 0; c < channels; c++) {
            if (widened) {
                out.push_back(0);
                PutSample(out, 3, i % 2);
            } else {
                PutSample(out, bytes, i % 2);
            }
        }
    return out;
}

// The largest magnitude in the frame at byte offset at, as a fraction of full scale.
double Peak(const std::vector<char>& d, size_t at, int channels, int bytes) {
    double peak = 0;
    for (int c = 0; c < channels; c++) {
        const BYTE* p = (const BYTE*)&d[at + (size_t)c * bytes];
        double v;
        if (bytes == 1) {
            v = ((int)p[0] - 128) / 128.0;
        } else {
            LONG s = 0;
            memcpy((BYTE*)&s + 4 - bytes, p, bytes);
            v = s / 2147483648.0;
        }
        peak = std::fmax(peak, std::fabs(v));
    }
    return peak;
}

DWORD WINAPI RunCall(LPVOID call) {
    (*static_cast<std::function<void()>*>(call))();
    return 0;
}

struct Fades : PluginFixture, ::testing::WithParamInterface<FadeCase> {
    std::vector<std::string> Settings() override { return {"logging_enabled=1", "fade_ms=20"}; }
    void AddDevices() override {
        SimKs_AddDefaultDevices();
        if (!GetParam().format.adapted)
            return;
        SimKsAccept stereo = {SIMKS_ACCEPT_EXTENSIBLE | SIMKS_ACCEPT_PLAIN, 2, 16, 16, 0x3};
        const DWORD rates[] = {44100};
        SimKs_SetAccepted(kVersatile, &stereo, 1, rates, 1);
    }
    void TearDown() override {
        if (initDone)
            MustReturn("Quit", [this] { mod->Quit(); });
        initDone = false;
        PluginFixture::TearDown();
    }
    // The host's call on a thread of its own, while the test plays the packets the engine submits
    // after the ones it had (its faded audio); bounded by the watchdog.
    void WhilePlayingFade(std::function<void()> call) {
        int before = SimKs_PacketCount(0);
        HANDLE thread = CreateThread(NULL, 0, RunCall, &call, 0, NULL);
        ASSERT_NE(nullptr, thread);
        DWORD start = GetTickCount();
        while (WaitForSingleObject(thread, 1) == WAIT_TIMEOUT) {
            if (SimKs_PacketCount(0) > before)
                SimKs_CompletePackets(0, 8);
            if (GetTickCount() - start > kCallHangMs)
                MustReturn("the host's call", [thread] { WaitForSingleObject(thread, INFINITE); });
        }
        CloseHandle(thread);
    }
};

// Opened and written; the device plays two packets and part of the third, the other six queued.
TEST_P(Fades, SilentWhereTheSoundStopsAndStarts) {
    const FadeCase& c = GetParam();
    const FadeFormat& f = c.format;
    int block = f.deviceChannels * f.deviceBytes;
    bool widened = f.bits == 24;
    // Ten packets' worth at least: two played, eight queued, whole frames.
    DWORD ringBlock = f.channels * (widened ? 4 : f.bits / 8);
    DWORD frames = (10 * 8192 + ringBlock - 1) / ringBlock;
    std::vector<char> host = Tone(frames, f.channels, widened ? 3 : f.bits / 8, false);
    std::vector<char> device = Tone(frames, f.deviceChannels, f.deviceBytes, widened);
    SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    ASSERT_GT(mod->Open(44100, f.channels, f.bits, -1, -1), 0);
    ASSERT_TRUE(WriteAll(host));
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    ASSERT_EQ(2, SimKs_CompletePackets(0, 2));
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    ASSERT_EQ((ULONG)(100 * block), SimKs_PlayPart(0, 100 * block));
    size_t stopAt = Consumed(0).size();
    size_t fade = (size_t)kFadeFrames * block;
    std::vector<char> want(device.begin(), device.begin() + (ptrdiff_t)(stopAt + fade));
    if (c.event == Event::kPause) {
        WhilePlayingFade([this] { mod->Pause(1); });
        EXPECT_EQ((int)((stopAt + fade) * 1000 / (44100 * block)), mod->GetOutputTime())
            << "the time heard: the faded stretch, none of the audio kept";
        mod->Pause(0);
        want = device;
    } else if (c.event == Event::kSeek) {
        WhilePlayingFade([this] { mod->Flush(0); });
        SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
        ASSERT_TRUE(WriteAll(host));
        want.insert(want.end(), device.begin(), device.end());
    } else {
        WhilePlayingFade([this] { mod->Close(); });
    }
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    mod->IsPlaying(); // the host waits for the end: the last packet goes as it is
    ASSERT_TRUE(WaitConsumed(0, want.size()));
    MustReturn("Close", [this] { mod->Close(); });
    std::vector<char> got = Consumed(0);
    ASSERT_EQ(want.size(), got.size()) << "nothing lost, nothing twice";
    size_t quiet = stopAt + fade; // the device stopped after the fade, and starts again here
    EXPECT_TRUE(HoldsAt(got, 0, std::vector<char>(want.begin(), want.begin() + (ptrdiff_t)stopAt)));
    EXPECT_LE(Peak(got, quiet - block, f.deviceChannels, f.deviceBytes), 1.0 / 16);
    if (c.event == Event::kStop)
        return;
    EXPECT_LE(Peak(got, quiet, f.deviceChannels, f.deviceBytes), 1.0 / 16);
    std::vector<char> tail(want.begin() + (ptrdiff_t)(quiet + fade), want.end());
    EXPECT_TRUE(HoldsAt(got, quiet + fade, tail));
}

struct Untouched : PluginFixture, ::testing::WithParamInterface<bool> {
    std::vector<std::string> Settings() override {
        return {"fade_ms=20", GetParam() ? "gapless_enabled=1" : "gapless_enabled=0"};
    }
};

// A track's natural end (the host waits for it, then closes), and with gapless on the hand-over
// to the next track, reach the device as the host wrote them.
TEST_P(Untouched, TheEndAndTheHandOverAreNotFaded) {
    std::vector<char> one = Tone(20000, 2, 2, false), two = Tone(10000, 2, 2, false);
    std::vector<char> want = one;
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(one));
    if (GetParam()) {
        mod->Close();
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        ASSERT_TRUE(WriteAll(two));
        want.insert(want.end(), two.begin(), two.end());
    }
    // Gapless, the close lets the ring play out; else the host waits for the end, then closes.
    if (GetParam())
        mod->Close();
    ASSERT_TRUE(WaitUntil([this] { return mod->IsPlaying() == 0; }));
    ASSERT_TRUE(WaitConsumed(0, want.size()));
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_TRUE(SameBytes(Consumed(0), want));
    EXPECT_EQ(1, SimKs_StreamCount());
}

INSTANTIATE_TEST_SUITE_P(EndAndGapless, Untouched, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "Gapless" : "End");
                         });

std::vector<FadeCase> AllCases() {
    std::vector<FadeCase> all;
    for (const FadeFormat& f : kFormats)
        for (Event e : {Event::kPause, Event::kSeek, Event::kStop})
            all.push_back({f, e});
    return all;
}

INSTANTIATE_TEST_SUITE_P(EachFormat, Fades, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<FadeCase>& i) {
                             std::string name = std::string(kEventNames[(int)i.param.event]) + "_" +
                                                std::to_string(i.index / 3);
                             return name;
                         });

} // namespace
