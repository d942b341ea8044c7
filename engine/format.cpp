// Building the stream's wave formats.
#include "engine/format.h"

#include <cstring>

DWORD ChannelMask(int channels) {
    static const DWORD masks[] = {0x00, 0x04, 0x03, 0x07, 0x33, 0x37, 0x3F};
    if (channels < 0)
        return 0;
    return masks[channels < 6 ? channels : 6];
}

void BuildWaveFormat(WAVEFORMATEXTENSIBLE* wfx, int rate, int channels, int bits,
                     int wide24Channels) {
    memset(wfx, 0, sizeof *wfx);
    wfx->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wfx->Format.nChannels = (WORD)channels;
    wfx->Format.nSamplesPerSec = (DWORD)rate;
    wfx->Format.wBitsPerSample = (WORD)((bits + 7) & 0xFFF8);
    wfx->Format.nBlockAlign = (WORD)(wfx->Format.wBitsPerSample * wfx->Format.nChannels / 8);
    wfx->Format.nAvgBytesPerSec = wfx->Format.nSamplesPerSec * wfx->Format.nBlockAlign;
    wfx->Format.cbSize = 22;
    wfx->Samples.wValidBitsPerSample = (WORD)bits;
    wfx->dwChannelMask = ChannelMask(channels);
    wfx->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    if (bits == 24 && channels >= 1 && channels <= wide24Channels) {
        wfx->Format.nBlockAlign = (WORD)(4 * channels);
        wfx->Format.wBitsPerSample = 32;
        wfx->Format.nAvgBytesPerSec = wfx->Format.nSamplesPerSec * wfx->Format.nBlockAlign;
    }
}

void MakePlainWaveFormat(WAVEFORMATEXTENSIBLE* dst, const WAVEFORMATEXTENSIBLE* src) {
    if (dst != src)
        memcpy(dst, src, sizeof *dst);
    WAVEFORMATEX& f = dst->Format;
    WORD valid = dst->Samples.wValidBitsPerSample;
    if (valid == 24 || valid == 32) {
        // Packed 24-bit or 32-bit samples; a frame of any channel count is consistent.
        f.wBitsPerSample = valid;
        f.nBlockAlign = (WORD)(valid / 8 * f.nChannels);
        f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    }
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.cbSize = 0;
    dst->Samples.wValidBitsPerSample = 0;
    dst->dwChannelMask = 0;
    memset(&dst->SubFormat, 0, sizeof dst->SubFormat);
}
