// KS property answers: KSPROPSETID_Pin and KSPROPSETID_Topology on a filter, the connection
// state on a pin, each shaped by the first matching property fault.
#include "testbed/props.h"

#include "testbed/stream.h"
#include "testbed/wavert.h"

#include <cstddef>
#include <cstring>

namespace simks {

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes Value(const void* p, size_t size) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    return Bytes(b, b + size);
}

Bytes Multi(const void* items, ULONG itemSize, ULONG count) {
    KsMultipleItem head{ULONG(sizeof(KsMultipleItem) + itemSize * count), count};
    Bytes out(head.Size);
    memcpy(out.data(), &head, sizeof head);
    if (count)
        memcpy(out.data() + sizeof head, items, itemSize * count);
    return out;
}

KsDataRangeAudio RangeRecord(const SimKsRange& r) {
    KsDataRangeAudio a;
    memset(&a, 0, sizeof a);
    a.DataRange.FormatSize = sizeof a;
    a.DataRange.MajorFormat = r.MajorFormat;
    a.DataRange.SubFormat = r.SubFormat;
    a.DataRange.Specifier = r.Specifier;
    a.MaximumChannels = r.MaximumChannels;
    a.MinimumBitsPerSample = r.MinimumBitsPerSample;
    a.MaximumBitsPerSample = r.MaximumBitsPerSample;
    a.MinimumSampleFrequency = r.MinimumSampleFrequency;
    a.MaximumSampleFrequency = r.MaximumSampleFrequency;
    return a;
}

// The attribute list a Windows 10 driver puts after a range: the default signal-processing mode.
// The GUIDs are KSATTRIBUTEID_AUDIOSIGNALPROCESSING_MODE and AUDIO_SIGNALPROCESSINGMODE_DEFAULT.
Bytes AttributeList() {
    const GUID mode = {
        0xE1F89EB5, 0x5F46, 0x419B, {0x96, 0x7B, 0xFF, 0x67, 0x70, 0xB9, 0x84, 0x01}};
    const GUID deflt = {
        0xC18E2F7E, 0x933D, 0x4965, {0xB7, 0xD1, 0x1E, 0xEF, 0x22, 0x8D, 0x2A, 0xF3}};
    struct {
        KsMultipleItem head;
        KsAttribute attribute;
        GUID value;
    } list = {{sizeof list, 1}, {sizeof list.attribute + sizeof list.value, 0, mode}, deflt};
    static_assert(sizeof list == 48, "a list of one signal-processing mode");
    return Value(&list, sizeof list);
}

// Pads the block to the 8-byte boundary the next item starts on.
void Pad(Bytes& out) {
    out.resize((out.size() + 7) & ~size_t(7), 0);
}

// The data ranges block in the device's layout; the first range is cut to firstSize bytes (its
// FormatSize says so).
Bytes Ranges(const Device& d, const SimKsPinDesc& pin, ULONG firstSize) {
    const ULONG kTight = offsetof(KsDataRangeAudio, MaximumSampleFrequency) + sizeof(ULONG);
    Bytes out(sizeof(KsMultipleItem), 0);
    for (ULONG i = 0; i < pin.cRanges; ++i) {
        KsDataRangeAudio a = RangeRecord(pin.Ranges[i]);
        ULONG size = i == 0 && firstSize < sizeof a ? firstSize : ULONG(sizeof a);
        if ((d.rangeLayout & SIMKS_RANGES_TIGHT) && size > kTight)
            size = kTight;
        if (size >= sizeof(ULONG))
            a.DataRange.FormatSize = size;
        if (d.rangeLayout & SIMKS_RANGES_ATTRIBUTES)
            a.DataRange.Flags |= kRangeAttributes;
        Bytes item = Value(&a, size);
        out.insert(out.end(), item.begin(), item.end());
        Pad(out);
        if (d.rangeLayout & SIMKS_RANGES_ATTRIBUTES) {
            Bytes list = AttributeList();
            out.insert(out.end(), list.begin(), list.end());
        }
    }
    KsMultipleItem head{ULONG(out.size()), pin.cRanges};
    memcpy(out.data(), &head, sizeof head);
    return out;
}

bool IsMulti(const GUID& set, ULONG id) {
    if (IsEqualGUID(set, kSetTopology))
        return id == kTopologyNodes || id == kTopologyCategories || id == kTopologyConnections;
    return IsEqualGUID(set, kSetPin) &&
           (id == kPinDataRanges || id == kPinInterfaces || id == kPinMediums);
}

