// Fault injection on devices: property faults, format quirks, pin creation, opening, stream
// writes and surprise removal.
#include "testbed/stream.h"

#include <climits>

using namespace simks;

extern "C" {

BOOL SimKs_AddPropertyFault(int device, int pin, const GUID* set, ULONG id, int fault,
                            ULONG param) {
    if (fault < SIMKS_PROP_FAIL || fault > SIMKS_PROP_RANGE_PAST || pin < -1)
        return FALSE;
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return FALSE;
    d->propFaults.push_back(
        PropFault{pin, set == nullptr, set ? *set : GUID_NULL, id, fault, param});
    return TRUE;
}

void SimKs_ClearPropertyFaults(int device) {
    Lock lock;
    Device* d = FindDevice(device);
    if (d)
        d->propFaults.clear();
}

BOOL SimKs_SetQuirks(int device, const SimKsQuirks* quirks) {
    Lock lock;
    Device* d = FindDevice(device);
    if (!d || !quirks || quirks->cWidths > 8 || quirks->cRates > 16)
        return FALSE;
    d->quirks = *quirks;
    return TRUE;
}

BOOL SimKs_SetCreatePinError(int device, DWORD error) {
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return FALSE;
    d->createPinError = error;
    return TRUE;
}

BOOL SimKs_SetOpenError(int device, DWORD error) {
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return FALSE;
    d->openError = error;
    return TRUE;
}

BOOL SimKs_SetWriteFault(int device, int mode, ULONG first, ULONG count, DWORD code) {
    if (mode < SIMKS_WRITE_OK || mode > SIMKS_WRITE_PENDING || (mode && first == 0))
        return FALSE;
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return FALSE;
    d->writeFault = WriteFault{mode, first, count, code, 0};
    return TRUE;
}

BOOL SimKs_RemoveDevice(int device) {
    Lock lock;
    Device* d = FindDevice(device);
    if (!d)
        return FALSE;
    d->removed = true;
    for (Stream& s : Bed().streams)
        if (s.device == device && s.info.Open)
            CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusDeviceRemoved, NowUs());
    return TRUE;
}

} // extern "C"
