// The engine's side of the device's own volume control: made for a stream after its output, when
// the settings ask for it and the device has a control; closed, with the device's level put back,
// after the output.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/settings.h"
#include "ks/audfilter.h"

void KSCore::OpenDeviceVolume(ULONG nRenderPin) {
    InterlockedExchange(m_bytes.DeviceVolumeFlag(), 0);
    if (!m_settings.volume_enabled || !m_settings.hardware_volume_enabled || !m_pRenderFilter)
        return;
    const char* found = "";
    const KsLevelControl* control = m_volumeControls.Find(*m_pRenderFilter, nRenderPin, &found);
    if (!control)
        return;
    char why[MAX_PATH + 96];
    KSHardwareVolume* hw = KSHardwareVolume::Open(*control, m_bytes.Volume(),
                                                  m_bytes.DeviceVolumeFlag(), why, sizeof why);
    if (!hw) {
        DiagLog(1, "Hardware volume: none on %s: %s; software volume",
                m_pRenderFilter->m_szFriendlyName, why);
        m_volumeControls.Refuse(m_pRenderFilter->m_szFilterName);
        return;
    }
    DiagLog(1, "Hardware volume: %s", found);
    CsGuard lock(m_csState);
    m_pHwVolume.reset(hw);
    InterlockedExchange(m_bytes.DeviceVolumeFlag(), 1);
    // A volume the host set while the control was being opened.
    hw->Request(m_bytes.Volume());
}

// The control's setter may be inside a device request: it is waited for (bounded); one that does
// not end keeps its memory for good, as a device that keeps packets does.
void KSCore::CloseDeviceVolume() {
    KSHardwareVolume* hw;
    {
        CsGuard lock(m_csState);
        hw = m_pHwVolume.release();
    }
    InterlockedExchange(m_bytes.DeviceVolumeFlag(), 0);
    if (hw && hw->Close())
        delete hw;
}

KSVolumeKind KSCore::VolumeKind() const {
    if (!m_settings.volume_enabled)
        return KSVolumeKind::kOff;
    return m_bytes.DeviceVolume() ? KSVolumeKind::kDevice : KSVolumeKind::kSoftware;
}
