// Opening a stream: the format of the request, re-use of a running pin in gapless mode, the
// choice of device and the two attempts at creating the render pin.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/format.h"
#include "host/settings.h"
#include "ks/audfilter.h"
#include "ks/enum.h"

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

} // namespace

int KSCore::ErrorBox(const char* text) {
    MessageBoxA(m_hwndParent, text, "Error!", MB_OK);
    return -1;
}

int KSCore::Start(int rate, int channels, int bits) {
    EnterCriticalSection(&m_csControl);
    int result = StartInternal(rate, channels, bits);
    LeaveCriticalSection(&m_csControl);
    return result;
}

int KSCore::StartInternal(int rate, int channels, int bits) {
    if (!m_bReady)
        return -1;
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
    if (FAILED(m_pRenderPin->SetState(KSSTATE_RUN)))
        return -1;
    InterlockedExchange(&m_bStarted, 1);
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
        return 0;
    EnsureFilterList();
    m_pRenderFilter = FindFilter();
    if (!m_pRenderFilter) {
        ErrorBox("Could not find suitable output filter");
        return 0;
    }
    DiagLog(1,
            "OpenOutput - Current Settings:\nChosen Filter:       %s\nInput Buffer Size:   %d\n"
            "Output Buffer Size   %d\nOutput Buffer Count: %d\n\n",
            m_pRenderFilter->m_szFriendlyName, m_pSettings->input_buffer_size,
            m_pSettings->output_buffer_size, m_pSettings->output_buffer_cnt);
    LogAttempt("Attempting to CreateRenderPin with the following WaveFormatExtensible (first "
               "attempt):",
               *pwfx);
    m_pRenderPin = m_pRenderFilter->CreateRenderPin(&pwfx->Format, FALSE);
    if (!m_pRenderPin) {
        DiagLog(1, "Failed to create pin on first attempt!\n");
        MakePlainWaveFormat(pwfx, pwfx);
        LogAttempt("Attempting to CreateRenderPin with the following WaveFormat (2nd attempt):",
                   *pwfx);
        m_pRenderPin = m_pRenderFilter->CreateRenderPin(&pwfx->Format, FALSE);
    }
    if (!m_pRenderPin)
        return 0;
    DiagLog(1,
            "OpenOutput: Successfully Created Pin, Format - BPS: %d FREQ: %d NCHANNELS: %d "
            "VALIDBPS: %d",
            pwfx->Format.wBitsPerSample, (int)pwfx->Format.nSamplesPerSec, pwfx->Format.nChannels,
            pwfx->Samples.wValidBitsPerSample);
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
        ErrorBox("Failed to allocate CKsEnumFilters");
        return nullptr;
    }
    if (FAILED(hr)) {
        ErrorBox("Failed to create CKsEnumFilters");
        return nullptr;
    }
    const GUID categories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    hr = m_pEnumFilters->EnumFilters(KS_FILTER_TYPE_RENDER, categories, 2, TRUE, FALSE, TRUE);
    if (FAILED(hr)) {
        ErrorBox("CKsEnumFilters::EnumFilters failed");
        return nullptr;
    }
    return m_pEnumFilters;
}

CKsAudRenFilter* KSCore::FindFilter() {
    if (!m_pEnumFilters)
        return nullptr;
    TListNode<CKsFilter>* head = m_pEnumFilters->m_listFilters.m_pHead;
    for (TListNode<CKsFilter>* n = head; n && n->pData; n = n->pNext) {
        if (!lstrcmpiA(n->pData->m_szFilterName, m_pSettings->output_device))
            return static_cast<CKsAudRenFilter*>(n->pData);
    }
    return head ? static_cast<CKsAudRenFilter*>(head->pData) : nullptr;
}
