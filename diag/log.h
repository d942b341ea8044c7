// The diagnostic log file "quellor log.txt" and the debugger trace.
// The log is switched on by the user; the trace is silent unless the threshold is raised.
#pragma once

#include <windows.h>
#include <cstdio>

// Log: LogInit once before any DiagLog, LogShutdown last. DiagLog is safe from any thread.
void LogInit();
void LogEnable(int flag);
void DiagLog(int level, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
void LogShutdown();

// Full path of the log file, set by LogInit; empty when the path does not fit.
extern char g_szLogFile[MAX_PATH + 1];
extern volatile LONG g_bLogEnabled;

// Builds "<folder of exePath>\quellor log.txt" into out (size bytes). Returns false, with out
// emptied, when the result does not fit.
bool BuildLogPath(const char* exePath, char* out, size_t size);
