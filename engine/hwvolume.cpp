// The device's own volume control for the open stream: finding it once per device, the level for
// a volume, the setter thread, and the level put back at the close.
#include "engine/hwvolume.h"

#include "diag/constants.h"
#include "diag/log.h"
#include "ks/filter.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// How long Close waits for the setter thread: a request the device does not answer is cancelled
// after three seconds, and the thread makes no further one after a failure.
const DWORD kSetterEndMs = 10000;

} // namespace

LONG LevelForVolume(DWORD volume, const KsLevelRange& range) {
    if (volume >= (DWORD)kMaxVolume)
        return range.lMaximum;
    LONGLONG span = (LONGLONG)range.lMaximum - range.lMinimum;
    LONGLONG above = span * volume / kMaxVolume;
    LONGLONG snapped = (above + range.lStep / 2) / range.lStep * range.lStep;
    return (LONG)(snapped > span ? range.lMaximum : range.lMinimum + snapped);
}

const KsLevelControl* KSVolumeControls::Find(CKsFilter& wave, ULONG nRenderPin,
                                             const char** ppszFound) {
    for (int i = 0; i < m_nUsed && i < kEntries; i++) {
        Entry& e = m_entries[i];
        if (!lstrcmpiA(e.szDevice, wave.m_szFilterName)) {
            *ppszFound = e.szFound;
            return e.bFound ? &e.control : nullptr;
        }
    }
    Entry& e = m_entries[m_nUsed++ % kEntries];
    lstrcpynA(e.szDevice, wave.m_szFilterName, sizeof e.szDevice);
    HRESULT hr = FindLevelControl(wave, nRenderPin, &e.control, e.szFound, sizeof e.szFound);
    e.bFound = hr == S_OK;
    *ppszFound = e.szFound;
    if (!e.bFound)
        DiagLog(1, "Hardware volume: none on %s: %s", wave.m_szFriendlyName, e.szFound);
    return e.bFound ? &e.control : nullptr;
}

void KSVolumeControls::Refuse(const char* pszDevice) {
    for (int i = 0; i < m_nUsed && i < kEntries; i++)
        if (!lstrcmpiA(m_entries[i].szDevice, pszDevice))
            m_entries[i].bFound = false;
}

KSHardwareVolume::KSHardwareVolume(const KsLevelControl& control, volatile LONG* pActive)
    : m_control(control), m_pActive(pActive) {}

KSHardwareVolume* KSHardwareVolume::Open(const KsLevelControl& control, DWORD volume,
                                         volatile LONG* pActive, char* pszWhy, size_t cbWhy) {
    KSHardwareVolume* hw = new (std::nothrow) KSHardwareVolume(control, pActive);
    if (!hw) {
        snprintf(pszWhy, cbWhy, "out of memory");
        return nullptr;
    }
    hw->m_hFilter.Reset(CreateFileA(control.szFilter, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                    NULL));
    HRESULT hr = hw->m_hFilter.Valid() ? hw->Save() : HRESULT_FROM_WIN32(GetLastError());
    if (SUCCEEDED(hr))
        hr = hw->Apply(volume);
    if (SUCCEEDED(hr)) {
        hw->m_nSet = volume;
        hw->m_nWanted = (LONG)volume;
        hw->m_hWake.Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
        hw->m_hStop.Reset(CreateEventA(NULL, TRUE, FALSE, NULL));
        if (!hw->m_hWake.Valid() || !hw->m_hStop.Valid())
            hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        hw->m_hThread.Reset(CreateThread(NULL, 0, SetterProc, hw, 0, NULL));
        if (!hw->m_hThread.Valid())
            hr = HRESULT_FROM_WIN32(GetLastError());
    }
    if (FAILED(hr)) {
        snprintf(pszWhy, cbWhy, "the level could not be read or set on %s (%#08x)",
                 control.szFilter, (unsigned)hr);
        delete hw;
        return nullptr;
    }
    return hw;
}

KSHardwareVolume::~KSHardwareVolume() {
    if (m_hThread.Valid() && !m_bClosed)
        Close();
}

void KSHardwareVolume::Request(DWORD volume) {
    InterlockedExchange(&m_nWanted, (LONG)volume);
    if (m_hWake.Valid())
        SetEvent(m_hWake.Get());
}

DWORD WINAPI KSHardwareVolume::SetterProc(LPVOID param) {
    static_cast<KSHardwareVolume*>(param)->Setter();
    return 0;
}

