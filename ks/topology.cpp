// The walk to the device's own volume control, and the node property requests on it.
#include "ks/topology.h"

#include "ks/filter.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Largest answer the walk reads for a link name or a range description: real ones take a few
// hundred bytes.
const ULONG kMaxAnswer = 4096;

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
typedef std::unique_ptr<KSMULTIPLE_ITEM, FreeDeleter> MultiBlock;
typedef std::unique_ptr<BYTE, FreeDeleter> ByteBlock;

// What the walk tells its caller.
struct Why {
    char* text;
    size_t size;
    HRESULT Say(HRESULT hr, const char* format, ...)
        __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4))) {
        va_list args;
        va_start(args, format);
        vsnprintf(text, size, format, args);
        va_end(args);
        return hr;
    }
};

// A filter's nodes and connections, each count checked against its block.
struct Graph {
    MultiBlock nodes, connections;
    ULONG nNodes = 0, nConnections = 0;
    const GUID* Types() const { return nodes ? (const GUID*)(nodes.get() + 1) : nullptr; }
    const KSTOPOLOGY_CONNECTION* Connections() const {
        return connections ? (const KSTOPOLOGY_CONNECTION*)(connections.get() + 1) : nullptr;
    }
};

// Filter pins a walk notes; real filters have a handful.
const ULONG kMaxPathPins = 16;
// Nodes a filter may have: real ones have dozens.
const ULONG kMaxNodes = 65536;

// What the walk from a filter pin met: the first volume and mute nodes and the filter pins it
// reached.
struct Path {
    ULONG nVolume = KSFILTER_NODE;
    ULONG nMute = KSFILTER_NODE;
    ULONG pins[kMaxPathPins];
    ULONG nPins = 0;
};

// The walk's working memory, one block: the queue of nodes reached, the connections into each
// node reached, and whether each was reached.
struct WalkMemory {
    std::unique_ptr<ULONG, FreeDeleter> block;
    ULONG* queue;
    ULONG* into;
    BYTE* visited;
    bool Allocate(ULONG nNodes) {
        block.reset((ULONG*)calloc(1, (size_t)nNodes * (2 * sizeof(ULONG) + 1) + 1));
        queue = block.get();
        into = queue + nNodes;
        visited = (BYTE*)(into + nNodes);
        return block != nullptr;
    }
};

HRESULT ReadItems(CKsIrpTarget& target, ULONG nProperty, ULONG cbItem, MultiBlock* block,
                  ULONG* pCount) {
    PKSMULTIPLE_ITEM p = NULL;
    ULONG cb = 0;
    HRESULT hr = target.GetPropertyMulti(KSPROPSETID_Topology, nProperty, &p, &cb);
    block->reset(p);
    *pCount = 0;
    if (FAILED(hr) || !p)
        return hr;
    if (p->Count > (cb - sizeof(KSMULTIPLE_ITEM)) / cbItem || p->Count > kMaxNodes)
        return E_FAIL;
    *pCount = p->Count;
    return S_OK;
}

bool NamesNode(ULONG nNode, ULONG nNodes) {
    return nNode == KSFILTER_NODE || nNode < nNodes;
}

HRESULT ReadGraph(CKsIrpTarget& target, Graph* g, const char* pszFilter, Why& why) {
    HRESULT hr = ReadItems(target, KSPROPERTY_TOPOLOGY_NODES, sizeof(GUID), &g->nodes, &g->nNodes);
    if (FAILED(hr))
        return why.Say(hr, "the %s's node list was refused or malformed (%#08x)", pszFilter,
                       (unsigned)hr);
    hr = ReadItems(target, KSPROPERTY_TOPOLOGY_CONNECTIONS, sizeof(KSTOPOLOGY_CONNECTION),
                   &g->connections, &g->nConnections);
    if (FAILED(hr))
        return why.Say(hr, "the %s's connections were refused or malformed (%#08x)", pszFilter,
                       (unsigned)hr);
    for (ULONG i = 0; i < g->nConnections; i++) {
        const KSTOPOLOGY_CONNECTION& c = g->Connections()[i];
        if (!NamesNode(c.FromNode, g->nNodes) || !NamesNode(c.ToNode, g->nNodes))
            return why.Say(E_FAIL, "a connection of the %s names a node outside its %lu nodes",
                           pszFilter, g->nNodes);
    }
    return S_OK;
}