bool Applies(const PropFault& f, int pin, const GUID& set, ULONG id) {
    if (f.pin != -1 && f.pin != pin)
        return false;
    if (!f.anySet && !IsEqualGUID(f.set, set))
        return false;
    if (f.id != SIMKS_ANY_ID && f.id != id)
        return false;
    bool ranges = IsEqualGUID(set, kSetPin) && id == kPinDataRanges;
    switch (f.kind) {
    case SIMKS_PROP_SHORT:
    case SIMKS_PROP_COUNT_PAST:
        return IsMulti(set, id);
    case SIMKS_PROP_RANGE_SMALL:
    case SIMKS_PROP_RANGE_PAST:
        return ranges;
    default:
        return true;
    }
}

const PropFault* MatchFault(const Device& d, int pin, const GUID& set, ULONG id) {
    for (const PropFault& f : d.propFaults)
        if (Applies(f, pin, set, id))
            return &f;
    return nullptr;
}

Answer Error(DWORD error) {
    Answer a{};
    a.error = error;
    return a;
}

Answer Data(const Bytes& data) {
    Answer a{};
    a.data = data;
    return a;
}

Answer PinProperty(const Device& d, const KsPinProperty* req, ULONG inputSize, ULONG rangeCut) {
    ULONG id = req->Property.Id;
    if (id == kPinCTypes) {
        ULONG count = (ULONG)d.pins.size();
        return Data(Value(&count, sizeof count));
    }
    if (inputSize < sizeof(KsPinProperty) || req->Reserved != 0 || req->PinId >= d.pins.size())
        return Error(ERROR_INVALID_PARAMETER);
    const SimKsPinDesc& pin = d.pins[req->PinId];
    KsPinCInstances inst{pin.PossibleInstances,
                         d.instances[req->PinId] + HeldElsewhere(d, req->PinId)};
    switch (id) {
    case kPinCInstances:
        return Data(Value(&inst, sizeof inst));
    case kPinGlobalCInstances:
        inst.PossibleCount = pin.GlobalPossibleInstances;
        return Data(Value(&inst, sizeof inst));
    case kPinDataFlow:
        return Data(Value(&pin.DataFlow, sizeof pin.DataFlow));
    case kPinCommunication:
        return Data(Value(&pin.Communication, sizeof pin.Communication));
    case kPinDataRanges:
        return Data(Ranges(d, pin, rangeCut));
    case kPinInterfaces:
        return Data(Multi(pin.Interfaces, sizeof(SimKsIdent), pin.cInterfaces));
    case kPinMediums:
        return Data(Multi(pin.Mediums, sizeof(SimKsIdent), pin.cMediums));
    case kPinCategory:
        if (IsEqualGUID(pin.Category, kGuidNull))
            return Error(ERROR_NOT_FOUND);
        return Data(Value(&pin.Category, sizeof pin.Category));
    case kPinPhysicalConnection: {
        Bytes link = PhysicalAnswer(d, req->PinId);
        return link.empty() ? Error(ERROR_NOT_FOUND) : Data(link);
    }
    case kPinName:
        if (!pin.Name[0])
            return Error(ERROR_NOT_FOUND);
        return Data(Value(pin.Name, (lstrlenW(pin.Name) + 1) * sizeof(WCHAR)));
    default:
        return Error(ERROR_NOT_FOUND);
    }
}

Answer TopologyProperty(const Device& d, ULONG id) {
    if (id == kTopologyNodes)
        return Data(Multi(d.nodes.data(), sizeof(GUID), (ULONG)d.nodes.size()));
    if (id == kTopologyConnections)
        return Data(ConnectionsAnswer(d));
    if (id == kTopologyCategories) {
        std::vector<GUID> cats;
        for (const Category& c : d.categories)
            cats.push_back(c.guid);
        return Data(Multi(cats.data(), sizeof(GUID), (ULONG)cats.size()));
    }
    return Error(ERROR_NOT_FOUND);
}

Answer FilterProperty(const Device& d, const KsIdentifier* req, ULONG inputSize, ULONG rangeCut) {
    if ((req->Flags & ~kPropTopology) != kPropGet)
        return Error(ERROR_INVALID_FUNCTION);
    if (IsEqualGUID(req->Set, kSetPin))
        return PinProperty(d, reinterpret_cast<const KsPinProperty*>(req), inputSize, rangeCut);
    if (IsEqualGUID(req->Set, kSetTopology))
        return TopologyProperty(d, req->Id);
    return Error(ERROR_SET_NOT_FOUND);
}

