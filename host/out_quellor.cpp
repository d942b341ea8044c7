// The plug-in's surface: the output-module record and its entry points, which forward to the
// engine and add the square-law volume map and the engine rebuild after a settings change; and the
// engine's host (its settings, its message boxes). Without a settings record or an engine (out of
// memory) every entry point still answers: Open -1, Write 1, CanWrite 0, the others 0 or nothing.
#include "host/out_module.h"

#include "diag/log.h"
#include "diag/owned.h"
#include "diag/util.h"
#include "engine/kscore.h"
#include "host/devicenames.h"
#include "host/dialogs.h"
#include "host/settings.h"
#include "host/status.h"
#include "resources/resource.h"

#include <new>

KSSettings* g_pSettings = nullptr;
KSCore* g_pEngine = nullptr;
CTooltip* g_pTooltip = nullptr;
volatile LONG g_bRecreateEngine = 0;
int g_nVolume = kMaxVolume;

namespace {

void __cdecl Config(HWND parent);
void __cdecl About(HWND parent);
void __cdecl Init();
void __cdecl Quit();
int __cdecl Open(int rate, int channels, int bits, int, int);
void __cdecl Close();
int __cdecl Write(char* data, int length);
int __cdecl CanWrite();
int __cdecl IsPlaying();
int __cdecl Pause(int pause);
void __cdecl SetVolume(int volume);
void __cdecl SetPan(int) {}
void __cdecl Flush(int timeMs);
int __cdecl GetOutputTime();
int __cdecl GetWrittenTime();

// Writable: the player stores its window, the instance and its own id into the record.
Out_Module g_OutModule = {
    0x10,          "Quellor Output v3.61",
    0x10000,       NULL,
    NULL,          Config,
    About,         Init,
    Quit,          Open,
    Close,         Write,
    CanWrite,      IsPlaying,
    Pause,         SetVolume,
    SetPan,        Flush,
    GetOutputTime, GetWrittenTime,
};

// Guards g_pSettings's fields: see StoreSettings.
SRWLOCK g_srwSettings = SRWLOCK_INIT;

// The engine's host: the module's settings record, and message boxes owned by the player's main
// window.
class ModuleSite final : public KSHostSite {
  public:
    void CopySettings(KSSettings* out) override {
        SrwGuard lock(g_srwSettings);
        *out = *g_pSettings;
    }
    void TellUser(const char* text) override {
        MessageBoxA(g_OutModule.hMainWindow, text, "Error!", MB_OK);
    }
};
ModuleSite g_ModuleSite;

KSCore* NewEngine() {
    if (!g_pSettings)
        return nullptr;
    return new (std::nothrow) KSCore(g_ModuleSite);
}

// The status window lets go of the engine first. An engine whose device or player thread still
// uses it (Shutdown says so, and logs it) is left in memory for good rather than freed under them.
void DeleteEngine() {
    CloseStatusWindow();
    if (g_pEngine && g_pEngine->Shutdown())
        delete g_pEngine;
    g_pEngine = nullptr;
}

// The settings dialog, modal on the calling thread; it needs the settings record.
void __cdecl Config(HWND parent) {
    if (!g_pSettings)
        return;
    DialogBoxParamA(g_OutModule.hDllInstance, MAKEINTRESOURCEA(IDD_SETTINGS), parent, ConfigDlgProc,
                    0);
}

void __cdecl About(HWND parent) {
    ShowAboutBox(parent);
}

void __cdecl Init() {
    g_pSettings = new (std::nothrow) KSSettings();
    if (g_pSettings)
        ReadSettings(*g_pSettings);
    LogInit();
    ForgetBusyNotices();
    LogEnable(g_pSettings ? g_pSettings->logging_enabled : 0);
    DiagLog(1, "Quellor Plugin v3.61 (x86) Diagnostic log\n");
    BuildVolumeTable();
    g_pEngine = NewEngine();
    g_DeviceNames.Build(g_pEngine ? g_pEngine->Devices() : nullptr);
    g_pTooltip = new (std::nothrow) CTooltip(g_OutModule.hDllInstance);
}

void __cdecl Quit() {
    if (g_pTooltip) {
        g_pTooltip->Destroy();
        delete g_pTooltip;
        g_pTooltip = nullptr;
    }
    g_DeviceNames.Free();
    DeleteEngine();
    LogShutdown();
    delete g_pSettings;
    g_pSettings = nullptr;
}

int __cdecl Open(int rate, int channels, int bits, int, int) {
    if (g_bRecreateEngine) {
        DeleteEngine();
        g_pEngine = NewEngine();
        if (g_pEngine)
            ApplyVolume(g_nVolume);
        InterlockedExchange(&g_bRecreateEngine, 0);
    }
    return g_pEngine ? g_pEngine->Start(rate, channels, bits) : -1;
}

void __cdecl Close() {
    if (g_pEngine)
        g_pEngine->End();
}

int __cdecl Write(char* data, int length) {
    return g_pEngine ? g_pEngine->Write(data, length) : 1;
}

int __cdecl CanWrite() {
    return g_pEngine ? g_pEngine->CanWrite() : 0;
}

int __cdecl IsPlaying() {
    return g_pEngine ? g_pEngine->IsPlaying() : 0;
}

int __cdecl Pause(int pause) {
    return g_pEngine ? g_pEngine->Pause(pause) : 0;
}

void __cdecl SetVolume(int volume) {
    if (volume < 0 || volume > kMaxVolume)
        return;
    ApplyVolume(volume);
}

void __cdecl Flush(int timeMs) {
    if (g_pEngine)
        g_pEngine->Flush(timeMs);
}

int __cdecl GetOutputTime() {
    return g_pEngine ? g_pEngine->GetOutputTime() : 0;
}

int __cdecl GetWrittenTime() {
    return g_pEngine ? g_pEngine->GetWrittenTime() : 0;
}

} // namespace

void StoreSettings(const KSSettings& next) {
    SrwGuard lock(g_srwSettings);
    *g_pSettings = next;
}

extern "C" Out_Module* __cdecl winampGetOutModule() {
    return &g_OutModule;
}

void ApplyVolume(int volume) {
    g_nVolume = volume;
    if (!g_pEngine)
        return;
    bool mapped = g_pSettings && g_pSettings->logarithmic_volume;
    g_pEngine->SetVolume(mapped ? g_VolumeTable[volume] : volume);
}