// True when the nodes reached hold a loop: removing the nodes nothing leads into, one after the
// other, leaves some behind. The queue of the walk is reused as the list of removable nodes.
bool Loops(const Graph& g, WalkMemory& m, ULONG reached) {
    const KSTOPOLOGY_CONNECTION* c = g.Connections();
    auto inside = [&](ULONG n) { return n != KSFILTER_NODE && m.visited[n]; };
    for (ULONG i = 0; i < g.nConnections; i++)
        if (inside(c[i].FromNode) && inside(c[i].ToNode))
            m.into[c[i].ToNode]++;
    ULONG free = 0, removed = 0;
    for (ULONG n = 0; n < g.nNodes; n++)
        if (m.visited[n] && !m.into[n])
            m.queue[free++] = n;
    while (free) {
        ULONG n = m.queue[--free];
        removed++;
        for (ULONG i = 0; i < g.nConnections; i++)
            if (c[i].FromNode == n && inside(c[i].ToNode) && --m.into[c[i].ToNode] == 0)
                m.queue[free++] = c[i].ToNode;
    }
    return removed != reached;
}

// Breadth-first from filter pin nPin along the connections: S_OK, E_FAIL when the part reached
// loops, E_OUTOFMEMORY.
HRESULT Walk(const Graph& g, ULONG nPin, Path* path) {
    WalkMemory m;
    if (!m.Allocate(g.nNodes))
        return E_OUTOFMEMORY;
    const KSTOPOLOGY_CONNECTION* c = g.Connections();
    ULONG reached = 0;
    auto follow = [&](ULONG from, ULONG fromPin) {
        for (ULONG i = 0; i < g.nConnections; i++) {
            if (c[i].FromNode != from || (from == KSFILTER_NODE && c[i].FromNodePin != fromPin))
                continue;
            if (c[i].ToNode == KSFILTER_NODE) {
                if (path->nPins < kMaxPathPins)
                    path->pins[path->nPins++] = c[i].ToNodePin;
            } else if (!m.visited[c[i].ToNode]) {
                m.visited[c[i].ToNode] = 1;
                m.queue[reached++] = c[i].ToNode;
            }
        }
    };
    follow(KSFILTER_NODE, nPin);
    for (ULONG next = 0; next < reached; next++) {
        ULONG n = m.queue[next];
        if (path->nVolume == KSFILTER_NODE && IsEqualGUID(g.Types()[n], KSNODETYPE_VOLUME))
            path->nVolume = n;
        if (path->nMute == KSFILTER_NODE && IsEqualGUID(g.Types()[n], KSNODETYPE_MUTE))
            path->nMute = n;
        follow(n, 0);
    }
    return Loops(g, m, reached) ? E_FAIL : S_OK;
}

// A property request of unknown size on a handle: the size probe, then the answer into a block
// with room for a terminating wide character. Answers larger than kMaxAnswer are refused.
// (Basic-support answers are read by their description instead: ReadBasicSupport.)
HRESULT ReadSized(HANDLE h, void* pRequest, ULONG cbRequest, ULONG cbLeast, ByteBlock* block,
                  ULONG* pcb) {
    ULONG cb = 0;
    HRESULT hr = CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, pRequest, cbRequest, NULL, 0, &cb);
    if (FAILED(hr))
        return hr;
    if (cb < cbLeast || cb > kMaxAnswer)
        return E_FAIL;
    block->reset((BYTE*)calloc(1, cb + sizeof(WCHAR)));
    if (!*block)
        return E_OUTOFMEMORY;
    *pcb = cb;
    return CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, pRequest, cbRequest, block->get(), cb,
                                   NULL);
}

