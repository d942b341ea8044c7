// The WaveRT plug-in fixture: device choice and options, the DMA stepper and the checks of what
// the simulated WaveRT device played.
#include "tests/wavert_fixture.h"

#include <algorithm>
#include <cstring>

namespace {

// How long the stepper waits for the engine to rewrite the half it left before it steps anyway:
// an engine that never writes then shows as stale replays instead of a hang. Engines rewrite
// within milliseconds.
const DWORD kStaleStepMs = 10000;

} // namespace

bool StepQuarter(const std::atomic<bool>* stop) {
    int stream = SimKs_StreamCount() - 1;
    SimKsWaveRtInfo rt;
    SimKsStreamInfo info;
    if (stream < 0 || !SimKs_GetWaveRt(stream, &rt) || !SimKs_GetStream(stream, &info) ||
        !rt.ActualSize || !info.Open)
        return false;
    WaitUntil([&] { return (stop && *stop) || SimKs_WaveRtNextReady(stream); }, kStaleStepMs);
    ULONG frames = rt.ActualSize / 2 / 4 / info.Format.Format.nBlockAlign;
    return SimKs_AdvanceWaveRt(stream, frames ? frames : 1) != 0;
}

bool StepQuarters(int count) {
    for (int i = 0; i < count; i++)
        if (!StepQuarter(nullptr))
            return false;
    return true;
}

void DmaStepper::Run() {
    while (!m_stop)
        if (!StepQuarter(&m_stop))
            Sleep(1); // no stream, paused, or not running yet
}

std::vector<std::string> WaveRtPlugin::Settings() {
    return {"logging_enabled=1", "input_buffer_size=1048576",
            std::string("output_device=") + SimKs_DevicePath(SIMKS_DEFAULT_WAVERT)};
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
    ASSERT_GT(mod->Open(rate, channels, bits, -1, -1), 0);
}

namespace {

// Waits until the second half of the newest stream's buffer starts as primed() says.
template <typename Primed> bool WaitSecondHalf(Primed primed) {
    int stream = SimKs_StreamCount() - 1;
    return WaitUntil([&] {
        SimKsWaveRtInfo rt;
        return SimKs_GetWaveRt(stream, &rt) && rt.BufferAddress &&
               primed((const char*)rt.BufferAddress + rt.ActualSize / 2);
    });
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
    int stream = SimKs_StreamCount() - 1;
    return WaitUntil(
        [&] {
            SimKsStreamInfo info;
            return !SimKs_GetStream(stream, &info) || !info.Open;
        },
        timeoutMs);
}

namespace {

// The consumed bytes without the stretches the device recorded as stale replays.
std::vector<char> WithoutStaleReplays(int stream, const std::vector<char>& got) {
    std::vector<char> kept;
    size_t from = 0;
    SimKsStale stale;
    for (int i = 0; SimKs_GetStale(stream, i, &stale) && stale.StreamOffset < got.size(); ++i) {
        kept.insert(kept.end(), got.begin() + from, got.begin() + (size_t)stale.StreamOffset);
        from = std::min<size_t>(got.size(), (size_t)stale.StreamOffset + stale.Bytes);
    }
    kept.insert(kept.end(), got.begin() + from, got.end());
    return kept;
}

} // namespace

std::string WaveRtPlugin::PlayedExactly(const std::vector<char>& want, BYTE silence, ULONG block,
                                        bool replaysAllowed) {
    int stream = SimKs_StreamCount() - 1;
    std::vector<char> got = Consumed(stream);
    if (replaysAllowed)
        got = WithoutStaleReplays(stream, got);
    size_t lead = Lead(got, silence, block);
    if (got.size() < lead + want.size())
        return "played " + std::to_string(got.size()) + " bytes, " +
               std::to_string(lead + want.size()) + " expected at least";
    size_t i = FirstDifference(got.data() + lead, want.data(), want.size());
    if (i < want.size())
        return "audio differs at byte " + std::to_string(i) + " (after " + std::to_string(lead) +
               " bytes of silence): played " + HexAt(got.data(), got.size(), lead + i) + ", want " +
               HexAt(want.data(), want.size(), i);
    for (size_t i = lead + want.size(); i < got.size(); i++)
        if ((BYTE)got[i] != silence)
            return "no silence at byte " + std::to_string(i - lead - want.size()) +
                   " after the audio";
    if (SimKs_StaleCount(stream) && !replaysAllowed)
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

std::vector<char> Pcm(int rate, int channels, int bits, double seconds, unsigned seed) {
    size_t frames = (size_t)(rate * seconds);
    std::vector<char> data = Pcm16(frames * channels * (bits / 8) / 2 + 1, seed);
    data.resize(frames * channels * (bits / 8));
    return data;
}
