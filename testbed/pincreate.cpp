// The simulated KsCreatePin: checks the connect request and its wave format as an audio driver
// does, then opens a stream and hands out its pin handle.
#include "testbed/redirect.h"
#include "testbed/state.h"
#include "testbed/stream.h"
#include "testbed/wavert.h"

namespace simks {

namespace {

bool HasIdent(const SimKsIdent* list, ULONG count, const KsIdentifier& id) {
    for (ULONG i = 0; i < count; ++i)
        if (IsEqualGUID(list[i].Set, id.Set) && list[i].Id == id.Id)
            return true;
    return false;
}

// The subtype a wave format stands for: the extensible SubFormat, or the tag's GUID.
GUID SubtypeOf(const WAVEFORMATEX& wfx) {
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE)
        return reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx).SubFormat;
    GUID g = kSubtypeWaveFormatEx;
    g.Data1 = wfx.wFormatTag;
    return g;
}

// The data format must be a whole, self-consistent KSDATAFORMAT_WAVEFORMATEX.
DWORD CheckFormat(const KsDataFormatWave* f) {
    const WAVEFORMATEX& w = f->WaveFormatEx;
    ULONG waveSize = w.wFormatTag == WAVE_FORMAT_PCM ? 18 : 18 + w.cbSize;
    if (f->DataFormat.FormatSize < sizeof(KsDataFormat) + waveSize)
        return ERROR_INVALID_PARAMETER;
    if (!IsEqualGUID(f->DataFormat.MajorFormat, kFormatAudio) ||
        !IsEqualGUID(f->DataFormat.Specifier, kSpecifierWaveFormatEx) ||
        !IsEqualGUID(f->DataFormat.SubFormat, SubtypeOf(w)))
        return ERROR_NO_MATCH;
    if (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const WAVEFORMATEXTENSIBLE& x = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(w);
        if (w.cbSize < 22 || x.Samples.wValidBitsPerSample > w.wBitsPerSample)
            return ERROR_INVALID_PARAMETER;
    }
    if (w.nChannels == 0 || w.wBitsPerSample == 0 || w.wBitsPerSample % 8 != 0 ||
        w.nBlockAlign != w.nChannels * w.wBitsPerSample / 8 ||
        w.nAvgBytesPerSec != w.nSamplesPerSec * w.nBlockAlign || w.nSamplesPerSec == 0)
        return ERROR_INVALID_PARAMETER;
    return 0;
}

bool InRange(const SimKsRange& r, const WAVEFORMATEX& w) {
    bool major = IsEqualGUID(r.MajorFormat, kGuidNull) || IsEqualGUID(r.MajorFormat, kFormatAudio);
    bool sub = IsEqualGUID(r.SubFormat, kGuidNull) || IsEqualGUID(r.SubFormat, SubtypeOf(w));
    bool specifier =
        IsEqualGUID(r.Specifier, kGuidNull) || IsEqualGUID(r.Specifier, kSpecifierWaveFormatEx);
    return major && sub && specifier && w.nChannels <= r.MaximumChannels &&
           w.wBitsPerSample >= r.MinimumBitsPerSample &&
           w.wBitsPerSample <= r.MaximumBitsPerSample &&
           w.nSamplesPerSec >= r.MinimumSampleFrequency &&
           w.nSamplesPerSec <= r.MaximumSampleFrequency;
}

bool QuirksAllow(const SimKsQuirks& q, const WAVEFORMATEX& w) {
    bool extensible = w.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if ((q.Flags & SIMKS_QUIRK_NO_EXTENSIBLE) && extensible)
        return false;
    if ((q.Flags & SIMKS_QUIRK_NO_PLAIN) && !extensible)
        return false;
    bool width = q.cWidths == 0, rate = q.cRates == 0;
    for (ULONG i = 0; i < q.cWidths && i < 8; ++i)
        width = width || q.Widths[i] == w.wBitsPerSample;
    for (ULONG i = 0; i < q.cRates && i < 16; ++i)
        rate = rate || q.Rates[i] == w.nSamplesPerSec;
    return width && rate;
}

