// The audio pins: the connect request, the interface, medium and data-range checks, the format
// test and the format write.
#include "ks/audpin.h"

#include "ks/kstrace.h"

#include <cassert>
#include <cstddef>
#include <cstdlib>
#include <cstring>

// The data format follows the KSPIN_CONNECT, whose size the code takes from the header; the
// figures pin the platform's layout down for each architecture.
#ifdef _WIN64
static_assert(sizeof(KSPIN_CONNECT) == 72, "x86_64: a 64-bit PinToHandle, padded after PinId");
#else
static_assert(sizeof(KSPIN_CONNECT) == 64, "i686: a 64-byte KSPIN_CONNECT");
#endif
static_assert(sizeof(KSDATAFORMAT) == 64, "both: the wave format follows a 64-byte KSDATAFORMAT");
static_assert(sizeof(KSDATAFORMAT_WAVEFORMATEX) == 82, "both: a plain wave format is 18 bytes");

// Size of the connect block for a wave format of cbFormat bytes.
static ULONG ConnectSize(ULONG cbFormat) {
    return sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + cbFormat;
}

CKsAudPin::CKsAudPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr, ULONG nInterface)
    : CKsPin(pFilter, nId, hr), m_pksDataFormatWfx(NULL) {
    KsTraceEnter("CKsAudPin::CKsAudPin()");
    if (FAILED(hr)) {
        KsTraceLeave("CKsAudPin::CKsAudPin", hr);
        return;
    }
    m_pksPinCreate = (PKSPIN_CONNECT)calloc(1, ConnectSize(sizeof(WAVEFORMATEX)));
    if (!m_pksPinCreate) {
        DebugTrace(1, "Failed to allocate m_pksPinCreate");
        hr = E_OUTOFMEMORY;
        KsTraceLeave("CKsAudPin::CKsAudPin", hr);
        return;
    }
    m_cbPinCreate = ConnectSize(sizeof(WAVEFORMATEX));

    // The block is zeroed: flags, reserved fields, the sample size and the wave format stay 0
    // until SetFormat.
    PKSPIN_CONNECT pConnect = m_pksPinCreate;
    pConnect->Interface.Set = KSINTERFACESETID_Standard;
    pConnect->Interface.Id = nInterface;
    pConnect->Medium.Set = KSMEDIUMSETID_Standard;
    pConnect->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    pConnect->PinId = m_nId;
    pConnect->PinToHandle = NULL;
    pConnect->Priority.PriorityClass = KSPRIORITY_NORMAL;
    pConnect->Priority.PrioritySubClass = 1;
    m_pksDataFormatWfx = (PKSDATAFORMAT_WAVEFORMATEX)(pConnect + 1);
    KSDATAFORMAT& format = m_pksDataFormatWfx->DataFormat;
    format.FormatSize = sizeof(KSDATAFORMAT_WAVEFORMATEX);
    format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;

    hr = Init();
    KsTraceLeave("CKsAudPin::CKsAudPin", hr);
}

CKsAudPin::~CKsAudPin() {
    KsTraceEnter("CKsAudPin::~CKsAudPin()");
    while (m_listDataRanges.m_pHead)
        free(m_listDataRanges.RemoveHead());
    KsTraceLeave("CKsAudPin::~CKsAudPin()");
}

// TRUE when some of the cIds identifiers is (guidSet, nId): a standard interface or medium.
static BOOL HasStandard(const KSIDENTIFIER* pIds, ULONG cIds, REFGUID guidSet, ULONG nId = 0) {
    for (ULONG i = 0; i < cIds; i++)
        if (IsEqualGUID(pIds[i].Set, guidSet) && nId == pIds[i].Id)
            return TRUE;
    return FALSE;
}

// TRUE for KSDATAFORMAT_SUBTYPE_WAVEFORMATEX with any wave format tag in its first two bytes.
static BOOL IsWaveFormatTagGuid(const GUID& guid) {
    return 0 == memcmp((const BYTE*)&guid + 2, (const BYTE*)&KSDATAFORMAT_SUBTYPE_WAVEFORMATEX + 2,
                       sizeof(GUID) - 2);
}

static BOOL IsAcceptableSubFormat(const GUID& guid) {
    return IsWaveFormatTagGuid(guid) || IsEqualGUID(guid, KSDATAFORMAT_SUBTYPE_PCM) ||
           IsEqualGUID(guid, GUID_NULL);
}

// The audio fields of a KSDATARANGE_AUDIO end here; the record's size adds its tail padding.
const ULONG kAudioRangeFields = offsetof(KSDATARANGE_AUDIO, MaximumSampleFrequency) + sizeof(ULONG);

// n rounded up to the 8-byte boundary every item of the answer starts on.
static ULONGLONG Align8(ULONGLONG n) {
    return (n + 7) & ~(ULONGLONG)7;
}

