// Topology as drivers publish it: connections, bridge pins' physical connections, volume and mute
// nodes with their channels, ranges and the record of every level set; and the usual layouts.
#include "testbed/props.h"

#include <setupapi.h>

#include <cstring>

using namespace simks;

namespace {

typedef std::vector<unsigned char> Bytes;

Answer Refuse(DWORD error) {
    Answer a{};
    a.error = error;
    return a;
}

Answer Give(const void* p, size_t size) {
    Answer a{};
    const unsigned char* b = static_cast<const unsigned char*>(p);
    a.data.assign(b, b + size);
    return a;
}

NodeControl* FindControl(Device& d, ULONG node) {
    for (NodeControl& c : d.controls)
        if ((ULONG)c.node == node)
            return &c;
    return nullptr;
}

// The level a driver applies for a request: clamped into the range and put on its steps. A range
// that makes no sense is taken as it stands.
LONG Applied(LONG asked, const SimKsLevelRange& r) {
    if (r.Minimum > r.Maximum)
        return asked;
    LONGLONG v = asked < r.Minimum ? r.Minimum : asked > r.Maximum ? r.Maximum : asked;
    if (r.Step) {
        v = r.Minimum + (v - r.Minimum + r.Step / 2) / r.Step * (LONGLONG)r.Step;
        if (v > r.Maximum)
            v -= r.Step;
    }
    return (LONG)v;
}

Bytes BasicSupport(const NodeControl& c) {
    ULONG members = c.multichannel ? (ULONG)c.ranges.size() : 1;
    KsPropertyDescription desc = {};
    desc.AccessFlags = kPropGet | kPropSet | kPropBasicSupport;
    desc.DescriptionSize = sizeof desc + sizeof(KsMembersHeader) + members * sizeof(KsSteppingLong);
    desc.MembersListCount = 1;
    KsMembersHeader head = {kMemberSteppedRanges, sizeof(KsSteppingLong), members,
                            c.multichannel ? kMemberMultichannel : 0u};
    Bytes out(desc.DescriptionSize);
    memcpy(out.data(), &desc, sizeof desc);
    memcpy(out.data() + sizeof desc, &head, sizeof head);
    for (ULONG i = 0; i < members; i++) {
        KsSteppingLong s = {};
        s.SteppingDelta = c.ranges[i].Step;
        s.Bounds.SignedMinimum = c.ranges[i].Minimum;
        s.Bounds.SignedMaximum = c.ranges[i].Maximum;
        memcpy(out.data() + sizeof desc + sizeof head + i * sizeof s, &s, sizeof s);
    }
    return out;
}

Answer SetValue(NodeControl& c, int device, ULONG id, ULONG channel, const void* output,
                ULONG outputSize) {
    if (!output || outputSize < sizeof(LONG))
        return Refuse(ERROR_INVALID_PARAMETER);
    LONG asked;
    memcpy(&asked, output, sizeof asked);
    LONG applied = id == kAudioVolumeLevel ? Applied(asked, c.ranges[channel]) : asked != 0;
    c.values[channel] = applied;
    Bed().levelSets.push_back(SimKsLevelSet{device, (ULONG)c.node, channel, id, asked, applied});
    Answer a{};
    a.set = true;
    return a;
}

std::wstring Widen(const char* text) {
    std::wstring w;
    for (; *text; text++)
        w.push_back((WCHAR)(unsigned char)*text);
    return w;
}

// The first pin of the device with the communication (and, for a sink, data flow IN); -1.
int FirstPin(const Device& d, ULONG communication) {
    for (size_t i = 0; i < d.pins.size(); i++)
        if (d.pins[i].Communication == communication &&
            (communication != kCommunicationSink || d.pins[i].DataFlow == kDataFlowIn))
            return (int)i;
    return -1;
}

const SimKsLevelRange kRange = {-96 * 65536, 0, 65536 / 2};

int AddVolume(int device) {
    int node = SimKs_AddNode(device, &kNodeVolume);
    SimKs_SetNodeChannels(device, node, 2, &kRange, TRUE, SIMKS_TOPO_START_LEVEL);
    return node;
}

int AddMute(int device) {
    int node = SimKs_AddNode(device, &kNodeMute);
    SimKs_SetNodeChannels(device, node, 2, &kRange, TRUE, FALSE);
    return node;
}

// Connects the filter pin `from` through the nodes to the filter pin `to`.
void Chain(int device, ULONG from, std::initializer_list<int> nodes, ULONG to) {
    ULONG node = kFilterNode, pin = from;
    for (int n : nodes) {
        SimKs_AddConnection(device, node, pin, (ULONG)n, 1);
        node = (ULONG)n;
        pin = 0;
    }
    SimKs_AddConnection(device, node, pin, kFilterNode, to);
}

} // namespace