// Sets the volume asked for last, until told to stop. After a refused level the device's control
// is given up: the engine scales the samples again.
void KSHardwareVolume::Setter() {
    HANDLE waits[2] = {m_hStop.Get(), m_hWake.Get()};
    bool working = true;
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        DWORD volume = (DWORD)m_nWanted;
        if (!working || volume == m_nSet)
            continue;
        HRESULT hr = Apply(volume);
        if (SUCCEEDED(hr)) {
            m_nSet = volume;
            continue;
        }
        working = false;
        InterlockedExchange(m_pActive, 0);
        DiagLog(1, "Hardware volume: level refused by the device (%#08x); software volume",
                (unsigned)hr);
    }
}

HRESULT KSHardwareVolume::Save() {
    HANDLE h = m_hFilter.Get();
    for (ULONG c = 0; c < m_control.nChannels; c++) {
        HRESULT hr =
            GetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_control.nVolumeNode, c, &m_lSaved[c]);
        if (FAILED(hr))
            return hr;
        m_lApplied[c] = m_lSaved[c];
    }
    m_lShownLevel = m_lSaved[0];
    for (ULONG c = 0; c < m_control.nMuteChannels; c++) {
        HRESULT hr =
            GetNodeValue(h, KSPROPERTY_AUDIO_MUTE, m_control.nMuteNode, c, &m_bSavedMute[c]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT KSHardwareVolume::SetMute(bool mute) {
    if (m_control.nMuteChannels == 0 || mute == m_bMuted)
        return S_OK;
    for (ULONG c = 0; c < m_control.nMuteChannels; c++) {
        HRESULT hr = SetNodeValue(m_hFilter.Get(), KSPROPERTY_AUDIO_MUTE, m_control.nMuteNode, c,
                                  mute ? TRUE : FALSE);
        if (FAILED(hr))
            return hr;
    }
    m_bMuted = mute;
    m_bMuteChanged = true;
    InterlockedExchange(&m_bShownMuted, mute ? 1 : 0);
    return S_OK;
}

// Sets every channel; a driver may apply a level other than the one asked (clamped, stepped), so
// what it applied is read back: that is what the restore compares with.
HRESULT KSHardwareVolume::Apply(DWORD volume) {
    HANDLE h = m_hFilter.Get();
    bool mute = volume == 0 && m_control.nMuteChannels;
    HRESULT hr = SetMute(mute);
    if (FAILED(hr) || mute)
        return hr;
    for (ULONG c = 0; c < m_control.nChannels; c++) {
        LONG level = LevelForVolume(volume, m_control.ranges[c]);
        hr = SetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_control.nVolumeNode, c, level);
        if (FAILED(hr))
            return hr;
        if (FAILED(GetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_control.nVolumeNode, c,
                                &m_lApplied[c])))
            m_lApplied[c] = level;
    }
    InterlockedExchange(&m_lShownLevel, m_lApplied[0]);
    return S_OK;
}

bool KSHardwareVolume::Close() {
    if (m_bClosed)
        return true;
    SetEvent(m_hStop.Get());
    if (WaitForSingleObject(m_hThread.Get(), kSetterEndMs) != WAIT_OBJECT_0) {
        DiagLog(1, "Hardware volume: the level setter did not end within %lu ms", kSetterEndMs);
        return false;
    }
    m_bClosed = true;
    Restore();
    return true;
}

// Channel by channel; a request the device refuses ends the restore.
void KSHardwareVolume::Restore() {
    HANDLE h = m_hFilter.Get();
    int restored = 0, kept = 0;
    for (ULONG c = 0; c < m_control.nChannels; c++) {
        LONG now;
        HRESULT hr = GetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_control.nVolumeNode, c, &now);
        if (SUCCEEDED(hr) && now != m_lApplied[c]) {
            kept++;
            continue;
        }
        if (SUCCEEDED(hr))
            hr = SetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_control.nVolumeNode, c,
                              m_lSaved[c]);
        if (FAILED(hr)) {
            DiagLog(1, "Hardware volume: the level could not be restored (%#08x)", (unsigned)hr);
            return;
        }
        restored++;
    }
    for (ULONG c = 0; m_bMuteChanged && c < m_control.nMuteChannels; c++) {
        LONG now;
        if (SUCCEEDED(GetNodeValue(h, KSPROPERTY_AUDIO_MUTE, m_control.nMuteNode, c, &now)) &&
            (now != 0) == m_bMuted)
            SetNodeValue(h, KSPROPERTY_AUDIO_MUTE, m_control.nMuteNode, c, m_bSavedMute[c]);
    }
    DiagLog(1, "Hardware volume: level restored on %d channels, left on %d changed elsewhere",
            restored, kept);
}
