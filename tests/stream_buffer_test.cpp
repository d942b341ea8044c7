// The stream buffer's accounting on its own, without a device or a clock: what an output reads,
// in order, and what counts as handed to the device, across the pre-roll, a pin's loss with the
// audio it kept, a full ring, a stream dropped without a device, and the volume rule.
#include "engine/format.h"
#include "engine/settings.h"
#include "engine/streambuffer.h"

#include <gtest/gtest.h>
#include <cstring>
#include <new>
#include <vector>

namespace {

// One step an output or the control path takes.
enum class Op {
    kWrite,   // the host writes n bytes (the next values of a running count); refused: expect
    kRead,    // an output reads n bytes into its packet
    kHand,    // and hands n of them to the device
    kLose,    // the pin closes: its last n bytes read come back, the last `uncounted` never handed
    kPreroll, // a new pin: n bytes of silence first
    kDrop,    // a stream without a device drops n ring bytes
};

struct Step {
    Op op;
    DWORD n;
    DWORD uncounted; // kLose: bytes at the end never handed; kWrite: 1 when it must be refused
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    DWORD handed;             // Handed() at the end
    std::vector<BYTE> device; // what the device played: every read, less what a loss gave back
};

// 16-bit stereo, whole frames of 4 bytes; a 64-byte ring.
class Buffer {
  public:
    Buffer() : m_bytes(&m_settings) {
        m_settings.volume_enabled = 1;
        WAVEFORMATEXTENSIBLE f;
        BuildWaveFormat(&f, 44100, 2, 16);
        EXPECT_TRUE(m_bytes.PlanConversion(f, f));
        m_bytes.SetFormats(f, f);
        m_bytes.TakeRing(new (std::nothrow) BYTE[64], 64);
    }

    void Run(const Step& s) {
        switch (s.op) {
        case Op::kWrite: {
            std::vector<BYTE> data(s.n);
            for (BYTE& b : data)
                b = ++m_next;
            EXPECT_EQ((int)s.uncounted, m_bytes.Write(data.data(), s.n));
            if (s.uncounted)
                m_next -= (BYTE)s.n;
            break;
        }
        case Op::kRead: {
            ASSERT_LE(s.n, m_bytes.Held());
            size_t at = m_read.size();
            m_read.resize(at + s.n);
            m_bytes.Read(m_read.data() + at, s.n);
            break;
        }
        case Op::kHand:
            m_bytes.CountHanded(s.n);
            break;
        case Op::kLose: {
            KSBytes back;
            back.data.reset(new (std::nothrow) BYTE[s.n]);
            back.size = s.n;
            back.uncounted = s.uncounted;
            memcpy(back.data.get(), m_read.data() + m_read.size() - s.n, s.n);
            m_read.resize(m_read.size() - s.n);
            m_bytes.Keep(back);
            break;
        }
        case Op::kPreroll:
            m_bytes.StartPreroll(s.n, 0);
            break;
        case Op::kDrop:
            m_bytes.Drop(s.n);
            break;
        }
    }

    KSSettings m_settings{};
    KSStreamBuffer m_bytes;
    std::vector<BYTE> m_read;
    BYTE m_next = 0;
};

std::vector<BYTE> Count(BYTE from, BYTE to) {
    std::vector<BYTE> v;
    for (int b = from; b <= to; b++)
        v.push_back((BYTE)b);
    return v;
}

std::vector<BYTE> Join(std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(StreamBuffer, ReadsInOrderAndCountsEachByteHandedOnce) {
    const Case cases[] = {
        {"plain, across the ring's end",
         {{Op::kWrite, 40, 0},
          {Op::kRead, 40, 0},
          {Op::kHand, 40, 0},
          {Op::kWrite, 40, 0},
          {Op::kRead, 40, 0},
          {Op::kHand, 40, 0}},
         80,
         Count(1, 80)},
        {"a full ring refuses the write whole",
         {{Op::kWrite, 60, 0}, {Op::kWrite, 8, 1}, {Op::kRead, 60, 0}, {Op::kHand, 60, 0}},
         60,
         Count(1, 60)},
        {"the pre-roll's silence is not counted",
         {{Op::kPreroll, 8, 0}, {Op::kWrite, 16, 0}, {Op::kRead, 24, 0}, {Op::kHand, 24, 0}},
         16,
         Join(std::vector<BYTE>(8, 0), Count(1, 16))},
        {"handed bytes a lost pin gave back count once",
         {{Op::kWrite, 32, 0},
          {Op::kRead, 16, 0},
          {Op::kHand, 16, 0},
          {Op::kLose, 16, 0},
          {Op::kPreroll, 4, 0},
          {Op::kRead, 36, 0},
          {Op::kHand, 36, 0}},
         32,
         Join(std::vector<BYTE>(4, 0), Count(1, 32))},
        {"the packet being filled counts when it goes out again",
         {{Op::kWrite, 32, 0},
          {Op::kRead, 16, 0},
          {Op::kHand, 16, 0},
          {Op::kRead, 8, 0},
          {Op::kLose, 24, 8},
          {Op::kRead, 32, 0},
          {Op::kHand, 32, 0}},
         32,
         Count(1, 32)},
        {"a second loss before the kept audio played",
         {{Op::kWrite, 32, 0},
          {Op::kRead, 12, 0},
          {Op::kHand, 8, 0},
          {Op::kLose, 12, 4},
          {Op::kRead, 8, 0},
          {Op::kHand, 8, 0},
          {Op::kLose, 8, 0},
          {Op::kRead, 32, 0},
          {Op::kHand, 32, 0}},
         32,
         Count(1, 32)},
        {"dropped audio counts as played",
         {{Op::kWrite, 16, 0}, {Op::kDrop, 8, 0}, {Op::kRead, 8, 0}, {Op::kHand, 8, 0}},
         16,
         Count(9, 16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer b;
        for (const Step& s : c.steps)
            b.Run(s);
        EXPECT_EQ(c.handed, b.m_bytes.Handed());
        EXPECT_EQ(c.device, b.m_read);
        EXPECT_FALSE(b.m_bytes.Pending());
    }
}

// The one volume rule: samples pass unscaled when the volume is off or full, or on the device's
// own control.
TEST(StreamBuffer, VolumeRule) {
    const struct {
        int enabled;
        DWORD volume;
        LONG device;
        int expected;
    } cases[] = {
        {1, 128, 0, 128},
        {0, 128, 0, kUnityVolume},
        {1, kMaxVolume, 0, kUnityVolume},
        {1, 128, 1, kUnityVolume},
    };
    for (const auto& c : cases) {
        Buffer b;
        b.m_settings.volume_enabled = c.enabled;
        b.m_bytes.SetVolume(c.volume);
        *b.m_bytes.DeviceVolumeFlag() = c.device;
        EXPECT_EQ(c.expected, b.m_bytes.SampleVolume()) << c.enabled << " " << c.volume;
    }
}

} // namespace