// Counts a request that sets state against the device's state fault: 0, or the fault's mode.
int StateFaultHit(Device& d, ULONG state) {
    StateFault& f = d.stateFault;
    if (f.mode == SIMKS_STATE_OK || (f.state != SIMKS_ANY_STATE && f.state != state))
        return SIMKS_STATE_OK;
    ULONG n = ++f.seen;
    bool hit = n >= f.first && (f.count == 0 || n - f.first < f.count);
    return hit ? f.mode : SIMKS_STATE_OK;
}

Answer StateProperty(int stream, const KsIdentifier* req, const void* output, ULONG outputSize) {
    if (!IsEqualGUID(req->Set, kSetConnection))
        return Error(ERROR_SET_NOT_FOUND);
    if (req->Id != kConnectionState)
        return Error(ERROR_NOT_FOUND);
    Stream* s = FindStream(stream);
    if (req->Flags == kPropGet)
        return Data(Value(&s->info.State, sizeof s->info.State));
    if (req->Flags != kPropSet)
        return Error(ERROR_INVALID_FUNCTION);
    Count(SIMKS_REQ_SET_STATE);
    if (!output || outputSize < sizeof(KsState))
        return Error(ERROR_INVALID_PARAMETER);
    ULONG state = *static_cast<const ULONG*>(output);
    if (state > kStateRun)
        return Error(ERROR_INVALID_PARAMETER);
    Device& d = *FindDevice(s->device);
    int fault = StateFaultHit(d, state);
    if (fault == SIMKS_STATE_FAIL)
        return Error(d.stateFault.code);
    DWORD refused = CheckWaveRtState(*s, state);
    if (refused)
        return Error(refused);
    if (fault != SIMKS_STATE_IGNORE)
        SetStreamState(stream, state);
    Answer a{};
    a.set = true;
    return a;
}

// Bends a well-formed multi-item answer as the fault says.
void Malform(Bytes& data, const PropFault& f) {
    if (f.kind == SIMKS_PROP_SHORT) {
        data.resize(f.param < sizeof(KsMultipleItem) ? f.param : sizeof(KsMultipleItem) - 1);
    } else if (f.kind == SIMKS_PROP_COUNT_PAST) {
        reinterpret_cast<KsMultipleItem*>(data.data())->Count += f.param;
    } else if (f.kind == SIMKS_PROP_RANGE_PAST && data.size() >= sizeof(KsMultipleItem) + 88) {
        KsDataFormat* last = reinterpret_cast<KsDataFormat*>(data.data() + data.size() - 88);
        last->FormatSize += f.param;
    }
}

} // namespace

Answer AnswerProperty(int device, int stream, const void* input, ULONG inputSize,
                      const void* output, ULONG outputSize) {
    const Device& d = *FindDevice(device);
    if (!input || inputSize < sizeof(KsIdentifier))
        return Error(ERROR_INVALID_PARAMETER);
    const KsIdentifier* req = static_cast<const KsIdentifier*>(input);
    int pin = -1;
    if (stream >= 0)
        pin = (int)FindStream(stream)->pinId;
    else if (IsEqualGUID(req->Set, kSetPin) && inputSize >= sizeof(KsPinProperty))
        pin = (int)static_cast<const KsPinProperty*>(input)->PinId;
    const PropFault* f = MatchFault(d, pin, req->Set, req->Id);
    if (f && f->kind == SIMKS_PROP_FAIL)
        return Error(f->param);
    ULONG rangeCut = f && f->kind == SIMKS_PROP_RANGE_SMALL ? f->param : 0xFFFFFFFFu;
    Answer a;
    if (stream < 0 && IsEqualGUID(req->Set, kSetAudio) && (req->Flags & kPropTopology))
        a = AnswerNodeProperty(*FindDevice(device), device, input, inputSize, output, outputSize);
    else if (stream < 0)
        a = FilterProperty(d, req, inputSize, rangeCut);
    else if (FindStream(stream)->rt.active && !IsEqualGUID(req->Set, kSetConnection))
        a = AnswerWaveRt(stream, input, inputSize, output, outputSize);
    else if (IsPositionRequest(req))
        a = StandardPosition(stream, req, outputSize);
    else
        a = StateProperty(stream, req, output, outputSize);
    if (f && !a.error)
        Malform(a.data, *f);
    if (f && f->kind == SIMKS_PROP_LATE) {
        a.late = true;
        a.lateMs = f->param;
    }
    return a;
}

} // namespace simks
