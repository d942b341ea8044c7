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
    : m_pActive(pActive) {
    m_rec.dwTag = kLevelRecordTag;
    m_rec.cbSize = sizeof m_rec;
    m_rec.control = control;
}

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
    bool applied = SUCCEEDED(hr);
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
        if (applied) {
            hw->Restore();
            DeleteLevelRecord();
        }
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
    for (ULONG c = 0; c < m_rec.control.nChannels; c++) {
        HRESULT hr = GetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_rec.control.nVolumeNode, c,
                                  &m_rec.lSaved[c]);
        if (FAILED(hr))
            return hr;
        m_rec.lApplied[c] = m_rec.lSaved[c];
    }
    m_lShownLevel = m_rec.lSaved[0];
    for (ULONG c = 0; c < m_rec.control.nMuteChannels; c++) {
        HRESULT hr = GetNodeValue(h, KSPROPERTY_AUDIO_MUTE, m_rec.control.nMuteNode, c,
                                  &m_rec.bSavedMute[c]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT KSHardwareVolume::SetMute(bool mute) {
    if (m_rec.control.nMuteChannels == 0 || mute == (m_rec.bMuted != 0))
        return S_OK;
    for (ULONG c = 0; c < m_rec.control.nMuteChannels; c++) {
        HRESULT hr = SetNodeValue(m_hFilter.Get(), KSPROPERTY_AUDIO_MUTE, m_rec.control.nMuteNode,
                                  c, mute ? TRUE : FALSE);
        if (FAILED(hr))
            return hr;
    }
    m_rec.bMuted = mute;
    m_rec.bMuteChanged = 1;
    WriteLevelRecord(m_rec);
    InterlockedExchange(&m_bShownMuted, mute ? 1 : 0);
    return S_OK;
}

// Sets every channel; a driver may apply a level other than the one asked (clamped, stepped), so
// what it applied is read back: that is what the restore compares with.
HRESULT KSHardwareVolume::Apply(DWORD volume) {
    HANDLE h = m_hFilter.Get();
    bool mute = volume == 0 && m_rec.control.nMuteChannels;
    HRESULT hr = SetMute(mute);
    if (FAILED(hr) || mute)
        return hr;
    for (ULONG c = 0; c < m_rec.control.nChannels; c++) {
        LONG level = LevelForVolume(volume, m_rec.control.ranges[c]);
        hr = SetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_rec.control.nVolumeNode, c, level);
        if (FAILED(hr))
            return hr;
        if (FAILED(GetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_rec.control.nVolumeNode, c,
                                &m_rec.lApplied[c])))
            m_rec.lApplied[c] = level;
    }
    InterlockedExchange(&m_lShownLevel, m_rec.lApplied[0]);
    if (!WriteLevelRecord(m_rec))
        DiagLog(1, "Hardware volume: the level record could not be written (%lu)", GetLastError());
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
    DeleteLevelRecord();
    return true;
}

void KSHardwareVolume::RecoverLeftLevel() {
    KSLevelRecord record;
    if (!ReadLevelRecord(&record))
        return;
    DiagLog(1, "Hardware volume: a level left on %s by a session that ended without its close",
            record.control.szFilter);
    KSHardwareVolume hw(record.control, nullptr);
    hw.m_rec = record;
    hw.m_hFilter.Reset(CreateFileA(record.control.szFilter, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                   NULL));
    if (hw.m_hFilter.Valid())
        hw.Restore();
    else
        LogCause("CreateFileA", HRESULT_FROM_WIN32(GetLastError()));
    hw.m_bClosed = true;
    DeleteLevelRecord();
}

// Channel by channel; a request the device refuses ends the restore.
void KSHardwareVolume::Restore() {
    HANDLE h = m_hFilter.Get();
    int restored = 0, kept = 0;
    for (ULONG c = 0; c < m_rec.control.nChannels; c++) {
        LONG now;
        HRESULT hr =
            GetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_rec.control.nVolumeNode, c, &now);
        if (SUCCEEDED(hr) && now != m_rec.lApplied[c]) {
            kept++;
            continue;
        }
        if (SUCCEEDED(hr))
            hr = SetNodeValue(h, KSPROPERTY_AUDIO_VOLUMELEVEL, m_rec.control.nVolumeNode, c,
                              m_rec.lSaved[c]);
        if (FAILED(hr)) {
            DiagLog(1, "Hardware volume: the level could not be restored (%#08x)", (unsigned)hr);
            return;
        }
        restored++;
    }
    for (ULONG c = 0; m_rec.bMuteChanged && c < m_rec.control.nMuteChannels; c++) {
        LONG now;
        if (SUCCEEDED(GetNodeValue(h, KSPROPERTY_AUDIO_MUTE, m_rec.control.nMuteNode, c, &now)) &&
            (now != 0) == (m_rec.bMuted != 0))
            SetNodeValue(h, KSPROPERTY_AUDIO_MUTE, m_rec.control.nMuteNode, c, m_rec.bSavedMute[c]);
    }
    DiagLog(1, "Hardware volume: level restored on %d channels, left on %d changed elsewhere",
            restored, kept);
}