// The filter and pin a bridge pin connects to, as a path CreateFileA opens.
HRESULT ReadPhysicalConnection(CKsFilter& f, ULONG nPin, char* pszPath, size_t cbPath,
                               ULONG* pnToPin) {
    KSP_PIN req = {};
    req.Property.Set = KSPROPSETID_Pin;
    req.Property.Id = KSPROPERTY_PIN_PHYSICALCONNECTION;
    req.Property.Flags = KSPROPERTY_TYPE_GET;
    req.PinId = nPin;
    const ULONG cbHead = offsetof(KSPIN_PHYSICALCONNECTION, SymbolicLinkName);
    ByteBlock block;
    ULONG cb = 0;
    HRESULT hr = ReadSized(f.m_handle, &req, sizeof req, cbHead + sizeof(WCHAR), &block, &cb);
    if (FAILED(hr))
        return hr;
    const KSPIN_PHYSICALCONNECTION* p = (const KSPIN_PHYSICALCONNECTION*)block.get();
    *pnToPin = p->Pin;
    return LinkNameToPath(p->SymbolicLinkName, (cb - cbHead) / sizeof(WCHAR), pszPath, cbPath)
               ? S_OK
               : E_FAIL;
}

KSNODEPROPERTY_AUDIO_CHANNEL NodeRequest(ULONG nProperty, ULONG nFlags, ULONG nNode,
                                         ULONG nChannel) {
    KSNODEPROPERTY_AUDIO_CHANNEL req = {};
    req.NodeProperty.Property.Set = KSPROPSETID_Audio;
    req.NodeProperty.Property.Id = nProperty;
    req.NodeProperty.Property.Flags = nFlags | KSPROPERTY_TYPE_TOPOLOGY;
    req.NodeProperty.NodeId = nNode;
    req.Channel = (LONG)nChannel;
    return req;
}

// The basic-support answer as clients read it: its description first, which gives the size of
// the whole answer, then the whole answer into a block of that size.
HRESULT ReadBasicSupport(HANDLE h, KSNODEPROPERTY_AUDIO_CHANNEL& req, ULONG cbLeast,
                         ByteBlock* block, ULONG* pcb) {
    KSPROPERTY_DESCRIPTION desc = {};
    HRESULT hr =
        CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &req, sizeof req, &desc, sizeof desc, NULL);
    if (FAILED(hr))
        return hr;
    if (desc.DescriptionSize < cbLeast || desc.DescriptionSize > kMaxAnswer)
        return E_FAIL;
    block->reset((BYTE*)calloc(1, desc.DescriptionSize));
    if (!*block)
        return E_OUTOFMEMORY;
    *pcb = desc.DescriptionSize;
    return CKsIrpTarget::SyncIoctl(h, IOCTL_KS_PROPERTY, &req, sizeof req, block->get(),
                                   desc.DescriptionSize, NULL);
}

// Channels of a node: those whose value can be read, from 0 on.
ULONG CountChannels(HANDLE h, ULONG nProperty, ULONG nNode) {
    ULONG n = 0;
    LONG value;
    while (n < kMaxLevelChannels && SUCCEEDED(GetNodeValue(h, nProperty, nNode, n, &value)))
        n++;
    return n;
}

