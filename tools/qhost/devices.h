// The devices as qhost lists and chooses them: the render devices with their streaming kind, and
// the simulated WaveRT device chosen for one run.
#pragma once

#include <string>

// Lists the KS audio render devices as the plug-in finds them, each with its name, device path
// and streaming kind. Returns how many there are.
int PrintRenderDevices();

// A simulated device chosen for the plug-in while qhost runs: the INI's output_device points at
// it from a Choose call (after the simulated devices exist, before Init) until Restore puts the
// previous choice back.
// - ChooseWaveRt: the default set's WaveRT device, as choice says: "event" or "polled"
//   (no notifications), followed by driver variants, each after a comma: frames (sizes rounded
//   down to frames), pages (rounded up to pages), count (the notification count must divide the
//   size), noregister (the position property only), latency (FIFO 1764 bytes, chipset 1 ms, codec
//   4 ms), jitter (the position 3 frames off), early, late, doubled, missed (events 3 frames early,
//   late, twice, one missed; with jitter), packed (no extensible formats: 24-bit audio in 6-byte
//   frames).
// - ChooseZoo: the first class of the zoo whose name holds name (any letter case); false when
//   none does.
// - AddTopology: gives the device chosen (the default set's versatile device when none is, which
//   it then chooses) a topology filter in one of the test bed's layouts (SIMKS_TOPO_*).
class SimDeviceChoice {
  public:
    // False for a WaveRT choice it does not know.
    static bool ValidWaveRt(const std::string& choice);
    void ChooseWaveRt(const std::string& choice);
    bool ChooseZoo(const std::string& name);
    bool AddTopology(int layout);
    void Restore();

  private:
    void Choose(const char* path);
    bool m_chosen = false;
    int m_device = -1; // the simulated device chosen; -1: none yet
    std::string m_previous;
};
