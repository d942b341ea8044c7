// The fade's shape and its arithmetic on each sample width.
#include "engine/fade.h"

#include <cmath>
#include <cstring>
#include <ks.h>
#include <ksmedia.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Reads the sample's value, scaled to the top of a 32-bit integer.
LONG Load(const BYTE* p, WORD bytes) {
    switch (bytes) {
    case 1:
        return (LONG)((DWORD)(p[0] ^ 0x80) << 24);
    case 2:
        return (LONG)((DWORD)p[0] << 16 | (DWORD)p[1] << 24);
    case 3:
        return (LONG)((DWORD)p[0] << 8 | (DWORD)p[1] << 16 | (DWORD)p[2] << 24);
    default: {
        LONG v;
        memcpy(&v, p, 4);
        return v;
    }
    }
}

void Store(BYTE* p, WORD bytes, LONG v) {
    DWORD u = (DWORD)v;
    switch (bytes) {
    case 1:
        p[0] = (BYTE)((u >> 24) ^ 0x80);
        break;
    case 2:
        p[0] = (BYTE)(u >> 16);
        p[1] = (BYTE)(u >> 24);
        break;
    case 3:
        p[0] = (BYTE)(u >> 8);
        p[1] = (BYTE)(u >> 16);
        p[2] = (BYTE)(u >> 24);
        break;
    default:
        memcpy(p, &u, 4);
    }
}

// The value times gain (0..1), rounded towards zero, with the bits below the significant ones
// cleared (towards zero too, so that the fade ends in silence on either side).
LONG Scale(LONG v, double gain, DWORD lowMask) {
    LONG scaled = (LONG)((double)v * gain);
    if (scaled >= 0)
        return (LONG)((DWORD)scaled & ~lowMask);
    return -(LONG)((DWORD)-scaled & ~lowMask);
}

// The bits of the 32-bit value below the format's significant ones.
DWORD LowMask(const KSFadeFormat& f) {
    DWORD mask = f.validBits >= f.bytes * 8 ? 0 : (1u << (32 - f.validBits)) - 1;
    if (f.bytes * 8 < 32)
        mask |= (1u << (32 - f.bytes * 8)) - 1;
    return mask;
}

void FadeSample(BYTE* p, const KSFadeFormat& f, double gain) {
    Store(p, f.bytes, Scale(Load(p, f.bytes), gain, LowMask(f)));
}

double Gain(DWORD at, DWORD frames, bool in) {
    return FadeInGain(in ? at : frames - 1 - at, frames);
}

} // namespace

KSFadeFormat FadeFormatOf(const WAVEFORMATEXTENSIBLE& wfx) {
    const WAVEFORMATEX& f = wfx.Format;
    KSFadeFormat out{0, 0, f.nChannels};
    bool extensible = f.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    bool pcm = f.wFormatTag == WAVE_FORMAT_PCM ||
               (extensible && IsEqualGUID(wfx.SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
    WORD bytes = f.wBitsPerSample / 8;
    if (!pcm || bytes < 1 || bytes > 4 || f.wBitsPerSample % 8 || !f.nChannels ||
        f.nBlockAlign != bytes * f.nChannels)
        return out;
    WORD valid = extensible && wfx.Samples.wValidBitsPerSample ? wfx.Samples.wValidBitsPerSample
                                                               : f.wBitsPerSample;
    out.bytes = bytes;
    out.validBits = valid < f.wBitsPerSample ? valid : f.wBitsPerSample;
    return out;
}

DWORD FadeFrames(const WAVEFORMATEX& format, DWORD ms) {
    ULONGLONG frames = (ULONGLONG)format.nSamplesPerSec * ms / 1000;
    return ms && !frames ? 1 : (DWORD)frames;
}

double FadeInGain(DWORD at, DWORD frames) {
    return 0.5 - 0.5 * std::cos(kPi * (double)(at + 1) / (double)(frames + 1));
}

void ApplyFade(BYTE* data, DWORD count, const KSFadeFormat& f, DWORD at, DWORD frames, bool in) {
    if (!f.bytes)
        return;
    for (DWORD i = 0; i < count && at + i < frames; i++) {
        double gain = Gain(at + i, frames, in);
        BYTE* frame = data + (size_t)i * f.bytes * f.channels;
        for (WORD c = 0; c < f.channels; c++)
            FadeSample(frame + (size_t)c * f.bytes, f, gain);
    }
}

void KSFadeIn::Start(const KSFadeFormat& f, DWORD frames) {
    m_f = f;
    m_frames = f.bytes ? frames : 0;
    m_at = 0;
}

// Each sample's bytes are gathered in m_sample as they come; the piece that completes it gets
// its part of the scaled sample.
void KSFadeIn::Apply(BYTE* data, DWORD n) {
    DWORD bytes = m_f.bytes, block = bytes * m_f.channels, end = m_frames * block;
    for (DWORD i = 0; i < n && m_at < end;) {
        DWORD into = m_at % bytes;
        DWORD take = bytes - into < n - i ? bytes - into : n - i;
        memcpy(m_sample + into, data + i, take);
        if (into + take == bytes) {
            FadeSample(m_sample, m_f, Gain(m_at / block, m_frames, true));
            memcpy(data + i, m_sample + into, take);
        }
        i += take;
        m_at += take;
    }
    if (m_at >= end)
        m_frames = 0;
}
