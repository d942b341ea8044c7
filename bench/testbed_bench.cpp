// Figures of the test bed itself, printed, never asserted: how long a packet takes from its
// submission to its completion on the unpaced clock (as the caller sees it and inside the bed),
// and the byte rate and factor the real-time clock reaches on this machine.
#include "testbed/client.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace bedtest;

namespace {

const int kRate = 48000, kBytesPerSec = 48000 * 4;

// A fresh bed with the default devices behind this program's imports, and a pin on the first.
struct Bed {
    HANDLE filter = INVALID_HANDLE_VALUE;
    HANDLE pin = NULL;
    Bed() {
        SimKs_Reset();
        SimKs_AddDefaultDevices();
        SimKs_SetCapture(FALSE, NULL);
        SimKs_Install(GetModuleHandleA(NULL));
        filter = OpenFilter(SIMKS_DEFAULT_VERSATILE);
        if (CreatePin(filter, Format(kRate, 2, 16, true), &pin) != 0)
            pin = NULL;
    }
    ~Bed() {
        if (pin)
            CloseHandle(pin);
        CloseHandle(filter);
        SimKs_Remove(GetModuleHandleA(NULL));
        SimKs_Reset();
    }
};

LONGLONG Median(std::vector<LONGLONG> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void UnpacedLatency() {
    Bed bed;
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    SetState(bed.pin, simks::kStateRun);
    Packet p(8192);
    std::vector<LONGLONG> seen, inside;
    for (int i = 0; i < 300; ++i) {
        LONGLONG t0 = SimKs_Now();
        p.Submit(bed.pin);
        WaitForSingleObject(p.ov.hEvent, INFINITE);
        seen.push_back(SimKs_Now() - t0);
        SimKsPacketInfo info;
        SimKs_GetPacket(0, i, &info);
        inside.push_back(info.CompleteUs - info.SubmitUs);
    }
    std::printf("unpaced clock, submission to completion of 300 packets of 8192 bytes:\n"
                "  seen by the caller: median %lld us, max %lld us\n"
                "  inside the bed:     median %lld us, max %lld us\n",
                Median(seen), *std::max_element(seen.begin(), seen.end()), Median(inside),
                *std::max_element(inside.begin(), inside.end()));
}

void RealTimeRate(double factor, double seconds) {
    Bed bed;
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, factor);
    LONGLONG end = SimKs_Now() + (LONGLONG)(seconds * 1e6);
    KeepFourInFlight(bed.pin, kBytesPerSec / 100, [&] { return SimKs_Now() >= end; });
    SimKsStreamInfo info;
    SimKs_GetStream(0, &info);
    SimKsStateChange run;
    SimKs_GetStateChange(0, 1, &run);
    double played = (end - run.TimeUs) / 1e6;
    double rate = info.ConsumedBytes / played;
    std::printf("real-time clock x%.1f for %.1f s: %llu bytes, %.0f bytes/s of %.0f (factor "
                "reached %.3f), %d starvations\n",
                factor, seconds, info.ConsumedBytes, rate, kBytesPerSec * factor,
                rate / kBytesPerSec, SimKs_StarvationCount(0));
}

} // namespace

int main() {
    UnpacedLatency();
    RealTimeRate(1.0, 2.0);
    RealTimeRate(4.0, 0.5);
    return 0;
}
