// The stream's state: its one change function, and the modes and device states the outputs and
// the snapshot see of it.
#include "engine/kscore.h"

#include "diag/log.h"

namespace {

const char* const kStateNames[] = {"closed",        "playing", "draining", "lost",
                                   "draining-lost", "waiting", "released", "gone"};

} // namespace

// The change is logged at the diagnostic level that stays out of the log file.
bool KSCore::SetState(KSState to, LONG from) {
    LONG was = from < 0 ? InterlockedExchange(&m_nState, to)
                        : InterlockedCompareExchange(&m_nState, to, from);
    if (from >= 0 && was != from)
        return false;
    if (was != to)
        DiagLog(0, "Stream state: %s -> %s", kStateNames[was], kStateNames[to]);
    return true;
}

bool KSCore::IsOpen() const {
    LONG state = m_nState;
    return state != kStateClosed && state != kStateDraining && state != kStateDrainingLost;
}

LONG KSCore::ModeOf(LONG state) {
    if (state == kStateClosed)
        return kModeClosed;
    return state == kStateDraining || state == kStateDrainingLost ? kModeEnding : kModeOpen;
}

LONG KSCore::DeviceOf(LONG state) {
    switch (state) {
    case kStateLost:
    case kStateDrainingLost:
        return kDeviceLost;
    case kStateWaiting:
        return kDeviceWaiting;
    case kStateReleased:
        return kDeviceReleased;
    case kStateGone:
        return kDeviceGone;
    default:
        return kDeviceHeld;
    }
}
