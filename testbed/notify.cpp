// The configuration manager's device notifications as a redirected module finds them:
// "cfgmgr32.dll" with CM_Register_Notification and CM_Unregister_Notification. Removal,
// restoration and announced arrivals of simulated devices call the registered callbacks on the
// test's own thread, before the call that caused them returns; a sleeping device fails what its
// pins hold.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602 // the notification records are Windows 8's
#include "testbed/hooks.h"

#include "testbed/redirect.h"
#include "testbed/state.h"
#include "testbed/stream.h"

#include <cfgmgr32.h>
#include <climits>
#include <cstring>
#include <vector>

namespace simks {

namespace {

const LONG kStatusPoweredOff = (LONG)0xC00002D6; // what a slept pin's requests complete with

struct Registration {
    PCM_NOTIFY_CALLBACK callback;
    void* context;
    GUID cls;
};

// Guarded by g_fire, which a notification holds while it calls the callbacks, so that an
// unregistration waits for a callback in progress as the system's does.
CRITICAL_SECTION g_fire;
struct FireInit {
    FireInit() { InitializeCriticalSection(&g_fire); }
} g_fireInit;
std::vector<Registration*> g_registrations;
bool g_noNotifications = false;

char g_cfgmgr[16]; // an address no module can have: the handle of "cfgmgr32.dll"

CONFIGRET WINAPI Register(PCM_NOTIFY_FILTER filter, PVOID context, PCM_NOTIFY_CALLBACK callback,
                          PHCMNOTIFICATION notify) {
    if (!filter || !callback || !notify ||
        filter->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE)
        return CR_INVALID_DATA;
    Registration* r = new Registration{callback, context, filter->u.DeviceInterface.ClassGuid};
    EnterCriticalSection(&g_fire);
    g_registrations.push_back(r);
    LeaveCriticalSection(&g_fire);
    *notify = reinterpret_cast<HCMNOTIFICATION>(r);
    return CR_SUCCESS;
}

CONFIGRET WINAPI Unregister(HCMNOTIFICATION notify) {
    EnterCriticalSection(&g_fire);
    CONFIGRET cr = CR_INVALID_POINTER;
    for (size_t i = 0; i < g_registrations.size(); i++) {
        if (reinterpret_cast<HCMNOTIFICATION>(g_registrations[i]) != notify)
            continue;
        delete g_registrations[i];
        g_registrations.erase(g_registrations.begin() + (ptrdiff_t)i);
        cr = CR_SUCCESS;
        break;
    }
    LeaveCriticalSection(&g_fire);
    return cr;
}

// Calls every registration for one of the device's categories; the bed's lock is not held.
void Fire(int device, bool arrived) {
    std::string path;
    std::vector<GUID> categories;
    {
        Lock lock;
        const Device* d = FindDevice(device);
        if (!d)
            return;
        path = d->path;
        for (const Category& c : d->categories)
            categories.push_back(c.guid);
    }
    std::vector<BYTE> data(sizeof(CM_NOTIFY_EVENT_DATA) + (path.size() + 1) * sizeof(WCHAR));
    CM_NOTIFY_EVENT_DATA* event = reinterpret_cast<CM_NOTIFY_EVENT_DATA*>(data.data());
    event->FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, event->u.DeviceInterface.SymbolicLink,
                        (int)path.size() + 1);
    CM_NOTIFY_ACTION action =
        arrived ? CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL : CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL;
    EnterCriticalSection(&g_fire);
    for (Registration* r : g_registrations) {
        for (const GUID& cls : categories) {
            if (!IsEqualGUID(cls, r->cls))
                continue;
            event->u.DeviceInterface.ClassGuid = cls;
            r->callback(reinterpret_cast<HCMNOTIFICATION>(r), r->context, action, event,
                        (DWORD)data.size());
        }
    }
    LeaveCriticalSection(&g_fire);
}

} // namespace

bool IsCfgMgrName(const char* name) {
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/')
            base = p + 1;
    return lstrcmpiA(base, "cfgmgr32.dll") == 0 || lstrcmpiA(base, "cfgmgr32") == 0;
}

HMODULE CfgMgr() {
    return reinterpret_cast<HMODULE>(g_cfgmgr + 1);
}

FARPROC CfgMgrProc(const char* name) {
    bool byName = ((ULONG_PTR)name >> 16) != 0;
    if (byName && !g_noNotifications && !strcmp(name, "CM_Register_Notification"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&Register));
    if (byName && !strcmp(name, "CM_Unregister_Notification"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&Unregister));
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
}

void NotifyRemoval(int device) {
    Fire(device, false);
}

} // namespace simks

using namespace simks;

extern "C" {

void SimKs_SetNotifications(BOOL available) {
    g_noNotifications = !available;
}

BOOL SimKs_RestoreDevice(int device) {
    if (!ChangeDevice(device, [](Device& d) { d.removed = false; }))
        return FALSE;
    Fire(device, true);
    return TRUE;
}

BOOL SimKs_AnnounceDevice(int device) {
    {
        Lock lock;
        if (!FindDevice(device))
            return FALSE;
    }
    Fire(device, true);
    return TRUE;
}

BOOL SimKs_SleepDevice(int device) {
    Lock lock;
    if (!FindDevice(device))
        return FALSE;
    for (Stream& s : Bed().streams) {
        if (s.device != device || !s.info.Open)
            continue;
        s.asleep = true;
        CompleteQueued(s, INT_MAX, SIMKS_PACKET_FAILED, kStatusPoweredOff, NowUs());
    }
    return TRUE;
}

} // extern "C"
