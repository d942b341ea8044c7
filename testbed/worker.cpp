// The bed's thread: answers late (pending) requests when they fall due and runs the real-time
// render clock. It sleeps on Bed().wake until the next due time.
#include "testbed/stream.h"
#include "testbed/wavert.h"

#include <mmsystem.h>

#include <climits>
#include <cstring>

namespace simks {

namespace {

const LONGLONG kNever = LLONG_MAX;

void Finish(Deferred& d) {
    if (d.output && !d.data.empty())
        memcpy(d.output, d.data.data(), d.data.size());
    if (d.stream >= 0) {
        SimKsPacketInfo& info = FindStream(d.stream)->packets[d.packet].info;
        info.Outcome = SIMKS_PACKET_FAILED;
        info.Status = d.status;
        info.CompleteUs = NowUs();
        FindStream(d.stream)->packets[d.packet].overlapped = nullptr;
    }
    Signal(d.overlapped, d.status, d.information);
}

// Finishes what is due by now; returns the earliest due time left.
LONGLONG RunDeferred(LONGLONG now) {
    std::vector<Deferred>& all = Bed().deferred;
    LONGLONG next = kNever;
    for (size_t i = 0; i < all.size();) {
        if (all[i].dueUs <= now) {
            Finish(all[i]);
            all.erase(all.begin() + i);
        } else {
            next = all[i].dueUs < next ? all[i].dueUs : next;
            ++i;
        }
    }
    return next;
}

// When the head packet of a playing stream has played out, or kNever.
LONGLONG HeadDue(const Stream& s) {
    if (!s.info.Open || s.info.State != kStateRun || s.queue.empty() || Held(s, SIMKS_HOLD_CLOCK))
        return kNever;
    double rate = s.info.Format.Format.nAvgBytesPerSec * Bed().factor;
    const Packet& p = s.packets[s.queue.front()];
    LONGLONG duration = (LONGLONG)(p.info.DataUsed * 1e6 / rate);
    return s.headStartUs + duration - s.headPlayedUs;
}

// Completes every packet that has played out by now; returns the next due time.
LONGLONG RunClock(LONGLONG now) {
    LONGLONG next = kNever;
    for (Stream& s : Bed().streams) {
        LONGLONG due;
        while ((due = HeadDue(s)) <= now) {
            CompleteQueued(s, 1, SIMKS_PACKET_CONSUMED, kStatusSuccess, due);
            s.headPlayedUs = 0;
            if (!s.queue.empty()) {
                LONGLONG submitted = s.packets[s.queue.front()].info.SubmitUs;
                s.headStartUs = submitted > due ? submitted : due;
            }
        }
        next = due < next ? due : next;
    }
    return next;
}

DWORD WINAPI WorkerMain(void*) {
    timeBeginPeriod(1);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    for (;;) {
        DWORD waitMs = INFINITE;
        {
            Lock lock;
            LONGLONG now = NowUs();
            LONGLONG next = RunDeferred(now);
            if (Bed().clock == SIMKS_CLOCK_REALTIME) {
                LONGLONG clock = RunClock(now);
                LONGLONG dma = RunWaveRtClock(now);
                clock = dma < clock ? dma : clock;
                next = clock < next ? clock : next;
            }
            if (next != kNever)
                waitMs = (DWORD)((next - now + 999) / 1000);
        }
        WaitForSingleObject(Bed().wake, waitMs);
    }
}

} // namespace

void WakeWorker() {
    State& bed = Bed();
    if (!bed.wake)
        bed.wake = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (bed.wake && !bed.thread)
        bed.thread = CreateThread(NULL, 0, WorkerMain, NULL, 0, NULL);
    if (bed.wake)
        SetEvent(bed.wake);
}

void Defer(const Deferred& d) {
    Bed().deferred.push_back(d);
    WakeWorker();
    // Without a thread the request is still answered, right after it was found pending.
    if (!Bed().thread)
        FlushDeferred();
}

void FlushDeferred() {
    RunDeferred(kNever);
}

int CancelDeferred(const OVERLAPPED* overlapped) {
    std::vector<Deferred>& all = Bed().deferred;
    int cancelled = 0;
    for (size_t i = 0; i < all.size();) {
        if (all[i].stream < 0 && (!overlapped || all[i].overlapped == overlapped)) {
            Signal(all[i].overlapped, kStatusCancelled, 0);
            all.erase(all.begin() + i);
            ++cancelled;
        } else {
            ++i;
        }
    }
    return cancelled;
}

} // namespace simks
