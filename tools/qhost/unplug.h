// qhost's unplugging of the simulated device mid-track (--unplug): a thread that watches what the
// first stream's device has played, removes the device at the chosen point and puts it back after
// the chosen pause, so that the plug-in's wait for its device and its reopen can be watched.
#pragma once

#include "tools/qhost/watch.h"

#include <windows.h>

struct UnplugPlan {
    int atMs = -1;          // into the first stream's played audio; -1: no unplugging
    int backAfterMs = 1000; // -1: never (the device is put back only once playing has ended)
};

struct UnplugOutcome {
    bool unplugged = false;
    bool back = false; // put back while qhost still played
    int device = -1;
    DWORD atTick = 0; // GetTickCount at the unplugging
};

// Parses "AT_MS[,BACK_AFTER_MS]" and "AT_MS,never".
bool ParseUnplug(const char* text, UnplugPlan& plan);

class Unplugger {
  public:
    // Starts the watching thread when the plan asks for an unplugging.
    explicit Unplugger(const UnplugPlan& plan);
    ~Unplugger();
    Unplugger(const Unplugger&) = delete;
    Unplugger& operator=(const Unplugger&) = delete;

    // Ends the watch (a device that is still out is put back) and says what happened.
    UnplugOutcome Finish();

  private:
    static DWORD WINAPI Thread(LPVOID self);
    bool WaitForPoint();
    bool Wait(DWORD ms);

    UnplugPlan m_plan;
    UnplugOutcome m_outcome;
    WatchThread m_watch;
};
