// Reading a filter's data ranges and building the lossless candidates from them.
#include "engine/candidates.h"

#include "engine/convert.h"
#include "engine/format.h"
#include "ks/audfilter.h"

#include "diag/log.h"

#include <cstdio>
#include <cstring>

namespace {

bool NullOr(const GUID& g, const GUID& wanted) {
    return IsEqualGUID(g, GUID_NULL) || IsEqualGUID(g, wanted);
}

bool IsPcmRange(const KSDATARANGE_AUDIO& r) {
    const KSDATARANGE& d = r.DataRange;
    return NullOr(d.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) &&
           NullOr(d.SubFormat, KSDATAFORMAT_SUBTYPE_PCM) &&
           NullOr(d.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
}

bool Takes(const KSDATARANGE_AUDIO& r, int channels, int valid, DWORD rate) {
    return (ULONG)channels <= r.MaximumChannels && (ULONG)valid >= r.MinimumBitsPerSample &&
           (ULONG)valid <= r.MaximumBitsPerSample && rate >= r.MinimumSampleFrequency &&
           rate <= r.MaximumSampleFrequency;
}

void MakeCandidate(WAVEFORMATEXTENSIBLE* w, const WAVEFORMATEXTENSIBLE& stream, int channels,
                   int container, int valid) {
    BuildWaveFormat(w, (int)stream.Format.nSamplesPerSec, channels, container);
    w->Format.wBitsPerSample = (WORD)container;
    w->Format.nBlockAlign = (WORD)(container / 8 * channels);
    w->Format.nAvgBytesPerSec = w->Format.nSamplesPerSec * w->Format.nBlockAlign;
    w->Samples.wValidBitsPerSample = (WORD)valid;
    DWORD mask = SpeakerMask(stream);
    w->dwChannelMask = channels == stream.Format.nChannels
                           ? mask
                           : RaisedMask(mask, stream.Format.nChannels, channels);
}

// The candidates' lists and where they go: each new one is checked against what was tried.
struct Builder {
    const WAVEFORMATEXTENSIBLE& stream;
    const KSRangeSet& set;
    const WAVEFORMATEXTENSIBLE* tried;
    int triedCount;
    WAVEFORMATEXTENSIBLE* out;
    int max;
    int count;

    bool Known(const WAVEFORMATEXTENSIBLE& w) const {
        for (int i = 0; i < triedCount; i++)
            if (!memcmp(&tried[i], &w, sizeof w))
                return true;
        for (int i = 0; i < count; i++)
            if (!memcmp(&out[i], &w, sizeof w))
                return true;
        return false;
    }

    void Offer(const WAVEFORMATEXTENSIBLE& w) {
        if (count < max && RangesCover(set, w) && !Known(w))
            out[count++] = w;
    }

    // One layout: extensible, then plain where plain says the same (full containers, 1 or 2
    // channels).
    void Layout(int channels, int container, int valid) {
        WAVEFORMATEXTENSIBLE w;
        MakeCandidate(&w, stream, channels, container, valid);
        if (channels > 2 && !w.dwChannelMask)
            return;
        Offer(w);
        if (valid == container && channels <= 2) {
            MakePlainWaveFormat(&w, &w);
            Offer(w);
        }
    }

    // The stream's valid bits where a range takes them, else the fewest bits above them that a
    // range insists on: one layout per container.
    void Container(int channels, int container) {
        int bits = ValidBits(stream), best = 0;
        DWORD rate = stream.Format.nSamplesPerSec;
        for (int i = 0; i < set.count; i++) {
            const KSDATARANGE_AUDIO& r = set.ranges[i];
            int v = bits > (int)r.MinimumBitsPerSample ? bits : (int)r.MinimumBitsPerSample;
            if (v <= container && Takes(r, channels, v, rate) && (!best || v < best))
                best = v;
        }
        if (best)
            Layout(channels, container, best);
    }

    void Channels(int channels) {
        int own = (ValidBits(stream) + 7) & ~7;
        static const int widths[] = {8, 16, 24, 32};
        for (int c : widths)
            if (c >= own)
                Container(channels, c);
    }
};

// The next channel count above n that some range for the rate names as its maximum (0: none).
int NextMaximum(const KSRangeSet& set, DWORD rate, int n) {
    int next = 0;
    for (int i = 0; i < set.count; i++) {
        const KSDATARANGE_AUDIO& r = set.ranges[i];
        int m = (int)r.MaximumChannels;
        if (r.MaximumChannels <= (ULONG)kMaxConvertChannels && m > n && (!next || m < next) &&
            rate >= r.MinimumSampleFrequency && rate <= r.MaximumSampleFrequency)
            next = m;
    }
    return next;
}

void Append(char* text, size_t size, const char* format, unsigned long a, unsigned long b) {
    size_t len = strlen(text);
    if (len < size)
        snprintf(text + len, size - len, format, a, b);
}

} // namespace

void CollectRanges(CKsAudRenFilter& filter, KSRangeSet* set) {
    set->count = 0;
    for (TListNode<CKsPin>* node = filter.m_listRenderSinkPins.m_pHead; node; node = node->pNext) {
        CKsAudPin* pin = static_cast<CKsAudPin*>(node->pData);
        for (TListNode<KSDATARANGE_AUDIO>* r = pin->m_listDataRanges.m_pHead;
             r && set->count < kMaxRanges; r = r->pNext)
            if (IsPcmRange(*r->pData))
                set->ranges[set->count++] = *r->pData;
    }
}

bool RateCovered(const KSRangeSet& set, DWORD rate) {
    for (int i = 0; i < set.count; i++)
        if (rate >= set.ranges[i].MinimumSampleFrequency &&
            rate <= set.ranges[i].MaximumSampleFrequency)
            return true;
    return false;
}

bool RangesCover(const KSRangeSet& set, const WAVEFORMATEXTENSIBLE& wfx) {
    for (int i = 0; i < set.count; i++)
        if (Takes(set.ranges[i], wfx.Format.nChannels, ValidBits(wfx), wfx.Format.nSamplesPerSec))
            return true;
    return false;
}

int BuildCandidates(const WAVEFORMATEXTENSIBLE& stream, const KSRangeSet& set,
                    const WAVEFORMATEXTENSIBLE* tried, int triedCount, WAVEFORMATEXTENSIBLE* out,
                    int max) {
    Builder b{stream, set, tried, triedCount, out, max, 0};
    int channels = stream.Format.nChannels;
    b.Channels(channels);
    // More channels: mono on two, then each count the ranges name as their maximum.
    if (channels == 1)
        b.Channels(channels = 2);
    DWORD rate = stream.Format.nSamplesPerSec;
    for (int n = NextMaximum(set, rate, channels); n; n = NextMaximum(set, rate, n))
        b.Channels(n);
    return b.count;
}

void DescribeFormat(const WAVEFORMATEXTENSIBLE& wfx, char* text, size_t size) {
    const WAVEFORMATEX& f = wfx.Format;
    int valid = ValidBits(wfx);
    bool extensible = f.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if (valid == f.wBitsPerSample)
        snprintf(text, size, "%d-bit %d ch %lu Hz %s", valid, f.nChannels, f.nSamplesPerSec,
                 extensible ? "extensible" : "plain");
    else
        snprintf(text, size, "%d-bit in %d-bit %d ch %lu Hz %s", valid, f.wBitsPerSample,
                 f.nChannels, f.nSamplesPerSec, extensible ? "extensible" : "plain");
}

void DescribeRanges(const KSRangeSet& set, char* text, size_t size) {
    text[0] = 0;
    if (!set.count)
        snprintf(text, size, "no PCM data ranges");
    for (int i = 0; i < set.count; i++) {
        const KSDATARANGE_AUDIO& r = set.ranges[i];
        if (r.MaximumChannels == (ULONG)-1)
            Append(text, size, i ? "; any ch" : "any ch", 0, 0);
        else
            Append(text, size, i ? "; up to %lu ch" : "up to %lu ch", r.MaximumChannels, 0);
        Append(text, size, ", %lu-%lu bits", r.MinimumBitsPerSample, r.MaximumBitsPerSample);
        Append(text, size, ", %lu-%lu Hz", r.MinimumSampleFrequency, r.MaximumSampleFrequency);
    }
}

// Each distinct rate or span once, in the ranges' order.
void DescribeRates(const KSRangeSet& set, char* text, size_t size) {
    text[0] = 0;
    for (int i = 0; i < set.count; i++) {
        const KSDATARANGE_AUDIO& r = set.ranges[i];
        bool seen = false;
        for (int j = 0; j < i; j++)
            seen = seen || (set.ranges[j].MinimumSampleFrequency == r.MinimumSampleFrequency &&
                            set.ranges[j].MaximumSampleFrequency == r.MaximumSampleFrequency);
        if (seen)
            continue;
        Append(text, size, text[0] ? ", %lu" : "%lu", r.MinimumSampleFrequency, 0);
        if (r.MaximumSampleFrequency != r.MinimumSampleFrequency)
            Append(text, size, "-%lu", r.MaximumSampleFrequency, 0);
    }
}

void LogAttempt(const char* heading, const WAVEFORMATEXTENSIBLE& w) {
    DiagLog(1,
            "%s\nFormat.nChannels            = %d\nFormat.nSamplesPerSec       = %d\n"
            "Format.wBitsPerSample       = %d\nFormat.nBlockAlign          = %d\n"
            "Format.nAvgBytesPerSec      = %d\nFormat.cbSize               = %d\n"
            "Samples.wValidBitsPerSample = %d\ndwChannelMask               = %08x\n\n",
            heading, w.Format.nChannels, (int)w.Format.nSamplesPerSec, w.Format.wBitsPerSample,
            w.Format.nBlockAlign, (int)w.Format.nAvgBytesPerSec, w.Format.cbSize,
            w.Samples.wValidBitsPerSample, (unsigned)w.dwChannelMask);
}

// Why the filter refused a render pin: the platform's error and the filter's own reason.
void LogPinCause(const CKsAudRenFilter& filter) {
    DiagLog(1, "CKsAudRenFilter::CreateRenderPin failed, hr=0x%08x: %s",
            (unsigned)filter.m_hrLastError, filter.m_pszLastError);
}
