// Listing the render devices with their streaming kind and data ranges, and choosing a simulated
// device for a run.
#include "tools/qhost/devices.h"

#include "host/settings.h"
#include "engine/candidates.h"
#include "ks/audfilter.h"
#include "ks/enum.h"
#include "ks/rtpin.h"
#include "testbed/simks.h"

#include <ksmedia.h>
#include <cctype>
#include <cstdio>

namespace {

// How a filter's render pins take audio: a WaveRT pin streams over a cyclic buffer.
const char* StreamingKind(CKsFilter* filter) {
    for (TListNode<CKsPin>* p = filter->m_listRenderSinkPins.m_pHead; p; p = p->pNext)
        if (CKsRtPin::FromPin(p->pData))
            return "WaveRT (looped streaming over a cyclic buffer)";
    return "packets (standard streaming)";
}

std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = (char)tolower((unsigned char)c);
    return out;
}

// The data ranges of the filter's render pins, one line each, as the plug-in reads them.
void PrintRanges(CKsFilter* filter) {
    if (filter->m_FilterType != kFilterTypeRender)
        return;
    KSRangeSet set;
    CollectRanges(*static_cast<CKsAudRenFilter*>(filter), &set);
    if (!set.count)
        printf("   range: none (no PCM data ranges)\n");
    for (int i = 0; i < set.count; i++) {
        KSRangeSet one = {};
        one.ranges[0] = set.ranges[i];
        one.count = 1;
        char text[128];
        DescribeRanges(one, text, sizeof text);
        printf("   range: %s\n", text);
    }
}

// Adds one variant of a WaveRT choice to the options; false for a name it does not know.
bool AddVariant(const std::string& name, SimKsWaveRtOptions& o, SimKsQuirks& q) {
    static const struct {
        const char* name;
        DWORD flags, events, quirks;
    } variants[] = {
        {"event", 0, 0, 0},
        {"polled", SIMKS_RT_NO_NOTIFICATION, 0, 0},
        {"frames", SIMKS_RT_ROUND_DOWN_FRAMES, 0, 0},
        {"pages", SIMKS_RT_ROUND_UP_PAGES, 0, 0},
        {"count", SIMKS_RT_COUNT_DIVIDES, 0, 0},
        {"noregister", SIMKS_RT_NO_POSITION_REGISTER, 0, 0},
        {"latency", SIMKS_RT_LATENCY, 0, 0},
        {"jitter", 0, 0, 0},
        {"early", 0, SIMKS_RT_EVENTS_EARLY, 0},
        {"late", 0, SIMKS_RT_EVENTS_LATE, 0},
        {"doubled", 0, SIMKS_RT_EVENTS_DOUBLED, 0},
        {"missed", 0, SIMKS_RT_EVENTS_MISSED_ONCE, 0},
        {"packed", 0, 0, SIMKS_QUIRK_NO_EXTENSIBLE},
        {"constraints", SIMKS_RT_CONSTRAINTS, 0, 0},
        {"packets", SIMKS_RT_PACKET_MODE, 0, 0},
    };
    for (const auto& v : variants) {
        if (name != v.name)
            continue;
        o.Flags |= v.flags;
        o.Events = v.events ? v.events : o.Events;
        o.JitterFrames = v.events || name == "jitter" ? 3 : o.JitterFrames;
        q.Flags |= v.quirks;
        return true;
    }
    return false;
}

// The options and format quirks of a WaveRT choice; false when a part of it is unknown or the first
// part is neither event nor polled.
bool ParseWaveRtChoice(const std::string& choice, SimKsWaveRtOptions& o, SimKsQuirks& q) {
    o = SimKsWaveRtOptions{};
    q = SimKsQuirks{};
    o.Latency = {1764, 10000, 40000};
    size_t start = 0;
    for (int part = 0; start <= choice.size(); part++) {
        size_t end = choice.find(',', start);
        std::string name = choice.substr(start, end == std::string::npos ? end : end - start);
        if ((part == 0) != (name == "event" || name == "polled") || !AddVariant(name, o, q))
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

} // namespace

bool SimDeviceChoice::ValidWaveRt(const std::string& choice) {
    SimKsWaveRtOptions o;
    SimKsQuirks q;
    return ParseWaveRtChoice(choice, o, q);
}

int PrintRenderDevices() {
    HRESULT hr = S_OK;
    CKsEnumFilters enumerator(hr);
    GUID categories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    hr = enumerator.EnumFilters(kFilterTypeRender, categories, 2, TRUE, FALSE, TRUE);
    int n = 0;
    for (TListNode<CKsFilter>* f = enumerator.m_listFilters.m_pHead; f && f->pData; f = f->pNext) {
        printf("%d. %s\n   %s\n   streaming: %s\n", ++n, f->pData->m_szFriendlyName,
               f->pData->m_szFilterName, StreamingKind(f->pData));
        PrintRanges(f->pData);
    }
    if (n == 0)
        printf("no KS audio render device found (0x%08lx)\n", (unsigned long)hr);
    enumerator.DestroyLists();
    return n;
}

void SimDeviceChoice::Choose(const char* path) {
    KSSettings where{};
    ReadSettings(where);
    char previous[MAX_PATH + 1] = "";
    GetPrivateProfileStringA("Quellor", "output_device", "", previous, sizeof previous,
                             where.ini_file);
    m_previous = previous;
    WritePrivateProfileStringA("Quellor", "output_device", path, where.ini_file);
    m_chosen = true;
}

void SimDeviceChoice::ChooseWaveRt(const std::string& choice) {
    Choose(SimKs_DevicePath(SIMKS_DEFAULT_WAVERT));
    m_device = SIMKS_DEFAULT_WAVERT;
    SimKsWaveRtOptions options;
    SimKsQuirks quirks;
    ParseWaveRtChoice(choice, options, quirks);
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &options);
    SimKs_SetQuirks(SIMKS_DEFAULT_WAVERT, &quirks);
}

bool SimDeviceChoice::ChooseZoo(const std::string& name) {
    std::string wanted = Lower(name);
    for (int i = 0; i < SIMKS_ZOO_COUNT; i++) {
        if (Lower(SimKs_ZooName(i)).find(wanted) == std::string::npos)
            continue;
        int device = SimKs_AddZooDevice(i);
        if (device < 0)
            return false;
        Choose(SimKs_DevicePath(device));
        m_device = device;
        return true;
    }
    return false;
}

bool SimDeviceChoice::AddTopology(int layout) {
    if (m_device < 0) {
        m_device = SIMKS_DEFAULT_VERSATILE;
        Choose(SimKs_DevicePath(m_device));
    }
    SimKsTopology topology;
    return SimKs_AddTopology(m_device, layout, &topology) != FALSE;
}

void SimDeviceChoice::Restore() {
    if (!m_chosen)
        return;
    KSSettings where{};
    ReadSettings(where);
    WritePrivateProfileStringA("Quellor", "output_device", m_previous.c_str(), where.ini_file);
    m_chosen = false;
}
