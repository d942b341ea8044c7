// qhost's pauses, seeks and stop (--pause AT_MS:RESUME_MS, --seek AT_MS:TO_MS, --stop AT_MS): a
// thread follows what the first track's device plays, by the bytes it consumed matched against
// the track, and once the device has played the chosen point of the track it asks the decode
// thread for the player's seek (Flush, then writing from the new place) or the user's Stop
// (Close), or pauses itself as the player's window does (Pause(1), and Pause(0) once the device
// has stood paused for the chosen wall time). The device's position when each call began and
// returned is kept for the verdict.
#pragma once

#include "host/out_module.h"
#include "tools/qhost/attribution.h"
#include "tools/qhost/audio.h"

#include "tools/qhost/watch.h"

#include <windows.h>

#include <memory>
#include <vector>

struct SeekStep {
    int atMs;
    int toMs;
};

struct PauseStep {
    int atMs;
    int resumeMs; // the resume comes (resumeMs - atMs) ms of wall time after the pause
};

struct SeekPlan {
    std::vector<SeekStep> seeks;   // in the order they are made
    std::vector<PauseStep> pauses; // in the order they are made
    int stopAtMs = -1;             // -1: no stop
    bool Any() const { return !seeks.empty() || !pauses.empty() || stopAtMs >= 0; }
};

// Parses "AT_MS:TO_MS" into a further seek, "AT_MS:RESUME_MS" (RESUME_MS > AT_MS) into a further
// pause, and "AT_MS" into the stop.
bool ParseSeek(const char* text, SeekPlan& plan);
bool ParsePause(const char* text, SeekPlan& plan);
bool ParseStop(const char* text, SeekPlan& plan);

// What the device had played of the stream when a Flush or Close was called and when it returned.
struct CallMark {
    bool made = false;
    unsigned long long called = 0, returned = 0;
    long long calledUs = 0, returnedUs = 0; // the bed's clock (SimKs_Now) at the call and return
};

// A pause: the marks around Pause(1) and around Pause(0). The device's position here is the bed's
// played position (SimKs_PlayedBytes), which moves within a packet.
struct PauseMark {
    CallMark pause, resume;
};

struct SeekOutcome {
    int stream = -1;
    std::vector<CallMark> seeks; // one per step of the plan
    std::vector<PauseMark> pauses;
    CallMark stop;
};

class Jumper {
  public:
    static const int kNothing = -1;
    static const int kStop = -2;

    explicit Jumper(const SeekPlan& plan);
    ~Jumper();
    Jumper(const Jumper&) = delete;
    Jumper& operator=(const Jumper&) = delete;

    // The first track was opened on the simulated stream: the watch begins; pauses go to mod.
    void Begin(int stream, const Track& track, Out_Module* mod);
    // A pause is under way (the track's end waits for it).
    bool Pausing() const { return m_pausing != 0; }
    // Before the track's Close: waits for a pause under way to be resumed, and makes no more.
    void Settle();
    // For the decode thread: kNothing, kStop, or the index of the seek now due.
    int Due() const;
    // The step due was made; the marks around its call.
    void Made(int step, const CallMark& mark);
    // After the stop's Close: waits (bounded) until the device has played what it will play.
    void WaitForQuiet() const;
    // Ends the watch.
    SeekOutcome Finish();

    const SeekPlan& Plan() const { return m_plan; }

  private:
    static DWORD WINAPI Thread(LPVOID self);
    void Look(Attribution& heard, unsigned long long& fed);
    bool NewPlaceHeard(const Attribution& heard) const;
    bool PauseDue(unsigned long long ms) const;
    void MakePause();
    bool WaitForPinPaused() const;

    SeekPlan m_plan;
    SeekOutcome m_outcome;
    std::vector<char> m_expected;
    size_t m_block = 1;
    char m_silence = 0;
    unsigned long m_bytesPerSec = 0;
    std::unique_ptr<Attribution> m_heard; // the watch thread's, once it runs
    volatile LONG m_due = kNothing;
    size_t m_next = 0; // the next seek to make
    size_t m_nextPause = 0;
    Out_Module* m_mod = nullptr;
    volatile LONG m_pausing = 0;
    bool m_settled = false;   // under m_calls
    CRITICAL_SECTION m_calls; // held by the watch through a pause; Settle takes it before Close
    WatchThread m_watch;
};
