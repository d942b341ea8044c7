// The engine's arithmetic: stream formats and their plain form, 24-bit widening, volume
// scaling, the square-law volume table, and a WaveRT stream's play position and halves.
#include "engine/format.h"
#include "engine/halfplan.h"
#include "engine/playposition.h"
#include "engine/rtsize.h"
#include "engine/samples.h"
#include "host/out_module.h"

#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

TEST(WaveFormat, Cd16BitStereo) {
    WAVEFORMATEXTENSIBLE w;
    BuildWaveFormat(&w, 44100, 2, 16);
    EXPECT_EQ(WAVE_FORMAT_EXTENSIBLE, w.Format.wFormatTag);
    EXPECT_EQ(4, w.Format.nBlockAlign);
    EXPECT_EQ(176400u, w.Format.nAvgBytesPerSec);
    EXPECT_EQ(22, w.Format.cbSize);
    EXPECT_EQ(16, w.Samples.wValidBitsPerSample);
    EXPECT_EQ(0x3u, w.dwChannelMask);
    EXPECT_TRUE(IsEqualGUID(KSDATAFORMAT_SUBTYPE_PCM, w.SubFormat));

    WAVEFORMATEXTENSIBLE p;
    MakePlainWaveFormat(&p, &w);
    EXPECT_EQ(WAVE_FORMAT_PCM, p.Format.wFormatTag);
    EXPECT_EQ(44100u, p.Format.nSamplesPerSec);
    EXPECT_EQ(4, p.Format.nBlockAlign);
    EXPECT_EQ(16, p.Format.wBitsPerSample);
    EXPECT_EQ(0, p.Format.cbSize);
    EXPECT_EQ(0u, p.dwChannelMask);
    EXPECT_EQ(0, p.Samples.wValidBitsPerSample);
    GUID zero = {};
    EXPECT_TRUE(IsEqualGUID(zero, p.SubFormat));
}

TEST(WaveFormat, Hd24BitTravelsIn32BitContainers) {
    WAVEFORMATEXTENSIBLE w;
    BuildWaveFormat(&w, 48000, 2, 24);
    EXPECT_EQ(32, w.Format.wBitsPerSample);
    EXPECT_EQ(8, w.Format.nBlockAlign);
    EXPECT_EQ(384000u, w.Format.nAvgBytesPerSec);
    EXPECT_EQ(24, w.Samples.wValidBitsPerSample);

    MakePlainWaveFormat(&w, &w); // in place, as the second attempt does
    EXPECT_EQ(24, w.Format.wBitsPerSample);
    EXPECT_EQ(6, w.Format.nBlockAlign);
    EXPECT_EQ(288000u, w.Format.nAvgBytesPerSec);

    BuildWaveFormat(&w, 96000, 1, 24);
    EXPECT_EQ(4, w.Format.nBlockAlign);
    EXPECT_EQ(384000u, w.Format.nAvgBytesPerSec);
}

TEST(WaveFormat, MasksAndOddWidths) {
    WAVEFORMATEXTENSIBLE w;
    BuildWaveFormat(&w, 44100, 8, 16);
    EXPECT_EQ(0x3Fu, w.dwChannelMask);
    BuildWaveFormat(&w, 44100, 1, 16);
    EXPECT_EQ(0x4u, w.dwChannelMask);
    BuildWaveFormat(&w, 44100, 4, 16);
    EXPECT_EQ(0x33u, w.dwChannelMask);
    BuildWaveFormat(&w, 44100, 2, 12);
    EXPECT_EQ(16, w.Format.wBitsPerSample);
    EXPECT_EQ(12, w.Samples.wValidBitsPerSample);
    BuildWaveFormat(&w, 0, 0, 0);
    EXPECT_EQ(0u, w.Format.nAvgBytesPerSec);
    EXPECT_EQ(0u, w.dwChannelMask);
}

TEST(WaveFormat, Plain32BitMultichannelHasConsistentFrames) {
    WAVEFORMATEXTENSIBLE w;
    BuildWaveFormat(&w, 48000, 6, 32);
    MakePlainWaveFormat(&w, &w);
    EXPECT_EQ(24, w.Format.nBlockAlign);
    EXPECT_EQ(48000u * 24, w.Format.nAvgBytesPerSec);
    BuildWaveFormat(&w, 48000, 2, 32);
    MakePlainWaveFormat(&w, &w);
    EXPECT_EQ(8, w.Format.nBlockAlign);
}

