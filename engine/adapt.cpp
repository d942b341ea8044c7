// Adapting a format the device refused: the candidates from its data ranges tried in order, the
// refusal of a rate the device does not take (its message shown once), and the converted path
// from the ring to the device.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/format.h"
#include "engine/ring.h"
#include "engine/settings.h"
#include "ks/audfilter.h"

#include <cstdio>
#include <cstring>

namespace {

// Above any rate a device publishes (768 kHz): a request beyond it is no audio format.
constexpr DWORD kMaxAdaptedRate = 768000;

// A refusal of the format itself, after which other formats are worth trying; a busy or missing
// device is not one.
bool RefusedFormat(HRESULT hr) {
    return hr == HRESULT_FROM_WIN32(ERROR_NO_MATCH) ||
           hr == HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER) ||
           hr == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) || hr == E_FAIL;
}

DWORD Hash(const char* text) {
    DWORD h = 2166136261u;
    for (; *text; text++)
        h = (h ^ (BYTE)*text) * 16777619u;
    return h;
}

} // namespace

// The stream's own two attempts failed: the candidates the ranges cover, within the bound.
CKsPin* KSCore::Adapt(const WAVEFORMATEXTENSIBLE& stream, WAVEFORMATEXTENSIBLE* pwfx) {
    if (!RefusedFormat(m_pRenderFilter->m_hrLastError))
        return nullptr;
    const WAVEFORMATEX& f = stream.Format;
    int valid = ValidBits(stream);
    if (f.nChannels < 1 || f.nChannels > kMaxConvertChannels || f.nSamplesPerSec == 0 ||
        f.nSamplesPerSec > kMaxAdaptedRate || valid < 1 || f.wBitsPerSample > 32) {
        DiagLog(1, "Format not adapted: %d channels, %lu Hz, %d bits is no audio format",
                f.nChannels, f.nSamplesPerSec, valid);
        return nullptr;
    }
    static_assert(sizeof(KSRangeSet) < 4096, "the range set lives on the stack");
    KSRangeSet ranges;
    CollectRanges(*m_pRenderFilter, &ranges);
    if (!RateCovered(ranges, stream.Format.nSamplesPerSec)) {
        RefuseRate(stream, ranges);
        return nullptr;
    }
    WAVEFORMATEXTENSIBLE tried[2];
    tried[0] = stream;
    MakePlainWaveFormat(&tried[1], &stream);
    WAVEFORMATEXTENSIBLE list[kMaxPinCreations - 2];
    int count = BuildCandidates(stream, ranges, tried, 2, list, kMaxPinCreations - 2);
    for (int i = 0; i < count; i++) {
        char heading[96];
        snprintf(heading, sizeof heading,
                 "Attempting to CreateRenderPin with an adapted format (candidate %d of %d):",
                 i + 1, count);
        LogAttempt(heading, list[i]);
        CKsPin* pin = m_pRenderFilter->CreateRenderPin(&list[i].Format, FALSE);
        if (pin) {
            *pwfx = list[i];
            return pin;
        }
        LogPinCause(*m_pRenderFilter);
        if (!RefusedFormat(m_pRenderFilter->m_hrLastError))
            return nullptr;
    }
    char text[512];
    DescribeRanges(ranges, text, sizeof text);
    DiagLog(1, "No adapted format was taken (%d tried); the device's ranges: %s", count, text);
    return nullptr;
}

// The log names the stream and everything the ranges offer; the user sees the message once per
// device and set of rates, so that a playlist of such tracks does not stop at each one.
void KSCore::RefuseRate(const WAVEFORMATEXTENSIBLE& stream, const KSRangeSet& ranges) {
    char format[96], offered[512], rates[256], text[512];
    DescribeFormat(stream, format, sizeof format);
    DescribeRanges(ranges, offered, sizeof offered);
    DescribeRates(ranges, rates, sizeof rates);
    DiagLog(1, "Rate refused: the stream is %s; the device's ranges offer %s", format, offered);
    snprintf(text, sizeof text, "%s cannot play %lu Hz audio. It takes %s Hz.",
             m_pRenderFilter->m_szFriendlyName, stream.Format.nSamplesPerSec, rates);
    DWORD hash = Hash(text);
    int n = m_nShownRefusals < 16 ? m_nShownRefusals : 16;
    for (int i = 0; i < n; i++) {
        if (m_dwShownRefusals[i] == hash) {
            DiagLog(1, "Rate refusal shown before; not shown again: %s", text);
            return;
        }
    }
    m_dwShownRefusals[m_nShownRefusals++ % 16] = hash;
    TellUser(text);
}

