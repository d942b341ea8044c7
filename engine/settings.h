// The settings record: thirteen user settings, plain data, and the limits of the two buffer sizes
// and the pre-roll. The host loads it from the player's INI file and saves it (host/settings.cpp),
// keeping every field within its key's range; the engine plays with a copy it takes from the host
// at its construction and at each open (KSHostSite), so that the settings dialog never writes what
// the engine reads.
#pragma once

#include <windows.h>

// Upper limits of the two sizes, applied at load like the lower ones. The largest format the
// engine plays, 192 kHz with 8 channels of 32-bit samples, takes 6,144,000 bytes a second: the
// ring's limit holds about 10.9 s of it, a packet's about 1.4 s (and eight packets the same
// 64 MiB as the ring). The settings dialog offers at most 128 KiB and 32 KiB.
constexpr int kMaxInputBufferSize = 64 * 1024 * 1024;
constexpr int kMaxOutputBufferSize = 8 * 1024 * 1024;
// The longest silence a new pin plays before the stream's first sample, for a DAC to lock on.
constexpr int kMaxPrerollMs = 2000;
// The longest fade at a pause, a seek and a stop.
constexpr int kMaxFadeMs = 200;

struct KSSettings {
    char ini_file[MAX_PATH + 1];      // full path of the settings file
    char output_device[MAX_PATH + 1]; // device path of the chosen render filter, "" for the first
    int volume_enabled;               // scale samples by the volume
    int gapless_enabled;              // keep the pin running across close and open
    int input_buffer_size;            // ring bytes; multiple of 1024, 4 KiB..64 MiB, > packet
    int output_buffer_size;           // bytes per packet; multiple of 1024, 2 KiB..8 MiB
    int output_buffer_cnt;            // packets, 2..8
    int logging_enabled;              // diagnostic log on or off
    int logarithmic_volume;           // map the host volume through the square-law table
    int adapt_formats_enabled;        // play formats the device refuses in a wider, lossless form
    int hardware_volume_enabled;      // the volume on the device's own control where it has one
    int release_on_pause_enabled;     // close the pin while paused, open it again on resume
    int preroll_ms;                   // silence before the first sample of a new pin, 0..2000
    int fade_ms;                      // fades at a pause, a seek and a stop, 0 (none)..200
};
