// The fades at a pause, a seek and a stop (fade_ms=20), on every width the device takes and on an
// adapted stream, and on the WaveRT device at a small and a large half, with fades on and off:
// judged on the device's bytes, the samples either side of where the sound stopped and started
// within 1/16 of full scale for a full-scale tone, everything else the stream's own, nothing lost
// and nothing twice, no half replayed stale. The manual clock plays the stream and the faded
// packets, or moves the DMA engine.
#include "tests/plugin_fixture.h"
#include "tests/wavert_fixture.h"
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

// The WaveRT device: a full-scale tone whose sign follows a fixed pseudo-random sequence, so that
// a faded frame still shows which frame of the tone it is.
struct RtCase {
    Event event;
    DWORD half; // output_buffer_size: the half asked for
    int fadeMs;
};

const size_t kRtBlock = 4; // 16-bit stereo
const size_t kRtFrames = 22050;
const size_t kRtKey = 24;   // frames whose signs find a frame of the tone
const size_t kRtSlack = 64; // fade frames that round to silence at one end, at most

bool RtNegative(size_t frame) {
    unsigned long long x = (frame + 1) * 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 31)) * 0xBF58476D1CE4E5B9ull;
    return (x ^ (x >> 29)) >> 63;
}

std::vector<char> RtTone() {
    std::vector<char> out;
    for (size_t i = 0; i < kRtFrames; i++)
        for (int c = 0; c < 2; c++) {
            SHORT v = RtNegative(i) ? (SHORT)-32768 : (SHORT)32767;
            out.insert(out.end(), (const char*)&v, (const char*)&v + 2);
        }
    return out;
}

SHORT Left(const std::vector<char>& d, size_t frame) {
    SHORT v;
    memcpy(&v, &d[frame * kRtBlock], 2);
    return v;
}

// Frame at of the device's bytes is frame t of the tone, or a quieter one of its sign.
bool Fits(const std::vector<char>& got, size_t at, size_t t) {
    SHORT v = Left(got, at);
    return v && t < kRtFrames && (v < 0) == RtNegative(t);
}

// The tone's frame that the kRtKey frames from at show, or kRtFrames.
size_t Find(const std::vector<char>& got, size_t at) {
    for (size_t t = 0; t + kRtKey <= kRtFrames; t++) {
        size_t k = 0;
        while (k < kRtKey && Fits(got, at + k, t + k))
            k++;
        if (k == kRtKey)
            return t;
    }
    return kRtFrames;
}

// A stretch of the device's frames that are frames tone .. tone + frames - 1 of the tone.
struct Piece {
    size_t at, tone, frames;
};

// The stretches in order. Where one follows another without silence, the frames both could be
// (the tone's own) go to the later one.
std::vector<Piece> Pieces(const std::vector<char>& got, const std::vector<char>& tone) {
    std::vector<Piece> pieces;
    size_t frames = got.size() / kRtBlock;
    for (size_t f = 0; f + kRtKey <= frames;) {
        size_t t = Left(got, f) ? Find(got, f) : kRtFrames;
        if (t == kRtFrames) {
            f++;
            continue;
        }
        Piece p = {f, t, 0};
        for (; f < frames && Fits(got, f, t + p.frames); f++)
            p.frames++;
        while (!pieces.empty() && p.tone && pieces.back().at + pieces.back().frames == p.at &&
               Left(got, p.at - 1) == Left(tone, p.tone - 1))
            p.at--, p.tone--, p.frames++, pieces.back().frames--;
        pieces.push_back(p);
    }
    return pieces;
}

// Where the newest stream's DMA engine reads in its buffer, by what it played.
ULONG Offset(const SimKsWaveRtInfo& rt) {
    SimKsStreamInfo info;
    return SimKs_GetStream(0, &info) ? (ULONG)(info.ConsumedBytes % rt.ActualSize) : 0;
}

// The engine has written the audio that plays next: sound from a quarter to half a half ahead of
// the play position, past the margin and the silence a cut may leave before it.
bool SoundAhead() {
    SimKsWaveRtInfo rt;
    if (!SimKs_GetWaveRt(0, &rt) || !rt.BufferAddress || !rt.ActualSize)
        return false;
    const char* buffer = (const char*)rt.BufferAddress;
    ULONG half = rt.ActualSize / 2, offset = Offset(rt);
    for (ULONG k = half / 4 / kRtBlock * kRtBlock; k < half / 2; k += kRtBlock)
        if (!memcmp(buffer + (offset + k) % rt.ActualSize, "\0\0\0\0", kRtBlock))
            return false;
    return true;
}