void KSCore::LogAdapted(const WAVEFORMATEXTENSIBLE& stream, const WAVEFORMATEXTENSIBLE& device) {
    char from[96], to[96];
    DescribeFormat(stream, from, sizeof from);
    DescribeFormat(device, to, sizeof to);
    const char* volume = SampleVolume() != kUnityVolume ? "scaled by the volume"
                         : m_bDeviceVolume ? "bit-transparent (the device's own volume control)"
                                           : "bit-transparent (volume off or full)";
    DiagLog(1, "Adapted format: stream %s plays as %s, %s", from, to, volume);
}

// kUnityVolume when samples pass unscaled (volume off or full, or on the device's control), else
// the volume.
int KSCore::SampleVolume() {
    DWORD volume = m_nVolume;
    if (!m_settings.volume_enabled || volume == (DWORD)kMaxVolume || m_bDeviceVolume)
        return kUnityVolume;
    return (int)volume;
}

// Converted streams: whole ring frames through a small buffer (a frame may straddle the ring's
// end) into whole device frames. The outputs ask for whole device frames (RingHeld).
void KSCore::ReadConverted(BYTE* dst, DWORD n) {
    BYTE chunk[4096];
    DWORD srcBlock = m_wfxRing.Format.nBlockAlign, dstBlock = m_wfxCurrent.Format.nBlockAlign;
    DWORD frames = n / dstBlock, perChunk = sizeof chunk / srcBlock;
    int volume = SampleVolume();
    while (frames) {
        DWORD f = frames < perChunk ? frames : perChunk;
        DWORD bytes = f * srcBlock;
        m_pReadPtr = RingStretch(
            m_pInputBuffer.get(), m_dwInputSize, m_pReadPtr, bytes,
            [&](BYTE* ring, DWORD offset, DWORD length) { memcpy(chunk + offset, ring, length); });
        ConvertFrames(dst, chunk, f, m_conv, volume);
        InterlockedExchangeAdd(&m_nInputUsed, -(LONG)bytes);
        dst += f * dstBlock;
        frames -= f;
    }
}

// Converted streams take whole frames into the ring: the start of a frame the host cut waits in
// m_carry for the rest. Refused whole (1) when the ring lacks room for the frames.
int KSCore::WriteFrames(const BYTE* src, DWORD length) {
    bool widen =
        m_wfxRing.Samples.wValidBitsPerSample == 24 && m_wfxRing.Format.wBitsPerSample == 32;
    DWORD hostBlock = widen ? 3u * m_wfxRing.Format.nChannels : m_wfxRing.Format.nBlockAlign;
    DWORD frames = (m_dwCarry + length) / hostBlock;
    DWORD need = frames * m_wfxRing.Format.nBlockAlign;
    if (m_dwInputSize - (DWORD)m_nInputUsed < need)
        return 1;
    if (m_dwCarry && frames) {
        DWORD rest = hostBlock - m_dwCarry;
        memcpy(m_carry + m_dwCarry, src, rest);
        PutRing(m_carry, hostBlock, widen);
        src += rest;
        length -= rest;
        frames--;
        m_dwCarry = 0;
    }
    PutRing(src, frames * hostBlock, widen);
    DWORD left = length - frames * hostBlock;
    memcpy(m_carry + m_dwCarry, src + frames * hostBlock, left);
    m_dwCarry += left;
    InterlockedExchangeAdd(&m_nInputUsed, (LONG)need);
    WakeThread();
    return 0;
}
