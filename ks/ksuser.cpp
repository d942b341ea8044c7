// Run-time binding of ksuser.dll's KsCreatePin.
#include "ks/ksuser.h"

typedef DWORD(WINAPI* PFN_KSCREATEPIN)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

// The process-wide binding: both NULL until found, then kept until the process ends.
static struct {
    HMODULE hLibrary;             // "ksuser.dll"
    PFN_KSCREATEPIN pfnCreatePin; // its export "KsCreatePin"
} g_ksUser = {NULL, NULL};

static BOOL BindKsUser() {
    if (g_ksUser.pfnCreatePin)
        return TRUE;
    if (!g_ksUser.hLibrary)
        g_ksUser.hLibrary = LoadLibraryA("ksuser.dll");
    if (!g_ksUser.hLibrary)
        return FALSE;
    FARPROC pfn = GetProcAddress(g_ksUser.hLibrary, "KsCreatePin");
    g_ksUser.pfnCreatePin = (PFN_KSCREATEPIN)(void*)pfn;
    return NULL != g_ksUser.pfnCreatePin;
}

DWORD KsUserCreatePin(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                      PHANDLE phPin) {
    if (!BindKsUser())
        return ERROR_FILE_NOT_FOUND;
    return g_ksUser.pfnCreatePin(hFilter, pConnect, dwDesiredAccess, phPin);
}
