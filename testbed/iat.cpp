// The import redirection: rewrites import address table slots of a module so that the names in
// the hook table reach the bed, and puts the original pointers back on removal.
#include "testbed/hooks.h"
#include "testbed/redirect.h"
#include "testbed/state.h"

#include <cstring>

namespace simks {

namespace {

struct Hook {
    const char* name;
    void* replacement;
    bool crt; // taken only from a C runtime DLL
};

const Hook kHooks[] = {
    {"SetupDiGetClassDevsA", (void*)&HookSetupDiGetClassDevsA, false},
    {"SetupDiEnumDeviceInterfaces", (void*)&HookSetupDiEnumDeviceInterfaces, false},
    {"SetupDiGetDeviceInterfaceDetailA", (void*)&HookSetupDiGetDeviceInterfaceDetailA, false},
    {"SetupDiGetDeviceInterfaceAlias", (void*)&HookSetupDiGetDeviceInterfaceAlias, false},
    {"SetupDiOpenDeviceInterfaceRegKey", (void*)&HookSetupDiOpenDeviceInterfaceRegKey, false},
    {"SetupDiDestroyDeviceInfoList", (void*)&HookSetupDiDestroyDeviceInfoList, false},
    {"SetupDiGetDeviceInterfacePropertyW", (void*)&HookSetupDiGetDeviceInterfacePropertyW, false},
    {"RegQueryValueExA", (void*)&HookRegQueryValueExA, false},
    {"RegCloseKey", (void*)&HookRegCloseKey, false},
    {"CreateFileA", (void*)&HookCreateFileA, false},
    {"DeviceIoControl", (void*)&HookDeviceIoControl, false},
    {"CloseHandle", (void*)&HookCloseHandle, false},
    {"CancelIoEx", (void*)&HookCancelIoEx, false},
    {"LoadLibraryA", (void*)&HookLoadLibraryA, false},
    {"GetProcAddress", (void*)&HookGetProcAddress, false},
    {"MessageBoxA", (void*)&HookMessageBoxA, false},
    {"GetModuleFileNameA", (void*)&HookGetModuleFileNameA, false},
    {"OutputDebugStringA", (void*)&HookOutputDebugStringA, false},
    {"WaitForMultipleObjects", (void*)&HookWaitForMultipleObjects, false},
    {"WaitForSingleObject", (void*)&HookWaitForSingleObject, false},
    {"Sleep", (void*)&HookSleep, false},
    {"GetTickCount", (void*)&HookGetTickCount, false},
    {"timeBeginPeriod", (void*)&HookTimeBeginPeriod, false},
    {"timeEndPeriod", (void*)&HookTimeEndPeriod, false},
    {"malloc", (void*)&HookMalloc, true},
    {"calloc", (void*)&HookCalloc, true},
    {"realloc", (void*)&HookRealloc, true},
};

struct Patch {
    HMODULE module;
    void** slot;
    void* original;
};

// Guarded by Bed().cs.
std::vector<Patch> g_patches;

bool IsCrtDll(const char* name) {
    return _strnicmp(name, "msvcr", 5) == 0 || _strnicmp(name, "ucrtbase", 8) == 0 ||
           _strnicmp(name, "api-ms-win-crt-", 15) == 0;
}

const IMAGE_IMPORT_DESCRIPTOR* Imports(HMODULE module) {
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (!module || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return nullptr;
    // IMAGE_NT_HEADERS, IMAGE_THUNK_DATA and IMAGE_NT_OPTIONAL_HDR_MAGIC are the process's own
    // kind: PE32 in an i686 process, PE32+ in an x86_64 one, as every module loaded in it is.
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return nullptr;
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return nullptr;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
}

bool WriteSlot(void** slot, void* value) {
    DWORD old;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
        return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

// The C runtime function the bed forwards to; the first module redirected sets it, and a module
// whose runtime is another one keeps its own allocation functions.
bool TakeCrtOriginal(const char* name, void* original) {
    void** real = nullptr;
    if (strcmp(name, "malloc") == 0)
        real = reinterpret_cast<void**>(&g_realMalloc);
    else if (strcmp(name, "calloc") == 0)
        real = reinterpret_cast<void**>(&g_realCalloc);
    else
        real = reinterpret_cast<void**>(&g_realRealloc);
    if (!*real)
        *real = original;
    return *real == original;
}

bool IsPatched(void** slot) {
    for (const Patch& p : g_patches)
        if (p.slot == slot)
            return true;
    return false;
}

// Redirects one slot if its name is in the hook table.
void RedirectSlot(HMODULE module, const char* name, bool crtDll, void** slot) {
    for (const Hook& h : kHooks) {
        if (strcmp(h.name, name) != 0 || (h.crt && !crtDll))
            continue;
        if (IsPatched(slot) || (h.crt && !TakeCrtOriginal(name, *slot)))
            return;
        void* original = *slot;
        if (WriteSlot(slot, h.replacement))
            g_patches.push_back(Patch{module, slot, original});
        return;
    }
}

void RedirectDescriptor(HMODULE module, const IMAGE_IMPORT_DESCRIPTOR& d) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    bool crtDll = IsCrtDll(reinterpret_cast<const char*>(base + d.Name));
    if (!d.OriginalFirstThunk)
        return; // no name table: the slots cannot be told apart
    const IMAGE_THUNK_DATA* names =
        reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d.OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d.FirstThunk);
    static_assert(sizeof slots[0].u1.Function == sizeof(void*), "one slot holds one pointer");
    for (size_t i = 0; names[i].u1.AddressOfData; ++i) {
        if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
            continue;
        const IMAGE_IMPORT_BY_NAME* byName =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
        RedirectSlot(module, reinterpret_cast<const char*>(byName->Name), crtDll,
                     reinterpret_cast<void**>(&slots[i].u1.Function));
    }
}

int CountPatches(HMODULE module) {
    int n = 0;
    for (const Patch& p : g_patches)
        n += p.module == module;
    return n;
}

} // namespace

} // namespace simks

extern "C" int SimKs_Install(HMODULE module) {
    using namespace simks;
    Lock lock;
    const IMAGE_IMPORT_DESCRIPTOR* d = Imports(module);
    if (!d)
        return -1;
    for (; d->Name; ++d)
        RedirectDescriptor(module, *d);
    return CountPatches(module);
}

extern "C" int SimKs_Remove(HMODULE module) {
    using namespace simks;
    Lock lock;
    int restored = 0;
    for (size_t i = 0; i < g_patches.size();) {
        if (g_patches[i].module == module) {
            WriteSlot(g_patches[i].slot, g_patches[i].original);
            g_patches.erase(g_patches.begin() + i);
            ++restored;
        } else {
            ++i;
        }
    }
    return restored;
}
