// The settings store: the record of engine/settings.h kept as thirteen keys in the "Quellor"
// section of the host's INI file, all described by one table (name, default, least, most) that the
// load, the save and the settings dialog's limits use. Loaded once at Init, saved only by the
// dialog.
#pragma once

#include "engine/settings.h"

#include <cstddef>

// How a key's number is kept within its range.
enum class SettingKind {
    kNumber, // held to least..most
    kSwitch, // anything but 0 is 1
    kKiB,    // whole KiB, truncated toward zero, then held to least..most
};

// One numeric key of the record: its name in the file, its field, its default and its range.
struct SettingKey {
    const char* name;
    int KSSettings::*field;
    int initial;
    int least;
    int most;
    SettingKind kind;
};

// The numeric keys, in the file's order (after output_device, whose default is "").
extern const SettingKey kSettingKeys[];
extern const size_t kSettingKeyCount;

// The key of a field of the record (every int field has one).
const SettingKey& KeyOf(int KSSettings::*field);
// The value as the store keeps it: within the key's range.
int Kept(const SettingKey& key, int value);

// Settings file path for an executable path: everything from the first "." replaced by ".ini".
// A path without "." gets ".ini" appended. The result always ends in ".ini" and fits
// MAX_PATH + 1 bytes.
void BuildIniPath(const char* exePath, char* out);
// The record as the plug-in starts it: the file beside the process's executable, every key's
// default, then what the file holds.
void ReadSettings(KSSettings& s);
// Every key's default; the file's path stays.
void SetDefaultSettings(KSSettings& s);
// Each key from s.ini_file, kept within its range; a key the file lacks keeps the field's value.
// Then KeepRingAbovePacket, as the settings dialog does.
void LoadSettings(KSSettings& s);
// A ring no larger than a packet never lets the host write (CanWrite asks for a packet's room):
// it becomes two packets. True when it was corrected.
bool KeepRingAbovePacket(KSSettings& s);
void SaveSettings(const KSSettings& s);
// True when every key of a and b holds the same value (the file's path aside).
bool SameSettings(const KSSettings& a, const KSSettings& b);
