// The stream's state: its one change function, and the modes and device states the outputs and
// the snapshot see of it.
#include "engine/kscore.h"

#include "diag/util.h"

namespace {

const char* const kStateNames[] = {"closed",        "playing", "draining", "lost",
                                   "draining-lost", "waiting", "released", "gone"};

} // namespace

// Each change goes to the debugger trace; the log file keeps its own lines.
bool KSCore::SetState(KSState to, LONG from) {
    LONG was = from < 0 ? InterlockedExchange(&m_nState, to)
                        : InterlockedCompareExchange(&m_nState, to, from);
    if (from >= 0 && was != from)
        return false;
    if (was != to)
        DebugTrace(2, "Stream state: %s -> %s", kStateNames[was], kStateNames[to]);
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
