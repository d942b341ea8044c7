// Adapting a format the device refused: the candidates from its data ranges tried in order, and
// the refusal of a rate the device does not take (its message shown once).
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/format.h"
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
        CKsPin* pin = TryPin(heading, list[i]);
        if (pin) {
            *pwfx = list[i];
            return pin;
        }
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
    if (!m_shownRefusals.First(text)) {
        DiagLog(1, "Rate refusal shown before; not shown again: %s", text);
        return;
    }
    TellUser(text);
}

void KSCore::LogAdapted(const WAVEFORMATEXTENSIBLE& stream, const WAVEFORMATEXTENSIBLE& device) {
    char from[96], to[96];
    DescribeFormat(stream, from, sizeof from);
    DescribeFormat(device, to, sizeof to);
    const char* volume = m_bytes.SampleVolume() != kUnityVolume ? "scaled by the volume"
                         : m_bytes.DeviceVolume()
                             ? "bit-transparent (the device's own volume control)"
                             : "bit-transparent (volume off or full)";
    DiagLog(1, "Adapted format: stream %s plays as %s, %s", from, to, volume);
}
