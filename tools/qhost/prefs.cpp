// Running the plug-in's settings dialog as the player's Preferences do, and pressing its buttons
// through the messages a click produces, from a timer on the dialog's own thread.
#include "tools/qhost/prefs.h"

#include "resources/resource.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

namespace {

const UINT kTickMs = 50;

// The script being followed; the timer callback has no argument of its own.
struct Run {
    ConfigScript script;
    HWND dialog = NULL;
    DWORD shownAt = 0;
    bool statusReported = false;
    bool cancelled = false;
} g_run;

struct Search {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND hwnd, LPARAM param) {
    Search& s = *(Search*)param;
    char text[64];
    if (GetWindowTextA(hwnd, text, sizeof text) && !strcmp(text, s.caption)) {
        s.found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A top-level window of this thread with the caption, or null.
HWND FindOwnWindow(const char* caption) {
    Search s = {caption, NULL};
    EnumThreadWindows(GetCurrentThreadId(), MatchCaption, (LPARAM)&s);
    return s.found;
}

void Report(const char* caption, HWND hwnd) {
    RECT r;
    if (GetWindowRect(hwnd, &r))
        printf("window \"%s\" %ldx%ld+%ld+%ld\n", caption, r.right - r.left, r.bottom - r.top,
               r.left, r.top);
}

void Click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

bool TimeToClose() {
    const ConfigScript& s = g_run.script;
    if (s.closeWhen && WaitForSingleObject(s.closeWhen, 0) == WAIT_OBJECT_0)
        return true;
    return s.closeAfterMs && GetTickCount() - g_run.shownAt >= s.closeAfterMs;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_run.dialog) {
        g_run.dialog = FindOwnWindow("Quellor Settings");
        if (!g_run.dialog || !IsWindowVisible(g_run.dialog)) {
            g_run.dialog = NULL;
            return;
        }
        g_run.shownAt = GetTickCount();
        Report("Quellor Settings", g_run.dialog);
        if (g_run.script.openStatus)
            Click(g_run.dialog, IDC_OPEN_STATUS);
    }
    HWND status = g_run.script.openStatus ? FindOwnWindow("Quellor Status") : NULL;
    if (status && !g_run.statusReported) {
        g_run.statusReported = true;
        Report("Quellor Status", status);
    }
    if (!g_run.cancelled && TimeToClose()) {
        g_run.cancelled = true;
        PostMessageA(g_run.dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

} // namespace

void RegisterCommonControls() {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
}

void RunConfigDialog(Out_Module* mod, HWND owner, const ConfigScript& script) {
    g_run = Run();
    g_run.script = script;
    UINT_PTR timer = SetTimer(NULL, 0, kTickMs, Tick);
    mod->Config(owner);
    if (timer)
        KillTimer(NULL, timer);
}
