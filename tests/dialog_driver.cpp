// The dialog driver: Config on the test's thread, the user's actions from a second thread.
#include "tests/dialog_driver.h"

#include <commctrl.h>
#include <cstring>
#include <sstream>

namespace {

struct ThreadCall {
    std::function<void()> fn;
};

DWORD WINAPI CallThread(LPVOID param) {
    static_cast<ThreadCall*>(param)->fn();
    return 0;
}

struct Search {
    const char* caption;
    int count;
    HWND first;
};

BOOL CALLBACK CountOne(HWND hwnd, LPARAM param) {
    Search& s = *(Search*)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char text[128];
    if (pid == GetCurrentProcessId() && GetWindowTextA(hwnd, text, sizeof text) &&
        !strcmp(text, s.caption)) {
        if (!s.count++)
            s.first = hwnd;
    }
    return TRUE;
}

Search Find(const char* caption) {
    Search s = {caption, 0, NULL};
    EnumWindows(CountOne, (LPARAM)&s);
    return s;
}

} // namespace

void DialogFixture::SetUpTestSuite() {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    PluginFixture::SetUpTestSuite();
}

bool DialogFixture::RunConfig(const std::function<void(HWND)>& drive) {
    bool found = false;
    ThreadCall call = {[&] {
        HWND dialog = WaitForWindow("Quellor Settings");
        found = dialog != NULL;
        if (!found)
            return;
        drive(dialog);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }};
    HANDLE thread = CreateThread(NULL, 0, CallThread, &call, 0, NULL);
    if (!thread)
        return false;
    mod->Config(NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    Pump(); // drops the Cancel posted to a dialog that had already closed
    return found;
}

std::string DialogFixture::Ini(const char* key) {
    char text[300];
    GetPrivateProfileStringA("Quellor", key, "<missing>", text, sizeof text,
                             (folder + "\\player.ini").c_str());
    return text;
}

int DialogFixture::IniInt(const char* key) {
    return (int)GetPrivateProfileIntA("Quellor", key, -12345, (folder + "\\player.ini").c_str());
}

int DialogFixture::LogCount(const std::string& text) {
    std::istringstream in(Log());
    int n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find(text) != std::string::npos;
    return n;
}

HWND WaitForWindow(const char* caption, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += 10) {
        Search s = Find(caption);
        if (s.first && IsWindowVisible(s.first))
            return s.first;
        Sleep(10);
    }
    return NULL;
}

int CountWindows(const char* caption) {
    return Find(caption).count;
}

void Press(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void MoveSlider(HWND dialog, int id, int pos) {
    HWND slider = GetDlgItem(dialog, id);
    SendMessageA(slider, TBM_SETPOS, TRUE, pos);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, pos), (LPARAM)slider);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)slider);
}

void PressKey(HWND dialog, int id, UINT key) {
    HWND control = GetDlgItem(dialog, id);
    SendMessageA(control, WM_KEYDOWN, key, 1);
    SendMessageA(control, WM_KEYUP, key, 0xC0000001);
}

int SliderPos(HWND dialog, int id) {
    return (int)SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0);
}

std::string ItemText(HWND dialog, int id) {
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void SetChecked(HWND dialog, int id, bool checked) {
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void RunPumping(const std::function<void()>& fn) {
    ThreadCall call = {fn};
    HANDLE thread = CreateThread(NULL, 0, CallThread, &call, 0, NULL);
    if (!thread)
        return;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
        Pump();
    CloseHandle(thread);
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
