// CKsIrpTarget: a KS object's handle and the synchronous requests made on it.
#include "ks/irptgt.h"

#include "diag/owned.h"
#include "diag/sizes.h"
#include "ks/kstrace.h"

#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>

CKsIrpTarget::CKsIrpTarget(HANDLE handle) : m_handle(handle) {
    KsTraceEnter("CKsIrpTarget::CKsIrpTarget()");
    KsTraceLeave("CKsIrpTarget::CKsIrpTarget()");
}

HANDLE CKsIrpTarget::GetHandle() {
    KsTraceEnter("CKsIrpTarget::GetHandle()");
    KsTraceLeave("CKsIrpTarget::GetHandle()");
    return m_handle;
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE handle) {
    KsTraceEnter("CKsIrpTarget::IsValidHandle()");
    BOOL bValid = (NULL != handle) && (INVALID_HANDLE_VALUE != handle);
    KsTraceLeave("CKsIrpTarget::IsValidHandle()");
    return bValid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
    KsTraceEnter("CKsIrpTarget::SafeCloseHandle()");
    BOOL bResult = TRUE;
    if (IsValidHandle(handle)) {
        bResult = CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    KsTraceLeave("CKsIrpTarget::SafeCloseHandle()");
    return bResult;
}

namespace {

// How long a pending request may take before it is cancelled. A driver answers a property
// request in milliseconds; even a USB or Bluetooth device that starts its clock on a state change
// answers within about a second, so three seconds only ever pass for a device that has stopped.
const DWORD kPendingRequestMs = 3000;

// A platform error as an HRESULT (HRESULT_FROM_WIN32), E_FAIL when there is none to convert.
HRESULT FromWin32(DWORD dwError) {
    HRESULT hr = HRESULT_FROM_WIN32(dwError);
    return FAILED(hr) ? hr : E_FAIL;
}

// The result of a request that ended after it had been cancelled: its completion status.
HRESULT CancelledResult(const OVERLAPPED& overlapped) {
    LONG status = (LONG)overlapped.Internal;
    return status < 0 ? HRESULT_FROM_NT(status) : S_OK;
}

} // namespace

/*----------------------------------------------------------------------------------------------
 * WaitForPending: waits for a request that DeviceIoControl left pending; S_OK once its event is
 * signalled. A request that is not answered in time is cancelled. Its OVERLAPPED and buffers
 * belong to the caller's frame, so the call still returns only once the request has ended: the
 * cancellation is what a driver must answer (KS completes a cancelled request at once).
 *--------------------------------------------------------------------------------------------*/
static HRESULT WaitForPending(HANDLE handle, OVERLAPPED& overlapped) {
    DWORD dwWait = WaitForSingleObject(overlapped.hEvent, kPendingRequestMs);
    if (WAIT_OBJECT_0 == dwWait)
        return S_OK;
    if (WAIT_TIMEOUT == dwWait) {
        DebugTrace(1, "CKsIrpTarget::SyncIoctl no answer within %lu ms, cancelling",
                   kPendingRequestMs);
        CancelIoEx(handle, &overlapped);
        dwWait = WaitForSingleObject(overlapped.hEvent, INFINITE);
        if (WAIT_OBJECT_0 == dwWait)
            return CancelledResult(overlapped);
    }
    DWORD dwError = GetLastError();
    assert(WAIT_OBJECT_0 == dwWait);
    DebugTrace(1, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
               (unsigned)dwWait);
    return FromWin32(dwError);
}

/*----------------------------------------------------------------------------------------------
 * SyncIoctl: one overlapped request on handle, waited for. A request that completes at once
 * keeps the byte count DeviceIoControl stored; a pending one reports 0 bytes; a property size
 * probe (IOCTL_KS_PROPERTY, output size 0) answered with ERROR_MORE_DATA or
 * ERROR_INSUFFICIENT_BUFFER succeeds with the needed size as the count. A failure gives the
 * platform's error as an HRESULT.
 *--------------------------------------------------------------------------------------------*/
HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer,
                                PVOID pvOutBuffer, ULONG cbOutBuffer, PULONG pulBytesReturned) {
    KsTraceEnter("CKsIrpTarget::SyncIoctl()");
    if (!IsValidHandle(handle)) {
        DebugTrace(1, "CKsIrpTarget::SyncIoctl Invalid Handle");
        return KsTraceLeave("CKsIrpTarget::SyncIoctl", E_FAIL);
    }
    ULONG ulLocalCount = 0;
    if (!pulBytesReturned)
        pulBytesReturned = &ulLocalCount;

    UniqueHandle event(CreateEventA(NULL, FALSE, FALSE, NULL));
    if (!event.Valid()) {
        DebugTrace(1, "CKsIrpTarget::SyncIoctl CreateEvent failed");
        return KsTraceLeave("CKsIrpTarget::SyncIoctl", E_OUTOFMEMORY);
    }
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    // The low bit keeps this request's completion off any completion port bound to the handle.
    overlapped.hEvent = (HANDLE)((ULONG_PTR)event.Get() | 1);

    HRESULT hr = S_OK;
    if (!DeviceIoControl(handle, ulIoctl, pvInBuffer, cbInBuffer, pvOutBuffer, cbOutBuffer,
                         pulBytesReturned, &overlapped)) {
        DWORD dwError = GetLastError();
        bool bSizeProbe = IOCTL_KS_PROPERTY == ulIoctl && 0 == cbOutBuffer &&
                          (ERROR_MORE_DATA == dwError || ERROR_INSUFFICIENT_BUFFER == dwError);
        if (ERROR_IO_PENDING == dwError) {
            hr = WaitForPending(handle, overlapped);
            *pulBytesReturned = 0;
        } else if (!bSizeProbe) {
            *pulBytesReturned = 0;
            hr = FromWin32(dwError);
        }
    }
    return KsTraceLeave("CKsIrpTarget::SyncIoctl", hr);
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbBlock) {
    KsTraceEnter("CKsIrpTarget::GetPropertyMulti()");
    KSPROPERTY ksProperty;
    ksProperty.Set = guidPropertySet;
    ksProperty.Id = nProperty;
    ksProperty.Flags = KSPROPERTY_TYPE_GET;

    ULONG cbNeeded = 0;
    HRESULT hr =
        SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksProperty, sizeof ksProperty, NULL, 0, &cbNeeded);
    if (FAILED(hr) || 0 == cbNeeded)
        return KsTraceLeave("CKsIrpTarget::GetPropertyMulti", hr);
    // A block that cannot hold its own header is not a multi-item answer.
    if (cbNeeded < sizeof(KSMULTIPLE_ITEM))
        return KsTraceLeave("CKsIrpTarget::GetPropertyMulti", E_FAIL);

    *ppKsMultipleItem = (PKSMULTIPLE_ITEM)calloc(1, cbNeeded);
    if (!*ppKsMultipleItem)
        return KsTraceLeave("CKsIrpTarget::GetPropertyMulti", E_OUTOFMEMORY);
    if (pcbBlock)
        *pcbBlock = cbNeeded;
    hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksProperty, sizeof ksProperty, *ppKsMultipleItem,
                   cbNeeded, NULL);
    return KsTraceLeave("CKsIrpTarget::GetPropertyMulti", hr);
}

