// The clock sampler's thread and the device's played position.
#include "tools/qhost/clock.h"

#include "testbed/simks.h"

#include <cstdio>

namespace {

const DWORD kEveryMs = 20;

} // namespace

const char kDevicePlayedNote[] = "the bed's consumed bytes, by whole packets on packet pins";
// A WaveRT device that reports its hardware latency (--wavert ...,latency) is heard that much
// later than it plays: the plug-in's time takes the latency off, these figures do not.
const char kClockPositionNote[] = "the bed's played position, within the packet under way, "
                                  "with no reported hardware latency taken off";

unsigned long long DevicePlayed(int stream) {
    SimKsStreamInfo info;
    return SimKs_GetStream(stream, &info) ? info.ConsumedBytes : 0;
}

std::vector<char> DeviceBytes(int stream) {
    SimKsStreamInfo info;
    std::vector<char> bytes;
    if (!SimKs_GetStream(stream, &info))
        return bytes;
    bytes.resize((size_t)info.ConsumedBytes);
    if (!bytes.empty())
        bytes.resize(SimKs_CopyConsumed(stream, 0, bytes.data(), (ULONG)bytes.size()));
    return bytes;
}

ClockSampler::ClockSampler(Out_Module* mod, int stream, int (*newest)(),
                           std::vector<ClockSample>* samples)
    : m_mod(mod), m_stream(stream), m_newest(newest), m_samples(samples) {
    if (!samples)
        return;
    if (!m_watch.Start(Thread, this))
        fprintf(stderr, "qhost: cannot start the clock sampler; no clock figures\n");
}

ClockSampler::~ClockSampler() {
    Stop();
}

void ClockSampler::Stop() {
    m_watch.Stop();
}

DWORD WINAPI ClockSampler::Thread(LPVOID param) {
    ClockSampler& self = *(ClockSampler*)param;
    while (self.m_watch.Wait(kEveryMs)) {
        ClockSample s;
        s.output = self.m_mod->GetOutputTime();
        s.written = self.m_mod->GetWrittenTime();
        int newest = self.m_newest ? self.m_newest() : self.m_stream;
        s.stream = newest > self.m_stream ? newest : self.m_stream;
        s.played = SimKs_PlayedBytes(s.stream);
        SimKsStreamInfo info;
        if (SimKs_GetStream(s.stream, &info) && info.Open)
            self.m_samples->push_back(s);
    }
    return 0;
}