Answer simks::AnswerNodeProperty(Device& d, int device, const void* input, ULONG inputSize,
                                 const void* output, ULONG outputSize) {
    if (inputSize < sizeof(KsNodeProperty))
        return Refuse(ERROR_INVALID_PARAMETER);
    const KsNodeProperty* req = static_cast<const KsNodeProperty*>(input);
    ULONG id = req->Property.Id, verb = req->Property.Flags & ~kPropTopology;
    NodeControl* c = FindControl(d, req->NodeId);
    if (!c)
        return Refuse(ERROR_NOT_FOUND);
    const GUID& type = d.nodes[c->node];
    bool volume = IsEqualGUID(type, kNodeVolume) && id == kAudioVolumeLevel;
    bool mute = IsEqualGUID(type, kNodeMute) && id == kAudioMute;
    if (!volume && !mute)
        return Refuse(ERROR_NOT_FOUND);
    if (verb == kPropBasicSupport) {
        if (!volume)
            return Refuse(ERROR_NOT_FOUND);
        // A buffer for the description alone gets the description, which gives the whole size.
        Answer a{};
        a.data = BasicSupport(*c);
        if (outputSize >= sizeof(KsPropertyDescription) && outputSize < a.data.size())
            a.data.resize(sizeof(KsPropertyDescription));
        return a;
    }
    if (inputSize < sizeof(KsNodeChannelProperty))
        return Refuse(ERROR_INVALID_PARAMETER);
    LONG channel = static_cast<const KsNodeChannelProperty*>(input)->Channel;
    if (channel < 0 || (size_t)channel >= c->values.size())
        return Refuse(ERROR_INVALID_PARAMETER);
    if (verb == kPropGet)
        return Give(&c->values[channel], sizeof(LONG));
    if (verb == kPropSet)
        return SetValue(*c, device, id, (ULONG)channel, output, outputSize);
    return Refuse(ERROR_INVALID_FUNCTION);
}

std::vector<unsigned char> simks::ConnectionsAnswer(const Device& d) {
    KsMultipleItem head = {ULONG(sizeof head + d.connections.size() * sizeof(KsTopologyConnection)),
                           (ULONG)d.connections.size()};
    Bytes out(head.Size);
    memcpy(out.data(), &head, sizeof head);
    if (!d.connections.empty())
        memcpy(out.data() + sizeof head, d.connections.data(),
               d.connections.size() * sizeof(KsTopologyConnection));
    return out;
}

std::vector<unsigned char> simks::PhysicalAnswer(const Device& d, ULONG pin) {
    for (const Physical& p : d.physical) {
        if ((ULONG)p.pin != pin)
            continue;
        ULONG size = (ULONG)(offsetof(KsPinPhysicalConnection, SymbolicLinkName) +
                             (p.link.size() + 1) * sizeof(WCHAR));
        Bytes out(size, 0);
        memcpy(out.data(), &size, sizeof size);
        memcpy(out.data() + sizeof size, &p.toPin, sizeof p.toPin);
        memcpy(out.data() + 2 * sizeof(ULONG), p.link.c_str(), p.link.size() * sizeof(WCHAR));
        return out;
    }
    return Bytes();
}