TEST(Samples, Widen24To32) {
    const BYTE src[] = {0x11, 0x22, 0x33, 0xAA, 0xBB, 0xCC, 0x01};
    BYTE dst[12];
    memset(dst, 0xEE, sizeof dst);
    EXPECT_EQ(8u, Convert24To32(dst, src, 6));
    const BYTE expected[] = {0, 0x11, 0x22, 0x33, 0, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(0, memcmp(expected, dst, 8));
    EXPECT_EQ(0xEE, dst[8]);
}

std::vector<SHORT> Scale16(std::vector<SHORT> in, DWORD volume) {
    std::vector<SHORT> out(in.size());
    CopyScaled((BYTE*)out.data(), (const BYTE*)in.data(), (DWORD)(in.size() * 2), 16, volume);
    return out;
}

TEST(Samples, Volume16BitHalvesAt128) {
    EXPECT_EQ(std::vector<SHORT>({500, -500, -1, 0, 16383, -16384}),
              Scale16({1000, -1000, -1, 0, 32767, -32768}, 128));
    EXPECT_EQ(std::vector<SHORT>({0, 0}), Scale16({32767, -32768}, 0));
}

TEST(Samples, Volume32BitShiftsBeforeScaling) {
    LONG in[] = {0x7FFFFFFF, -256, 0x000001FF};
    LONG out[3];
    CopyScaled((BYTE*)out, (const BYTE*)in, sizeof in, 32, 128);
    EXPECT_EQ((0x7FFFFFFF >> 8) * 128, out[0]);
    EXPECT_EQ(-128, out[1]);
    EXPECT_EQ(128, out[2]);
}

TEST(Samples, Volume8BitScalesAroundTheMidLine) {
    BYTE in[] = {128, 255, 0, 192};
    BYTE out[4];
    CopyScaled(out, in, 4, 8, 128);
    EXPECT_EQ(128, out[0]);
    EXPECT_EQ(191, out[1]);
    EXPECT_EQ(64, out[2]);
    EXPECT_EQ(160, out[3]);
}

TEST(Samples, TrailingPartialSampleIsCopiedNotDropped) {
    BYTE in[7] = {0xE8, 0x03, 0x18, 0xFC, 0xFF, 0xFF, 0x5A}; // 1000, -1000, -1, one odd byte
    BYTE out[7] = {};
    CopyScaled(out, in, 7, 16, 128);
    SHORT s[3];
    memcpy(s, out, 6);
    EXPECT_EQ(500, s[0]);
    EXPECT_EQ(-500, s[1]);
    EXPECT_EQ(-1, s[2]);
    EXPECT_EQ(0x5A, out[6]);

    BYTE in32[6] = {1, 2, 3, 4, 5, 6};
    BYTE out32[6] = {};
    CopyScaled(out32, in32, 6, 32, 100);
    EXPECT_EQ(5, out32[4]);
    EXPECT_EQ(6, out32[5]);
}

TEST(Samples, OtherWidthsAreCopiedUnchanged) {
    BYTE in[6] = {1, 2, 3, 4, 5, 6};
    BYTE out[6] = {};
    CopyScaled(out, in, 6, 24, 10);
    EXPECT_EQ(0, memcmp(in, out, 6));
}

TEST(VolumeTable, SquareLaw) {
    BuildVolumeTable();
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(i * i / 255, g_VolumeTable[i]) << i;
    EXPECT_EQ(0, g_VolumeTable[15]);
    EXPECT_EQ(1, g_VolumeTable[16]);
    EXPECT_EQ(64, g_VolumeTable[128]);
    EXPECT_EQ(255, g_VolumeTable[255]);
}

// A 16384-byte buffer of two halves: offsets that wrap once between looks, and notifications
// counted where no offset can be read.
TEST(RtPlayPosition, CountsTheBytesPlayedAcrossWraps) {
    RtPlayPosition p(16384, 8192);
    const DWORD offsets[] = {4000, 12000, 100, 8192};
    const ULONGLONG played[] = {4000, 12000, 16484, 24576};
    for (int i = 0; i < 4; i++) {
        p.Offset(offsets[i]);
        EXPECT_EQ(played[i], p.Played()) << "offset " << offsets[i];
    }
    EXPECT_EQ(12u, p.Offset(8180)) << "a few bytes back: jitter";
    EXPECT_EQ(24576u, p.Played()) << "held";
    EXPECT_EQ(0u, p.Offset(8200));
    EXPECT_EQ(24584u, p.Played());
    RtPlayPosition counted(16384, 8192);
    counted.Offset(100);
    counted.HalfDone();
    EXPECT_EQ(8192u, counted.Played());
    counted.HalfDone();
    EXPECT_EQ(16384u, counted.Played());
    EXPECT_EQ(0u, counted.LastOffset()) << "the end of a pass is offset 0";
}

// Halves of whole frames in multiples of 128 bytes and of at least the least time; the sizes
// asked again after a driver rounded to pages, gave a frame, or refused.
TEST(RtSizes, HalvesAndTheSizesAskedAgain) {
    EXPECT_EQ(384u, RtHalfUnit(6, 128, 1 << 20));
    EXPECT_EQ(128u, RtHalfUnit(4, 128, 1 << 20));
    EXPECT_EQ(0u, RtHalfUnit(6, 128, 256)) << "larger than the largest buffer";
    EXPECT_EQ(8064u, RtWishedHalf(8192, 384, 2646));   // 44.1 kHz, 6-byte frames
    EXPECT_EQ(15360u, RtWishedHalf(8192, 128, 15360)); // 192 kHz, 8-byte frames: 10 ms
    EXPECT_EQ(384u, RtWishedHalf(0, 384, 0));
    struct {
        DWORD unit, half, answered[3], next[3];
    } cases[] = {
        {384, 8064, {16384, 0, 0}, {12288, 0, 0}},  // rounded up to pages
        {128, 8192, {6, 6, 6}, {3584, 3840, 4096}}, // a frame: never below the least
        {128, 8192, {0, 0, 0}, {8192, 4096, 3584}}, // refused: half as much, then the least
    };
    for (const auto& c : cases) {
        RtAsks asks;
        RtFirstAsk(&asks, c.unit, c.half, 1792);
        for (int i = 0; i < 3 && (i == 0 || c.next[i - 1]); i++)
            EXPECT_EQ(c.next[i], RtNextAsk(&asks, c.answered[i])) << c.half << ", ask " << i;
    }
}

// Halves of 8192 bytes; both hold silence at RUN (16384 bytes written).
TEST(RtHalves, PlanWritesTheHalfJustLeftAndSkipsHalvesAlreadyPlayed) {
    struct Case {
        ULONGLONG played, written;
        RtHalfPlan plan;
    } cases[] = {
        {0, 16384, {16384, 0, false}},     // the hardware in half 0: top up half 1
        {8192, 16384, {16384, 0, true}},   // in half 1: write half 2 where half 0 was
        {20000, 16384, {24576, 1, true}},  // half 2 reached unwritten: on to half 3
        {40000, 16384, {40960, 3, true}},  // three halves late
        {20000, 32768, {32768, 0, false}}, // half 3 written ahead: top it up
    };
    for (const Case& c : cases) {
        RtHalfPlan plan = PlanHalf(c.played, c.written, 8192);
        EXPECT_EQ(c.plan.written, plan.written) << c.played;
        EXPECT_EQ(c.plan.lateHalves, plan.lateHalves) << c.played;
        EXPECT_EQ(c.plan.writeHalf, plan.writeHalf) << c.played;
    }
}

TEST(RtHalves, AudioOfAHalfAndTheTopUp) {
    EXPECT_EQ(8192u, HalfAudio(10000, 8192, 4, true));
    EXPECT_EQ(3000u, HalfAudio(3001, 8192, 4, true)) << "whole frames while the host writes";
    EXPECT_EQ(3001u, HalfAudio(3001, 8192, 4, false)) << "all of it at the end";
    struct Case {
        ULONGLONG played, audioEnd;
        DWORD held, room;
        ULONGLONG at;
    } cases[] = {
        {0, 0, 8192, 8192, 8192},      // all silence: the whole half
        {0, 10000, 6384, 6384, 10000}, // after the audio already in it
        {0, 10000, 6000, 0, 10000},    // the ring lacks some of it
        {7000, 0, 8192, 0, 8192},      // the hardware is too close
        {9000, 0, 8192, 0, 8192},      // the hardware is inside it: a late thread
        {0, 16384, 8192, 0, 16384},    // nothing left to replace
    };
    for (const Case& c : cases) {
        ULONGLONG at = 0;
        EXPECT_EQ(c.room, TopUpRoom(c.played, 16384, c.audioEnd, 8192, c.held, &at)) << c.played;
        EXPECT_EQ(c.at, at) << c.played;
    }
}

} // namespace
