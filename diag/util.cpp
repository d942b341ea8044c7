// The debugger trace: printf-style lines to OutputDebugStringA below a threshold; the size of a
// wave format; the tooltip window.
#include "diag/util.h"

#include <windows.h>
#include <commctrl.h>
#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstring>

int g_nTraceLevel = 0;

size_t FormatText(char* buffer, size_t size, const char* format, va_list args) {
    vsnprintf(buffer, size, format, args);
    buffer[size - 1] = '\0';
    return strlen(buffer);
}

void DebugTrace(int level, const char* format, ...) {
    if (level > g_nTraceLevel)
        return;
    char line[260];
    va_list args;
    va_start(args, format);
    FormatText(line, sizeof line, format, args);
    va_end(args);
    OutputDebugStringA(line);
}

ULONG GetWaveFormatSize(const WAVEFORMATEX* pwfxSrc) {
    assert(pwfxSrc);
    if (WAVE_FORMAT_PCM == pwfxSrc->wFormatTag)
        return sizeof(WAVEFORMATEX);
    return sizeof(WAVEFORMATEX) + pwfxSrc->cbSize;
}

CTooltip::CTooltip(HINSTANCE hInstance) : m_hInstance(hInstance) {
    m_hWnd = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL,
                             WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, m_hInstance, NULL);
    if (m_hWnd)
        SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

CTooltip::~CTooltip() {
    Destroy();
}

namespace {

// A tool record for the control, without the trailing reserved member (44 bytes).
TOOLINFOA ToolFor(HWND hwndControl, HINSTANCE hInstance, UINT flags) {
    TOOLINFOA ti = {};
    ti.cbSize = TTTOOLINFOA_V2_SIZE;
    ti.uFlags = flags;
    ti.hwnd = NULL;
    ti.uId = (UINT_PTR)hwndControl;
    ti.hinst = hInstance;
    return ti;
}

} // namespace

int CTooltip::AddTool(HWND hwndControl, const char* text) {
    TOOLINFOA ti = ToolFor(hwndControl, m_hInstance, TTF_IDISHWND | TTF_SUBCLASS);
    ti.lpszText = (LPSTR)text;
    SendMessageA(m_hWnd, TTM_ADDTOOLA, 0, (LPARAM)&ti);
    return 1;
}

LRESULT CTooltip::DeleteTool(HWND hwndControl) {
    TOOLINFOA ti = ToolFor(hwndControl, m_hInstance, TTF_IDISHWND);
    return SendMessageA(m_hWnd, TTM_DELTOOLA, 0, (LPARAM)&ti);
}

// Only the window's own thread can destroy it; from any other thread it is asked to close.
void CTooltip::Destroy() {
    if (m_hWnd && GetWindowThreadProcessId(m_hWnd, NULL) == GetCurrentThreadId())
        DestroyWindow(m_hWnd);
    else if (m_hWnd)
        PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    m_hWnd = nullptr;
}
