// CKsEnumFilters: the SetupAPI walk over the device interfaces of a set of categories, and the
// filter objects made of them.
#include "ks/enum.h"

#include "diag/log.h"
#include "diag/owned.h"
#include "ks/audfilter.h"
#include "ks/constraints.h"
#include "ks/kstrace.h"
#include "ks/wavert.h"

#include <setupapi.h>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

// The detail block: the fixed part of a SP_DEVICE_INTERFACE_DETAIL_DATA_A (its cbSize) followed
// by room for a device path of up to kDevicePathRoom bytes.
const DWORD kDevicePathRoom = 2 * MAX_PATH;
const DWORD kDetailBlockSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + kDevicePathRoom;
#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "x86_64: DWORD and path, padded");
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "i686: DWORD and path, packed");
#endif

CKsEnumFilters::CKsEnumFilters(HRESULT& hr) {
    KsTraceEnter("CKsEnumFilters::CKsEnumFilters()");
    hr = S_OK;
    KsTraceLeave("CKsEnumFilters::CKsEnumFilters", hr);
}

CKsEnumFilters::~CKsEnumFilters() {
    KsTraceEnter("CKsEnumFilters::~CKsEnumFilters()");
    HRESULT hr = CKsEnumFilters::DestroyLists();
    assert(SUCCEEDED(hr));
    KsTraceLeave("CKsEnumFilters::~CKsEnumFilters", hr);
}

HRESULT CKsEnumFilters::DestroyLists() {
    KsTraceEnter("CKsEnumFilters::DestroyLists()");
    while (m_listFilters.m_pHead)
        delete m_listFilters.RemoveHead();
    return KsTraceLeave("CKsEnumFilters::DestroyLists", S_OK);
}

// Reads the interface's "FriendlyName" into szName (MAX_PATH bytes): empty when the key or the
// value cannot be read, cut to 259 characters when it is stored without a terminator.
static void ReadFriendlyName(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface, char* szName) {
    memset(szName, 0, MAX_PATH);
    UniqueRegKey key(
        SetupDiOpenDeviceInterfaceRegKey(hSet, pInterface, 0, KEY_QUERY_VALUE | KEY_SET_VALUE));
    if (!key.Valid())
        return;
    DWORD cbName = MAX_PATH;
    LONG lResult = RegQueryValueExA(key.Get(), "FriendlyName", NULL, NULL, (LPBYTE)szName, &cbName);
    if (ERROR_SUCCESS != lResult)
        szName[0] = '\0';
    szName[MAX_PATH - 1] = '\0';
}

// TRUE when the interface has an active alias in every category after the first.
static BOOL HasActiveAliases(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface,
                             const GUID* aguidCategories, ULONG cguidCategories) {
    for (ULONG i = 1; i < cguidCategories; i++) {
        SP_DEVICE_INTERFACE_DATA alias;
        memset(&alias, 0, sizeof alias);
        alias.cbSize = sizeof alias;
        if (!SetupDiGetDeviceInterfaceAlias(hSet, pInterface, &aguidCategories[i], &alias)) {
            DebugTrace(5, "Failed to get requested DeviceInterfaceAlias");
            return FALSE;
        }
        if (0 == alias.Flags || (alias.Flags & SPINT_REMOVED)) {
            DebugTrace(5, "DeviceInterfaceAlias disabled.");
            return FALSE;
        }
    }
    return TRUE;
}

// TRUE when the interface has an active alias in KSCATEGORY_REALTIME: a WaveRT filter. Asked
// quietly: most devices have no such alias.
static BOOL IsRealtime(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface) {
    SP_DEVICE_INTERFACE_DATA alias;
    memset(&alias, 0, sizeof alias);
    alias.cbSize = sizeof alias;
    if (!SetupDiGetDeviceInterfaceAlias(hSet, pInterface, &KSCATEGORY_REALTIME, &alias))
        return FALSE;
    return 0 != alias.Flags && !(alias.Flags & SPINT_REMOVED);
}

static CKsFilter* NewFilter(int nFilterType, LPCSTR pszPath, HRESULT& hr, LPCSTR pszName) {
    switch (nFilterType) {
    case kFilterTypeRender:
        return new (std::nothrow) CKsAudRenFilter(pszPath, hr, pszName);
    case kFilterTypeCapture:
        return new (std::nothrow) CKsAudCapFilter(pszPath, hr, pszName);
    default:
        return new (std::nothrow) CKsFilter(pszPath, hr, pszName);
    }
}

// Creates the filter for one device and prepares it as asked; NULL (filter deleted, message
// written) when any step fails.
static CKsFilter* MakeFilter(int nFilterType, LPCSTR pszPath, LPCSTR pszName, BOOL fRealtime,
                             BOOL fEnumeratePins, BOOL fEnumerateNodes, BOOL fInstantiate) {
    HRESULT hr = S_OK;
    const char* pszStep = "CKsFilter::CKsFilter";
    CKsFilter* pFilter = NewFilter(nFilterType, pszPath, hr, pszName);
    if (!pFilter)
        hr = E_OUTOFMEMORY;
    else
        pFilter->m_bRealtime = fRealtime;
    if (SUCCEEDED(hr) && (fEnumeratePins || fEnumerateNodes || fInstantiate)) {
        pszStep = "CKsFilter::Instantiate";
        hr = pFilter->Instantiate();
        if (fEnumerateNodes && SUCCEEDED(hr)) {
            pszStep = "CKsFilter::EnumerateNodes";
            hr = pFilter->EnumerateNodes();
        }
        if (fEnumeratePins && SUCCEEDED(hr)) {
            pszStep = "CKsFilter::EnumeratePins";
            hr = pFilter->EnumeratePins();
        }
    }
    if (FAILED(hr)) {
        delete pFilter;
        DebugTrace(1, "Failed to create filter for %s", pszPath);
        DiagLog(1, "%s for %s failed, hr=0x%08x", pszStep, pszPath, (unsigned)hr);
        return NULL;
    }
    return pFilter;
}

