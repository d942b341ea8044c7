/*
 * redirect.h: puts simks.dll behind a module's Win32 calls by rewriting its import address
 * table. Nothing in the product knows about it: the product calls the real names.
 *
 * Redirected, wherever the module imports them (matched by function name over every import
 * descriptor, so api-ms-win-* forwarders are covered): SetupDiGetClassDevsA,
 * SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA, SetupDiGetDeviceInterfaceAlias,
 * SetupDiOpenDeviceInterfaceRegKey, SetupDiDestroyDeviceInfoList,
 * SetupDiGetDeviceInterfacePropertyW, RegQueryValueExA, RegCloseKey,
 * CreateFileA, DeviceIoControl, CloseHandle, CancelIoEx, LoadLibraryA, GetProcAddress, MessageBoxA,
 * GetModuleFileNameA, OutputDebugStringA, WaitForMultipleObjects, WaitForSingleObject, Sleep,
 * timeBeginPeriod, timeEndPeriod (timer.cpp), and malloc, calloc, realloc and free as imported from
 * the C runtime (msvcrt*, ucrtbase, api-ms-win-crt-*).
 * Calls about anything not simulated reach the real functions: other paths, handles, keys,
 * libraries and procedures, device information sets for anything but device interface classes.
 * SetupDiGetClassDevsA with DIGCF_DEVICEINTERFACE and a class GUID (no DIGCF_ALLCLASSES) lists
 * the simulated interfaces of that class (DIGCF_PRESENT leaves out removed devices).
 *
 * Threading: install and remove while no other thread runs code of the target module.
 * A module must be removed before it is unloaded. Installing twice is harmless.
 */
#pragma once

#include "testbed/simks.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Rewrites the module's import table. Returns the number of the module's import slots that are
 * now redirected (0: it imports none of the functions), or -1 when module is not a loaded PE
 * image. */
SIMKS_API int SimKs_Install(HMODULE module);

/* Restores every slot that SimKs_Install rewrote in the module. Returns the number restored. */
SIMKS_API int SimKs_Remove(HMODULE module);

/* The simulated KsCreatePin, for callers that bind it without GetProcAddress. */
SIMKS_API DWORD WINAPI SimKs_KsCreatePin(HANDLE filter, void* connect, ACCESS_MASK access,
                                         HANDLE* pin);

#ifdef __cplusplus
}
#endif
