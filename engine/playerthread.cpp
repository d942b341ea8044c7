// The player thread's handles and flags (KSPlayerThread): its start and end, its wake-ups and its
// one labelled wait, and the acknowledgement of a pause.
#include "engine/playerthread.h"

#include "diag/constants.h"
#include "diag/log.h"

#include <mmsystem.h>
#include <cstring>

namespace {

HANDLE NewEvent() {
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!event)
        LogCause("CreateEventA", HRESULT_FROM_WIN32(GetLastError()));
    return event;
}

} // namespace

bool KSPlayerThread::MakeEvents() {
    m_hWakeEvent.Reset(NewEvent());
    m_hStopEvent.Reset(NewEvent());
    return m_hWakeEvent.Valid() && m_hStopEvent.Valid();
}

bool KSPlayerThread::Start(LPTHREAD_START_ROUTINE proc, void* param) {
    DWORD id = 0;
    m_hThread.Reset(CreateThread(NULL, 0, proc, param, 0, &id));
    if (!m_hThread.Valid()) {
        LogCause("CreateThread", HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    m_dwId = id;
    SetThreadPriority(m_hThread.Get(), THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

void KSPlayerThread::AskToEnd() {
    InterlockedExchange(&m_bExit, 1);
    SetEvent(m_hStopEvent.Get());
}

bool KSPlayerThread::Join() {
    if (WaitForSingleObject(m_hThread.Get(), kDeviceAnswerMs) != WAIT_OBJECT_0) {
        DiagLog(1, "Player thread did not end within %lu ms", kDeviceAnswerMs);
        return false;
    }
    m_hThread.Reset();
    return true;
}

void KSPlayerThread::Wake() {
    m_dwWakeTime = timeGetTime() & kMsClockMask;
    if (WaitForSingleObject(m_hWakeEvent.Get(), 0) == WAIT_TIMEOUT)
        DiagLog(0, "Thread woke at %d", (int)m_dwWakeTime);
    SetEvent(m_hWakeEvent.Get());
}

void KSPlayerThread::FallAsleep() {
    DWORD now = timeGetTime() & kMsClockMask;
    ResetEvent(m_hWakeEvent.Get());
    DiagLog(0, "Thread sleeps at %d", (int)now);
    InterlockedExchange(&m_bSleeping, 1);
}

void KSPlayerThread::AwaitWake(DWORD timeoutMs) {
    WaitForSingleObject(m_hWakeEvent.Get(), timeoutMs);
    InterlockedIncrement(&m_nPasses);
    InterlockedExchange(&m_bSleeping, 0);
}

int KSPlayerThread::Wait(const KSWaitList& list) {
    HANDLE handles[kMaxOutputWaits + 1];
    handles[0] = m_hStopEvent.Get();
    memcpy(handles + 1, list.handles, list.count * sizeof(HANDLE));
    InterlockedExchange(&m_bInDeviceWait, 1);
    DWORD wait = WaitForMultipleObjects(list.count + 1, handles, FALSE, list.timeoutMs);
    InterlockedExchange(&m_bInDeviceWait, 0);
    switch (wait) {
    case WAIT_OBJECT_0 + 0: // stop event
        ResetEvent(m_hStopEvent.Get());
        return kWaitStop;
    case WAIT_TIMEOUT: // the output's time for a look
        return kWaitTimeout;
    default:
        if (wait > WAIT_OBJECT_0 && wait <= WAIT_OBJECT_0 + list.count) // an output's event
            return (int)(wait - WAIT_OBJECT_0 - 1);
        DiagLog(1, "Player thread wait failed (%lu)", GetLastError());
        Sleep(kPollMs);
        return kWaitFailed;
    }
}

// The thread acknowledges at the end of its pass, or is blocked in its wait for the device (it
// looks at the pause flag before it fills anything). A pass waits for nothing but its device
// calls, so the acknowledgement comes within kDeviceAnswerMs.
bool KSPlayerThread::AwaitAck() {
    for (DWORD waited = 0; !m_bPauseAck && !m_bInDeviceWait; waited += kPollMs) {
        if (waited >= kDeviceAnswerMs) {
            DiagLog(1, "Player thread did not acknowledge the pause within %lu ms",
                    kDeviceAnswerMs);
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}
