// Building and freeing the settings dialog's device-name list.
#include "host/devicenames.h"

#include "ks/enum.h"

#include <cstdlib>
#include <cstring>

DeviceName* g_pDeviceNameHead = nullptr;
DeviceName* g_pDeviceNameTail = nullptr;

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

void Append(DeviceName* node) {
    node->pNext = nullptr;
    node->pPrev = g_pDeviceNameTail;
    if (g_pDeviceNameTail)
        g_pDeviceNameTail->pNext = node;
    else
        g_pDeviceNameHead = node;
    g_pDeviceNameTail = node;
}

} // namespace

void BuildDeviceNameList(CKsEnumFilters* pEnum) {
    FreeDeviceNameList();
    if (!pEnum)
        return;
    pEnum->FirstFilter([](CKsFilter* filter) {
        DeviceName* node = (DeviceName*)malloc(sizeof(DeviceName));
        if (node) {
            node->pszFriendlyName = CopyString(filter->m_szFriendlyName);
            node->pszFilterName = CopyString(filter->m_szFilterName);
            Append(node);
        }
        return false; // every filter gets its node
    });
}

void FreeDeviceNameList() {
    while (g_pDeviceNameHead) {
        DeviceName* node = g_pDeviceNameHead;
        g_pDeviceNameHead = node->pNext;
        free(node->pszFriendlyName);
        free(node->pszFilterName);
        free(node);
    }
    g_pDeviceNameTail = nullptr;
}
