// The output-module record the player reads from the plug-in, and the module's state.
#pragma once

#include "diag/constants.h"

#include <windows.h>

// The player's output-module record: an int and nineteen pointers; every function is cdecl.
struct Out_Module {
    int version; // 0x10
    const char* description;
    INT_PTR id;             // the player replaces it after loading; nothing here reads it
    HWND hMainWindow;       // filled by the player before Init
    HINSTANCE hDllInstance; // filled by the player before Init
    void(__cdecl* Config)(HWND hwndParent);
    void(__cdecl* About)(HWND hwndParent);
    void(__cdecl* Init)();
    void(__cdecl* Quit)();
    int(__cdecl* Open)(int rate, int channels, int bits, int bufferMs, int prebufferMs);
    void(__cdecl* Close)();
    int(__cdecl* Write)(char* data, int length);
    int(__cdecl* CanWrite)();
    int(__cdecl* IsPlaying)();
    int(__cdecl* Pause)(int pause);
    void(__cdecl* SetVolume)(int volume);
    void(__cdecl* SetPan)(int pan);
    void(__cdecl* Flush)(int timeMs);
    int(__cdecl* GetOutputTime)();
    int(__cdecl* GetWrittenTime)();
};

#ifdef _WIN64
static_assert(sizeof(Out_Module) == 160, "x86_64 test builds: the int padded to 8, 19 pointers");
#else
static_assert(sizeof(Out_Module) == 80, "i686, the player's build: twenty 32-bit fields");
#endif

extern "C" __declspec(dllexport) Out_Module* __cdecl winampGetOutModule();

struct KSSettings;
class KSCore;
class CTooltip;

// Module state, created by Init and released by Quit.
extern KSSettings* g_pSettings;           // the settings record (owned; see StoreSettings)
extern KSCore* g_pEngine;                 // the one engine (owned)
extern CTooltip* g_pTooltip;              // the settings dialog's tooltip window (owned)
extern volatile LONG g_bRecreateEngine;   // the settings dialog changed something: rebuild at Open
extern int g_nVolume;                     // last valid host volume, 0..kMaxVolume
extern int g_VolumeTable[kMaxVolume + 1]; // square-law volume map

// Replaces the settings record whole, under the settings lock, against the engine's copy of it
// (taken on the player's threads at each open, with the engine's control lock held: the settings
// lock comes after it, and nothing is called while it is held). Only the settings dialog's thread
// writes the record; it reads it without the lock.
void StoreSettings(const KSSettings& next);
// Fills g_VolumeTable: entry i is floor(i * i / kMaxVolume), computed in single precision.
void BuildVolumeTable();
// Stores the volume and passes it (mapped when logarithmic_volume is set) to the engine.
void ApplyVolume(int volume);
