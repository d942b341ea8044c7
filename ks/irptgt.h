// CKsIrpTarget: the handle of one KS kernel object (a filter or a pin) and the synchronous
// requests made on it: I/O control waited for until it completes, and property reads and writes.
//
// Ownership: the object owns m_handle; the derived class opens it (its Instantiate) and closes it
// with SafeCloseHandle. This class itself never closes it, so it has no destructor of its own.
// Threading: no lock; every request uses its own OVERLAPPED and event, so concurrent requests on
// one handle do not see each other's completion.
#pragma once

#include "ks/ksplatform.h"

class CKsIrpTarget {
  public:
    explicit CKsIrpTarget(HANDLE handle);
    CKsIrpTarget(const CKsIrpTarget&) = delete;
    CKsIrpTarget& operator=(const CKsIrpTarget&) = delete;

    HANDLE GetHandle();

    // TRUE when handle is neither NULL nor INVALID_HANDLE_VALUE.
    static BOOL IsValidHandle(HANDLE handle);

    // Closes a valid handle and puts INVALID_HANDLE_VALUE in its place, returning CloseHandle's
    // result; a variable holding NULL or INVALID_HANDLE_VALUE is left alone and TRUE returned.
    static BOOL SafeCloseHandle(HANDLE& handle);

    // One overlapped DeviceIoControl, waited for. *pulBytesReturned (optional) receives the
    // count of a request that completed at once, the needed size of a property size probe
    // (IOCTL_KS_PROPERTY with an output size of 0), and 0 otherwise. A failed request gives the
    // platform's error as an HRESULT (HRESULT_FROM_WIN32); an invalid handle gives E_FAIL. A
    // request left pending for three seconds is cancelled (CancelIoEx) and its end waited for.
    static HRESULT SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer,
                             PVOID pvOutBuffer, ULONG cbOutBuffer, PULONG pulBytesReturned);

    // Reads a property of unknown size: a block that starts with a KSMULTIPLE_ITEM header. The
    // block, calloc'ed, belongs to the caller as soon as it is stored in *ppKsMultipleItem, also
    // when the read then fails. A property of size 0 leaves *ppKsMultipleItem untouched (the
    // caller sets it to NULL first); an answer too short for the header fails with E_FAIL.
    // *pcbBlock (optional) receives the block's size in bytes when a block is stored.
    HRESULT GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty,
                             PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbBlock = NULL);

    // Reads a property whose request is a plain KSPROPERTY into cbValue bytes at pvValue (zeroed
    // first).
    HRESULT GetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                              ULONG cbValue);

    // Writes a property: the KSPROPERTY (and the extra request data, if any) travel in the
    // request's input buffer, the value in its output buffer.
    HRESULT SetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                              ULONG cbValue, PVOID pvExtra = NULL, ULONG cbExtra = 0);

    HANDLE m_handle; // the KS object's handle, opened for overlapped I/O; owned
};
