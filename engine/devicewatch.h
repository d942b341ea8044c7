// The system's word on audio devices that arrive and leave: the configuration manager's
// notifications for KS audio interfaces (CM_Register_Notification, Windows 8 and later, looked up
// at run time). Where they are missing the engine polls the device list instead.
//
// Threading: the callback runs on a thread of the system's; it must return quickly and never
// unregister its own notification. Stop waits for callbacks in progress (the system's
// unregistration does) and runs on a host thread, never on the callback's.
#pragma once

#include <windows.h>

class KSDeviceWatch {
  public:
    // Told each arrival and removal: the device path (as SetupAPI gives it) and which it was.
    typedef void (*Listener)(void* context, bool arrived, const char* path);

    KSDeviceWatch() = default;
    ~KSDeviceWatch() { Stop(); }
    KSDeviceWatch(const KSDeviceWatch&) = delete;
    KSDeviceWatch& operator=(const KSDeviceWatch&) = delete;

    // False (logged) when the system offers no notifications.
    bool Start(Listener listener, void* context);
    void Stop();
    bool Active() const { return m_hNotify != nullptr; }

  private:
    static DWORD CALLBACK Callback(HANDLE notify, void* context, DWORD action, void* data,
                                   DWORD size);

    HMODULE m_hLibrary = nullptr;
    HANDLE m_hNotify = nullptr;
    FARPROC m_pUnregister = nullptr;
    Listener m_listener = nullptr;
    void* m_context = nullptr;
};
