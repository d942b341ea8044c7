// Building and freeing the settings dialog's device-name list.
#include "host/devicenames.h"

#include "ks/enum.h"

#include <cstdlib>
#include <cstring>

DeviceNameList g_DeviceNames;

namespace {

char* CopyString(const char* text) {
    size_t size = strnlen(text, MAX_PATH) + 1;
    char* copy = (char*)malloc(size);
    if (copy) {
        memcpy(copy, text, size - 1);
        copy[size - 1] = '\0';
    }
    return copy;
}

void FreeName(DeviceName* name) {
    free(name->pszFriendlyName);
    free(name->pszFilterName);
    free(name);
}

} // namespace

void DeviceNameList::Build(const CKsEnumFilters* pEnum) {
    Free();
    if (!pEnum)
        return;
    pEnum->FirstFilter([this](CKsFilter* filter) {
        DeviceName* name = (DeviceName*)malloc(sizeof(DeviceName));
        if (!name)
            return false;
        name->pszFriendlyName = CopyString(filter->m_szFriendlyName);
        name->pszFilterName = CopyString(filter->m_szFilterName);
        if (!m_list.AddTail(name))
            FreeName(name);
        return false; // every filter gets its name
    });
}

void DeviceNameList::Free() {
    while (m_list.m_pHead)
        FreeName(m_list.RemoveHead());
}
