// qhost's stand-in for the player: plug-in loading and the player's threads around a track.
#include "tools/qhost/plugin.h"

#include <cstdio>

namespace {

char g_szHostId[] = "qhost";

} // namespace

HWND CreateMainWindow() {
    return CreateWindowExA(0, "STATIC", "qhost", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

Out_Module* LoadPlugin(const std::string& path, HWND mainWindow, HMODULE* dll, std::string& error) {
    *dll = LoadLibraryA(path.c_str());
    if (!*dll) {
        error = "cannot load " + path;
        return nullptr;
    }
    typedef Out_Module*(__cdecl * GetModule)();
    GetModule get = (GetModule)(void*)GetProcAddress(*dll, "winampGetOutModule");
    Out_Module* mod = get ? get() : nullptr;
    if (!mod || mod->version != 0x10) {
        error = "no output module record of version 0x10 in " + path;
        return nullptr;
    }
    mod->hDllInstance = *dll;
    mod->hMainWindow = mainWindow;
    mod->id = (INT_PTR)g_szHostId;
    return mod;
}
