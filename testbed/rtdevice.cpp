// Simulated WaveRT render devices: the interface in the audio, render and realtime categories, a
// render pin that offers looped streaming only, a bridge pin, and the device's options.
#include "testbed/wavert.h"

#include <setupapi.h>

#include <cstring>

using namespace simks;

namespace {

const char kRtPath[] = "\\\\?\\hdaudio#func_01&ven_8086&dev_2805&subsys_80860101&rev_1000"
                       "#4&2c7d5e1f&0&0201#{6994ad04-93ef-11d0-a3cc-00a0c9223196}"
                       "\\speakerwavert";
const char kRtName[] = "Speakers (High Definition Audio Device, WaveRT)";

// The render pin: pin 0 of every WaveRT device.
const ULONG kRenderPin = 0;

bool ValidOptions(const SimKsWaveRtOptions& o) {
    return o.RegisterWidth == 0 || o.RegisterWidth == 32 || o.RegisterWidth == 64;
}

} // namespace

namespace simks {

ULONG HeldElsewhere(const Device& d, ULONG pinId) {
    ULONG rt = d.wavert && pinId == kRenderPin && (d.rt.Flags & SIMKS_RT_IN_USE) ? 1 : 0;
    return rt + d.heldElsewhere;
}

} // namespace simks

extern "C" {

int SimKs_AddWaveRtDevice(const char* path, const char* friendlyName,
                          const SimKsWaveRtOptions* options) {
    SimKsWaveRtOptions o;
    memset(&o, 0, sizeof o);
    if (options)
        o = *options;
    if (!ValidOptions(o))
        return -1;
    int device = SimKs_AddDevice(path ? path : kRtPath, friendlyName ? friendlyName : kRtName);
    if (device < 0)
        return -1;
    SimKs_AddCategory(device, &kCategoryAudio, SPINT_ACTIVE);
    SimKs_AddCategory(device, &kCategoryRender, SPINT_ACTIVE);
    SimKs_AddCategory(device, &kCategoryRealtime, SPINT_ACTIVE);
    SimKsPinDesc pin;
    SimKs_InitRenderPin(&pin, 8, 8, 32, 8000, 192000);
    pin.Interfaces[0].Id = kInterfaceLoopedStreaming;
    SimKs_AddPin(device, &pin);
    AddBridgePin(device, kDataFlowOut, kNodeSpeaker);
    ChangeDevice(device, [&](Device& d) {
        d.wavert = true;
        d.rt = o;
    });
    return device;
}

BOOL SimKs_SetWaveRtOptions(int device, const SimKsWaveRtOptions* options) {
    if (!options || !ValidOptions(*options))
        return FALSE;
    Lock lock;
    Device* d = FindDevice(device);
    if (!d || !d->wavert)
        return FALSE;
    d->rt = *options;
    return TRUE;
}

} // extern "C"
