// The conversion step: planning the channel map and widths, and converting frames.
#include "engine/convert.h"

#include "engine/format.h"

#include <cstring>

namespace {

int Bits(DWORD mask) {
    int n = 0;
    for (; mask; mask &= mask - 1)
        n++;
    return n;
}

// A ring sample as a signed value left-justified in 32 bits.
LONG ReadSample(const BYTE* p, int bytes) {
    DWORD v = 0;
    if (bytes == 1)
        return (LONG)(((DWORD)p[0] - 128u) << 24);
    for (int i = 0; i < bytes; i++)
        v |= (DWORD)p[i] << (8 * (4 - bytes + i));
    return (LONG)v;
}

void WriteSample(BYTE* p, int bytes, LONG value) {
    DWORD v = (DWORD)value;
    if (bytes == 1) {
        p[0] = (BYTE)((v >> 24) + 128u);
        return;
    }
    for (int i = 0; i < bytes; i++)
        p[i] = (BYTE)(v >> (8 * (4 - bytes + i)));
}

// Which ring channel each device channel carries: the same speaker, mono on the first two.
void MapChannels(KSConversion* c, DWORD srcMask, DWORD dstMask) {
    bool bySpeaker = Bits(srcMask) == c->srcChannels && Bits(dstMask) == c->dstChannels &&
                     (srcMask & dstMask) == srcMask;
    int next = 0;
    for (int j = 0; j < c->dstChannels; j++) {
        c->map[j] = -1;
        if (c->srcChannels == 1) {
            c->map[j] = j < 2 ? 0 : -1;
            continue;
        }
        if (!bySpeaker) {
            c->map[j] = j < c->srcChannels ? (signed char)j : -1;
            continue;
        }
        while (next < 32 && !(dstMask & (1u << next)))
            next++;
        DWORD speaker = 1u << next++;
        if (srcMask & speaker)
            c->map[j] = (signed char)Bits(srcMask & (speaker - 1));
    }
}

} // namespace

int ValidBits(const WAVEFORMATEXTENSIBLE& wfx) {
    if (wfx.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx.Samples.wValidBitsPerSample)
        return wfx.Samples.wValidBitsPerSample;
    return wfx.Format.wBitsPerSample;
}

DWORD SpeakerMask(const WAVEFORMATEXTENSIBLE& wfx) {
    if (wfx.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE)
        return wfx.dwChannelMask;
    return ChannelMask(wfx.Format.nChannels);
}

DWORD RaisedMask(DWORD mask, int streamChannels, int channels) {
    DWORD usual = ChannelMask(channels);
    if (streamChannels == 1)
        return channels >= 2 && Bits(usual) == channels ? usual : 0;
    if (Bits(usual) == channels && (usual & mask) == mask)
        return usual;
    for (DWORD bit = 1; bit && Bits(mask) < channels; bit <<= 1)
        mask |= bit;
    return mask;
}

bool PlanConversion(KSConversion* c, const WAVEFORMATEXTENSIBLE& ring,
                    const WAVEFORMATEXTENSIBLE& device) {
    memset(c, 0, sizeof *c);
    // 20-bit samples in 24-bit containers are converted too: the copy scales whole containers.
    c->active = memcmp(&ring, &device, sizeof ring) != 0 || ValidBits(ring) == 20;
    if (!c->active)
        return true;
    c->srcBytes = ring.Format.wBitsPerSample / 8;
    c->srcChannels = ring.Format.nChannels;
    c->dstBytes = device.Format.wBitsPerSample / 8;
    c->dstChannels = device.Format.nChannels;
    int valid = ValidBits(device);
    if (c->srcBytes < 1 || c->srcBytes > 4 || c->dstBytes < 1 || c->dstBytes > 4 ||
        c->srcChannels < 1 || c->dstChannels > kMaxConvertChannels ||
        c->dstChannels < c->srcChannels || valid < ValidBits(ring) || valid > 32)
        return false;
    c->dstKeep = valid >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> valid);
    MapChannels(c, SpeakerMask(ring), SpeakerMask(device));
    return true;
}

void ConvertFrames(BYTE* dst, const BYTE* src, DWORD frames, const KSConversion& c, int volume) {
    for (DWORD f = 0; f < frames; f++) {
        for (int j = 0; j < c.dstChannels; j++) {
            LONG v = 0;
            if (c.map[j] >= 0)
                v = ReadSample(src + c.map[j] * c.srcBytes, c.srcBytes);
            if (volume != kUnityVolume)
                v = (LONG)(((LONGLONG)v * volume) >> 8);
            WriteSample(dst, c.dstBytes, (LONG)((DWORD)v & c.dstKeep));
            dst += c.dstBytes;
        }
        src += c.srcBytes * c.srcChannels;
    }
}
