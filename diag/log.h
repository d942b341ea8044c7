// The diagnostic log file "quellor log.txt" and the debugger trace.
// The log is switched on by the user; the trace is silent unless the threshold is raised.
#pragma once

#include <windows.h>
#include <cstdio>

// Log: LogInit before any DiagLog, LogShutdown last (the pair may repeat). DiagLog is safe from
// any thread; outside LogInit..LogShutdown its lines are dropped.
void LogInit();
void LogEnable(int flag);
void DiagLog(int level, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
// Drops the lines the thread logs from now on (mute), or no longer. A few threads at a time: a
// thread that finds no free slot keeps logging.
void LogMuteThread(DWORD thread, bool mute);
// Drops the lines logged from now on, once the one under way, if any, is written.
void LogShutdown();

// One log line naming the call that failed and the HRESULT it gave (a Win32 error goes in as
// HRESULT_FROM_WIN32), written beside the system's own line for the failure:
// "<call> failed, hr=0x<8 hex digits>".
void LogCause(const char* call, HRESULT hr);

// Full path of the log file, set by LogInit; empty when the path does not fit.
extern char g_szLogFile[MAX_PATH + 1];
extern volatile LONG g_bLogEnabled;

// Builds "<folder of exePath>\quellor log.txt" into out (size bytes). Returns false, with out
// emptied, when the result does not fit.
bool BuildLogPath(const char* exePath, char* out, size_t size);
// The same for any name, which starts with a backslash.
bool BuildSiblingPath(const char* exePath, const char* name, char* out, size_t size);
