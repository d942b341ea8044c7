// The output devices offered by the settings dialog: private copies of the enumerated render
// filters' friendly names and device paths, kept from Init to Quit.
#pragma once

class CKsEnumFilters;

struct DeviceName {
    DeviceName* pNext;     // next node, null at the tail
    DeviceName* pPrev;     // previous node, null at the head
    char* pszFriendlyName; // heap copy of the filter's friendly name, or null
    char* pszFilterName;   // heap copy of the filter's device path, or null
};

extern DeviceName* g_pDeviceNameHead;
extern DeviceName* g_pDeviceNameTail;

// Appends one node per filter of pEnum, in list order; a node that cannot be allocated is
// skipped. pEnum may be null.
void BuildDeviceNameList(CKsEnumFilters* pEnum);
void FreeDeviceNameList();
