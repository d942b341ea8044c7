// The output devices offered by the settings dialog: private copies of the enumerated render
// filters' friendly names and device paths, kept from Init to Quit.
#pragma once

#include "ks/tlist.h"

class CKsEnumFilters;

struct DeviceName {
    char* pszFriendlyName; // heap copy of the filter's friendly name, or null
    char* pszFilterName;   // heap copy of the filter's device path, or null
};

// The names in list order, each owned by the list and freed with it.
class DeviceNameList {
  public:
    DeviceNameList() = default;
    ~DeviceNameList() { Free(); }
    DeviceNameList(const DeviceNameList&) = delete;
    DeviceNameList& operator=(const DeviceNameList&) = delete;

    // One name per filter of pEnum, in list order, in place of the old ones; a name that cannot
    // be allocated is skipped. pEnum may be null.
    void Build(const CKsEnumFilters* pEnum);
    void Free();
    const TListNode<DeviceName>* Head() const { return m_list.m_pHead; }

  private:
    TList<DeviceName> m_list;
};

extern DeviceNameList g_DeviceNames;
