// Small helpers shared by every subsystem: the debugger trace, the size of a wave format and the
// tooltip window of the settings dialog.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <cstdio>

#include <cstdarg>

// Formats into buffer (size bytes), cutting what does not fit; the result is always terminated.
// Returns its length.
size_t FormatText(char* buffer, size_t size, const char* format, va_list args);

// Trace threshold: a DebugTrace line is emitted only when its level is at most this value.
// It is 0 in the plug-in; tests raise it to read the KS layer's trace.
extern int g_nTraceLevel;

// One line to the debugger output (OutputDebugStringA), cut to 259 characters.
void DebugTrace(int level, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

// Size in bytes of a wave format: 18 for WAVE_FORMAT_PCM, otherwise 18 plus cbSize.
// pwfxSrc must not be NULL.
ULONG GetWaveFormatSize(const WAVEFORMATEX* pwfxSrc);

// The tooltip window that the settings dialog registers its controls with. Created once for the
// module (Init) and destroyed by Quit; it owns its window. The common-control classes must have
// been registered by the host process. Its messages are sent to the window, so a dialog on
// another thread than the creating one needs that thread to dispatch messages.
class CTooltip {
  public:
    explicit CTooltip(HINSTANCE hInstance);
    ~CTooltip();
    CTooltip(const CTooltip&) = delete;
    CTooltip& operator=(const CTooltip&) = delete;

    // Shows text over the control while the mouse rests on it. Returns 1 whatever the result.
    int AddTool(HWND hwndControl, const char* text);
    // Removes the control's tool; returns the message's result.
    LRESULT DeleteTool(HWND hwndControl);
    // Destroys the window; harmless when it is already gone.
    void Destroy();

    HWND m_hWnd;           // the tooltip window, or null
    HINSTANCE m_hInstance; // the DLL instance, put into every tool record
};
