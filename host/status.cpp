// The status window: a modeless dialog that repaints the engine's live state 50 times a second,
// double-buffered, and its closing when the engine goes away on any thread.
#include "host/status.h"

#include "diag/log.h"
#include "diag/owned.h"
#include "diag/util.h"
#include "engine/kscore.h"
#include "resources/resource.h"

#include <cstdarg>

namespace {

const UINT_PTR kStatusTimer = 1;
const UINT kStatusPeriodMs = 20;
// How long a close on another thread waits for the window's own thread to close it.
const DWORD kCloseWaitMs = 1000;

// Guards g_hwndStatus and g_pStatusEngine against the window's thread, so that a paint or a timer
// tick never reads an engine that another thread is shutting down. Under it only the engine's
// state lock is taken (the snapshot of a paint), and nothing is sent.
SRWLOCK g_srwStatus = SRWLOCK_INIT;
HWND g_hwndStatus = nullptr;       // the window, or null
KSCore* g_pStatusEngine = nullptr; // the engine it paints, while it is g_hwndStatus

// Holds the status lock for its scope.
class StatusLock : public SrwGuard {
  public:
    StatusLock() : SrwGuard(g_srwStatus) {}
};

// An object selected into a device context for the scope, the previous one put back at its end.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~SelectedObject() { SelectObject(m_dc, m_old); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// The engine whose status window hwnd is, or null. Only with the status lock held.
KSCore* EngineOf(HWND hwnd) {
    return hwnd && hwnd == g_hwndStatus ? g_pStatusEngine : nullptr;
}

void CALLBACK StatusTimerProc(HWND hwnd, UINT msg, UINT_PTR idEvent, DWORD time);

// Fills the rectangle and returns 1; returns 0 and draws nothing when it is empty.
int FillBar(int left, int top, int right, int bottom, HDC hdc, HBRUSH brush) {
    if (left >= right || bottom <= top)
        return 0;
    RECT r = {left, top, right, bottom};
    FillRect(hdc, &r, brush);
    return 1;
}

// Milliseconds of audio in bytes at the format's rate; 0 before any format is open.
double Millis(DWORD bytes, DWORD rate) {
    return rate ? (float)bytes / (float)rate * 1000.0f : 0.0f;
}

void DrawUsageBar(HDC dc, const KSSnapshot& s, HBRUSH green, HBRUSH grey) {
    StatusTextOut(dc, 20, 100, "Usage:");
    int w = StatusTextWidth(dc, "Usage:");
    LONGLONG used = (LONG)s.inputUsed;
    int p = (int)(used * 100 / s.inputSize);
    p = p < 0 ? 0 : p > 100 ? 100 : p; // a frame may catch the counters mid-change
    FillBar(w + 30, 100, w + 230, 120, dc, grey);
    FillBar(w + 30, 100, w + 30 + 2 * p, 120, dc, green);
    StatusTextOut(dc, w + 130 - StatusTextWidth(dc, "%d%%", p) / 2, 100, "%d%%", p);
}

// A WaveRT stream's cyclic buffer in place of the packets: its kind, size and duration, and where
// the hardware plays, on the line where the packet list would start.
void DrawCyclicBuffer(HDC dc, const KSSnapshot& s) {
    DWORD size = s.cyclicSize, offset = s.playOffset;
    StatusTextOut(dc, 20, 140, "Cyclic Buffer (WaveRT, %s):",
                  s.kind == KSOutputKind::kCyclicEvent ? "event-driven" : "polled");
    StatusTextOut(dc, 20, 160, "Size: %d bytes (%.1fmS)", (int)size,
                  Millis(size, s.format.Format.nAvgBytesPerSec));
    StatusTextOut(dc, 20, 180, "Playing: %s half, at byte %d",
                  offset < size / 2 ? "first" : "second", (int)offset);
    StatusTextOut(dc, 20, 200, "Halves: %d frames, %d-byte alignment", (int)s.cyclicHalfFrames,
                  (int)s.cyclicAlign);
    StatusTextOut(dc, 20, 220, "Latency: %dmS; packet mode off (%s)", (int)s.latencyMs,
                  s.packetModeOffered ? "offered by the driver" : "not offered");
}

void DrawPacketList(HDC dc, const KSSnapshot& s) {
    const int n = s.packetCount;
    StatusTextOut(dc, 20, 140, "Output Buffers:");
    StatusTextOut(dc, 20, 160, "Size: %d bytes (%.1fmS x %d)", (int)s.packetSize,
                  Millis(s.packetSize, s.format.Format.nAvgBytesPerSec), n);
    for (int i = 0; i < n; i++)
        StatusTextOut(dc, 20, 180 + 20 * i, "%d : %s", i, s.packetFree[i] ? "FREE" : "IN USE");
}

// The device's format; an adapted stream's own format beside it, and the device's container.
void DrawFormat(HDC dc, const KSSnapshot& s, int y) {
    const WAVEFORMATEX& f = s.format.Format;
    WORD valid = s.format.Samples.wValidBitsPerSample;
    StatusTextOut(dc, 20, y, "Output Format:");
    StatusTextOut(dc, 20, y + 20, "Frequency: %dHz", (int)f.nSamplesPerSec);
    if (!s.adapted) {
        StatusTextOut(dc, 20, y + 40, "Sample Size: %d bits", valid ? valid : f.wBitsPerSample);
        StatusTextOut(dc, 20, y + 60, "Number of Channels: %d", f.nChannels);
        return;
    }
    const WAVEFORMATEX& st = s.streamFormat.Format;
    WORD streamValid = s.streamFormat.Samples.wValidBitsPerSample;
    StatusTextOut(dc, 20, y + 40, "Sample Size: %d in %d bits (stream %d)",
                  valid ? valid : f.wBitsPerSample, f.wBitsPerSample,
                  streamValid ? streamValid : st.wBitsPerSample);
    StatusTextOut(dc, 20, y + 60, "Number of Channels: %d (stream %d)", f.nChannels, st.nChannels);
}

// Where the player's volume goes: nowhere, the samples, or the device's control at its level; on
// the free line below the thread's state, and only while the device's control may be used.
void DrawVolume(HDC dc, const KSSnapshot& s, int y) {
    if (!s.deviceVolumeAllowed)
        return;
    if (s.volumeKind == KSVolumeKind::kOff)
        StatusTextOut(dc, 20, y, "Volume: off");
    else if (s.volumeKind == KSVolumeKind::kSoftware)
        StatusTextOut(dc, 20, y, "Volume: software");
    else if (s.deviceMuted)
        StatusTextOut(dc, 20, y, "Volume: device control, muted");
    else
        StatusTextOut(dc, 20, y, "Volume: device control, %.1f dB", s.deviceLevel / 65536.0);
}

void DrawStatusLines(HDC dc, const KSSnapshot& s, HBRUSH green, HBRUSH grey) {
    const WAVEFORMATEX& f = s.format.Format;
    const bool cyclic =
        s.kind == KSOutputKind::kCyclicEvent || s.kind == KSOutputKind::kCyclicPolled;
    const int n = cyclic ? 3 : s.packetCount; // lines of the output part below y = 180
    StatusTextOut(dc, 20, 20, "Player Thread State: %s", s.sleeping ? "SLEEPING" : "AWAKE");
    // The line below the thread's state: the device's absence, else where the volume goes.
    if (s.device == kDeviceWaiting)
        StatusTextOut(dc, 20, 40, "waiting for the device, %lu.%lu s left", s.waitLeftMs / 1000,
                      s.waitLeftMs % 1000 / 100);
    else if (s.device == kDeviceReleased)
        StatusTextOut(dc, 20, 40, "released while paused");
    else if (s.device == kDeviceGone)
        StatusTextOut(dc, 20, 40, "no device, audio dropped: %s", s.dropWhy);
    else
        DrawVolume(dc, s, 40);
    StatusTextOut(dc, 20, 60, "Input Buffer:");
    StatusTextOut(dc, 20, 80, "Size: %d bytes (%.1fmS)", (int)s.inputSize,
                  Millis(s.inputSize, f.nAvgBytesPerSec));
    if (s.inputSize != 0)
        DrawUsageBar(dc, s, green, grey);
    StatusTextOut(dc, 20, 120, "Buffered: %dmS written, not yet heard", s.bufferedMs);
    if (cyclic)
        DrawCyclicBuffer(dc, s);
    else
        DrawPacketList(dc, s);
    DrawFormat(dc, s, 200 + 20 * n);
    if (s.fadeMs)
        StatusTextOut(dc, 20, 280 + 20 * n, "Fades: %d ms at pause, seek and stop", s.fadeMs);
}

INT_PTR CALLBACK StatusDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_SHOWWINDOW:
        SetTimer(hwnd, kStatusTimer, kStatusPeriodMs, StatusTimerProc);
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc)
            PaintStatus(hwnd, dc);
        EndPaint(hwnd, &ps);
        break;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) // the Escape key
            DestroyWindow(hwnd);
        break;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        break;
    case WM_DESTROY: {
        KillTimer(hwnd, kStatusTimer);
        StatusLock lock;
        if (hwnd == g_hwndStatus) {
            g_hwndStatus = nullptr;
            g_pStatusEngine = nullptr;
        }
        break;
    }
    }
    return 0;
}

