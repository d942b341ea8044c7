// qhost's clock figures (--clock-figures): every 20 ms while a track plays, a thread of its own
// reads the plug-in's output and written times and the played position of the stream the track
// is on (the newest of the bed's: a lost device's pin opened again is a new one), for the verdict
// to set against each other afterwards, stream by stream. While the stream's pin is closed (its
// device lost, the new pin not yet open) no sample is taken: no device plays the track then.
#pragma once

#include "host/out_module.h"
#include "tools/qhost/watch.h"

#include <vector>

struct ClockSample {
    int output;                // GetOutputTime
    int written;               // GetWrittenTime
    unsigned long long played; // the bed's played position of that stream
    int stream;                // the simulated stream the track was on
};

// The bytes the simulated device has played of a stream: the bed's count of consumed bytes, which
// on a standard pin steps by whole packets (a packet counts once it has played whole) and on a
// WaveRT pin follows the DMA position, its silence included. The marks of a seek and a stop read
// it here; the clock figures read the bed's played position, which moves within a packet.
unsigned long long DevicePlayed(int stream);
// How DevicePlayed counts, for the verdict.
extern const char kDevicePlayedNote[];
extern const char kClockPositionNote[]; // the clock figures: the played position
// The bytes the device consumed of a stream, in order.
std::vector<char> DeviceBytes(int stream);

class ClockSampler {
  public:
    // Starts sampling into samples (owned by the caller, read only after Stop); none when null.
    // newest gives the bed's newest stream (may be null: stream throughout).
    ClockSampler(Out_Module* mod, int stream, int (*newest)(), std::vector<ClockSample>* samples);
    ~ClockSampler();
    ClockSampler(const ClockSampler&) = delete;
    ClockSampler& operator=(const ClockSampler&) = delete;
    void Stop();

  private:
    static DWORD WINAPI Thread(LPVOID self);

    Out_Module* m_mod;
    int m_stream;
    int (*m_newest)();
    std::vector<ClockSample>* m_samples;
    WatchThread m_watch;
};
