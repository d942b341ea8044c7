// The status window: a modeless dialog (resource IDD_STATUS) that paints one engine's snapshot 50
// times a second. One window at a time, on the thread that opened it (the settings dialog's).
//
// The status lock guards the window and its engine between that thread and the thread that closes
// it before the engine goes; it is taken before the engine's state lock (a paint's snapshot) and
// never while the caller holds another lock of the engine or the log's.
#pragma once

#include <windows.h>
#include <cstdio>

class KSCore;

// Opens the window of engine on the calling thread, from the dialog template in module, unless
// one is open.
void OpenStatusWindow(HINSTANCE module, KSCore* engine);
// The open window, or null.
HWND StatusWindow();
// Parts the window from its engine, on any thread, before the engine is shut down: on the window's
// own thread it is destroyed at once; from any other its thread is asked to close it and waited
// for a bounded time, since that thread may itself be waiting for this one. Once this returns, no
// paint reads the engine.
void CloseStatusWindow();

// Paints the window into hdc, drawn off-screen first; hdc may be any device context.
void PaintStatus(HWND hwnd, HDC hdc);
// Formats into 256 bytes and draws the text with its top-left corner at x, y.
void StatusTextOut(HDC hdc, int x, int y, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 4, 5)));
// Width in pixels of the formatted text.
int StatusTextWidth(HDC hdc, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
