// The host's close in gapless mode, made in each phase of the player thread: the track always
// plays out whole and the pin ends, closed by the player thread's underrun rule.
#include "engine/kscore.h"
#include "testbed/simfixture.h"
#include "tests/bytes_match.h"
#include "tests/test_host.h"
#include "tests/waits.h"

#include <functional>
#include <vector>

namespace {

struct GaplessClose : SimKsFixture {
    TestHost host;
    KSSettings& settings = host.settings;
    KSCore* core = nullptr;

    void SetUp() override {
        SimKsFixture::SetUp();
        settings.gapless_enabled = 1;
        core = new KSCore(host);
        ASSERT_TRUE(core->IsReady());
    }
    void TearDown() override {
        delete core;
        SimKsFixture::TearDown();
    }
    static bool StreamClosed(int stream) {
        SimKsStreamInfo info;
        return SimKs_GetStream(stream, &info) && !info.Open;
    }
    static std::vector<char> Consumed(int stream) {
        std::vector<char> bytes(1 << 20);
        bytes.resize(SimKs_CopyConsumed(stream, 0, bytes.data(), (ULONG)bytes.size()));
        return bytes;
    }
};

// A phase: what the track writes before the close (in writes of at most the ring's size, the
// device holding every packet), and the state the close waits for; none: the close follows the
// last write at once, while the thread moves it into packets.
struct Phase {
    const char* name;
    std::vector<size_t> writes;
    std::function<bool(const KSSnapshot&)> reached;
};

TEST_F(GaplessClose, EveryPhaseOfThePlayerThreadPlaysTheTrackOutAndEndsThePin) {
    const Phase phases[] = {
        {"asleep with a partly filled packet",
         {3000},
         [](const KSSnapshot& s) {
             return s.sleeping && s.inputUsed == 0 && s.currentUsed == 3000;
         }},
        {"filling", {40000}, nullptr},
        {"waiting for a packet",
         {65536, 3000},
         [](const KSSnapshot& s) { return s.inDeviceWait && s.inputUsed == 3000; }},
    };
    for (const Phase& phase : phases) {
        SCOPED_TRACE(phase.name);
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
        ASSERT_GT(core->Start(44100, 2, 16), 0);
        int stream = SimKs_StreamCount() - 1;
        std::vector<char> track;
        for (size_t n : phase.writes) {
            ASSERT_TRUE(WaitUntil([&] { return core->Snapshot().inputUsed == 0; }));
            std::vector<char> pcm(n);
            for (size_t i = 0; i < n; i++)
                pcm[i] = (char)(track.size() + i * 7);
            ASSERT_EQ(0, core->Write(pcm.data(), (int)n));
            track.insert(track.end(), pcm.begin(), pcm.end());
        }
        if (phase.reached) {
            ASSERT_TRUE(WaitUntil([&] { return phase.reached(core->Snapshot()); }));
        }
        core->End();
        SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
        EXPECT_TRUE(WaitUntil([&] { return StreamClosed(stream); })) << "the pin still open";
        EXPECT_TRUE(SameBytes(Consumed(stream), track));
    }
}

} // namespace
