// The drop clock of a stream without a device, on its own with a clock the test gives: the ring
// bytes dropped at each step for the stream's rate, in whole frames, not for paused time, and
// not made up for a ring that ran dry.
#include "engine/devicelife.h"
#include "engine/format.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Step {
    DWORD atMs;    // the clock at this step, from the start of the dropping
    bool paused;   // the host pauses (or the engine holds the player thread)
    DWORD used;    // bytes the ring holds
    DWORD dropped; // what the step must drop
};

struct Case {
    const char* name;
    int rate, channels, bits;
    std::vector<Step> steps;
};

TEST(DropClock, DropsTheStreamsRateInWholeFrames) {
    const Case cases[] = {
        {"one step of 44.1 kHz 16-bit stereo", 44100, 2, 16, {{20, false, 100000, 3528}}},
        {"fractions of a frame carry over",
         44100,
         1,
         16,
         {{1, false, 1000, 88},
          {2, false, 1000, 88},
          {3, false, 1000, 88},
          {4, false, 1000, 88},
          {5, false, 1000, 88},
          {10, false, 1000, 442}}},
        {"paused time does not count",
         48000,
         2,
         24,
         {{20, true, 100000, 0}, {40, false, 100000, 5760}, {60, true, 100000, 0}}},
        {"a ring that ran dry is not made up for",
         44100,
         2,
         16,
         {{20, false, 1000, 1000}, {40, false, 100000, 3528}}},
        {"a partial frame stays in the ring", 44100, 2, 16, {{20, false, 7, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WAVEFORMATEXTENSIBLE ring;
        BuildWaveFormat(&ring, c.rate, c.channels, c.bits, 0); // 24-bit packed
        KSDeviceLife life;
        DWORD start = 0xFFFFFFF0u; // every case runs across the clock's wrap
        life.StartDropping("gone", start);
        EXPECT_STREQ("gone", life.DropWhy());
        for (const Step& s : c.steps)
            EXPECT_EQ(s.dropped, life.DropDue(start + s.atMs, s.paused, ring.Format, s.used))
                << "at " << s.atMs << " ms";
    }
}

} // namespace
