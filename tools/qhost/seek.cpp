// The pause, seek and stop watch: it feeds the first stream's consumed bytes to an attribution,
// reads the place of the track the device has reached, and raises the next step once the place is
// reached, or makes the pause itself. After a seek the next step waits until the device plays
// audio that began after the Flush.
#include "tools/qhost/seek.h"

#include "testbed/simks.h"
#include "tools/common/asdevice.h"
#include "tools/qhost/clock.h"

#include <ks.h>

#include <cstdio>
#include <new>

namespace {

const DWORD kLookMs = 2;
// The stop's wait for the device: it has played what it will once its position stood still this
// long (or its pin closed); bounded in all.
const DWORD kQuietMs = 250;
const DWORD kQuietLimitMs = 10000;
// A pause's wait for the pin to leave RUN, bounded.
const DWORD kPausedLimitMs = 10000;

void Call(Out_Module* mod, int stream, int pause, CallMark& mark) {
    mark.made = true;
    mark.calledUs = SimKs_Now();
    mark.called = SimKs_PlayedBytes(stream);
    mod->Pause(pause);
    mark.returned = SimKs_PlayedBytes(stream);
    mark.returnedUs = SimKs_Now();
}

} // namespace

bool ParseSeek(const char* text, SeekPlan& plan) {
    int at = -1, to = -1;
    char tail = 0;
    if (sscanf(text, "%d:%d%c", &at, &to, &tail) != 2 || at < 0 || to < 0)
        return false;
    plan.seeks.push_back(SeekStep{at, to});
    return true;
}

bool ParsePause(const char* text, SeekPlan& plan) {
    int at = -1, resume = -1;
    char tail = 0;
    if (sscanf(text, "%d:%d%c", &at, &resume, &tail) != 2 || at < 0 || resume <= at)
        return false;
    plan.pauses.push_back(PauseStep{at, resume});
    return true;
}

bool ParseStop(const char* text, SeekPlan& plan) {
    int at = -1;
    char tail = 0;
    if (sscanf(text, "%d%c", &at, &tail) != 1 || at < 0)
        return false;
    plan.stopAtMs = at;
    return true;
}

Jumper::Jumper(const SeekPlan& plan) : m_plan(plan) {
    m_outcome.seeks.resize(plan.seeks.size());
    m_outcome.pauses.resize(plan.pauses.size());
    InitializeCriticalSection(&m_calls);
}

Jumper::~Jumper() {
    Finish();
    DeleteCriticalSection(&m_calls);
}

void Jumper::Begin(int stream, const Track& track, Out_Module* mod) {
    m_mod = mod;
    SimKsStreamInfo info;
    if (!m_plan.Any() || m_watch.Running() || !SimKs_GetStream(stream, &info))
        return;
    const WAVEFORMATEX& f = info.Format.Format;
    m_outcome.stream = stream;
    m_expected =
        asdevice::Bytes(track.data.data(), track.data.size(), track.channels, track.bits, f);
    m_block = f.nBlockAlign ? f.nBlockAlign : 1;
    m_silence = f.wBitsPerSample == 8 ? (char)0x80 : 0;
    m_bytesPerSec = f.nAvgBytesPerSec;
    m_heard.reset(new (std::nothrow) Attribution(m_expected, m_block, m_silence));
    if (!m_heard || !m_watch.Start(Thread, this))
        fprintf(stderr, "qhost: cannot start the seek watch; no seek or stop is made\n");
}

int Jumper::Due() const {
    return m_due;
}

void Jumper::Made(int step, const CallMark& mark) {
    if (step == kStop)
        m_outcome.stop = mark;
    else if (step >= 0 && (size_t)step < m_outcome.seeks.size())
        m_outcome.seeks[step] = mark;
    if (step >= 0)
        m_next = (size_t)step + 1;
    InterlockedExchange(&m_due, kNothing);
}

void Jumper::WaitForQuiet() const {
    DWORD start = GetTickCount(), still = start;
    unsigned long long last = DevicePlayed(m_outcome.stream);
    for (;;) {
        SimKsStreamInfo info;
        if (!SimKs_GetStream(m_outcome.stream, &info) || !info.Open)
            return;
        DWORD now = GetTickCount();
        if (info.ConsumedBytes != last) {
            last = info.ConsumedBytes;
            still = now;
        }
        if (now - still >= kQuietMs || now - start >= kQuietLimitMs)
            return;
        Sleep(10);
    }
}

