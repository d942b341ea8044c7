// Opening a stream: the format of the request, re-use of a running pin in gapless mode, the
// choice of device, the two attempts at creating the render pin, and the output that streams on
// it, with the pre-roll of its new pin. The reopen of a lost device (recover.cpp) is made of the
// same steps: FindDevice, AskForPin, PublishOutput and RunPin.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/format.h"
#include "engine/settings.h"
#include "ks/audfilter.h"
#include "ks/enum.h"

#include <cstring>
#include <new>

int KSCore::TellUser(const char* text) {
    m_host.TellUser(text);
    return -1;
}

// Only while no output exists: the player thread and the outputs read the copy without a lock.
void KSCore::TakeSettings() {
    KSSettings now;
    m_host.CopySettings(&now);
    CsGuard lock(m_csState);
    m_settings = now;
}

int KSCore::Start(int rate, int channels, int bits) {
    CsGuard lock(m_csControl);
    return StartInternal(rate, channels, bits);
}

int KSCore::StartInternal(int rate, int channels, int bits) {
    if (!m_bReady) {
        DiagLog(1, "Start refused: the engine has no events or player thread");
        return -1;
    }
    InterlockedExchange(&m_end.written, 0);
    if (m_nLostPackets) {
        DiagLog(1, "Start refused: %d packets are still with the device", (int)m_nLostPackets);
        return -1;
    }
    // A stream that may go on gapless keeps the settings it opened with.
    if (!IsOpen())
        TakeSettings();
    // Adapted, 24-bit audio of up to 8 channels travels in 32-bit containers, and 20-bit audio
    // in 24- or 32-bit ones.
    bool adapt = m_settings.adapt_formats_enabled != 0;
    int wide24 = adapt ? kMaxConvertChannels : 2;
    WAVEFORMATEXTENSIBLE wfx;
    BuildWaveFormat(&wfx, rate, channels, bits, wide24);
    if (bits == 20 && !adapt)
        return TellUser("20 bit audio is not currently supported");
    if (bits == 24 && (channels < 1 || channels > wide24))
        return TellUser("Only 1 or 2 channels is supported for 24 bit playback.");

    if (IsOpen()) {
        if (ReuseForGapless(wfx)) {
            RestartClock(rate, channels, bits, true);
            return LatencyMs();
        }
        DiagLog(1, "StartInternal - Forcing End");
        End(1);
        TakeSettings();
    }
    if (!OpenOutput(&wfx))
        return -1;
    m_bytes.ResetHanded();
    InterlockedExchange(&m_end.waited, 0);
    RestartClock(rate, channels, bits, false);
    if (FAILED(RunPin()))
        return -1;
    InterlockedExchange(&m_bStarted, 1);
    m_pOutput->Running();
    return LatencyMs();
}

// In gapless mode a running, unpaused pin takes a new stream of the same format (extensible or
// plain, or the adapted stream's own): the ring, the output and the pin carry on.
bool KSCore::ReuseForGapless(const WAVEFORMATEXTENSIBLE& wfx) {
    if (m_bPaused || m_nState != kStatePlaying || !m_settings.gapless_enabled)
        return false;
    WAVEFORMATEXTENSIBLE plain;
    MakePlainWaveFormat(&plain, &wfx);
    const WAVEFORMATEXTENSIBLE& device = m_bytes.DeviceFormat();
    bool same = !memcmp(&wfx, &device, sizeof wfx) || !memcmp(&plain, &device, sizeof plain) ||
                (m_bytes.Converts() && !memcmp(&wfx, &m_bytes.RingFormat(), sizeof wfx));
    if (!same)
        return false;
    InterlockedExchange(&m_bStarted, 1);
    m_bytes.ResetHanded();
    return true;
}

// The ring and the packets as the settings now ask. A stream starts with an empty ring at its
// start, so that widened 24-bit samples never straddle the ring's end. False without a ring.
bool KSCore::PrepareBuffers() {
    if ((DWORD)m_settings.input_buffer_size != m_bytes.Size())
        ConfigureInputBuffer(m_settings.input_buffer_size);
    if ((DWORD)m_settings.output_buffer_size != m_packets.packetSize)
        ConfigureOutputBuffer(m_settings.output_buffer_size);
    if (!m_bytes.HasRing())
        return false; // the allocation logged the size
    m_bytes.Discard();
    return true;
}

