// The WaveRT plug-in fixture: device choice and options, the DMA stepper and the checks of what
// the simulated WaveRT device played.
#include "tests/wavert_fixture.h"

#include <cstring>

void DmaStepper::Run() {
    while (!m_stop) {
        int stream = SimKs_StreamCount() - 1;
        SimKsWaveRtInfo rt;
        SimKsStreamInfo info;
        if (stream < 0 || !SimKs_GetWaveRt(stream, &rt) || !SimKs_GetStream(stream, &info) ||
            !rt.ActualSize || !info.Open) {
            Sleep(1);
            continue;
        }
        for (int waited = 0; waited < 2000 && !m_stop && !SimKs_WaveRtRewritten(stream); waited++)
            Sleep(1);
        ULONG frames = rt.ActualSize / 2 / 4 / info.Format.Format.nBlockAlign;
        if (!SimKs_AdvanceWaveRt(stream, frames ? frames : 1))
            Sleep(1); // paused, or not running yet
    }
}

std::vector<std::string> WaveRtPlugin::Settings() {
    return {"logging_enabled=1", "input_buffer_size=1048576",
            std::string("output_device=") + SimKs_DevicePath(SIMKS_DEFAULT_WAVERT)};
}

std::string WaveRtPlugin::FolderName() {
    std::string name = PluginFixture::FolderName();
    for (char& c : name)
        c = c == '/' ? '_' : c;
    return name;
}

void WaveRtPlugin::AddDevices() {
    SimKs_AddDefaultDevices();
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &options);
}

void WaveRtPlugin::SetUp() {
    PluginFixture::SetUp();
    SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
}

// The stepper must stop before the bed is reset, and after Quit, whose final end may need it.
void WaveRtPlugin::TearDown() {
    if (initDone)
        mod->Quit();
    initDone = false;
    stepper.Stop();
    PluginFixture::TearDown();
}

void WaveRtPlugin::Open(int rate, int channels, int bits) {
    ASSERT_EQ(1000, mod->Open(rate, channels, bits, -1, -1));
}

namespace {

// Waits until the second half of the newest stream's buffer starts as primed() says.
template <typename Primed> bool WaitSecondHalf(Primed primed) {
    int stream = SimKs_StreamCount() - 1;
    for (int i = 0; i < 2000; i++) {
        SimKsWaveRtInfo rt;
        if (SimKs_GetWaveRt(stream, &rt) && rt.BufferAddress &&
            primed((const char*)rt.BufferAddress + rt.ActualSize / 2))
            return true;
        Sleep(1);
    }
    return false;
}

} // namespace

bool WaveRtPlugin::WaitPrimed(const std::vector<char>& firstBytes) {
    return WaitSecondHalf(
        [&](const char* second) { return !memcmp(second, firstBytes.data(), firstBytes.size()); });
}

bool WaveRtPlugin::WaitPrimed() {
    const char zeros[16] = {};
    return WaitSecondHalf([&](const char* second) { return memcmp(second, zeros, 16) != 0; });
}

bool WaveRtPlugin::WaitClosed(DWORD timeoutMs) {
    SimKsStreamInfo info;
    int stream = SimKs_StreamCount() - 1;
    for (DWORD waited = 0; SimKs_GetStream(stream, &info) && info.Open; waited += 5) {
        if (waited > timeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

std::string WaveRtPlugin::PlayedExactly(const std::vector<char>& want, BYTE silence, ULONG block) {
    int stream = SimKs_StreamCount() - 1;
    std::vector<char> got = Consumed(stream);
    size_t lead = Lead(got, silence, block);
    if (got.size() < lead + want.size())
        return "played " + std::to_string(got.size()) + " bytes, " +
               std::to_string(lead + want.size()) + " expected at least";
    for (size_t i = 0; i < want.size(); i++)
        if (got[lead + i] != want[i])
            return "audio differs at byte " + std::to_string(i) + " (after " +
                   std::to_string(lead) + " bytes of silence)";
    for (size_t i = lead + want.size(); i < got.size(); i++)
        if ((BYTE)got[i] != silence)
            return "no silence at byte " + std::to_string(i - lead - want.size()) +
                   " after the audio";
    if (SimKs_StaleCount(stream))
        return std::to_string(SimKs_StaleCount(stream)) + " stale replays";
    return Violations(stream);
}

size_t WaveRtPlugin::Lead(const std::vector<char>& got, BYTE silence, ULONG block) {
    size_t lead = 0;
    while (lead < got.size() && (BYTE)got[lead] == silence)
        lead++;
    return lead - lead % block;
}

std::string WaveRtPlugin::Violations(int stream) {
    std::string all;
    SimKsViolation v;
    for (int i = 0; SimKs_GetViolation(stream, i, &v); ++i)
        all += std::string("violation: ") + v.Text + "\n";
    return all;
}

int WaveRtPlugin::LogCount(const std::string& text) {
    std::string log = Log();
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        n++;
    return n;
}

std::vector<char> Widen24(const std::vector<char>& packed) {
    std::vector<char> out;
    for (size_t i = 0; i + 3 <= packed.size(); i += 3) {
        out.push_back(0);
        out.insert(out.end(), packed.begin() + i, packed.begin() + i + 3);
    }
    return out;
}

std::vector<char> Pcm(int rate, int channels, int bits, double seconds, unsigned seed) {
    size_t frames = (size_t)(rate * seconds);
    std::vector<char> data = Pcm16(frames * channels * (bits / 8) / 2 + 1, seed);
    data.resize(frames * channels * (bits / 8));
    return data;
}
