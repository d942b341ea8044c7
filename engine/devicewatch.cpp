// Arrival and removal notifications of KS audio interfaces from the configuration manager.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602 // the notification records are Windows 8's; looked up at run time
#include "engine/devicewatch.h"

#include "diag/log.h"

#include <cfgmgr32.h>
#include <ks.h>
#include <ksmedia.h>

namespace {

typedef CONFIGRET(WINAPI* RegisterFn)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                      PHCMNOTIFICATION);
typedef CONFIGRET(WINAPI* UnregisterFn)(HCMNOTIFICATION);

} // namespace

bool KSDeviceWatch::Start(Listener listener, void* context) {
    m_listener = listener;
    m_context = context;
    m_hLibrary = LoadLibraryA("cfgmgr32.dll");
    RegisterFn reg = m_hLibrary
                         ? (RegisterFn)(void*)GetProcAddress(m_hLibrary, "CM_Register_Notification")
                         : nullptr;
    m_pUnregister = m_hLibrary ? GetProcAddress(m_hLibrary, "CM_Unregister_Notification") : nullptr;
    CONFIGRET cr = CR_CALL_NOT_IMPLEMENTED;
    if (reg && m_pUnregister) {
        CM_NOTIFY_FILTER filter = {};
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = KSCATEGORY_AUDIO;
        HCMNOTIFICATION h = nullptr;
        cr = reg(&filter, this, (PCM_NOTIFY_CALLBACK)(void*)&Callback, &h);
        m_hNotify = cr == CR_SUCCESS ? (HANDLE)h : nullptr;
    }
    if (m_hNotify)
        return true;
    DiagLog(1,
            "No device notifications (CM_Register_Notification: %s, 0x%lx): a lost device is "
            "looked for by polling",
            reg ? "failed" : "missing", (unsigned long)cr);
    Stop();
    return false;
}

void KSDeviceWatch::Stop() {
    if (m_hNotify)
        ((UnregisterFn)(void*)m_pUnregister)((HCMNOTIFICATION)m_hNotify);
    m_hNotify = nullptr;
    if (m_hLibrary)
        FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
}

DWORD CALLBACK KSDeviceWatch::Callback(HANDLE, void* context, DWORD action, void* data, DWORD) {
    KSDeviceWatch* self = static_cast<KSDeviceWatch*>(context);
    const CM_NOTIFY_EVENT_DATA* event = static_cast<const CM_NOTIFY_EVENT_DATA*>(data);
    bool arrived = action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL;
    if (!event || (!arrived && action != CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL))
        return ERROR_SUCCESS;
    char path[MAX_PATH + 1];
    if (!WideCharToMultiByte(CP_ACP, 0, event->u.DeviceInterface.SymbolicLink, -1, path,
                             sizeof path, NULL, NULL))
        return ERROR_SUCCESS; // a path longer than any the engine opens
    self->m_listener(self->m_context, arrived, path);
    return ERROR_SUCCESS;
}