// The volume node's range on each channel, from the basic-support answer: a description, a
// members header and one stepped range per channel (or one for all).
HRESULT ReadRanges(HANDLE h, KsLevelControl* c, Why& why) {
    KSNODEPROPERTY_AUDIO_CHANNEL req =
        NodeRequest(KSPROPERTY_AUDIO_VOLUMELEVEL, KSPROPERTY_TYPE_BASICSUPPORT, c->nVolumeNode, 0);
    const ULONG cbLeast = sizeof(KSPROPERTY_DESCRIPTION) + sizeof(KSPROPERTY_MEMBERSHEADER) +
                          sizeof(KSPROPERTY_STEPPING_LONG);
    ByteBlock block;
    ULONG cb = 0;
    HRESULT hr = ReadBasicSupport(h, req, cbLeast, &block, &cb);
    if (FAILED(hr))
        return why.Say(hr, "the volume node's range was refused or malformed (%#08x)",
                       (unsigned)hr);
    const KSPROPERTY_MEMBERSHEADER* m =
        (const KSPROPERTY_MEMBERSHEADER*)(block.get() + sizeof(KSPROPERTY_DESCRIPTION));
    ULONG room = (cb - sizeof(KSPROPERTY_DESCRIPTION) - sizeof *m);
    if (m->MembersFlags != KSPROPERTY_MEMBER_STEPPEDRANGES ||
        m->MembersSize < sizeof(KSPROPERTY_STEPPING_LONG) || m->MembersCount == 0 ||
        m->MembersCount > room / m->MembersSize)
        return why.Say(E_FAIL, "the volume node's range is not a list of stepped ranges");
    bool perChannel = (m->Flags & KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL) != 0;
    c->nChannels = perChannel ? m->MembersCount
                              : CountChannels(h, KSPROPERTY_AUDIO_VOLUMELEVEL, c->nVolumeNode);
    if (c->nChannels > kMaxLevelChannels)
        c->nChannels = kMaxLevelChannels;
    if (c->nChannels == 0)
        return why.Say(E_FAIL, "the volume node's level cannot be read");
    for (ULONG i = 0; i < c->nChannels; i++) {
        KSPROPERTY_STEPPING_LONG s;
        memcpy(&s, (const BYTE*)(m + 1) + (perChannel ? i : 0) * m->MembersSize, sizeof s);
        if (s.Bounds.SignedMinimum > s.Bounds.SignedMaximum || s.SteppingDelta == 0 ||
            s.SteppingDelta > 0x7FFFFFFFu)
            return why.Say(E_FAIL, "channel %lu's range (%ld to %ld, step %lu) is not usable", i,
                           s.Bounds.SignedMinimum, s.Bounds.SignedMaximum, s.SteppingDelta);
        c->ranges[i] = {s.Bounds.SignedMinimum, s.Bounds.SignedMaximum, (LONG)s.SteppingDelta};
    }
    return S_OK;
}

// The control on filter f at the nodes the path met; S_FALSE when it met no volume node.
HRESULT TakeControl(CKsIrpTarget& f, const char* pszPath, bool bTopology, const Path& path,
                    KsLevelControl* c, Why& why) {
    if (path.nVolume == KSFILTER_NODE)
        return S_FALSE;
    memset(c, 0, sizeof *c);
    lstrcpynA(c->szFilter, pszPath, sizeof c->szFilter);
    c->bOnTopology = bTopology;
    c->nVolumeNode = path.nVolume;
    c->nMuteNode = path.nMute;
    HRESULT hr = ReadRanges(f.m_handle, c, why);
    if (FAILED(hr))
        return hr;
    if (c->nMuteNode != KSFILTER_NODE)
        c->nMuteChannels = CountChannels(f.m_handle, KSPROPERTY_AUDIO_MUTE, c->nMuteNode);
    if (!c->nMuteChannels)
        c->nMuteNode = KSFILTER_NODE;
    return S_OK;
}

// Pins whose physical connection is asked for: those the wave path reached, else every pin but
// the render pin (up to kMaxPathPins).
void BridgeCandidates(CKsFilter& wave, ULONG nRenderPin, Path* path) {
    ULONG count = 0;
    if (path->nPins || FAILED(wave.GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES,
                                                        &count, sizeof count)))
        return;
    for (ULONG i = 0; i < count && path->nPins < kMaxPathPins; i++)
        if (i != nRenderPin)
            path->pins[path->nPins++] = i;
}

