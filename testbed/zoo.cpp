// The zoo of simulated device classes: each publishes data ranges as its kind of driver writes
// them and then takes exactly its own list of formats, as real drivers do.
#include "testbed/state.h"

#include <setupapi.h>

#include <cstring>

namespace {

const DWORD kHdaRates[] = {44100, 48000, 88200, 96000, 176400, 192000};
const DWORD kUsb2Rates[] = {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
const DWORD kUsb1Rates[] = {44100, 48000};
const DWORD kOnboardRates[] = {48000};
const DWORD kWideRates[] = {44100, 48000, 96000};
const DWORD kPlainRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};

const DWORD kExt = SIMKS_ACCEPT_EXTENSIBLE;
const DWORD kBoth = SIMKS_ACCEPT_EXTENSIBLE | SIMKS_ACCEPT_PLAIN;
const DWORD kPlain = SIMKS_ACCEPT_PLAIN;
const DWORD kAttributes = SIMKS_RANGES_ATTRIBUTES;
const DWORD kTight = SIMKS_RANGES_TIGHT;

struct ZooClass {
    const char* name;
    const char* path;
    bool wavert;
    // Ranges: one per rate of the list (minimum = maximum), or one wide range over it.
    bool rangePerRate;
    ULONG maxChannels, minBits, maxBits;
    const DWORD* rates;
    ULONG cRates;
    SimKsAccept accept[SIMKS_MAX_ACCEPT];
    ULONG cAccept;
    // How the ranges are laid out (SIMKS_RANGES_*): Windows 10 drivers add an attribute list;
    // some publish records without their tail padding.
    DWORD layout;
};

#define ZOO_PATH(id) "\\\\?\\zoo#" id "#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave"
#define RATES(list) list, sizeof list / sizeof list[0]

const ZooClass kZoo[SIMKS_ZOO_COUNT] = {
    {"HDA codec (WaveRT)",
     ZOO_PATH("hda_stereo"),
     true,
     true,
     2,
     16,
     24,
     RATES(kHdaRates),
     {{kBoth, 2, 16, 16, 0x3}, {kExt, 2, 32, 24, 0x3}},
     2,
     kAttributes},
    {"HDA six-channel line-out (WaveRT)",
     ZOO_PATH("hda_six"),
     true,
     true,
     6,
     16,
     24,
     RATES(kHdaRates),
     {{kExt, 6, 16, 16, 0x3F}, {kExt, 6, 32, 24, 0x3F}},
     2,
     kAttributes},
    {"USB Audio 1.0 DAC",
     ZOO_PATH("usb1"),
     false,
     true,
     2,
     16,
     24,
     RATES(kUsb1Rates),
     {{kBoth, 2, 16, 16, 0x3}, {kExt, 2, 24, 24, 0x3}},
     2,
     kTight},
    {"USB Audio 2.0 DAC, 32-bit only (WaveRT)",
     ZOO_PATH("usb2"),
     true,
     true,
     2,
     24,
     32,
     RATES(kUsb2Rates),
     {{kExt, 2, 32, 24, 0x3}, {kExt, 2, 32, 32, 0x3}},
     2,
     kAttributes | kTight},
    {"Onboard codec, 48 kHz 16-bit",
     ZOO_PATH("onboard"),
     false,
     true,
     2,
     16,
     16,
     RATES(kOnboardRates),
     {{kBoth, 2, 16, 16, 0x3}},
     1,
     0},
    {"Extensible-only device",
     ZOO_PATH("extonly"),
     false,
     false,
     6,
     16,
     32,
     RATES(kWideRates),
     {{kExt, 2, 16, 16, 0x3},
      {kExt, 2, 32, 24, 0x3},
      {kExt, 2, 32, 32, 0x3},
      {kExt, 6, 16, 16, 0x3F},
      {kExt, 6, 32, 24, 0x3F},
      {kExt, 6, 32, 32, 0x3F}},
     6,
     0},
    {"Plain-only device",
     ZOO_PATH("plainonly"),
     false,
     false,
     2,
     8,
     16,
     RATES(kPlainRates),
     {{kPlain, 1, 8, 8, 0}, {kPlain, 2, 8, 8, 0}, {kPlain, 1, 16, 16, 0}, {kPlain, 2, 16, 16, 0}},
     4,
     0},
};

SimKsRange Range(const ZooClass& z, DWORD minRate, DWORD maxRate) {
    SimKsRange r;
    r.MajorFormat = simks::kFormatAudio;
    r.SubFormat = simks::kSubtypePcm;
    r.Specifier = simks::kSpecifierWaveFormatEx;
    r.MaximumChannels = z.maxChannels;
    r.MinimumBitsPerSample = z.minBits;
    r.MaximumBitsPerSample = z.maxBits;
    r.MinimumSampleFrequency = minRate;
    r.MaximumSampleFrequency = maxRate;
    return r;
}

int AddPacketDevice(const ZooClass& z) {
    int device = SimKs_AddDevice(z.path, z.name);
    if (device < 0)
        return -1;
    SimKs_AddCategory(device, &simks::kCategoryAudio, SPINT_ACTIVE);
    SimKs_AddCategory(device, &simks::kCategoryRender, SPINT_ACTIVE);
    SimKsPinDesc pin;
    SimKs_InitRenderPin(&pin, z.maxChannels, z.minBits, z.maxBits, z.rates[0], z.rates[0]);
    SimKs_AddPin(device, &pin);
    simks::AddBridgePin(device, simks::kDataFlowOut, simks::kNodeSpeaker);
    return device;
}

} // namespace

extern "C" {

int SimKs_AddZooDevice(int zooClass) {
    if (zooClass < 0 || zooClass >= SIMKS_ZOO_COUNT)
        return -1;
    const ZooClass& z = kZoo[zooClass];
    int device = z.wavert ? SimKs_AddWaveRtDevice(z.path, z.name, NULL) : AddPacketDevice(z);
    if (device < 0)
        return -1;
    SimKsRange ranges[SIMKS_MAX_RANGES];
    ULONG count = 0;
    if (z.rangePerRate)
        for (; count < z.cRates && count < SIMKS_MAX_RANGES; count++)
            ranges[count] = Range(z, z.rates[count], z.rates[count]);
    else
        ranges[count++] = Range(z, z.rates[0], z.rates[z.cRates - 1]);
    SimKs_SetRanges(device, 0, ranges, count);
    SimKs_SetRangeLayout(device, z.layout);
    SimKs_SetAccepted(device, z.accept, z.cAccept, z.rates, z.cRates);
    return device;
}

const char* SimKs_ZooName(int zooClass) {
    return zooClass >= 0 && zooClass < SIMKS_ZOO_COUNT ? kZoo[zooClass].name : NULL;
}

} // extern "C"
