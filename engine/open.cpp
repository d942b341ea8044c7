// Opening a stream: the format of the request, re-use of a running pin in gapless mode, the
// choice of device and the two attempts at creating the render pin.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/format.h"
#include "host/settings.h"
#include "ks/audfilter.h"
#include "ks/enum.h"
#include "ks/rtpin.h"

#include <cstring>
#include <new>

namespace {

void LogAttempt(const char* heading, const WAVEFORMATEXTENSIBLE& w) {
    DiagLog(1,
            "%s\nFormat.nChannels            = %d\nFormat.nSamplesPerSec       = %d\n"
            "Format.wBitsPerSample       = %d\nFormat.nBlockAlign          = %d\n"
            "Format.nAvgBytesPerSec      = %d\nFormat.cbSize               = %d\n"
            "Samples.wValidBitsPerSample = %d\ndwChannelMask               = %08x\n\n",
            heading, w.Format.nChannels, (int)w.Format.nSamplesPerSec, w.Format.wBitsPerSample,
            w.Format.nBlockAlign, (int)w.Format.nAvgBytesPerSec, w.Format.cbSize,
            w.Samples.wValidBitsPerSample, (unsigned)w.dwChannelMask);
}

// Why the filter refused a render pin: the platform's error and the filter's own reason.
void LogPinCause(const CKsAudRenFilter& filter) {
    DiagLog(1, "CKsAudRenFilter::CreateRenderPin failed, hr=0x%08x: %s",
            (unsigned)filter.m_hrLastError, filter.m_pszLastError);
}

} // namespace

int KSCore::ErrorBox(const char* text) {
    MessageBoxA(m_hwndParent, text, "Error!", MB_OK);
    return -1;
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
    if (m_nLostPackets) {
        DiagLog(1, "Start refused: %d packets are still with the device", (int)m_nLostPackets);
        return -1;
    }
    WAVEFORMATEXTENSIBLE wfx;
    BuildWaveFormat(&wfx, rate, channels, bits);
    if (bits == 20)
        return ErrorBox("20 bit audio is not currently supported");
    if (bits == 24 && channels != 1 && channels != 2)
        return ErrorBox("Only 1 or 2 channels is supported for 24 bit playback.");

    if (m_nMode == MODE_OPEN) {
        if (!m_bPaused && m_pSettings->gapless_enabled) {
            WAVEFORMATEXTENSIBLE plain;
            MakePlainWaveFormat(&plain, &wfx);
            if (!memcmp(&wfx, &m_wfxCurrent, sizeof wfx) ||
                !memcmp(&plain, &m_wfxCurrent, sizeof plain)) {
                InterlockedExchange(&m_bStarted, 1);
                InterlockedExchange((volatile LONG*)&m_dwBytesWritten, 0);
                return 1000;
            }
        }
        DiagLog(1, "StartInternal - Forcing End");
        End(1);
    }
    if (!OpenOutput(&wfx))
        return -1;
    InterlockedExchange((volatile LONG*)&m_dwBytesWritten, 0);
    m_nPinState = KSSTATE_RUN;
    if (FAILED(RequestState(KSSTATE_RUN)))
        return -1;
    InterlockedExchange(&m_bStarted, 1);
    // A WaveRT stream runs on silence until the host writes: the player thread serves its halves
    // from now on, also when it still waits as it did for an earlier WaveRT stream.
    if (m_rt.pin) {
        WakeThread();
        SetEvent(m_hRtWake.Get());
    }
    return 1000;
}

