// Wave formats of a stream: the extensible first attempt and its plain second-attempt form.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

// Speaker mask for a channel count (6 and above: 5.1).
DWORD ChannelMask(int channels);

// The first-attempt WAVEFORMATEXTENSIBLE for a host request; 24-bit samples go in 32-bit
// containers for up to wide24Channels channels (1 or 2 unless formats are adapted). The record is
// cleared first.
void BuildWaveFormat(WAVEFORMATEXTENSIBLE* wfx, int rate, int channels, int bits,
                     int wide24Channels = 2);

// The plain WAVE_FORMAT_PCM form of src in dst (dst may be src).
void MakePlainWaveFormat(WAVEFORMATEXTENSIBLE* dst, const WAVEFORMATEXTENSIBLE* src);
