// The player's volume on the device's own control: judged on the bytes the device received and
// the levels its nodes were given, for the usual layouts, a device without a control and hostile
// topologies.
#include "tests/plugin_fixture.h"

#include <ks.h>
#include <ksmedia.h>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const LONG kDb = 65536;

struct HwVolume : PluginFixture {
    int layout = SIMKS_TOPO_VOLUME_MUTE;
    SimKsTopology topo = {};
    std::string extra;
    std::vector<std::string> Settings() override {
        return {"volume_enabled=1", "logarithmic_volume=0", "logging_enabled=1", extra};
    }
    void AddDevices() override {
        SimKs_AddDefaultDevices();
        ASSERT_TRUE(SimKs_AddTopology(SIMKS_DEFAULT_VERSATILE, layout, &topo));
    }
    LONG Value(int node, ULONG channel) {
        LONG v = 0x7FFFFFFF;
        SimKs_GetNodeValue(topo.VolumeDevice, node, channel, &v);
        return v;
    }
    bool Levels(LONG level) {
        return Value(topo.VolumeNode, 0) == level && Value(topo.VolumeNode, 1) == level;
    }
    int LogCount(const std::string& text) {
        std::string log = Log();
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            n++;
        return n;
    }
    // Plays pcm at the volume; the stream's bytes.
    std::vector<char> Play(const std::vector<char>& pcm, int volume) {
        mod->SetVolume(volume);
        EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        EXPECT_TRUE(WriteAll(pcm));
        EXPECT_TRUE(EndTrack());
        return Consumed(SimKs_StreamCount() - 1);
    }
};

// 16-bit samples as the software volume scales them.
std::vector<char> Scaled(const std::vector<char>& pcm, int volume) {
    std::vector<char> out(pcm);
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        SHORT s;
        memcpy(&s, &out[i], 2);
        s = (SHORT)((s * volume) >> 8);
        memcpy(&out[i], &s, 2);
    }
    return out;
}

struct Layouts : HwVolume, ::testing::WithParamInterface<int> {
    void SetUp() override {
        layout = GetParam();
        HwVolume::SetUp();
    }
};

// Even steps in dB from the node's maximum (0 dB) down to its minimum (-96 dB), on its 0.5 dB
// steps; the bottom mutes where the path has a mute node. Every sample arrives untouched, and the
// device's own level (-10 dB) comes back at the close.
TEST_P(Layouts, SliderMovesTheNodeAndEverySampleArrivesBitExact) {
    struct {
        int volume;
        LONG level; // while playing
        int then;   // the slider mid-stream
        LONG thenLevel;
    } cases[] = {{255, 0, 128, -48 * kDb},
                 {128, -48 * kDb, 40, -81 * kDb},
                 {40, -81 * kDb, 255, 0},
                 {1, -96 * kDb + kDb / 2, 0, -96 * kDb}};
    std::vector<char> pcm = Pcm16(44100);
    bool mute = topo.MuteNode >= 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        mod->SetVolume(c.volume);
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        EXPECT_TRUE(Levels(c.level)) << Value(topo.VolumeNode, 0);
        std::vector<char> half(pcm.begin(), pcm.begin() + pcm.size() / 2);
        EXPECT_TRUE(WriteAll(half));
        mod->SetVolume(c.then);
        if (c.then == 0 && mute)
            EXPECT_TRUE(WaitUntil([&] { return Value(topo.MuteNode, 1) == TRUE; }));
        else
            EXPECT_TRUE(WaitUntil([&] { return Levels(c.thenLevel); }));
        EXPECT_TRUE(WriteAll(std::vector<char>(pcm.begin() + pcm.size() / 2, pcm.end())));
        EXPECT_TRUE(EndTrack());
        EXPECT_TRUE(SameBytes(Consumed(SimKs_StreamCount() - 1), pcm));
        EXPECT_TRUE(Levels(SIMKS_TOPO_START_LEVEL)) << "restored at the close";
        if (mute) {
            EXPECT_EQ(FALSE, Value(topo.MuteNode, 0));
        }
    }
    EXPECT_EQ(4, LogCount(mute ? "Hardware volume: volume node 0 with mute on the topology filter"
                               : "Hardware volume: volume node 4 on the wave filter"));
}

