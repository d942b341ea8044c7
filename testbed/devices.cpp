// Building simulated devices: interfaces, categories, registry, pins and topology nodes.
#include "testbed/state.h"

#include <cstring>

using namespace simks;

namespace {

bool PathInUse(const char* path) {
    for (const Device& d : Bed().devices)
        if (lstrcmpiA(d.path.c_str(), path) == 0)
            return true;
    return false;
}

SimKsIdent Ident(const GUID& set, ULONG id) {
    return SimKsIdent{set, id, 0};
}

} // namespace

void simks::AddBridgePin(int device, ULONG dataFlow, const GUID& category) {
    SimKsPinDesc bridge;
    memset(&bridge, 0, sizeof bridge);
    bridge.DataFlow = dataFlow;
    bridge.Communication = kCommunicationBridge;
    bridge.cMediums = 1;
    bridge.Mediums[0] = Ident(kMediumSetStandard, kMediumAnyInstance);
    bridge.Category = category;
    SimKs_AddPin(device, &bridge);
}

extern "C" {

int SimKs_AddDevice(const char* path, const char* friendlyName) {
    if (!path || !path[0] || strlen(path) >= MAX_PATH)
        return -1;
    Lock lock;
    if (PathInUse(path))
        return -1;
    Device d{};
    d.path = path;
    d.hasName = friendlyName != nullptr;
    d.friendlyName = friendlyName ? friendlyName : "";
    Bed().devices.push_back(d);
    return (int)Bed().devices.size() - 1;
}

BOOL SimKs_AddCategory(int device, const GUID* category, DWORD flags) {
    Lock lock;
    Device* d = FindDevice(device);
    if (!d || !category)
        return FALSE;
    for (Category& c : d->categories) {
        if (IsEqualGUID(c.guid, *category)) {
            c.flags = flags;
            return TRUE;
        }
    }
    d->categories.push_back(Category{*category, flags});
    return TRUE;
}

BOOL SimKs_SetRegistryQuirks(int device, DWORD flags) {
    return ChangeDevice(device, [&](Device& d) { d.regQuirks = flags; });
}

void SimKs_InitRenderPin(SimKsPinDesc* desc, ULONG maxChannels, ULONG minBits, ULONG maxBits,
                         ULONG minRate, ULONG maxRate) {
    memset(desc, 0, sizeof *desc);
    desc->DataFlow = kDataFlowIn;
    desc->Communication = kCommunicationSink;
    desc->cInterfaces = 1;
    desc->Interfaces[0] = Ident(kInterfaceSetStandard, kInterfaceStreaming);
    desc->cMediums = 1;
    desc->Mediums[0] = Ident(kMediumSetStandard, kMediumAnyInstance);
    desc->cRanges = 1;
    SimKsRange& r = desc->Ranges[0];
    r.MajorFormat = kFormatAudio;
    r.SubFormat = kSubtypePcm;
    r.Specifier = kSpecifierWaveFormatEx;
    r.MaximumChannels = maxChannels;
    r.MinimumBitsPerSample = minBits;
    r.MaximumBitsPerSample = maxBits;
    r.MinimumSampleFrequency = minRate;
    r.MaximumSampleFrequency = maxRate;
    desc->PossibleInstances = 1;
    desc->GlobalPossibleInstances = 1;
    desc->Category = kCategoryAudio;
    lstrcpyW(desc->Name, L"Playback");
}

int SimKs_AddPin(int device, const SimKsPinDesc* desc) {
    if (!desc || desc->cInterfaces > SIMKS_MAX_IDENTS || desc->cMediums > SIMKS_MAX_IDENTS ||
        desc->cRanges > SIMKS_MAX_RANGES)
        return -1;
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return -1;
    d->pins.push_back(*desc);
    d->pins.back().Name[SIMKS_MAX_PIN_NAME - 1] = 0;
    d->instances.push_back(0);
    return (int)d->pins.size() - 1;
}

int SimKs_AddNode(int device, const GUID* type) {
    Lock lock;
    Device* d = FindDevice(device);
    if (!d || !type)
        return -1;
    d->nodes.push_back(*type);
    return (int)d->nodes.size() - 1;
}

BOOL SimKs_SetRanges(int device, int pin, const SimKsRange* ranges, ULONG count) {
    if (!ranges || count > SIMKS_MAX_RANGES)
        return FALSE;
    return ChangeDevice(device, [&](Device& d) {
        if (pin < 0 || (size_t)pin >= d.pins.size())
            return;
        d.pins[pin].cRanges = count;
        memcpy(d.pins[pin].Ranges, ranges, count * sizeof *ranges);
    });
}

BOOL SimKs_SetRangeLayout(int device, DWORD flags) {
    if (flags & ~(DWORD)(SIMKS_RANGES_ATTRIBUTES | SIMKS_RANGES_TIGHT))
        return FALSE;
    return ChangeDevice(device, [&](Device& d) { d.rangeLayout = flags; });
}

const char* SimKs_DevicePath(int device) {
    Lock lock;
    Device* d = FindDevice(device);
    return d ? d->path.c_str() : nullptr;
}

} // extern "C"
