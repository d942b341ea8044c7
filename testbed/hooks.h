// The replacement functions that the import redirection puts in a module's import table. Each
// handles what is simulated and passes everything else to the real function.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <devpropdef.h>

#include <cstddef>

namespace simks {

HDEVINFO WINAPI HookSetupDiGetClassDevsA(const GUID* cls, PCSTR enumerator, HWND parent,
                                         DWORD flags);
BOOL WINAPI HookSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* cls,
                                            DWORD index, PSP_DEVICE_INTERFACE_DATA data);
BOOL WINAPI HookSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD size, PDWORD required,
                                                 PSP_DEVINFO_DATA info);
BOOL WINAPI HookSetupDiGetDeviceInterfaceAlias(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                               const GUID* alias,
                                               PSP_DEVICE_INTERFACE_DATA aliasData);
HKEY WINAPI HookSetupDiOpenDeviceInterfaceRegKey(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                 DWORD reserved, REGSAM access);
BOOL WINAPI HookSetupDiDestroyDeviceInfoList(HDEVINFO set);
BOOL WINAPI HookSetupDiGetDeviceInterfacePropertyW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                   const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                   PBYTE buffer, DWORD size, PDWORD required,
                                                   DWORD flags);
LONG WINAPI HookRegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                 LPDWORD size);
LONG WINAPI HookRegCloseKey(HKEY key);

HANDLE WINAPI HookCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                              DWORD disposition, DWORD flags, HANDLE templ);
BOOL WINAPI HookDeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped);
BOOL WINAPI HookCloseHandle(HANDLE h);
BOOL WINAPI HookCancelIoEx(HANDLE h, LPOVERLAPPED overlapped);
HMODULE WINAPI HookLoadLibraryA(LPCSTR name);
FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name);
int WINAPI HookMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
DWORD WINAPI HookGetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
void WINAPI HookOutputDebugStringA(LPCSTR text);

// The configuration manager's notifications (notify.cpp): "cfgmgr32.dll" and its two functions,
// and the removal notification of a device (called without the bed's lock).
bool IsCfgMgrName(const char* name);
HMODULE CfgMgr();
FARPROC CfgMgrProc(const char* name);
void NotifyRemoval(int device);

// The system timer (timer.cpp).
DWORD WINAPI HookWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD ms);
DWORD WINAPI HookWaitForSingleObject(HANDLE handle, DWORD ms);
void WINAPI HookSleep(DWORD ms);
// The millisecond clock of the redirected modules, which a test may move forward (ticks.cpp),
// and their timed waits, which end by it: a wait longer than a slice is waited in slices.
DWORD WINAPI HookGetTickCount();
DWORD TickedWait(DWORD ms, DWORD (*wait)(const void* context, DWORD ms), const void* context);
UINT WINAPI HookTimeBeginPeriod(UINT period);
UINT WINAPI HookTimeEndPeriod(UINT period);
// Turns the coarse timer off (SimKs_Reset).
void ResetTimer();

// The C runtime functions, given the module's own (real) ones.
typedef void*(__cdecl* MallocFn)(size_t);
typedef void*(__cdecl* CallocFn)(size_t, size_t);
typedef void*(__cdecl* ReallocFn)(void*, size_t);
extern MallocFn g_realMalloc;
extern CallocFn g_realCalloc;
extern ReallocFn g_realRealloc;
void* __cdecl HookMalloc(size_t size);
void* __cdecl HookCalloc(size_t count, size_t size);
void* __cdecl HookRealloc(void* block, size_t size);

} // namespace simks
