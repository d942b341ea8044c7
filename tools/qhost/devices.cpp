// Listing the render devices with their streaming kind, and choosing the simulated WaveRT device.
#include "tools/qhost/devices.h"

#include "host/settings.h"
#include "ks/enum.h"
#include "ks/rtpin.h"
#include "testbed/simks.h"

#include <ksmedia.h>
#include <cstdio>

namespace {

// How a filter's render pins take audio: a WaveRT pin streams over a cyclic buffer.
const char* StreamingKind(CKsFilter* filter) {
    for (TListNode<CKsPin>* p = filter->m_listRenderSinkPins.m_pHead; p; p = p->pNext)
        if (CKsRtPin::FromPin(p->pData))
            return "WaveRT (looped streaming over a cyclic buffer)";
    return "packets (standard streaming)";
}

} // namespace

int PrintRenderDevices() {
    HRESULT hr = S_OK;
    CKsEnumFilters enumerator(hr);
    GUID categories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    hr = enumerator.EnumFilters(kFilterTypeRender, categories, 2, TRUE, FALSE, TRUE);
    int n = 0;
    for (TListNode<CKsFilter>* f = enumerator.m_listFilters.m_pHead; f && f->pData; f = f->pNext)
        printf("%d. %s\n   %s\n   streaming: %s\n", ++n, f->pData->m_szFriendlyName,
               f->pData->m_szFilterName, StreamingKind(f->pData));
    if (n == 0)
        printf("no KS audio render device found (0x%08lx)\n", (unsigned long)hr);
    enumerator.DestroyLists();
    return n;
}

void SimWaveRtChoice::Choose(bool polled) {
    KSSettings where;
    char previous[MAX_PATH + 1] = "";
    GetPrivateProfileStringA("Quellor", "output_device", "", previous, sizeof previous,
                             where.ini_file);
    m_previous = previous;
    WritePrivateProfileStringA("Quellor", "output_device", SimKs_DevicePath(SIMKS_DEFAULT_WAVERT),
                               where.ini_file);
    SimKsWaveRtOptions options = {};
    options.Flags = polled ? (DWORD)SIMKS_RT_NO_NOTIFICATION : 0;
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &options);
    m_chosen = true;
}

void SimWaveRtChoice::Restore() {
    if (!m_chosen)
        return;
    KSSettings where;
    WritePrivateProfileStringA("Quellor", "output_device", m_previous.c_str(), where.ini_file);
    m_chosen = false;
}