void CALLBACK StatusTimerProc(HWND hwnd, UINT, UINT_PTR idEvent, DWORD) {
    if (idEvent != kStatusTimer)
        return;
    StatusLock lock;
    if (EngineOf(hwnd))
        InvalidateRect(hwnd, NULL, FALSE);
}

} // namespace

void OpenStatusWindow(HINSTANCE module, KSCore* engine) {
    DiagLog(1, "OpenDiagnosticWindow - current thread (%d)", (int)GetCurrentThreadId());
    {
        StatusLock lock;
        // A window whose thread has ended is gone without having told anyone.
        if (g_hwndStatus && IsWindow(g_hwndStatus))
            return;
        g_hwndStatus = nullptr;
        g_pStatusEngine = nullptr;
    }
    HWND hwnd = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_STATUS), NULL, StatusDlgProc, 0);
    if (!hwnd)
        return;
    {
        StatusLock lock;
        g_hwndStatus = hwnd;
        g_pStatusEngine = engine;
    }
    ShowWindow(hwnd, SW_RESTORE);
}

HWND StatusWindow() {
    StatusLock lock;
    return g_hwndStatus;
}

// Detached under the status lock, the window's paints and timer ticks read nothing more.
void CloseStatusWindow() {
    HWND hwnd = StatusWindow();
    if (hwnd && GetWindowThreadProcessId(hwnd, NULL) == GetCurrentThreadId())
        DestroyWindow(hwnd);
    {
        StatusLock lock;
        hwnd = g_hwndStatus;
        g_hwndStatus = nullptr;
        g_pStatusEngine = nullptr;
    }
    if (!hwnd || !PostMessageA(hwnd, WM_CLOSE, 0, 0))
        return;
    for (DWORD waited = 0; IsWindow(hwnd) && waited < kCloseWaitMs; waited += kPollMs)
        Sleep(kPollMs);
    DiagLog(1, "Status window %s by its own thread", IsWindow(hwnd) ? "left to close" : "closed");
}

