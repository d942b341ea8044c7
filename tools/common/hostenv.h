// What a stand-in for the player needs of its surroundings, shared by qhost and the tests: the
// folder of the running executable, and settings written into the plug-in's INI section.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hostenv {

// Folder of the process's executable, without a trailing backslash.
inline std::string ExeFolder() {
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    path[n < MAX_PATH ? n : MAX_PATH] = '\0';
    std::string p(path);
    size_t slash = p.rfind('\\');
    return slash == std::string::npos ? p : p.substr(0, slash);
}

// Writes each "KEY=VALUE" of settings into the plug-in's "Quellor" section of iniFile. Entries
// without "=" are skipped.
inline void WriteSettings(const std::string& iniFile, const std::vector<std::string>& settings) {
    for (const std::string& kv : settings) {
        size_t eq = kv.find('=');
        if (eq == std::string::npos)
            continue;
        WritePrivateProfileStringA("Quellor", kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(),
                                   iniFile.c_str());
    }
}

} // namespace hostenv
