// The settings store: the record's file path, its table of keys, load and save.
#include "host/settings.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

const char kSection[] = "Quellor";
const char kExt[] = ".ini";
const size_t kExtLen = sizeof kExt - 1;
const char kDeviceKey[] = "output_device";

int ReadInt(const char* key, int current, const char* file) {
    return (int)GetPrivateProfileIntA(kSection, key, current, file);
}

void WriteInt(const char* key, int value, const char* file) {
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(kSection, key, text, file);
}

} // namespace

// The four switches of the first versions are kept as read, whatever number the file holds.
const SettingKey kSettingKeys[] = {
    {"volume_enabled", &KSSettings::volume_enabled, 0, INT_MIN, INT_MAX, SettingKind::kNumber},
    {"gapless_enabled", &KSSettings::gapless_enabled, 0, INT_MIN, INT_MAX, SettingKind::kNumber},
    {"input_buffer_size", &KSSettings::input_buffer_size, 65536, 4096, kMaxInputBufferSize,
     SettingKind::kKiB},
    {"output_buffer_size", &KSSettings::output_buffer_size, 8192, 2048, kMaxOutputBufferSize,
     SettingKind::kKiB},
    {"output_buffer_cnt", &KSSettings::output_buffer_cnt, 8, 2, 8, SettingKind::kNumber},
    {"logging_enabled", &KSSettings::logging_enabled, 0, INT_MIN, INT_MAX, SettingKind::kNumber},
    {"logarithmic_volume", &KSSettings::logarithmic_volume, 1, INT_MIN, INT_MAX,
     SettingKind::kNumber},
    {"adapt_formats_enabled", &KSSettings::adapt_formats_enabled, 1, 0, 1, SettingKind::kSwitch},
    {"hardware_volume_enabled", &KSSettings::hardware_volume_enabled, 1, 0, 1,
     SettingKind::kSwitch},
    {"release_on_pause_enabled", &KSSettings::release_on_pause_enabled, 0, 0, 1,
     SettingKind::kSwitch},
    {"preroll_ms", &KSSettings::preroll_ms, 0, 0, kMaxPrerollMs, SettingKind::kNumber},
    {"fade_ms", &KSSettings::fade_ms, 0, 0, kMaxFadeMs, SettingKind::kNumber},
};
const size_t kSettingKeyCount = sizeof kSettingKeys / sizeof kSettingKeys[0];

const SettingKey& KeyOf(int KSSettings::*field) {
    size_t i = 0;
    while (i + 1 < kSettingKeyCount && kSettingKeys[i].field != field)
        i++;
    return kSettingKeys[i];
}

int Kept(const SettingKey& key, int value) {
    if (key.kind == SettingKind::kSwitch)
        return value != 0;
    if (key.kind == SettingKind::kKiB) {
        int q = value / 1024;
        int least = key.least / 1024, most = key.most / 1024;
        return (q < least ? least : q > most ? most : q) * 1024;
    }
    return value < key.least ? key.least : value > key.most ? key.most : value;
}

void BuildIniPath(const char* exePath, char* out) {
    const size_t maxLen = MAX_PATH; // characters before the terminator
    size_t len = strnlen(exePath, maxLen);
    const char* dot = (const char*)memchr(exePath, '.', len);
    // Cut at the first "."; without one, append. Cut further back when ".ini" would not fit.
    size_t cut = dot ? (size_t)(dot - exePath) : len;
    if (cut > maxLen - kExtLen)
        cut = maxLen - kExtLen;
    memcpy(out, exePath, cut);
    memcpy(out + cut, kExt, kExtLen + 1);
}

void ReadSettings(KSSettings& s) {
    char exePath[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, exePath, sizeof exePath);
    exePath[n < sizeof exePath ? n : sizeof exePath - 1] = '\0';
    BuildIniPath(exePath, s.ini_file);
    SetDefaultSettings(s);
    LoadSettings(s);
}

void SetDefaultSettings(KSSettings& s) {
    s.output_device[0] = '\0';
    for (size_t i = 0; i < kSettingKeyCount; i++)
        s.*kSettingKeys[i].field = kSettingKeys[i].initial;
}

void LoadSettings(KSSettings& s) {
    char fallback[MAX_PATH + 1];
    lstrcpynA(fallback, s.output_device, sizeof fallback);
    GetPrivateProfileStringA(kSection, kDeviceKey, fallback, s.output_device,
                             sizeof s.output_device, s.ini_file);
    for (size_t i = 0; i < kSettingKeyCount; i++) {
        const SettingKey& k = kSettingKeys[i];
        s.*k.field = Kept(k, ReadInt(k.name, s.*k.field, s.ini_file));
    }
    KeepRingAbovePacket(s);
}

bool KeepRingAbovePacket(KSSettings& s) {
    if (s.input_buffer_size > s.output_buffer_size)
        return false;
    s.input_buffer_size = 2 * s.output_buffer_size;
    return true;
}

void SaveSettings(const KSSettings& s) {
    WritePrivateProfileStringA(kSection, kDeviceKey, s.output_device, s.ini_file);
    for (size_t i = 0; i < kSettingKeyCount; i++)
        WriteInt(kSettingKeys[i].name, s.*kSettingKeys[i].field, s.ini_file);
}

bool SameSettings(const KSSettings& a, const KSSettings& b) {
    for (size_t i = 0; i < kSettingKeyCount; i++)
        if (a.*kSettingKeys[i].field != b.*kSettingKeys[i].field)
            return false;
    return !strcmp(a.output_device, b.output_device);
}