HRESULT CKsIrpTarget::GetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue) {
    KsTraceEnter("CKsIrpTarget::GetPropertySimple()");
    KSPROPERTY request;
    memset(&request, 0, sizeof request);
    request.Set = guidPropertySet;
    request.Id = nProperty;
    request.Flags = KSPROPERTY_TYPE_GET;
    memset(pvValue, 0, cbValue);
    HRESULT hr =
        SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, pvValue, cbValue, NULL);
    return KsTraceLeave("CKsIrpTarget::GetPropertySimple", hr);
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue, PVOID pvExtra, ULONG cbExtra) {
    KsTraceEnter("CKsIrpTarget::SetPropertySimple()");
    if (!pvExtra)
        cbExtra = 0;
    SIZE_T cbBlock = 0;
    if (!SizeSum(sizeof(KSPROPERTY), cbExtra, &cbBlock) || cbBlock > ULONG_MAX)
        return KsTraceLeave("CKsIrpTarget::SetPropertySimple", E_INVALIDARG);
    ULONG cbRequest = (ULONG)cbBlock;
    PKSPROPERTY pksProperty = (PKSPROPERTY)malloc(cbRequest);
    if (!pksProperty)
        return KsTraceLeave("CKsIrpTarget::SetPropertySimple", E_OUTOFMEMORY);
    pksProperty->Set = guidPropertySet;
    pksProperty->Id = nProperty;
    pksProperty->Flags = KSPROPERTY_TYPE_SET;
    if (cbExtra)
        memcpy(pksProperty + 1, pvExtra, cbExtra);

    HRESULT hr =
        SyncIoctl(m_handle, IOCTL_KS_PROPERTY, pksProperty, cbRequest, pvValue, cbValue, NULL);
    free(pksProperty);
    return KsTraceLeave("CKsIrpTarget::SetPropertySimple", hr);
}
