// A device in use by another program: the errors of a pin creation that say so, and the message
// the user sees once per device between the player's start and quit (logged every time).
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/notices.h"
#include "ks/audfilter.h"

#include <cstdio>

namespace {

// Devices whose busy message was shown (their device paths), since ForgetBusyNotices.
KSShownOnce<32> g_busyShown;

} // namespace

void ForgetBusyNotices() {
    g_busyShown.Forget();
}

// The drivers' answers for a pin that is taken (STATUS_DEVICE_BUSY, STATUS_INSUFFICIENT_RESOURCES
// past the instance limit, and the sharing errors).
bool PinBusyError(HRESULT hr) {
    static const DWORD kBusy[] = {ERROR_BUSY, ERROR_NO_SYSTEM_RESOURCES, ERROR_DEVICE_IN_USE,
                                  ERROR_SHARING_VIOLATION, ERROR_ALREADY_ASSIGNED};
    for (DWORD e : kBusy)
        if (hr == HRESULT_FROM_WIN32(e))
            return true;
    return false;
}

// A device that is gone: no format makes it play.
bool PinRefusedOnlyFormat(HRESULT hr) {
    return !PinBusyError(hr) && hr != HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED) &&
           hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) &&
           hr != HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
}

bool KSCore::PinBusy() {
    return PinBusyError(m_pRenderFilter->m_hrLastError);
}

// Under m_csControl (the open).
void KSCore::TellBusy() {
    const char* name = m_pRenderFilter->m_szFriendlyName;
    DiagLog(1, "Device busy: %s is in use by another program or by Windows' audio engine", name);
    if (!g_busyShown.First(m_pRenderFilter->m_szFilterName))
        return;
    char text[512];
    snprintf(text, sizeof text,
             "%s is in use by another program or by Windows' audio engine.\n"
             "Stop other sound on this device and Quellor can play.",
             name);
    TellUser(text);
}