// The pause under way may want this thread's windows (the player's own do): their messages are
// dispatched while it ends.
void Jumper::Settle() {
    while (!TryEnterCriticalSection(&m_calls)) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, kLookMs, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    m_settled = true;
    LeaveCriticalSection(&m_calls);
}

SeekOutcome Jumper::Finish() {
    m_watch.Stop();
    return m_outcome;
}

// After a seek the device must first play audio that started after its Flush was called.
bool Jumper::NewPlaceHeard(const Attribution& heard) const {
    if (m_next == 0)
        return true;
    const CallMark& flushed = m_outcome.seeks[m_next - 1];
    for (const PlayedPiece& p : heard.Pieces())
        if (p.kind == PlayedPiece::kAudio && p.device >= flushed.called)
            return true;
    return false;
}

// Waits, bounded, for the pin to leave RUN; false when the watch is asked to end.
bool Jumper::WaitForPinPaused() const {
    DWORD start = GetTickCount();
    SimKsStreamInfo info;
    while (SimKs_GetStream(m_outcome.stream, &info) && info.State == KSSTATE_RUN &&
           GetTickCount() - start < kPausedLimitMs)
        if (!m_watch.Wait(kLookMs))
            return false;
    return true;
}

// The next pause is reached and no seek or stop planned earlier in the track comes first.
bool Jumper::PauseDue(unsigned long long ms) const {
    if (m_nextPause >= m_plan.pauses.size())
        return false;
    int at = m_plan.pauses[m_nextPause].atMs;
    bool seekFirst = m_next < m_plan.seeks.size() && m_plan.seeks[m_next].atMs < at;
    bool stopFirst = m_plan.stopAtMs >= 0 && m_plan.stopAtMs < at;
    return ms >= (unsigned long long)at && !seekFirst && !stopFirst;
}

// Pause(1); once the pin has left RUN, the pause's wall time; Pause(0). Under m_calls, so that
// the track's Close never meets a pause half made.
void Jumper::MakePause() {
    EnterCriticalSection(&m_calls);
    if (!m_settled) {
        InterlockedExchange(&m_pausing, 1);
        const PauseStep& step = m_plan.pauses[m_nextPause];
        PauseMark& mark = m_outcome.pauses[m_nextPause++];
        Call(m_mod, m_outcome.stream, 1, mark.pause);
        if (WaitForPinPaused())
            m_watch.Wait((DWORD)(step.resumeMs - step.atMs));
        Call(m_mod, m_outcome.stream, 0, mark.resume);
        InterlockedExchange(&m_pausing, 0);
    }
    LeaveCriticalSection(&m_calls);
}

void Jumper::Look(Attribution& heard, unsigned long long& fed) {
    char buffer[16384];
    ULONG n;
    while ((n = SimKs_CopyConsumed(m_outcome.stream, fed, buffer, sizeof buffer)) > 0) {
        heard.Feed(buffer, n);
        fed += n;
    }
    if (m_due != kNothing || !m_bytesPerSec || !NewPlaceHeard(heard))
        return;
    size_t at = heard.TrackAt(DevicePlayed(m_outcome.stream));
    unsigned long long ms = (unsigned long long)at * 1000 / m_bytesPerSec;
    if (PauseDue(ms)) {
        MakePause();
        return;
    }
    // Of a seek and the stop both reached, the one planned earlier in the track goes first.
    bool seek = m_next < m_plan.seeks.size() && ms >= (unsigned long long)m_plan.seeks[m_next].atMs;
    bool stop = m_plan.stopAtMs >= 0 && ms >= (unsigned long long)m_plan.stopAtMs;
    if (seek && (!stop || m_plan.seeks[m_next].atMs <= m_plan.stopAtMs))
        InterlockedExchange(&m_due, (LONG)m_next);
    else if (stop)
        InterlockedExchange(&m_due, kStop);
}

DWORD WINAPI Jumper::Thread(LPVOID param) {
    Jumper& self = *(Jumper*)param;
    unsigned long long fed = 0;
    while (self.m_watch.Wait(kLookMs))
        self.Look(*self.m_heard, fed);
    return 0;
}
