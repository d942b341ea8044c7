// Fault injection on devices: property faults, format quirks, pin creation, opening, stream
// writes, state requests, held packets and surprise removal.
#include "testbed/hooks.h"
#include "testbed/stream.h"

#include <climits>

using namespace simks;

extern "C" {

BOOL SimKs_AddPropertyFault(int device, int pin, const GUID* set, ULONG id, int fault,
                            ULONG param) {
    if (fault < SIMKS_PROP_FAIL || fault > SIMKS_PROP_RANGE_PAST || pin < -1)
        return FALSE;
    PropFault f{pin, set == nullptr, set ? *set : kGuidNull, id, fault, param};
    return ChangeDevice(device, [&](Device& d) { d.propFaults.push_back(f); });
}

void SimKs_ClearPropertyFaults(int device) {
    ChangeDevice(device, [](Device& d) { d.propFaults.clear(); });
}

BOOL SimKs_SetQuirks(int device, const SimKsQuirks* quirks) {
    if (!quirks || quirks->cWidths > 8 || quirks->cRates > 16)
        return FALSE;
    return ChangeDevice(device, [&](Device& d) { d.quirks = *quirks; });
}

BOOL SimKs_SetAccepted(int device, const SimKsAccept* formats, ULONG cFormats, const DWORD* rates,
                       ULONG cRates) {
    if ((!formats && cFormats) || (!rates && cRates) || cFormats > SIMKS_MAX_ACCEPT)
        return FALSE;
    return ChangeDevice(device, [&](Device& d) {
        d.accepted.assign(formats, formats + cFormats);
        d.acceptedRates.assign(rates, rates + cRates);
    });
}

BOOL SimKs_SetCreatePinError(int device, DWORD error) {
    return ChangeDevice(device, [&](Device& d) { d.createPinError = error; });
}

BOOL SimKs_SetHeldElsewhere(int device, ULONG instances) {
    return ChangeDevice(device, [&](Device& d) { d.heldElsewhere = instances; });
}

BOOL SimKs_SetOpenError(int device, DWORD error) {
    return ChangeDevice(device, [&](Device& d) { d.openError = error; });
}

BOOL SimKs_SetWriteFault(int device, int mode, ULONG first, ULONG count, DWORD code) {
    if (mode < SIMKS_WRITE_OK || mode > SIMKS_WRITE_PENDING || (mode && first == 0))
        return FALSE;
    WriteFault f{mode, first, count, code, 0};
    return ChangeDevice(device, [&](Device& d) { d.writeFault = f; });
}

BOOL SimKs_SetStateFault(int device, ULONG state, int mode, ULONG first, ULONG count, DWORD code) {
    bool known = state <= kStateRun || state == SIMKS_ANY_STATE;
    if (mode < SIMKS_STATE_OK || mode > SIMKS_STATE_IGNORE || (mode && first == 0) || !known)
        return FALSE;
    StateFault f{mode, state, first, count, code, 0};
    return ChangeDevice(device, [&](Device& d) { d.stateFault = f; });
}

BOOL SimKs_SetHold(int device, int mode) {
    if (mode < SIMKS_HOLD_NONE || mode > SIMKS_HOLD_ALL)
        return FALSE;
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return FALSE;
    d->hold = mode;
    if (mode == SIMKS_HOLD_NONE)
        ReleaseHeld(device);
    return TRUE;
}

BOOL SimKs_RemoveDevice(int device) {
    {
        Lock lock;
        Device* d = FindDevice(device);
        if (!d)
            return FALSE;
        d->removed = true;
        for (Stream& s : Bed().streams)
            if (s.device == device && s.info.Open)
                CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusDeviceRemoved, NowUs());
    }
    NotifyRemoval(device);
    return TRUE;
}

} // extern "C"