extern "C" {

BOOL SimKs_AddConnection(int device, ULONG fromNode, ULONG fromPin, ULONG toNode, ULONG toPin) {
    return ChangeDevice(device, [&](Device& d) {
        d.connections.push_back(KsTopologyConnection{fromNode, fromPin, toNode, toPin});
    });
}

BOOL SimKs_SetPhysicalConnection(int device, int pin, const char* linkName, ULONG toPin) {
    if (!linkName)
        return FALSE;
    return ChangeDevice(device, [&](Device& d) {
        d.physical.push_back(Physical{pin, Widen(linkName), toPin});
    });
}

BOOL SimKs_SetNodeChannels(int device, int node, ULONG channels, const SimKsLevelRange* range,
                           BOOL multichannel, LONG start) {
    if (!range || channels == 0)
        return FALSE;
    BOOL known = FALSE;
    ChangeDevice(device, [&](Device& d) {
        if (node < 0 || (size_t)node >= d.nodes.size())
            return;
        NodeControl* c = FindControl(d, (ULONG)node);
        if (!c) {
            d.controls.push_back(NodeControl{node, false, {}, {}});
            c = &d.controls.back();
        }
        c->multichannel = multichannel != FALSE;
        c->ranges.assign(channels, *range);
        c->values.assign(channels, start);
        known = TRUE;
    });
    return known;
}

BOOL SimKs_GetNodeValue(int device, int node, ULONG channel, LONG* value) {
    BOOL found = FALSE;
    ChangeDevice(device, [&](Device& d) {
        NodeControl* c = FindControl(d, (ULONG)node);
        if (c && value && channel < c->values.size()) {
            *value = c->values[channel];
            found = TRUE;
        }
    });
    return found;
}

BOOL SimKs_SetNodeValue(int device, int node, ULONG channel, LONG value) {
    BOOL found = FALSE;
    ChangeDevice(device, [&](Device& d) {
        NodeControl* c = FindControl(d, (ULONG)node);
        if (c && channel < c->values.size()) {
            c->values[channel] = value;
            found = TRUE;
        }
    });
    return found;
}

int SimKs_LevelSetCount(void) {
    Lock lock;
    return (int)Bed().levelSets.size();
}

BOOL SimKs_GetLevelSet(int index, SimKsLevelSet* set) {
    Lock lock;
    return CopyItem(Bed().levelSets, index, set);
}

BOOL SimKs_AddTopology(int renderDevice, int layout, SimKsTopology* topology) {
    std::string path;
    int renderPin = -1, bridge = -1;
    {
        Lock lock;
        Device* d = FindDevice(renderDevice);
        if (!d || !topology || layout < SIMKS_TOPO_VOLUME_MUTE || layout > SIMKS_TOPO_NONE)
            return FALSE;
        path = d->path;
        renderPin = FirstPin(*d, kCommunicationSink);
        bridge = FirstPin(*d, kCommunicationBridge);
    }
    if (renderPin < 0 || path.compare(0, 4, "\\\\?\\") != 0)
        return FALSE;
    if (bridge < 0) {
        AddBridgePin(renderDevice, kDataFlowOut, kNodeSpeaker);
        Lock lock;
        bridge = FirstPin(*FindDevice(renderDevice), kCommunicationBridge);
    }
    int topo = SimKs_AddDevice((path + "topology").c_str(), "Topology");
    if (topo < 0)
        return FALSE;
    SimKs_AddCategory(topo, &kCategoryAudio, SPINT_ACTIVE);
    SimKs_AddCategory(topo, &kCategoryTopology, SPINT_ACTIVE);
    AddBridgePin(topo, kDataFlowIn, kNodeSpeaker);
    AddBridgePin(topo, kDataFlowOut, kNodeSpeaker);
    SimKs_SetPhysicalConnection(renderDevice, bridge,
                                ("\\??\\" + path.substr(4) + "topology").c_str(), 0);
    *topology = SimKsTopology{topo, -1, -1, -1};
    int dac = SimKs_AddNode(renderDevice, &kNodeDac);
    if (layout == SIMKS_TOPO_WAVE_VOLUME) {
        int volume = AddVolume(renderDevice);
        Chain(renderDevice, (ULONG)renderPin, {volume, dac}, (ULONG)bridge);
        *topology = SimKsTopology{topo, renderDevice, volume, -1};
    } else {
        Chain(renderDevice, (ULONG)renderPin, {dac}, (ULONG)bridge);
    }
    if (layout == SIMKS_TOPO_VOLUME_MUTE) {
        int volume = AddVolume(topo), mute = AddMute(topo);
        Chain(topo, 0, {volume, mute}, 1);
        *topology = SimKsTopology{topo, topo, volume, mute};
    } else {
        Chain(topo, 0, {}, 1);
    }
    return TRUE;
}

} // extern "C"
