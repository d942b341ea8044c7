// Small helpers shared by every subsystem: the debugger trace and the size of a wave format.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <cstdio>

// Trace threshold: a DebugTrace line is emitted only when its level is at most this value.
// It is 0 in the plug-in; tests raise it to read the KS layer's trace.
extern int g_nTraceLevel;

// One line to the debugger output (OutputDebugStringA), cut to 259 characters.
void DebugTrace(int level, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

// Size in bytes of a wave format: 18 for WAVE_FORMAT_PCM, otherwise 18 plus cbSize.
// pwfxSrc must not be NULL.
ULONG GetWaveFormatSize(const WAVEFORMATEX* pwfxSrc);
