// The debugger trace: printf-style lines to OutputDebugStringA below a threshold; the size of a
// wave format.
#include "diag/util.h"

#include <windows.h>
#include <cassert>
#include <cstdarg>
#include <cstdio>

int g_nTraceLevel = 0;

void DebugTrace(int level, const char* format, ...) {
    if (level > g_nTraceLevel)
        return;
    char line[260];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    line[sizeof line - 1] = '\0';
    OutputDebugStringA(line);
}

ULONG GetWaveFormatSize(const WAVEFORMATEX* pwfxSrc) {
    assert(pwfxSrc);
    if (WAVE_FORMAT_PCM == pwfxSrc->wFormatTag)
        return sizeof(WAVEFORMATEX);
    return sizeof(WAVEFORMATEX) + pwfxSrc->cbSize;
}
