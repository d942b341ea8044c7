// The plug-in on the simulated WaveRT device of the default set: settings that choose it (with a
// ring large enough for a whole test track), device options, a thread that steps the DMA engine
// a quarter of a half at a time, never into a half that the engine has not rewritten, and the
// checks of what the device played.
#pragma once

#include "tests/plugin_fixture.h"

#include <mmreg.h>
#include <ks.h>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

// Moves the newest WaveRT stream's DMA engine (manual clock) by a quarter of a half, once the
// engine has rewritten the half it left (or after 10 s, so that an engine that never writes shows
// as stale replays). False when no stream was running to move (stop, when given and set, ends the
// wait early).
bool StepQuarter(const std::atomic<bool>* stop);
// count such steps on the calling thread: a known amount played, however fast the machine runs.
bool StepQuarters(int count);

// Steps the newest WaveRT stream's DMA engine (manual clock) while it runs, never into a half
// that the engine has not rewritten; it waits up to 10 s for that, then steps anyway, so that an
// engine that never writes shows as stale replays rather than a hang.
class DmaStepper {
  public:
    ~DmaStepper() { Stop(); }
    void Start() {
        m_stop = false;
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

  private:
    void Run();
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct WaveRtPlugin : PluginFixture {
    // Options of the WaveRT device for the test.
    SimKsWaveRtOptions options = {};
    DmaStepper stepper;

    std::vector<std::string> Settings() override;
    void AddDevices() override;
    void SetUp() override;
    void TearDown() override;

    // Opens a stream, or fails the test.
    void Open(int rate, int channels, int bits);
    // Waits until the engine has put the track's first bytes into the half that plays second:
    // it does so as soon as the ring holds a half, and the stepper must not race that top-up.
    bool WaitPrimed(const std::vector<char>& firstBytes);
    // The same for audio whose first bytes the test does not know: they are not all zero.
    bool WaitPrimed();
    // Waits until the newest stream is closed.
    bool WaitClosed(DWORD timeoutMs = kHangMs);
    // "" when the newest stream played whole frames of silence, then exactly want, then only
    // silence, with no half replayed and no careful-client rule broken; else what differs. With
    // replaysAllowed, the halves the device replayed stale (as hardware does when its writer is
    // late) are taken out first and are no fault: nothing may be lost or out of order.
    std::string PlayedExactly(const std::vector<char>& want, BYTE silence, ULONG block,
                              bool replaysAllowed = false);
    // Bytes of silence, in whole frames, before the first other byte.
    static size_t Lead(const std::vector<char>& got, BYTE silence, ULONG block);
    // The text of the newest stream's careful-client violations.
    static std::string Violations(int stream);
    // How many times text occurs in the log.
    int LogCount(const std::string& text);
};

// Bytes for seconds of audio in the format, as the host hands them over.
std::vector<char> Pcm(int rate, int channels, int bits, double seconds, unsigned seed = 1);