struct RtFades : WaveRtPlugin, ::testing::WithParamInterface<RtCase> {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = WaveRtPlugin::Settings();
        s.push_back("output_buffer_size=" + std::to_string(GetParam().half));
        s.push_back("fade_ms=" + std::to_string(GetParam().fadeMs));
        return s;
    }
    // The host's call on a thread of its own while the DMA engine moves on in small steps, into
    // the next half only once the engine has rewritten it; bounded by the watchdog.
    void WhilePlaying(std::function<void()> call) {
        HANDLE thread = CreateThread(NULL, 0, RunCall, &call, 0, NULL);
        ASSERT_NE(nullptr, thread);
        DWORD start = GetTickCount();
        while (WaitForSingleObject(thread, 1) == WAIT_TIMEOUT) {
            SimKsWaveRtInfo rt;
            if (SimKs_GetWaveRt(0, &rt) && rt.ActualSize &&
                (SimKs_WaveRtNextReady(0) ||
                 rt.ActualSize / 2 - Offset(rt) % (rt.ActualSize / 2) > 8 * kRtBlock))
                SimKs_AdvanceWaveRt(0, 8);
            if (GetTickCount() - start > kCallHangMs)
                MustReturn("the host's call", [thread] { WaitForSingleObject(thread, INFINITE); });
        }
        CloseHandle(thread);
    }
    // The DMA engine moved on to the next quarter of a half (never past the half it is in),
    // where StepQuarter steps from.
    void Realign() {
        SimKsWaveRtInfo rt;
        ASSERT_TRUE(SimKs_GetWaveRt(0, &rt));
        ULONG quarter = rt.ActualSize / 2 / 4 / kRtBlock, at = Offset(rt) / kRtBlock % quarter;
        if (at)
            SimKs_AdvanceWaveRt(0, quarter - at);
    }
    // The event, twice where the stream goes on after it; the seek's new audio (the tone from its
    // start) goes into the buffer before the DMA engine moves on.
    void Events(const std::vector<char>& tone) {
        Event e = GetParam().event;
        for (int round = 0; round < (e == Event::kStop ? 1 : 2); round++) {
            ASSERT_TRUE(StepQuarters(5));
            WhilePlaying([this, e] {
                if (e == Event::kPause)
                    mod->Pause(1);
                else if (e == Event::kSeek)
                    mod->Flush(0);
                else
                    mod->Close();
            });
            if (e == Event::kPause) {
                mod->Pause(0);
                ASSERT_TRUE(WaitUntil([] { return SoundAhead(); }))
                    << "the kept audio goes into the buffer at once";
            }
            if (e == Event::kSeek) {
                ASSERT_TRUE(WriteAll(tone));
                ASSERT_TRUE(WaitUntil([] { return SoundAhead(); }))
                    << "the new audio goes into the buffer at once";
            }
            if (e != Event::kStop)
                Realign();
        }
    }
};

// Played some way in, twice the pause or the seek (once the stop), then to the end.
TEST_P(RtFades, SilentWhereTheSoundStopsAndStarts) {
    const RtCase& c = GetParam();
    std::vector<char> tone = RtTone();
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(tone));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(tone.begin(), tone.begin() + 16)));
    Events(tone);
    if (HasFatalFailure())
        return;
    stepper.Start();
    if (c.event != Event::kStop) {
        ASSERT_TRUE(WaitUntil([this] { return mod->IsPlaying() == 0; }));
        EXPECT_EQ(mod->GetWrittenTime(), mod->GetOutputTime()) << "all of it heard, once";
        mod->Close();
    }
    ASSERT_TRUE(WaitClosed());
    stepper.Stop();
    std::vector<char> got = Consumed(0);
    std::vector<Piece> p = Pieces(got, tone);
    bool fades = c.fadeMs > 0;
    size_t edge = fades ? 882 : 0; // frames of a fade
    size_t want = c.event == Event::kStop || (c.event == Event::kPause && !fades) ? 1 : 3;
    ASSERT_EQ(want, p.size()) << "stretches of the tone played";
    EXPECT_EQ(0u, p[0].tone);
    for (size_t i = 0; i < p.size(); i++) {
        for (size_t k = edge; k + edge < p[i].frames; k++)
            ASSERT_EQ(Left(tone, p[i].tone + k), Left(got, p[i].at + k)) << "frame " << k;
        if (i + 1 == p.size())
            break;
        const Piece &a = p[i], &b = p[i + 1];
        size_t end = a.at + a.frames, next = a.tone + a.frames;
        double stop = std::fabs(Left(got, end - 1) / 32768.0);
        double start = std::fabs(Left(got, b.at) / 32768.0);
        if (c.event == Event::kPause) {
            EXPECT_GE(b.tone, next) << "nothing twice";
            EXPECT_LE(b.tone, next + (fades ? 2 * kRtSlack : 0)) << "nothing lost";
        } else {
            EXPECT_LE(b.tone, fades ? kRtSlack : 0) << "the new audio from its first frame";
            EXPECT_LE((b.at - end) * kRtBlock, 3528 + 2 * kRtSlack * kRtBlock)
                << "the new audio within 20 ms (and the frames the fades round to silence)";
        }
        if (fades) {
            EXPECT_LE(stop, 1.0 / 16) << "where the sound stopped";
            EXPECT_LE(start, 1.0 / 16) << "where the sound started";
        }
    }
    const Piece& last = p.back();
    if (c.event != Event::kStop) {
        EXPECT_EQ(kRtFrames, last.tone + last.frames) << "the tone to its end";
    } else if (fades) {
        EXPECT_LE(std::fabs(Left(got, last.at + last.frames - 1) / 32768.0), 1.0 / 16);
    }
    EXPECT_EQ(0, SimKs_StaleCount(0));
    EXPECT_EQ("", Violations(0));
    EXPECT_EQ(fades ? 1 : 0, LogCount("Fade at pause, seek and stop: 20 ms"));
}

std::vector<RtCase> RtCases() {
    std::vector<RtCase> all;
    for (Event e : {Event::kPause, Event::kSeek, Event::kStop})
        for (DWORD half : {1764u, 20160u})
            for (int fade : {0, 20})
                all.push_back({e, half, fade});
    return all;
}

INSTANTIATE_TEST_SUITE_P(HalfAndFade, RtFades, ::testing::ValuesIn(RtCases()),
                         [](const ::testing::TestParamInfo<RtCase>& i) {
                             return std::string(kEventNames[(int)i.param.event]) + "_Half" +
                                    std::to_string(i.param.half) + "_Fade" +
                                    std::to_string(i.param.fadeMs);
                         });

} // namespace