/*----------------------------------------------------------------------------------------------
 * NextRange: the offset of the item after the range at offset at (whose FormatSize fits the
 * block): past the range, and past the attribute list that follows it when its Flags say
 * KSDATARANGE_ATTRIBUTES, each rounded up to 8 bytes. cbBlock + 1 (beyond any range) when the
 * attribute list is missing or does not fit the block: nothing after it can be found.
 *--------------------------------------------------------------------------------------------*/
static ULONGLONG NextRange(const BYTE* pBlock, ULONG cbBlock, ULONGLONG at) {
    const KSDATARANGE* pRange = (const KSDATARANGE*)(pBlock + at);
    ULONGLONG next = Align8(at + pRange->FormatSize);
    if (!(pRange->Flags & KSDATARANGE_ATTRIBUTES))
        return next;
    if (next + sizeof(KSMULTIPLE_ITEM) > cbBlock)
        return (ULONGLONG)cbBlock + 1;
    ULONG cbList = ((const KSMULTIPLE_ITEM*)(pBlock + next))->Size;
    if (cbList < sizeof(KSMULTIPLE_ITEM) || next + cbList > cbBlock)
        return (ULONGLONG)cbBlock + 1;
    return Align8(next + cbList);
}

/*----------------------------------------------------------------------------------------------
 * SaveDataRanges: walks the data ranges of a pin's descriptor as the platform lays them out (each
 * on an 8-byte boundary, an attribute list after a range that has one) and appends to listSaved
 * a copy of each audio range from the first one with an acceptable subformat on. The walk stays
 * inside the data-range block: a range smaller than a KSDATARANGE (0 included) or reaching past
 * the block ends it, an audio range without all its audio fields is not saved, and a record
 * shorter than a KSDATARANGE_AUDIO (no tail padding) is saved with the rest zeroed.
 *--------------------------------------------------------------------------------------------*/
static HRESULT SaveDataRanges(const PIN_DESCRIPTOR& descriptor,
                              TList<KSDATARANGE_AUDIO>& listSaved) {
    HRESULT hr = S_OK;
    BOOL bAcceptable = FALSE;
    const BYTE* pBlock = (const BYTE*)descriptor.pmiDataRanges;
    ULONG cbBlock = descriptor.cbDataRanges;
    ULONGLONG at = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < descriptor.cDataRanges && pBlock; i++) {
        if (at + sizeof(KSDATARANGE) > cbBlock)
            break;
        const KSDATARANGE* pDataRange = (const KSDATARANGE*)(pBlock + at);
        if (pDataRange->FormatSize < sizeof(KSDATARANGE) || at + pDataRange->FormatSize > cbBlock)
            break;
        at = NextRange(pBlock, cbBlock, at);
        if (!bAcceptable && !IsAcceptableSubFormat(pDataRange->SubFormat))
            continue;
        bAcceptable = TRUE;
        if (!IsEqualGUID(pDataRange->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) ||
            pDataRange->FormatSize < kAudioRangeFields)
            continue;
        PKSDATARANGE_AUDIO pCopy = (PKSDATARANGE_AUDIO)calloc(1, sizeof(KSDATARANGE_AUDIO));
        if (!pCopy) {
            DebugTrace(1, "Unable to allocate memory to save datarange in");
            hr = E_OUTOFMEMORY;
            continue;
        }
        ULONG cbCopy = pDataRange->FormatSize < sizeof(KSDATARANGE_AUDIO)
                           ? pDataRange->FormatSize
                           : (ULONG)sizeof(KSDATARANGE_AUDIO);
        memcpy(pCopy, pDataRange, cbCopy);
        if (!listSaved.AddTail(pCopy)) {
            free(pCopy);
            DebugTrace(1, "Unable to allocate list entry to save datarange in");
            hr = E_OUTOFMEMORY;
        }
    }
    if (!bAcceptable) {
        DebugTrace(1, "No audio dataranges on the pin");
        return E_FAIL;
    }
    return hr;
}

HRESULT CKsAudPin::Init() {
    KsTraceEnter("CKsAudPin::Init()");
    ULONG nInterface = m_pksPinCreate->Interface.Id;
    if (!HasStandard(m_Descriptor.pInterfaces, m_Descriptor.cInterfaces, KSINTERFACESETID_Standard,
                     nInterface)) {
        DebugTrace(1, KSINTERFACE_STANDARD_STREAMING == nInterface
                          ? "No standard streaming interfaces on the pin"
                          : "No looped streaming interfaces on the pin");
        return KsTraceLeave("CKsAudPin::Init", E_FAIL);
    }
    if (!HasStandard(m_Descriptor.pMediums, m_Descriptor.cMediums, KSMEDIUMSETID_Standard)) {
        DebugTrace(1, "No standard streaming mediums on the pin");
        return KsTraceLeave("CKsAudPin::Init", E_FAIL);
    }
    return KsTraceLeave("CKsAudPin::Init", SaveDataRanges(m_Descriptor, m_listDataRanges));
}