// What one enumeration asks for.
struct EnumRequest {
    int nFilterType;
    const GUID* aguidCategories;
    ULONG cguidCategories;
    BOOL fEnumeratePins;
    BOOL fEnumerateNodes;
    BOOL fInstantiate;
};

// Makes a filter of one interface and appends it to listFilters, unless the interface is skipped.
static void AddInterface(HDEVINFO hSet, PSP_DEVICE_INTERFACE_DATA pInterface,
                         PSP_DEVINFO_DATA pDevInfo, char* pDetailBlock, const EnumRequest& req,
                         TList<CKsFilter>& listFilters) {
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_A)pDetailBlock;
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(hSet, pInterface, pDetail, kDetailBlockSize, NULL,
                                          pDevInfo))
        return;
    // The device path ends within the block, whatever the answer.
    pDetailBlock[kDetailBlockSize - 1] = '\0';
    char szName[MAX_PATH];
    ReadFriendlyName(hSet, pInterface, szName);
    if (!HasActiveAliases(hSet, pInterface, req.aguidCategories, req.cguidCategories))
        return;
    CKsFilter* pFilter =
        MakeFilter(req.nFilterType, pDetail->DevicePath, szName, IsRealtime(hSet, pInterface),
                   req.fEnumeratePins, req.fEnumerateNodes, req.fInstantiate);
    if (!pFilter)
        return;
    pFilter->m_cbPacketAlign = ReadPacketAlignment(hSet, pInterface, pDetail->DevicePath);
    BOOL bAdded = NULL != listFilters.AddTail(pFilter);
    DiagLog(1, "Enumerated Filter:\n  Friendly Name:\n  %s\n  Filter Type = %d\n\n", szName,
            req.nFilterType);
    if (!bAdded) {
        delete pFilter;
        DebugTrace(1, "Failed to create filter for %s", pDetail->DevicePath);
    }
}

/*----------------------------------------------------------------------------------------------
 * WalkInterfaces: every interface of the first category in the set, in platform order, until
 * SetupDiEnumDeviceInterfaces says there are no more. Only running out of memory for the detail
 * block ends the walk early (E_OUTOFMEMORY); a device that fails is skipped.
 *--------------------------------------------------------------------------------------------*/
static HRESULT WalkInterfaces(HDEVINFO hSet, const EnumRequest& req,
                              TList<CKsFilter>& listFilters) {
    for (DWORD nIndex = 0;; nIndex++) {
        SP_DEVICE_INTERFACE_DATA interfaceData;
        SP_DEVINFO_DATA devInfo;
        memset(&interfaceData, 0, sizeof interfaceData);
        interfaceData.cbSize = sizeof interfaceData;
        memset(&devInfo, 0, sizeof devInfo);
        devInfo.cbSize = sizeof devInfo;
        if (!SetupDiEnumDeviceInterfaces(hSet, NULL, &req.aguidCategories[0], nIndex,
                                         &interfaceData))
            return S_OK;
        char* pDetailBlock = (char*)malloc(kDetailBlockSize);
        if (!pDetailBlock) {
            DebugTrace(4, "Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure");
            return E_OUTOFMEMORY;
        }
        AddInterface(hSet, &interfaceData, &devInfo, pDetailBlock, req, listFilters);
        free(pDetailBlock);
    }
}

HRESULT CKsEnumFilters::EnumFilters(int nFilterType, const GUID* aguidCategories,
                                    ULONG cguidCategories, BOOL fEnumeratePins,
                                    BOOL fEnumerateNodes, BOOL fInstantiate) {
    KsTraceEnter("CKsEnumFilters::EnumFilters()");
    HRESULT hr = DestroyLists();
    if (FAILED(hr))
        return KsTraceLeave("CKsEnumFilters::EnumFilters", hr);
    if (aguidCategories && cguidCategories && !IsEqualGUID(aguidCategories[0], GUID_NULL)) {
        UniqueDevInfo set(SetupDiGetClassDevsA(&aguidCategories[0], NULL, NULL,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (!set.Valid()) {
            DebugTrace(4, "No devices found");
            hr = E_FAIL;
        } else {
            EnumRequest req = {nFilterType,    aguidCategories, cguidCategories,
                               fEnumeratePins, fEnumerateNodes, fInstantiate};
            hr = WalkInterfaces(set.Get(), req, m_listFilters);
        }
    }
    if (SUCCEEDED(hr) && !m_listFilters.m_pHead)
        hr = E_FAIL;
    return KsTraceLeave("CKsEnumFilters::EnumFilters", hr);
}