INSTANTIATE_TEST_SUITE_P(TopologyAndWave, Layouts,
                         ::testing::Values(SIMKS_TOPO_VOLUME_MUTE, SIMKS_TOPO_WAVE_VOLUME));

// A level another program set meanwhile is that program's: only the channel still at Quellor's
// level goes back.
TEST_F(HwVolume, LevelChangedElsewhereIsLeftAlone) {
    mod->SetVolume(128);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(SimKs_SetNodeValue(topo.VolumeDevice, topo.VolumeNode, 0, -30 * kDb));
    EXPECT_TRUE(EndTrack());
    EXPECT_EQ(-30 * kDb, Value(topo.VolumeNode, 0));
    EXPECT_EQ(SIMKS_TOPO_START_LEVEL, Value(topo.VolumeNode, 1));
}

// A level the device refuses mid-stream gives the volume back to the samples: what was played
// before is bit-exact, what comes after is scaled.
TEST_F(HwVolume, LevelRefusedMidStreamGivesTheVolumeBackToTheSamples) {
    std::vector<char> before = Pcm16(8 * 4096, 1), after = Pcm16(8 * 4096, 2);
    mod->SetVolume(128);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(before));
    ASSERT_TRUE(WaitConsumed(0, before.size()));
    SimKs_AddPropertyFault(topo.VolumeDevice, -1, &KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                           SIMKS_PROP_FAIL, ERROR_GEN_FAILURE);
    mod->SetVolume(64);
    ASSERT_TRUE(WaitUntil([&] { return LogCount("level refused by the device") == 1; }));
    ASSERT_TRUE(WriteAll(after));
    EXPECT_TRUE(EndTrack());
    std::vector<char> want = before, scaled = Scaled(after, 64);
    want.insert(want.end(), scaled.begin(), scaled.end());
    EXPECT_TRUE(SameBytes(Consumed(0), want));
}

// A driver that answers one range for all channels: the channels are those whose level reads.
TEST_F(HwVolume, OneRangeForAllChannels) {
    const SimKsLevelRange range = {-48 * kDb, 0, kDb};
    ASSERT_TRUE(SimKs_SetNodeChannels(topo.VolumeDevice, topo.VolumeNode, 2, &range, FALSE,
                                      SIMKS_TOPO_START_LEVEL));
    mod->SetVolume(128);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(Levels(-24 * kDb));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(Levels(SIMKS_TOPO_START_LEVEL));
}

// In gapless mode the pin, and the level, stay until the stream ends; Quit ends it.
TEST_F(HwVolume, GaplessKeepsTheLevelUntilQuit) {
    mod->Quit();
    extra = "gapless_enabled=1";
    Prepare();
    mod->Init();
    mod->SetVolume(128);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Close();
    EXPECT_TRUE(Levels(-48 * kDb));
    mod->Quit();
    initDone = false;
    EXPECT_TRUE(Levels(SIMKS_TOPO_START_LEVEL));
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A session that ends without its close (the player crashed) leaves the level record beside the
// player's executable: the next start puts the level back, unless it was changed elsewhere.
TEST_F(HwVolume, NextStartPutsBackTheLevelACrashLeft) {
    const std::string path = folder + "\\quellor volume.dat";
    const struct {
        LONG meanwhile, after;
    } cases[] = {{-48 * kDb, SIMKS_TOPO_START_LEVEL}, {-30 * kDb, -30 * kDb}};
    for (const auto& c : cases) {
        mod->SetVolume(128);
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        std::string left = ReadAll(path);
        EXPECT_TRUE(EndTrack());
        ASSERT_FALSE(left.empty()) << "written while the level is set";
        EXPECT_EQ("", ReadAll(path)) << "removed at the close";
        // What the crash left: the level set (or changed since by another program) and the record.
        SimKs_SetNodeValue(topo.VolumeDevice, topo.VolumeNode, 0, c.meanwhile);
        SimKs_SetNodeValue(topo.VolumeDevice, topo.VolumeNode, 1, -48 * kDb);
        std::ofstream(path, std::ios::binary) << left;
        mod->Quit();
        mod->Init();
        EXPECT_EQ(c.after, Value(topo.VolumeNode, 0));
        EXPECT_EQ(SIMKS_TOPO_START_LEVEL, Value(topo.VolumeNode, 1));
        EXPECT_EQ("", ReadAll(path));
    }
}

// Without a volume node, or with the device's control switched off, the software volume scales.
TEST_F(HwVolume, SoftwareVolumeWhereThereIsNoControl) {
    struct {
        int layout;
        const char* setting;
    } cases[] = {{SIMKS_TOPO_NONE, ""}, {SIMKS_TOPO_VOLUME_MUTE, "hardware_volume_enabled=0"}};
    std::vector<char> pcm = Pcm16(8192);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        TearDown();
        layout = c.layout;
        extra = c.setting;
        SetUp();
        for (int i = 0; i < 2; i++)
            EXPECT_TRUE(SameBytes(Play(pcm, 128), Scaled(pcm, 128)));
        EXPECT_EQ(0, SimKs_LevelSetCount());
        EXPECT_EQ(c.layout == SIMKS_TOPO_NONE ? 1 : 0,
                  LogCount("Hardware volume: none on Speakers (High Definition Audio Device): "
                           "no volume node"));
    }
}