// The topology filter's part: the control on its path from the connected pin, S_FALSE when it has
// none or there is no physical connection.
HRESULT FindOnTopology(CKsFilter& wave, ULONG nRenderPin, Path wavePath, KsLevelControl* c,
                       Why& why) {
    char szPath[MAX_PATH];
    ULONG nToPin = 0;
    bool linked = false;
    BridgeCandidates(wave, nRenderPin, &wavePath);
    for (ULONG i = 0; i < wavePath.nPins && !linked; i++)
        linked = SUCCEEDED(
            ReadPhysicalConnection(wave, wavePath.pins[i], szPath, sizeof szPath, &nToPin));
    if (!linked)
        return S_FALSE;
    HRESULT hr = S_OK;
    CKsFilter topology(szPath, hr, "");
    if (SUCCEEDED(hr))
        hr = topology.Instantiate();
    if (FAILED(hr))
        return why.Say(hr, "the topology filter %s cannot be opened (%#08x)", szPath, (unsigned)hr);
    Graph g;
    hr = ReadGraph(topology, &g, "topology filter", why);
    if (FAILED(hr))
        return hr;
    Path path;
    hr = Walk(g, nToPin, &path);
    if (FAILED(hr))
        return why.Say(hr, "the topology filter's connections loop (%#08x)", (unsigned)hr);
    return TakeControl(topology, szPath, true, path, c, why);
}

} // namespace

HRESULT FindLevelControl(CKsFilter& wave, ULONG nRenderPin, KsLevelControl* pControl, char* pszWhy,
                         size_t cbWhy) {
    Why why = {pszWhy, cbWhy};
    why.Say(S_OK, "no volume node");
    Graph g;
    HRESULT hr = ReadGraph(wave, &g, "wave filter", why);
    if (FAILED(hr))
        return hr;
    Path path;
    hr = Walk(g, nRenderPin, &path);
    if (FAILED(hr))
        return why.Say(hr, "the wave filter's connections loop (%#08x)", (unsigned)hr);
    hr = FindOnTopology(wave, nRenderPin, path, pControl, why);
    if (hr == S_FALSE)
        hr = TakeControl(wave, wave.m_szFilterName, false, path, pControl, why);
    if (hr == S_OK)
        why.Say(S_OK, "volume node %lu%s on the %s filter, %lu channels, %.1f to %.1f dB",
                pControl->nVolumeNode, pControl->nMuteNode != KSFILTER_NODE ? " with mute" : "",
                pControl->bOnTopology ? "topology" : "wave", pControl->nChannels,
                pControl->ranges[0].lMinimum / 65536.0, pControl->ranges[0].lMaximum / 65536.0);
    return hr;
}

HRESULT GetNodeValue(HANDLE hFilter, ULONG nProperty, ULONG nNode, ULONG nChannel, LONG* plValue) {
    KSNODEPROPERTY_AUDIO_CHANNEL req = NodeRequest(nProperty, KSPROPERTY_TYPE_GET, nNode, nChannel);
    LONG value = 0;
    ULONG cb = 0;
    HRESULT hr = CKsIrpTarget::SyncIoctl(hFilter, IOCTL_KS_PROPERTY, &req, sizeof req, &value,
                                         sizeof value, &cb);
    if (SUCCEEDED(hr))
        *plValue = value;
    return hr;
}

HRESULT SetNodeValue(HANDLE hFilter, ULONG nProperty, ULONG nNode, ULONG nChannel, LONG lValue) {
    KSNODEPROPERTY_AUDIO_CHANNEL req = NodeRequest(nProperty, KSPROPERTY_TYPE_SET, nNode, nChannel);
    return CKsIrpTarget::SyncIoctl(hFilter, IOCTL_KS_PROPERTY, &req, sizeof req, &lValue,
                                   sizeof lValue, NULL);
}

bool LinkNameToPath(const WCHAR* pwszLink, size_t cchLink, char* pszPath, size_t cbPath) {
    size_t n = 0;
    while (n < cchLink && pwszLink[n])
        n++;
    if (n == 0 || n >= cbPath)
        return false;
    for (size_t i = 0; i < n; i++) {
        if (pwszLink[i] > 0x7E || pwszLink[i] < 0x20)
            return false; // device paths are ASCII
        pszPath[i] = (char)pwszLink[i];
    }
    pszPath[n] = '\0';
    if (n >= 4 && !memcmp(pszPath, "\\??\\", 4))
        pszPath[1] = '\\';
    return true;
}
