// The player thread's own handles and flags: the thread, its wake and stop events, its one labelled
// wait, the acknowledgement of a pause, and what the snapshot shows of it. What the thread does in
// each pass is the engine's (KSCore::PlayerThread, player.cpp).
//
// Threading: the engine's m_csWake pairs Wake with FallAsleep (kscore.h); the flags are volatile
// LONGs that any thread reads. Start and Join run on the thread that makes and ends the engine.
#pragma once

#include "diag/owned.h"
#include "engine/output.h"

#include <windows.h>

class KSPlayerThread {
  public:
    KSPlayerThread() = default;
    KSPlayerThread(const KSPlayerThread&) = delete;
    KSPlayerThread& operator=(const KSPlayerThread&) = delete;

    // The wake and stop events (manual-reset); false when either is missing (logged).
    bool MakeEvents();
    // Runs proc(param) on a thread of time-critical priority; false when it could not (logged).
    bool Start(LPTHREAD_START_ROUTINE proc, void* param);
    // Asks the thread to end: it sees Ending() after its wait, which the stop event ends.
    void AskToEnd();
    // Waits kDeviceAnswerMs for the thread's end (true when it ended; the handle then goes).
    bool Join();
    bool Running() const { return m_hThread.Valid(); }
    bool Ending() const { return m_bExit != 0; }
    HANDLE Handle() const { return m_hThread.Get(); }
    DWORD Id() const { return m_dwId; }
    bool IsCurrent() const { return GetCurrentThreadId() == m_dwId; }

    // Sets the wake event (under m_csWake), noting the time of the wake-up.
    void Wake();
    // Resets the wake event (under m_csWake): the next AwaitWake waits for Wake.
    void FallAsleep();
    // The top of each pass: waits for Wake or the timeout, and counts the pass.
    void AwaitWake(DWORD timeoutMs);

    // The pass's one labelled wait: the stop event first, then list's handles; the lowest
    // signalled one is reported (kWaitStop, kWaitTimeout, kWaitFailed or the list's index).
    int Wait(const KSWaitList& list);
    // Ends a wait under way, or the next one (the stop event).
    void Interrupt() { SetEvent(m_hStopEvent.Get()); }
    void ResetStop() { ResetEvent(m_hStopEvent.Get()); }

    // The thread acknowledges, at the end of each pass, whether it moves no audio; a hold
    // forgets an older acknowledgement and waits (bounded) for a new one.
    void Acknowledge(bool movesNoAudio) { InterlockedExchange(&m_bPauseAck, movesNoAudio); }
    void ForgetAck() { InterlockedExchange(&m_bPauseAck, 0); }
    bool AwaitAck();

    bool Sleeping() const { return m_bSleeping != 0; }
    bool InDeviceWait() const { return m_bInDeviceWait != 0; }
    LONG Passes() const { return m_nPasses; }

  private:
    UniqueHandle m_hThread;            // made by Start, closed by Join
    DWORD m_dwId = 0;                  // the thread's identifier
    UniqueHandle m_hWakeEvent;         // set by Wake, reset by FallAsleep
    UniqueHandle m_hStopEvent;         // set by Interrupt and AskToEnd, reset when seen
    volatile LONG m_bExit = 0;         // AskToEnd was called
    volatile LONG m_bPauseAck = 0;     // the last pass moved no audio
    volatile LONG m_bSleeping = 0;     // asleep until the next Wake
    volatile LONG m_bInDeviceWait = 0; // in Wait
    volatile LONG m_nPasses = 0;       // passes since the thread started
    volatile DWORD m_dwWakeTime = 0;   // millisecond clock at the last wake-up
};
