// The settings store: the record's file path, defaults, clamps, load and save.
#include "host/settings.h"

#include <cstdio>
#include <cstring>

namespace {

const char kSection[] = "Quellor";
const char kExt[] = ".ini";
const size_t kExtLen = sizeof kExt - 1;

// n / 1024, truncated toward zero, kept between minimum and maximum, times 1024.
int ClampKiB(int n, int minimum, int maximum) {
    int q = n / 1024;
    q = q < minimum ? minimum : q > maximum ? maximum : q;
    return q * 1024;
}

int ReadInt(const char* key, int current, const char* file) {
    return (int)GetPrivateProfileIntA(kSection, key, current, file);
}

void WriteInt(const char* key, int value, const char* file) {
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(kSection, key, text, file);
}

} // namespace

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

KSSettings::KSSettings() {
    char exePath[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, exePath, sizeof exePath);
    exePath[n < sizeof exePath ? n : sizeof exePath - 1] = '\0';
    BuildIniPath(exePath, ini_file);
    SetDefaults();
    Load();
}

void KSSettings::SetDefaults() {
    output_device[0] = '\0';
    volume_enabled = 0;
    gapless_enabled = 0;
    input_buffer_size = 65536;
    output_buffer_size = 8192;
    output_buffer_cnt = 8;
    logging_enabled = 0;
    logarithmic_volume = 1;
    adapt_formats_enabled = 1;
    hardware_volume_enabled = 1;
    release_on_pause_enabled = 0;
    preroll_ms = 0;
}

void KSSettings::ReadString(const char* key, char* field, DWORD size) {
    char fallback[MAX_PATH + 1];
    lstrcpynA(fallback, field, sizeof fallback);
    GetPrivateProfileStringA(kSection, key, fallback, field, size, ini_file);
}

void KSSettings::Load() {
    ReadString("output_device", output_device, sizeof output_device);
    volume_enabled = ReadInt("volume_enabled", volume_enabled, ini_file);
    gapless_enabled = ReadInt("gapless_enabled", gapless_enabled, ini_file);
    input_buffer_size = ReadInt("input_buffer_size", input_buffer_size, ini_file);
    output_buffer_size = ReadInt("output_buffer_size", output_buffer_size, ini_file);
    output_buffer_cnt = ReadInt("output_buffer_cnt", output_buffer_cnt, ini_file);
    logging_enabled = ReadInt("logging_enabled", logging_enabled, ini_file);
    logarithmic_volume = ReadInt("logarithmic_volume", logarithmic_volume, ini_file);
    adapt_formats_enabled = ReadInt("adapt_formats_enabled", adapt_formats_enabled, ini_file) != 0;
    hardware_volume_enabled =
        ReadInt("hardware_volume_enabled", hardware_volume_enabled, ini_file) != 0;
    release_on_pause_enabled =
        ReadInt("release_on_pause_enabled", release_on_pause_enabled, ini_file) != 0;
    preroll_ms = ReadInt("preroll_ms", preroll_ms, ini_file);
    preroll_ms = preroll_ms < 0 ? 0 : preroll_ms > kMaxPrerollMs ? kMaxPrerollMs : preroll_ms;

    input_buffer_size = ClampKiB(input_buffer_size, 4, kMaxInputBufferSize / 1024);
    output_buffer_size = ClampKiB(output_buffer_size, 2, kMaxOutputBufferSize / 1024);
    // A ring no larger than a packet never lets the host write (CanWrite asks for a packet's
    // room): corrected as the settings dialog corrects it.
    if (input_buffer_size <= output_buffer_size)
        input_buffer_size = 2 * output_buffer_size;
    if (output_buffer_cnt > 8)
        output_buffer_cnt = 8;
    if (output_buffer_cnt < 2)
        output_buffer_cnt = 2;
}

void KSSettings::Save() {
    WritePrivateProfileStringA(kSection, "output_device", output_device, ini_file);
    WriteInt("volume_enabled", volume_enabled, ini_file);
    WriteInt("gapless_enabled", gapless_enabled, ini_file);
    WriteInt("input_buffer_size", input_buffer_size, ini_file);
    WriteInt("output_buffer_size", output_buffer_size, ini_file);
    WriteInt("output_buffer_cnt", output_buffer_cnt, ini_file);
    WriteInt("logging_enabled", logging_enabled, ini_file);
    WriteInt("logarithmic_volume", logarithmic_volume, ini_file);
    WriteInt("adapt_formats_enabled", adapt_formats_enabled, ini_file);
    WriteInt("hardware_volume_enabled", hardware_volume_enabled, ini_file);
    WriteInt("release_on_pause_enabled", release_on_pause_enabled, ini_file);
    WriteInt("preroll_ms", preroll_ms, ini_file);
}
