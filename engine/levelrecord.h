// The record of a level Quellor holds on a device's own volume control: kept in a file beside the
// player's executable ("quellor volume.dat") from the first level set until the level is put back,
// so that a start after a crash of the player can still put it back. The file holds the record's
// bytes as they are in memory; one with another size or tag is not a record.
#pragma once

#include "ks/topology.h"

struct KSLevelRecord {
    DWORD dwTag;  // kLevelRecordTag
    DWORD cbSize; // sizeof(KSLevelRecord)
    KsLevelControl control;
    LONG lSaved[kMaxLevelChannels];     // the device's levels before the first set
    LONG lApplied[kMaxLevelChannels];   // as the device answered after the last set
    LONG bSavedMute[kMaxLevelChannels]; // the mute flags before the first set
    LONG bMuted;                        // Quellor's mute is on
    LONG bMuteChanged;                  // Quellor changed the mute
};

constexpr DWORD kLevelRecordTag = 0x4C564C51; // "QLVL"

// Each returns false when the file could not be written, read or removed (or holds no record).
bool WriteLevelRecord(const KSLevelRecord& record);
bool ReadLevelRecord(KSLevelRecord* record);
bool DeleteLevelRecord();