int KSCore::OpenOutput(WAVEFORMATEXTENSIBLE* pwfx) {
    if ((DWORD)m_pSettings->input_buffer_size != m_dwInputSize)
        ConfigureInputBuffer(m_pSettings->input_buffer_size);
    if ((DWORD)m_pSettings->output_buffer_size != m_dwPacketSize) {
        ConfigureOutputBuffer(m_pSettings->output_buffer_size);
        InitPackets(false);
    }
    if (!m_pInputBuffer || !m_pOutputBuffer)
        return 0; // the allocation logged the size
    // A stream starts with an empty ring at its start, so that widened 24-bit samples never
    // straddle the ring's end.
    DiscardRing();
    EnsureFilterList();
    m_pRenderFilter = FindFilter();
    if (!m_pRenderFilter) {
        // The list is stale: a device that is switched on later is found by the next open.
        delete m_pEnumFilters;
        m_pEnumFilters = nullptr;
        ErrorBox("Could not find suitable output filter");
        return 0;
    }
    DiagLog(1,
            "OpenOutput - Current Settings:\nChosen Filter:       %s\nInput Buffer Size:   %d\n"
            "Output Buffer Size   %d\nOutput Buffer Count: %d\n\n",
            m_pRenderFilter->m_szFriendlyName, m_pSettings->input_buffer_size,
            m_pSettings->output_buffer_size, m_pSettings->output_buffer_cnt);
    if (RtDeviceBusy(&pwfx->Format))
        return 0;
    LogAttempt("Attempting to CreateRenderPin with the following WaveFormatExtensible (first "
               "attempt):",
               *pwfx);
    m_pRenderPin = m_pRenderFilter->CreateRenderPin(&pwfx->Format, FALSE);
    if (!m_pRenderPin) {
        DiagLog(1, "Failed to create pin on first attempt!\n");
        LogPinCause(*m_pRenderFilter);
        MakePlainWaveFormat(pwfx, pwfx);
        LogAttempt("Attempting to CreateRenderPin with the following WaveFormat (2nd attempt):",
                   *pwfx);
        m_pRenderPin = m_pRenderFilter->CreateRenderPin(&pwfx->Format, FALSE);
        if (!m_pRenderPin) {
            LogPinCause(*m_pRenderFilter);
            return 0;
        }
    }
    DiagLog(1,
            "OpenOutput: Successfully Created Pin, Format - BPS: %d FREQ: %d NCHANNELS: %d "
            "VALIDBPS: %d",
            pwfx->Format.wBitsPerSample, (int)pwfx->Format.nSamplesPerSec, pwfx->Format.nChannels,
            pwfx->Samples.wValidBitsPerSample);
    // A WaveRT stream that cannot be played closes its pin; the filter handed that pin over, so
    // the next open lists the filters anew, as after a close.
    CKsRtPin* rtPin = CKsRtPin::FromPin(m_pRenderPin);
    if (rtPin && !OpenRtStream(rtPin, pwfx->Format)) {
        m_pRenderPin->ClosePin();
        delete m_pRenderPin;
        m_pRenderPin = nullptr;
        delete m_pEnumFilters;
        m_pEnumFilters = nullptr;
        return 0;
    }
    for (int i = 0; i < m_nPacketCount; i++) {
        m_Packets[i].Header.FrameExtent = 0;
        m_Packets[i].Header.DataUsed = 0;
        SetEvent(m_phEvents[i + 1]);
    }
    ResetEvent(m_phEvents[0]);
    m_wfxCurrent = *pwfx;
    InterlockedExchange(&m_nMode, MODE_OPEN);
    InterlockedExchange(&m_bPaused, 0);
    DiagLog(1, "Output Opened");
    return 1;
}

CKsEnumFilters* KSCore::EnsureFilterList() {
    if (m_pEnumFilters)
        return m_pEnumFilters;
    HRESULT hr = S_OK;
    m_pEnumFilters = new (std::nothrow) CKsEnumFilters(hr);
    if (!m_pEnumFilters) {
        LogCause("new CKsEnumFilters", E_OUTOFMEMORY);
        ErrorBox("Failed to allocate CKsEnumFilters");
        return nullptr;
    }
    if (FAILED(hr)) {
        LogCause("CKsEnumFilters::CKsEnumFilters", hr);
        ErrorBox("Failed to create CKsEnumFilters");
        return nullptr;
    }
    // A plain local: a function-local static would need a thread-safe guard of the runtime.
    const GUID categories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    hr = m_pEnumFilters->EnumFilters(KS_FILTER_TYPE_RENDER, categories, 2, TRUE, FALSE, TRUE);
    if (FAILED(hr)) {
        LogCause("CKsEnumFilters::EnumFilters", hr);
        ErrorBox("CKsEnumFilters::EnumFilters failed");
        return nullptr;
    }
    return m_pEnumFilters;
}

// The enumeration made render filters only (filter type 1).
CKsAudRenFilter* KSCore::FindFilter() {
    if (!m_pEnumFilters)
        return nullptr;
    const char* device = m_pSettings->output_device;
    CKsFilter* chosen = m_pEnumFilters->FirstFilter(
        [device](CKsFilter* f) { return !lstrcmpiA(f->m_szFilterName, device); });
    if (!chosen)
        chosen = m_pEnumFilters->FirstFilter([](CKsFilter*) { return true; });
    return static_cast<CKsAudRenFilter*>(chosen);
}