// Hostile topologies: no control for the device (said once), software volume, no level left set.
struct Hostile : HwVolume, ::testing::WithParamInterface<int> {
    void AddDevices() override {
        HwVolume::AddDevices();
        const SimKsLevelRange upsideDown = {0, -96 * kDb, kDb / 2}, noSteps = {-96 * kDb, 0, 0};
        int t = topo.TopologyDevice;
        switch (GetParam()) {
        case 0:
            SimKs_SetOpenError(t, ERROR_ACCESS_DENIED);
            break;
        case 1: // mute back into volume
            SimKs_AddConnection(t, (ULONG)topo.MuteNode, 0, (ULONG)topo.VolumeNode, 1);
            break;
        case 2: // a node outside the list of two
            SimKs_AddConnection(t, 7, 0, KSFILTER_NODE, 1);
            break;
        case 3:
            SimKs_SetNodeChannels(t, topo.VolumeNode, 2, &upsideDown, TRUE, 0);
            break;
        case 4:
            SimKs_SetNodeChannels(t, topo.VolumeNode, 2, &noSteps, TRUE, 0);
            break;
        case 5:
            SimKs_AddPropertyFault(t, -1, &KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                   SIMKS_PROP_FAIL, ERROR_GEN_FAILURE);
            break;
        case 6: // a count past the answer
            SimKs_AddPropertyFault(t, -1, &KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS,
                                   SIMKS_PROP_COUNT_PAST, 3);
            break;
        }
    }
};

// Why each case has no control, as the log says it.
const char* const kHostileCauses[] = {
    "topology cannot be opened (0x80070005)",
    "the topology filter's connections loop",
    "a connection of the topology filter names a node outside its 2 nodes",
    "channel 0's range (0 to -6291456, step 32768) is not usable",
    "channel 0's range (-6291456 to 0, step 0) is not usable",
    "the volume node's range was refused or malformed (0x8007001f)",
    "the topology filter's connections were refused or malformed (0x80004005)"};

TEST_P(Hostile, RefusedCleanly) {
    std::vector<char> pcm = Pcm16(8192);
    for (int i = 0; i < 2; i++)
        EXPECT_TRUE(SameBytes(Play(pcm, 128), Scaled(pcm, 128)));
    EXPECT_EQ(0, SimKs_LevelSetCount());
    EXPECT_EQ(1, LogCount("Hardware volume: none on Speakers (High Definition Audio Device)"));
    EXPECT_EQ(1, LogCount(kHostileCauses[GetParam()])) << Log();
}

INSTANTIATE_TEST_SUITE_P(Topologies, Hostile, ::testing::Range(0, 7));

} // namespace
