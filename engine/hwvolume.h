// The player's volume on the device's own control: the controls found per device, the mapping of
// the player's volume onto a node's range, and the control of the open stream, which saves the
// device's level when it first sets it, sets new levels on a thread of its own (the player's
// threads never wait for the device) and puts the saved level back when the stream's pin closes.
//
// Mapping: the engine's volume v (0..kMaxVolume, after the square-law map when that is on) gives
// minimum + (maximum - minimum) x v / kMaxVolume on every channel, in 1/65536 dB: even steps in dB
// from the node's maximum at the slider's top down to its minimum, snapped to the node's step. The
// slider's bottom (v = 0) mutes through the mute node where the path has one, else it is the
// range's minimum.
//
// Restoring: the level of every channel (and the mute, when Quellor changed it) goes back to what
// the device had before the first set, but only on a channel whose level is still the one Quellor
// set last: a level changed elsewhere meanwhile belongs to whoever changed it. After a crash of
// the player nothing of the plug-in can run safely, so the level record (levelrecord.h) written at
// every set lets the next start of the engine put the level back by the same rule.
//
// Threading: Request and the snapshot's readers come from any thread; the setter thread alone
// changes the device while it runs; Open and Close run on the engine's control path.
#pragma once

#include "diag/owned.h"
#include "engine/levelrecord.h"
#include "ks/topology.h"

class CKsFilter;

// Where the player's volume goes.
enum class KSVolumeKind {
    kOff,      // volume_enabled is off: samples and device untouched
    kSoftware, // samples scaled as the stream buffer hands them to the output
    kDevice,   // the device's own control
};

// The node level for the engine's volume in a range, as above (0 gives the minimum).
LONG LevelForVolume(DWORD volume, const KsLevelRange& range);

// The controls of the last kEntries devices the engine opened, each looked for once while it is
// among them.
class KSVolumeControls {
  public:
    // The control of the device of the wave filter for its render pin, or null when it has none
    // (the log says why, once per device). *ppszFound describes the control found.
    const KsLevelControl* Find(CKsFilter& wave, ULONG nRenderPin, const char** ppszFound);
    // The device's control refused a level: none for it from now on.
    void Refuse(const char* pszDevice);

  private:
    struct Entry {
        char szDevice[MAX_PATH];
        bool bFound;
        KsLevelControl control;
        char szFound[MAX_PATH + 96];
    };
    static const int kEntries = 4; // the oldest is replaced
    Entry m_entries[kEntries] = {};
    int m_nUsed = 0;
};

class KSHardwareVolume {
  public:
    // Opens the control's filter, saves each channel's level and sets the one for volume. Null
    // when that fails (pszWhy says why). *pActive is cleared when a later level is refused.
    static KSHardwareVolume* Open(const KsLevelControl& control, DWORD volume,
                                  volatile LONG* pActive, char* pszWhy, size_t cbWhy);
    ~KSHardwareVolume();
    KSHardwareVolume(const KSHardwareVolume&) = delete;
    KSHardwareVolume& operator=(const KSHardwareVolume&) = delete;

    // Asks for the level of volume; the setter thread sets it. Never waits.
    void Request(DWORD volume);
    // Ends the setter thread and restores the saved levels. False when the thread did not end in
    // time: the object is then still in use and must never be freed.
    bool Close();
    // Puts back a level that a session which ended without its close left, as its record says,
    // and removes the record.
    static void RecoverLeftLevel();
    // The level of the first channel now, in 1/65536 dB, and whether the control mutes.
    LONG Level() const { return m_lShownLevel; }
    bool Muted() const { return m_bShownMuted != 0; }

  private:
    KSHardwareVolume(const KsLevelControl& control, volatile LONG* pActive);
    static DWORD WINAPI SetterProc(LPVOID param);
    void Setter();
    HRESULT Apply(DWORD volume);
    HRESULT SetMute(bool mute);
    HRESULT Save();
    void Restore();

    KSLevelRecord m_rec = {}; // the control, the saved and the applied levels
    UniqueHandle m_hFilter;   // the control's filter, opened for this stream
    UniqueHandle m_hThread;   // the setter thread
    UniqueHandle m_hWake;     // auto-reset: a new volume was asked for
    UniqueHandle m_hStop;     // manual-reset: the setter thread ends
    volatile LONG* m_pActive;
    volatile LONG m_nWanted = 0; // the volume asked for last
    DWORD m_nSet = 0;            // the volume set last (setter thread, then Close)
    bool m_bClosed = false;
    volatile LONG m_lShownLevel = 0;
    volatile LONG m_bShownMuted = 0;
};
