// The default device set: two render devices (one versatile, one older one that refuses
// WAVE_FORMAT_EXTENSIBLE), one capture-only device and one WaveRT render device.
#include "testbed/state.h"

#include <setupapi.h>

#include <cstring>

using simks::AddBridgePin;

namespace {

const char kVersatilePath[] = "\\\\?\\hdaudio#func_01&ven_10ec&dev_0888&subsys_00000000&rev_1000"
                              "#4&1a2b3c4d&0&0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}"
                              "\\speakerwave";
const char kLegacyPath[] = "\\\\?\\pci#ven_8086&dev_24c5&subsys_00000000&rev_01#3&13c0b0c5&0&fd"
                           "#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";
const char kCapturePath[] = "\\\\?\\usb#vid_0d8c&pid_0014&mi_00#6&2b3c4d5e&0&0000"
                            "#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";
const char kWaveRtPath[] = "\\\\?\\hdaudio#func_01&ven_10ec&dev_0295&subsys_10280a2e&rev_1000"
                           "#4&3b1e5a9c&0&0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}"
                           "\\rtspeakerwave";

void AddRender(int device, ULONG channels, ULONG maxBits, ULONG maxRate, ULONG instances) {
    SimKs_AddCategory(device, &simks::kCategoryAudio, SPINT_ACTIVE);
    SimKs_AddCategory(device, &simks::kCategoryRender, SPINT_ACTIVE);
    SimKsPinDesc pin;
    SimKs_InitRenderPin(&pin, channels, 8, maxBits, 8000, maxRate);
    pin.PossibleInstances = instances;
    pin.GlobalPossibleInstances = instances;
    SimKs_AddPin(device, &pin);
    AddBridgePin(device, simks::kDataFlowOut, simks::kNodeSpeaker);
}

void AddCapture(int device) {
    SimKs_AddCategory(device, &simks::kCategoryAudio, SPINT_ACTIVE);
    SimKs_AddCategory(device, &simks::kCategoryCapture, SPINT_ACTIVE);
    SimKsPinDesc pin;
    SimKs_InitRenderPin(&pin, 2, 16, 16, 8000, 48000);
    pin.DataFlow = simks::kDataFlowOut;
    lstrcpyW(pin.Name, L"Capture");
    SimKs_AddPin(device, &pin);
    AddBridgePin(device, simks::kDataFlowIn, simks::kNodeMicrophone);
}

} // namespace

extern "C" int SimKs_AddDefaultDevices(void) {
    int versatile = SimKs_AddDevice(kVersatilePath, "Speakers (High Definition Audio Device)");
    int legacy = SimKs_AddDevice(kLegacyPath, "AC'97 Audio Device");
    int capture = SimKs_AddDevice(kCapturePath, "Microphone (USB Audio Device)");
    if (versatile < 0 || legacy < 0 || capture < 0)
        return 0;
    AddRender(versatile, 8, 32, 192000, 4);
    SimKs_AddNode(versatile, &simks::kNodeDac);
    SimKs_AddNode(versatile, &simks::kNodeVolume);
    SimKs_AddNode(versatile, &simks::kNodeMute);
    AddRender(legacy, 2, 16, 48000, 1);
    SimKsQuirks quirks;
    memset(&quirks, 0, sizeof quirks);
    quirks.Flags = SIMKS_QUIRK_NO_EXTENSIBLE;
    SimKs_SetQuirks(legacy, &quirks);
    AddCapture(capture);
    if (SimKs_AddWaveRtDevice(kWaveRtPath, "Speakers (Realtek(R) Audio)", NULL) < 0)
        return 0;
    return SIMKS_DEFAULT_COUNT;
}