// The subtype GUID a format is tested with; FALSE for an extensible format too short to carry one.
static BOOL GetSubType(const WAVEFORMATEX* pwfx, GUID* pguid) {
    if (WAVE_FORMAT_EXTENSIBLE == pwfx->wFormatTag) {
        if (pwfx->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return FALSE;
        *pguid = ((const WAVEFORMATEXTENSIBLE*)pwfx)->SubFormat;
        return TRUE;
    }
    *pguid = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    pguid->Data1 = (pguid->Data1 & 0xFFFF0000) | pwfx->wFormatTag;
    return TRUE;
}

static BOOL IsNullOr(const GUID& guid, const GUID& guidWanted) {
    return IsEqualGUID(guid, GUID_NULL) || IsEqualGUID(guid, guidWanted);
}

static BOOL RangeCovers(const KSDATARANGE_AUDIO* pRange, const WAVEFORMATEX* pwfx,
                        const GUID& guidSubType) {
    const KSDATARANGE& r = pRange->DataRange;
    return IsNullOr(r.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) && IsNullOr(r.SubFormat, guidSubType) &&
           IsNullOr(r.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX) &&
           pwfx->nChannels <= pRange->MaximumChannels &&
           pwfx->wBitsPerSample >= pRange->MinimumBitsPerSample &&
           pwfx->wBitsPerSample <= pRange->MaximumBitsPerSample &&
           pwfx->nSamplesPerSec >= pRange->MinimumSampleFrequency &&
           pwfx->nSamplesPerSec <= pRange->MaximumSampleFrequency;
}

BOOL CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx) {
    KsTraceEnter("CKsAudPin::IsFormatSupported()");
    assert(pwfx);
    GUID guidSubType;
    BOOL bSupported = FALSE;
    if (GetSubType(pwfx, &guidSubType)) {
        for (TListNode<KSDATARANGE_AUDIO>* pNode = m_listDataRanges.m_pHead; pNode && !bSupported;
             pNode = pNode->pNext)
            bSupported = RangeCovers(pNode->pData, pwfx, guidSubType);
    }
    KsTraceLeave("CKsAudPin::IsFormatSupported()");
    return bSupported;
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx) {
    KsTraceEnter("CKsAudPin::SetFormat()");
    if (!pwfx || !m_pksDataFormatWfx) {
        DebugTrace(1, "pwfx or m_pksDataFormatWfx are NULL");
        return KsTraceLeave("CKsAudPin::SetFormat", E_FAIL);
    }
    ULONG cbFormat = GetWaveFormatSize(pwfx);
    ULONG cbNeeded = ConnectSize(cbFormat);
    if (m_cbPinCreate != cbNeeded) {
        PKSPIN_CONNECT pNew = (PKSPIN_CONNECT)malloc(cbNeeded);
        if (!pNew) {
            DebugTrace(1, "Unable to allocate KSPIN_CONNECT structure");
            return KsTraceLeave("CKsAudPin::SetFormat", E_OUTOFMEMORY);
        }
        memcpy(pNew, m_pksPinCreate, m_cbPinCreate < cbNeeded ? m_cbPinCreate : cbNeeded);
        free(m_pksPinCreate);
        m_pksPinCreate = pNew;
        m_cbPinCreate = cbNeeded;
        m_pksDataFormatWfx = (PKSDATAFORMAT_WAVEFORMATEX)(pNew + 1);
        m_pksDataFormatWfx->DataFormat.FormatSize = sizeof(KSDATAFORMAT) + cbFormat;
    }
    memcpy(&m_pksDataFormatWfx->WaveFormatEx, pwfx, cbFormat);
    m_pksDataFormatWfx->DataFormat.SampleSize = (WORD)(pwfx->nChannels * pwfx->wBitsPerSample / 8);
    return KsTraceLeave("CKsAudPin::SetFormat", S_OK);
}

CKsAudRenPin::CKsAudRenPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr, ULONG nInterface)
    : CKsAudPin(pFilter, nId, hr, nInterface) {
    KsTraceEnter("CKsAudRenPin::CKsAudRenPin()");
    m_PinType = kPinTypeRender;
    KsTraceLeave("CKsAudRenPin::CKsAudRenPin", hr);
}

CKsAudRenPin::~CKsAudRenPin() {
    KsTraceEnter("CKsAudRenPin::~CKsAudRenPin()");
    KsTraceLeave("CKsAudRenPin::~CKsAudRenPin()");
}

CKsAudCapPin::CKsAudCapPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr)
    : CKsAudPin(pFilter, nId, hr) {
    KsTraceEnter("CKsAudCapPin::CKsAudCapPin()");
    m_PinType = kPinTypeCapture;
    KsTraceLeave("CKsAudCapPin::CKsAudCapPin", hr);
}

CKsAudCapPin::~CKsAudCapPin() {
    KsTraceEnter("CKsAudCapPin::~CKsAudCapPin()");
    KsTraceLeave("CKsAudCapPin::~CKsAudCapPin()");
}