bool OnList(const SimKsAccept& a, const WAVEFORMATEX& w) {
    bool extensible = w.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if (!(a.Spellings & (extensible ? SIMKS_ACCEPT_EXTENSIBLE : SIMKS_ACCEPT_PLAIN)) ||
        w.nChannels != a.Channels || w.wBitsPerSample != a.Container)
        return false;
    if (!extensible)
        return w.wFormatTag == WAVE_FORMAT_PCM && a.Valid == a.Container;
    const WAVEFORMATEXTENSIBLE& x = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(w);
    return x.Samples.wValidBitsPerSample == a.Valid && x.dwChannelMask == a.ChannelMask &&
           IsEqualGUID(x.SubFormat, kSubtypePcm);
}

// The driver's own list, or else the ranges and the quirks.
bool Accepts(const Device& d, const SimKsPinDesc& pin, const WAVEFORMATEX& w) {
    if (d.accepted.empty()) {
        bool ranged = false;
        for (ULONG i = 0; i < pin.cRanges; ++i)
            ranged = ranged || InRange(pin.Ranges[i], w);
        return ranged && QuirksAllow(d.quirks, w);
    }
    bool rate = false, format = false;
    for (DWORD r : d.acceptedRates)
        rate = rate || r == w.nSamplesPerSec;
    for (const SimKsAccept& a : d.accepted)
        format = format || OnList(a, w);
    return rate && format;
}

// Every check of a pin creation on the device; 0 when the pin may be created.
DWORD CheckConnect(const Device& d, const KsPinConnect* c) {
    if (c->PinId >= d.pins.size())
        return ERROR_INVALID_PARAMETER;
    const SimKsPinDesc& pin = d.pins[c->PinId];
    if (pin.Communication != kCommunicationSink && pin.Communication != kCommunicationBoth)
        return ERROR_NOT_SUPPORTED;
    if (c->PinToHandle != NULL)
        return ERROR_NOT_SUPPORTED;
    if (!HasIdent(pin.Interfaces, pin.cInterfaces, c->Interface) ||
        !HasIdent(pin.Mediums, pin.cMediums, c->Medium))
        return ERROR_NO_MATCH;
    const KsDataFormatWave* f = reinterpret_cast<const KsDataFormatWave*>(c + 1);
    DWORD bad = CheckFormat(f);
    if (bad)
        return bad;
    if (!Accepts(d, pin, f->WaveFormatEx))
        return ERROR_NO_MATCH;
    if (d.instances[c->PinId] + HeldElsewhere(d, c->PinId) >= pin.PossibleInstances)
        return ERROR_BUSY;
    return 0;
}

DWORD CreatePin(HANDLE filter, KsPinConnect* connect, ACCESS_MASK access, HANDLE* pin) {
    Handle* h = FindHandle(filter);
    if (!h || h->kind != Kind::Filter)
        return ERROR_INVALID_HANDLE;
    Device& d = *FindDevice(h->index);
    if (d.removed)
        return ERROR_DEVICE_REMOVED;
    if (!connect || !pin || !(access & GENERIC_WRITE))
        return ERROR_INVALID_PARAMETER;
    if (d.createPinError)
        return d.createPinError;
    DWORD bad = CheckConnect(d, connect);
    if (bad)
        return bad;
    int stream = OpenStream(h->index, connect->PinId, connect,
                            reinterpret_cast<const KsDataFormatWave*>(connect + 1));
    HANDLE value = NewHandle(Kind::Pin, stream);
    if (!value) {
        CloseStream(stream);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    ++d.instances[connect->PinId];
    *pin = value;
    return 0;
}

} // namespace

} // namespace simks

extern "C" DWORD WINAPI SimKs_KsCreatePin(HANDLE filter, void* connect, ACCESS_MASK access,
                                          HANDLE* pin) {
    using namespace simks;
    Lock lock;
    Count(SIMKS_REQ_CREATE_PIN);
    return CreatePin(filter, static_cast<KsPinConnect*>(connect), access, pin);
}
