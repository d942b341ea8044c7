// A watch thread of qhost's: started with its procedure, told to end by an event it waits on, and
// joined once. The seek watch, the unplugging and the clock sampler each run on one.
#pragma once

#include <windows.h>

class WatchThread {
  public:
    WatchThread() = default;
    ~WatchThread() {
        Stop();
        if (m_stop)
            CloseHandle(m_stop);
    }
    WatchThread(const WatchThread&) = delete;
    WatchThread& operator=(const WatchThread&) = delete;

    // False when the event or the thread could not be had.
    bool Start(LPTHREAD_START_ROUTINE proc, void* arg) {
        if (!m_stop)
            m_stop = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_thread = m_stop ? CreateThread(NULL, 0, proc, arg, 0, NULL) : NULL;
        return m_thread != NULL;
    }
    bool Running() const { return m_thread != NULL; }
    // For the thread: true when ms passed, false once it is asked to end.
    bool Wait(DWORD ms) const { return WaitForSingleObject(m_stop, ms) == WAIT_TIMEOUT; }
    // Asks the thread to end and waits for it.
    void Stop() {
        if (!m_thread)
            return;
        SetEvent(m_stop);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = NULL;
    }

  private:
    HANDLE m_stop = NULL;
    HANDLE m_thread = NULL;
};