// The pin in the stream's format (pwfx, which then holds the format taken). A busy device is
// asked again for a short while, and never offered other formats: *busy when it stayed busy.
CKsPin* KSCore::CreatePinUnlessBusy(WAVEFORMATEXTENSIBLE* pwfx, bool* busy) {
    const WAVEFORMATEXTENSIBLE stream = *pwfx;
    for (DWORD waited = 0;; waited += kBusyRetryStepMs) {
        *pwfx = stream;
        CKsPin* pin = AskForPin(pwfx, false, busy);
        if (!*busy || waited >= kBusyRetryMs)
            return pin;
        Sleep(kBusyRetryStepMs);
    }
}

// One request for a pin on m_pRenderFilter unless the device is busy (*busy then): an open's, in
// the format pwfx or its plain form (CreatePin), or a reopen's, in the lost pin's format only.
CKsPin* KSCore::AskForPin(WAVEFORMATEXTENSIBLE* pwfx, bool reopen, bool* busy) {
    *busy = DeviceBusy(*m_pRenderFilter, &pwfx->Format);
    if (*busy)
        return nullptr;
    CKsPin* pin =
        reopen ? TryPin("Attempting to CreateRenderPin again with the stream's format:", *pwfx)
               : CreatePin(pwfx);
    *busy = !pin && PinBusy();
    return pin;
}

// One attempt at the render pin in the format wfx, logged under heading, with the cause of a
// refusal.
CKsPin* KSCore::TryPin(const char* heading, WAVEFORMATEXTENSIBLE& wfx) {
    LogAttempt(heading, wfx);
    CKsPin* pin = m_pRenderFilter->CreateRenderPin(&wfx.Format, FALSE);
    if (!pin)
        LogPinCause(*m_pRenderFilter);
    return pin;
}

// The published output's pin runs, unless the host has paused (its resume runs it).
HRESULT KSCore::RunPin() {
    return m_bPaused ? S_OK : RequestState(m_pOutput->Pin(), KSSTATE_RUN);
}

int KSCore::OpenOutput(WAVEFORMATEXTENSIBLE* pwfx) {
    if (!PrepareBuffers())
        return 0;
    EnsureFilterList();
    m_pRenderFilter = FindDevice(m_settings.output_device, true);
    if (!m_pRenderFilter) {
        // The list is stale: a device that is switched on later is found by the next open.
        m_pEnumFilters.reset();
        TellUser("Could not find suitable output filter");
        return 0;
    }
    DiagLog(1,
            "OpenOutput - Current Settings:\nChosen Filter:       %s\nInput Buffer Size:   %d\n"
            "Output Buffer Size   %d\nOutput Buffer Count: %d\n\n",
            m_pRenderFilter->m_szFriendlyName, m_settings.input_buffer_size,
            m_settings.output_buffer_size, m_settings.output_buffer_cnt);
    if (m_settings.fade_ms)
        DiagLog(1, "Fade at pause, seek and stop: %d ms", m_settings.fade_ms);
    // The ring holds the stream's own format when the device's differs; today's second attempt
    // (plain) fills the ring as the device takes it.
    WAVEFORMATEXTENSIBLE stream = *pwfx;
    bool busy = false;
    CKsPin* pin = CreatePinUnlessBusy(pwfx, &busy);
    if (busy) {
        TellBusy();
        return 0;
    }
    bool adapted = false;
    if (!pin && m_settings.adapt_formats_enabled) {
        pin = Adapt(stream, pwfx);
        adapted = pin != nullptr;
    }
    if (!pin)
        return 0;
    const WAVEFORMATEXTENSIBLE& ring = adapted || ValidBits(stream) == 20 ? stream : *pwfx;
    DiagLog(1,
            "OpenOutput: Successfully Created Pin, Format - BPS: %d FREQ: %d NCHANNELS: %d "
            "VALIDBPS: %d",
            pwfx->Format.wBitsPerSample, (int)pwfx->Format.nSamplesPerSec, pwfx->Format.nChannels,
            pwfx->Samples.wValidBitsPerSample);
    if (!PublishOutput(pin, *pwfx, ring, adapted))
        return 0;
    SetState(kStatePlaying);
    InterlockedExchange(&m_bPaused, 0);
    if (adapted)
        LogAdapted(stream, *pwfx);
    return 1;
}

// The render pin in the extensible format, else in its plain form (pwfx then holds that form).
CKsPin* KSCore::CreatePin(WAVEFORMATEXTENSIBLE* pwfx) {
    LogAttempt("Attempting to CreateRenderPin with the following WaveFormatExtensible (first "
               "attempt):",
               *pwfx);
    CKsPin* pin = m_pRenderFilter->CreateRenderPin(&pwfx->Format, FALSE);
    if (pin)
        return pin;
    DiagLog(1, "Failed to create pin on first attempt!\n");
    LogPinCause(*m_pRenderFilter);
    if (!PinRefusedOnlyFormat(m_pRenderFilter->m_hrLastError))
        return nullptr; // busy or gone: no other format helps
    MakePlainWaveFormat(pwfx, pwfx);
    return TryPin("Attempting to CreateRenderPin with the following WaveFormat (2nd attempt):",
                  *pwfx);
}

