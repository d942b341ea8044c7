// The devices as qhost lists and chooses them: the render devices with their streaming kind, and
// the simulated WaveRT device chosen for one run.
#pragma once

#include <string>

// Lists the KS audio render devices as the plug-in finds them, each with its name, device path
// and streaming kind. Returns how many there are.
int PrintRenderDevices();

// The default set's simulated WaveRT device chosen for the plug-in while qhost runs: the INI's
// output_device points at it from Choose (after the simulated devices exist, before Init) until
// Restore puts the previous choice back. Polled: the device offers no notifications.
class SimWaveRtChoice {
  public:
    void Choose(bool polled);
    void Restore();

  private:
    bool m_chosen = false;
    std::string m_previous;
};
