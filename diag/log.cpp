// The diagnostic log: one file beside the host's executable, one open-append-close per line.
#include "diag/log.h"

#include "diag/constants.h"
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

// Serialises every DiagLog call, formatting and file write included. Always the innermost lock.
CRITICAL_SECTION g_csLog;

// 1 from LogInit to LogShutdown: a line outside that span is dropped instead of touching a lock
// that does not exist.
volatile LONG g_bLogReady = 0;

// DiagLog calls under way; LogShutdown lets them finish before it deletes the lock.
volatile LONG g_nLogCallers = 0;

} // namespace

bool BuildLogPath(const char* exePath, char* out, size_t size) {
    char folder[MAX_PATH + 1];
    out[0] = '\0';
    if (strlen(exePath) >= sizeof folder)
        return false;
    strcpy(folder, exePath);
    PathRemoveFileSpecA(folder);
    // The path, its terminator included, must fit MAX_PATH characters.
    size_t needed = strlen(folder) + strlen(kLogName) + 1;
    if (needed > MAX_PATH || needed > size)
        return false;
    strcpy(out, folder);
    strcat(out, kLogName);
    return true;
}

void LogInit() {
    InitializeCriticalSection(&g_csLog);
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

// Formats one line and appends it to the file, under the log lock.
void WriteLine(int level, const char* format, va_list args) {
    CsGuard lock(g_csLog);
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

void DiagLog(int level, const char* format, ...) {
    // Counted before the ready flag is read, so that LogShutdown, which clears the flag before it
    // looks at the count, either sees this call or makes it drop its line.
    InterlockedIncrement(&g_nLogCallers);
    if (g_bLogReady) {
        va_list args;
        va_start(args, format);
        WriteLine(level, format, args);
        va_end(args);
    }
    InterlockedDecrement(&g_nLogCallers);
}

void LogCause(const char* call, HRESULT hr) {
    DiagLog(1, "%s failed, hr=0x%08x", call, (unsigned)hr);
}

// Lines logged from now on are dropped; the ones under way (one file write each) are waited for
// before the lock goes. A second call finds no lock and does nothing.
void LogShutdown() {
    if (!InterlockedExchange(&g_bLogReady, 0))
        return;
    while (g_nLogCallers != 0)
        Sleep(kPollMs);
    DeleteCriticalSection(&g_csLog);
}
