// The diagnostic log: one file beside the host's executable, one open-append-close per line.
#include "diag/log.h"

#include "diag/owned.h"
#include "diag/util.h"

#include <shlwapi.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

char g_szLogFile[MAX_PATH + 1];
volatile LONG g_bLogEnabled = 0;

namespace {

const char kLogName[] = "\\quellor log.txt";

// Serialises every DiagLog call, formatting and file write included, and LogInit's choice of
// file. Always the innermost lock; initialised statically, never deleted.
SRWLOCK g_srwLog = SRWLOCK_INIT;

// 1 from LogInit to LogShutdown: a line outside that span is dropped.
volatile LONG g_bLogReady = 0;

} // namespace

bool BuildSiblingPath(const char* exePath, const char* name, char* out, size_t size) {
    char folder[MAX_PATH + 1];
    out[0] = '\0';
    if (strlen(exePath) >= sizeof folder)
        return false;
    strcpy(folder, exePath);
    PathRemoveFileSpecA(folder);
    // The path, its terminator included, must fit MAX_PATH characters.
    size_t needed = strlen(folder) + strlen(name) + 1;
    if (needed > MAX_PATH || needed > size)
        return false;
    strcpy(out, folder);
    strcat(out, name);
    return true;
}

bool BuildLogPath(const char* exePath, char* out, size_t size) {
    return BuildSiblingPath(exePath, kLogName, out, size);
}

void LogInit() {
    SrwGuard lock(g_srwLog);
    InterlockedExchange(&g_bLogReady, 1);
    g_szLogFile[0] = '\0';
    char exePath[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(NULL, exePath, MAX_PATH + 1);
    exePath[n < sizeof exePath ? n : sizeof exePath - 1] = '\0';
    // A path that does not fit leaves the log without a file rather than writing elsewhere.
    if (n == 0 || n > MAX_PATH || !BuildLogPath(exePath, g_szLogFile, sizeof g_szLogFile))
        return;
    FILE* f = fopen(g_szLogFile, "wb");
    if (f)
        fclose(f);
}

void LogEnable(int flag) {
    InterlockedExchange(&g_bLogEnabled, flag ? 1 : 0);
}

namespace {

// Threads whose lines are dropped (LogMuteThread); 0 marks a free slot.
volatile LONG g_mutedThreads[4];

bool Muted(DWORD thread) {
    for (volatile LONG& slot : g_mutedThreads)
        if ((DWORD)slot == thread)
            return true;
    return false;
}

// Formats one line and appends it to the file, under the log lock; dropped outside
// LogInit..LogShutdown.
void WriteLine(int level, const char* format, va_list args) {
    if (Muted(GetCurrentThreadId()))
        return;
    SrwGuard lock(g_srwLog);
    if (!g_bLogReady)
        return;
    char line[4096];
    // A longer message is cut to the 4093 characters that fit before CR LF.
    size_t len = FormatText(line, sizeof line - 2, format, args);
    line[len] = '\r';
    line[len + 1] = '\n';
    line[len + 2] = '\0';
    if (level != 0 && g_bLogEnabled && g_szLogFile[0]) {
        FILE* f = fopen(g_szLogFile, "a+b");
        if (f) {
            fwrite(line, 1, len + 2, f);
            fclose(f);
        }
    }
}

} // namespace

void LogMuteThread(DWORD thread, bool mute) {
    if (Muted(thread) == mute)
        return;
    for (volatile LONG& slot : g_mutedThreads)
        if (InterlockedCompareExchange(&slot, mute ? (LONG)thread : 0, mute ? 0 : (LONG)thread) ==
            (mute ? 0 : (LONG)thread))
            return;
}

void DiagLog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(level, format, args);
    va_end(args);
}

void LogCause(const char* call, HRESULT hr) {
    DiagLog(1, "%s failed, hr=0x%08x", call, (unsigned)hr);
}

// Lines logged from now on are dropped; a line under way finishes first (it holds the lock).
void LogShutdown() {
    SrwGuard lock(g_srwLog);
    InterlockedExchange(&g_bLogReady, 0);
}
