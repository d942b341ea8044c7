// The devices as qhost lists and chooses them: the render devices with their streaming kind, and
// the simulated WaveRT device chosen for one run.
#pragma once

#include <string>

// Lists the KS audio render devices as the plug-in finds them, each with its name, device path
// and streaming kind. Returns how many there are.
int PrintRenderDevices();

// A simulated device chosen for the plug-in while qhost runs: the INI's output_device points at
// it from Choose (after the simulated devices exist, before Init) until Restore puts the previous
// choice back. The default set's WaveRT device: polled, it offers no notifications. A zoo
// device: the first class whose name holds name (any letter case); false when none does.
class SimDeviceChoice {
  public:
    void ChooseWaveRt(bool polled);
    bool ChooseZoo(const std::string& name);
    void Restore();

  private:
    void Choose(const char* path);
    bool m_chosen = false;
    std::string m_previous;
};