// Draws a frame off-screen and copies it to dc in one transfer. A window that no longer belongs
// to an engine shows only its background.
void PaintStatus(HWND hwnd, HDC hdc) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    UniqueMemoryDc mem(CreateCompatibleDC(hdc));
    if (!mem.Valid())
        return;
    UniqueGdiObject bitmap(CreateCompatibleBitmap(hdc, rc.right, rc.bottom));
    if (!bitmap.Valid())
        return;
    // Put back before the bitmap and the context go (destroyed in reverse order).
    SelectedObject selected(mem.Get(), bitmap.Get());
    {
        UniqueGdiObject face(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
        FillRect(mem.Get(), &rc, (HBRUSH)face.Get());
    }
    UniqueGdiObject green(CreateSolidBrush(RGB(0, 255, 0)));
    UniqueGdiObject grey(CreateSolidBrush(RGB(160, 160, 160)));
    SetBkMode(mem.Get(), TRANSPARENT);
    {
        StatusLock lock;
        if (KSCore* e = EngineOf(hwnd))
            DrawStatusLines(mem.Get(), e->Snapshot(), (HBRUSH)green.Get(), (HBRUSH)grey.Get());
    }
    BitBlt(hdc, 0, 0, rc.right, rc.bottom, mem.Get(), 0, 0, SRCCOPY);
}

void StatusTextOut(HDC hdc, int x, int y, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(text, sizeof text, format, args);
    va_end(args);
    TextOutA(hdc, x, y, text, (int)length);
}

int StatusTextWidth(HDC hdc, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(text, sizeof text, format, args);
    va_end(args);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(hdc, text, (int)length, &size);
    return size.cx;
}