// Makes the stream's output on the pin, then the device's volume control (whether the samples
// are scaled depends on it): the step an open and a reopen share. adapted: the pin's format came
// from the device's ranges. An output that cannot be made closes the pin; the filter handed that
// pin over, so the next open lists the filters anew, as after a close.
bool KSCore::PublishOutput(CKsPin* pin, const WAVEFORMATEXTENSIBLE& wfx,
                           const WAVEFORMATEXTENSIBLE& ring, bool adapted) {
    ULONG pinId = pin->m_nId;
    if (!m_bytes.PlanConversion(ring, wfx)) {
        DiagLog(1, "No lossless conversion to the pin's format: the pin is closed");
        PinCloser()(pin);
        m_pEnumFilters.reset();
        return false;
    }
    // Converted packets hold whole device frames.
    KSPacketPlan packets = m_packets;
    if (m_bytes.Converts())
        packets.packetSize -= packets.packetSize % wfx.Format.nBlockAlign;
    KSOutput* output =
        NewOutput(pin, wfx.Format, (DWORD)m_settings.output_buffer_size, packets, *this, m_bytes);
    if (!output) {
        m_pEnumFilters.reset();
        return false;
    }
    m_thread.ResetStop();
    DWORD lead = StartPreroll(wfx.Format);
    {
        // The snapshot reads the formats and the adapted flag under the state lock.
        CsGuard lock(m_csState);
        m_clock.NewPin(lead);
        m_bytes.SetFormats(ring, wfx);
        m_bAdapted = adapted;
        m_pOutput.reset(output);
        m_life.SetDevice(m_pRenderFilter->m_szFilterName);
    }
    DiagLog(1, "Output Opened");
    OpenDeviceVolume(pinId);
    return true;
}

// Every new pin plays the pre-roll's silence first, in whole frames of its format: returns its
// bytes.
DWORD KSCore::StartPreroll(const WAVEFORMATEX& format) {
    int ms = m_settings.preroll_ms;
    ULONGLONG bytes = (ULONGLONG)ms * format.nAvgBytesPerSec / 1000;
    if (format.nBlockAlign)
        bytes -= bytes % format.nBlockAlign;
    m_bytes.StartPreroll((DWORD)bytes, format.wBitsPerSample == 8 ? 0x80 : 0);
    if (bytes)
        DiagLog(1, "Pre-roll: %d ms of silence before the first sample", ms);
    return (DWORD)bytes;
}

// Quiet: the user is told nothing (a stream looking for its device again).
HRESULT KSCore::ListRenderDevices(CKsEnumFilters& list) {
    // A plain local: a function-local static would need a thread-safe guard of the runtime.
    const GUID categories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    return list.EnumFilters(kFilterTypeRender, categories, 2, TRUE, FALSE, TRUE);
}

CKsEnumFilters* KSCore::EnsureFilterList(bool quiet) {
    if (m_pEnumFilters)
        return m_pEnumFilters.get();
    HRESULT hr = S_OK;
    m_pEnumFilters.reset(new (std::nothrow) CKsEnumFilters(hr));
    if (!m_pEnumFilters) {
        LogCause("new CKsEnumFilters", E_OUTOFMEMORY);
        if (!quiet)
            TellUser("Failed to allocate CKsEnumFilters");
        return nullptr;
    }
    if (FAILED(hr)) {
        LogCause("CKsEnumFilters::CKsEnumFilters", hr);
        if (!quiet)
            TellUser("Failed to create CKsEnumFilters");
        return nullptr;
    }
    hr = ListRenderDevices(*m_pEnumFilters);
    if (FAILED(hr)) {
        LogCause("CKsEnumFilters::EnumFilters", hr);
        if (!quiet)
            TellUser("CKsEnumFilters::EnumFilters failed");
        return nullptr;
    }
    return m_pEnumFilters.get();
}

// The filter with this device path in the device list, else (orFirst) the list's first one, or
// null. The enumeration made render filters only (filter type 1).
CKsAudRenFilter* KSCore::FindDevice(const char* path, bool orFirst) {
    if (!m_pEnumFilters)
        return nullptr;
    CKsFilter* chosen = m_pEnumFilters->FirstFilter(
        [path](CKsFilter* f) { return !lstrcmpiA(f->m_szFilterName, path); });
    if (!chosen && orFirst)
        chosen = m_pEnumFilters->FirstFilter([](CKsFilter*) { return true; });
    return static_cast<CKsAudRenFilter*>(chosen);
}
