// The settings dialog: device list, the three buffer sliders, six switches, the pre-roll and fade
// fields, Defaults and Open Status. What it shows stays pending until OK stores it in the settings
// record, whole.
#include "host/dialogs.h"

#include "diag/log.h"
#include "diag/util.h"
#include "engine/kscore.h"
#include "host/devicenames.h"
#include "host/out_module.h"
#include "host/settings.h"
#include "host/status.h"
#include "ks/enum.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

namespace {

// What the sliders show until OK: sizes in bytes and the packet count.
int g_nPendingInputSize = 0;
int g_nPendingOutputSize = 0;
int g_nPendingBufferCount = 0;

const int kInputSizes[] = {16384, 32768, 65536, 131072};
const int kOutputSizes[] = {8192, 16384, 32768};

struct Tool {
    int id;
    const char* text;
};

// Registered in this order each time the dialog is shown, removed in it when it is destroyed.
const Tool kTools[] = {
    {IDC_DEVICE_LIST, "Choose the output device you wish to stream to"},
    {IDC_VOLUME_ENABLED,
     "If checked the WinAmp volume control will work although, if outputting to SPDIF having the "
     "volume set to any value other than 100% will cause the bitstream to be modified"},
    {IDC_GAPLESS, "If checked, playback will not be interrupted between tracks"},
    {IDC_DEFAULTS, "Restores the default configuration"},
    {IDOK, "Accepts and applies the new settings"},
    {IDCANCEL, "Disregards the new settings"},
    {IDC_LOG_VOLUME, "Makes it easier to finely adjust low volume levels"},
    {IDC_LOGGING,
     "Activates diagnostic logging. Diagnostic information is output to \"quellor log.txt\""},
    {IDC_ADAPT_FORMATS,
     "If checked, a format the device refuses plays in a wider container or on more channels, "
     "every bit unchanged (the volume control, when used, scales it)"},
    {IDC_HARDWARE_VOLUME,
     "If checked and the device has a volume control of its own, the WinAmp volume sets it and "
     "the samples reach the device unchanged"},
    {IDC_RELEASE_ON_PAUSE,
     "If checked, pausing closes the device so that other programs can use it; playback goes on "
     "where it stopped when resumed"},
    {IDC_PREROLL,
     "Milliseconds of silence (0 to 2000) played before the first sample whenever the device is "
     "opened, for DACs that need time to lock onto a new rate"},
    {IDC_FADE,
     "Milliseconds (0 to 200) over which the sound fades out when you pause, seek or stop, and "
     "fades back in after; 0 leaves every sample untouched"},
};

// One size slider: its table, its label and the pending value it drives.
struct SizeSlider {
    int slider;
    int label;
    const int* sizes;
    int count;
    int* pending;
};

const SizeSlider kInputSlider = {IDC_INPUT_SLIDER, IDC_INPUT_LABEL, kInputSizes, 4,
                                 &g_nPendingInputSize};
const SizeSlider kOutputSlider = {IDC_OUTPUT_SLIDER, IDC_OUTPUT_LABEL, kOutputSizes, 3,
                                  &g_nPendingOutputSize};

void SetLabel(HWND hwnd, int id, const char* format, int value) {
    char text[32];
    snprintf(text, sizeof text, format, value);
    SetDlgItemTextA(hwnd, id, text);
}

void RegisterTools(HWND hwnd) {
    for (const Tool& t : kTools)
        g_pTooltip->AddTool(GetDlgItem(hwnd, t.id), t.text);
}

void RemoveTools(HWND hwnd) {
    for (const Tool& t : kTools)
        g_pTooltip->DeleteTool(GetDlgItem(hwnd, t.id));
}

// Lists the devices head first; the chosen device path selects its item, byte for byte, an empty
// one selects the first item and none selects none.
void FillDeviceList(HWND hwnd, const char* chosen) {
    for (const TListNode<DeviceName>* node = g_DeviceNames.Head(); node; node = node->pNext) {
        const DeviceName* d = node->pData;
        const char* name = d->pszFriendlyName ? d->pszFriendlyName : "";
        LRESULT i = SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_ADDSTRING, 0, (LPARAM)name);
        if (i < 0)
            continue;
        bool select =
            chosen && (chosen[0] ? d->pszFilterName && !strcmp(d->pszFilterName, chosen) : i == 0);
        if (select)
            SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_SETCURSEL, (WPARAM)i, 0);
        SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_SETITEMDATA, (WPARAM)i,
                            (LPARAM)d->pszFilterName);
    }
}

// The list follows the devices while the dialog is shown: it looks at the engine's count of the
// system's notifications every kListLookMs, or lists the devices anew every kListPollLooks looks
// where the system gives none.
constexpr UINT_PTR kListTimer = 1;
constexpr UINT kListLookMs = 250;
constexpr int kListPollLooks = 8;
LONG g_nListChanges = 0;
int g_nListLooks = 0;

// Lists the devices anew; the item the user selected stays selected while its device is there.
void RefreshDeviceList(HWND hwnd) {
    char chosen[MAX_PATH + 1] = "";
    LRESULT sel = SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    LRESULT data =
        sel == LB_ERR ? 0 : SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_GETITEMDATA, sel, 0);
    if (data && data != LB_ERR)
        lstrcpynA(chosen, (const char*)data, sizeof chosen);
    HRESULT hr = S_OK;
    CKsEnumFilters list(hr);
    hr = KSCore::ListRenderDevices(list);
    if (FAILED(hr)) {
        LogCause("Settings dialog: listing the devices again", hr);
        return;
    }
    SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_RESETCONTENT, 0, 0);
    g_DeviceNames.Build(&list);
    FillDeviceList(hwnd, sel == LB_ERR ? nullptr : chosen);
}

void OnListTimer(HWND hwnd) {
    if (!g_pEngine)
        return;
    LONG changes = g_pEngine->DeviceChanges();
    bool due = g_pEngine->WatchesDevices() ? changes != g_nListChanges
                                           : ++g_nListLooks % kListPollLooks == 0;
    g_nListChanges = changes;
    if (due)
        RefreshDeviceList(hwnd);
}

void CentreOnScreen(HWND hwnd) {
    RECT r;
    if (!GetWindowRect(hwnd, &r))
        return;
    int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) >> 1;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) >> 1;
    SetWindowPos(hwnd, NULL, x, y, 0, 0, SWP_NOSIZE);
}

void SetCheck(HWND hwnd, int id, int value) {
    CheckDlgButton(hwnd, id, value ? BST_CHECKED : BST_UNCHECKED);
}

int GetCheck(HWND hwnd, int id) {
    return (SendDlgItemMessageA(hwnd, id, BM_GETSTATE, 0, 0) & 1) ? 1 : 0;
}

// Loads the pending size, puts the slider at its table position (0 when the table lacks it)
// and shows the size in the label.
void ShowSize(HWND hwnd, const SizeSlider& s, int size) {
    *s.pending = size;
    int pos = 0;
    while (pos < s.count && s.sizes[pos] != size)
        pos++;
    SendDlgItemMessageA(hwnd, s.slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, s.count - 1));
    SendDlgItemMessageA(hwnd, s.slider, TBM_SETPOS, TRUE, pos < s.count ? pos : 0);
    SetLabel(hwnd, s.label, "%dKB", size / 1024);
}

void OnShow(HWND hwnd) {
    if (g_pTooltip)
        RegisterTools(hwnd);
    FillDeviceList(hwnd, g_pSettings->output_device);
    g_nListChanges = g_pEngine ? g_pEngine->DeviceChanges() : 0;
    g_nListLooks = 0;
    SetTimer(hwnd, kListTimer, kListLookMs, NULL);
    CentreOnScreen(hwnd);
    SetCheck(hwnd, IDC_VOLUME_ENABLED, g_pSettings->volume_enabled);
    SetCheck(hwnd, IDC_GAPLESS, g_pSettings->gapless_enabled);
    SetCheck(hwnd, IDC_LOG_VOLUME, g_pSettings->logarithmic_volume);
    SetCheck(hwnd, IDC_LOGGING, g_pSettings->logging_enabled);
    SetCheck(hwnd, IDC_ADAPT_FORMATS, g_pSettings->adapt_formats_enabled);
    SetCheck(hwnd, IDC_HARDWARE_VOLUME, g_pSettings->hardware_volume_enabled);
    SetCheck(hwnd, IDC_RELEASE_ON_PAUSE, g_pSettings->release_on_pause_enabled);
    SetDlgItemInt(hwnd, IDC_PREROLL, (UINT)g_pSettings->preroll_ms, FALSE);
    SetDlgItemInt(hwnd, IDC_FADE, (UINT)g_pSettings->fade_ms, FALSE);
    ShowSize(hwnd, kInputSlider, g_pSettings->input_buffer_size);
    ShowSize(hwnd, kOutputSlider, g_pSettings->output_buffer_size);
    g_nPendingBufferCount = g_pSettings->output_buffer_cnt;
    const SettingKey& count = KeyOf(&KSSettings::output_buffer_cnt);
    SendDlgItemMessageA(hwnd, IDC_COUNT_SLIDER, TBM_SETRANGE, FALSE,
                        MAKELPARAM(count.least, count.most));
    SendDlgItemMessageA(hwnd, IDC_COUNT_SLIDER, TBM_SETPOS, TRUE, g_nPendingBufferCount);
    SetLabel(hwnd, IDC_COUNT_LABEL, "%d", g_nPendingBufferCount);
}

void ReadSize(HWND hwnd, const SizeSlider& s) {
    UINT pos = (UINT)SendDlgItemMessageA(hwnd, s.slider, TBM_GETPOS, 0, 0);
    pos = pos > (UINT)s.count - 1 ? (UINT)s.count - 1 : pos;
    *s.pending = s.sizes[pos];
    SetLabel(hwnd, s.label, "%dKB", *s.pending / 1024);
}

void OnSliderMoved(HWND hwnd, int code, HWND slider) {
    int id = GetDlgCtrlID(slider);
    if (id != IDC_INPUT_SLIDER && id != IDC_OUTPUT_SLIDER && id != IDC_COUNT_SLIDER)
        return;
    if (GetDlgItem(hwnd, id) != slider)
        return;
    if (code > TB_ENDTRACK) {
        DiagLog(1, "Unknown message");
        return;
    }
    if (id == IDC_INPUT_SLIDER) {
        ReadSize(hwnd, kInputSlider);
    } else if (id == IDC_OUTPUT_SLIDER) {
        ReadSize(hwnd, kOutputSlider);
    } else {
        g_nPendingBufferCount = (int)SendMessageA(slider, TBM_GETPOS, 0, 0);
        SetLabel(hwnd, IDC_COUNT_LABEL, "%d", g_nPendingBufferCount);
    }
}

// A milliseconds field (the pre-roll, the fade), held to its key's range; what is not a number
// keeps the setting.
int ReadMs(HWND hwnd, int id, int KSSettings::*field, int current) {
    BOOL ok = FALSE;
    UINT ms = GetDlgItemInt(hwnd, id, &ok, FALSE);
    if (!ok)
        return current;
    const SettingKey& key = KeyOf(field);
    return ms > (UINT)key.most ? key.most : (int)ms;
}

// The selected device's path into device; no selection keeps it.
void ReadDevice(HWND hwnd, char (&device)[MAX_PATH + 1]) {
    LRESULT sel = SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    if (sel == LB_ERR)
        return;
    const char* path =
        (const char*)SendDlgItemMessageA(hwnd, IDC_DEVICE_LIST, LB_GETITEMDATA, (WPARAM)sel, 0);
    if (path && path != (const char*)LB_ERR)
        lstrcpynA(device, path, sizeof device);
}

// The record replaced whole; a change marks the engine for rebuilding once it is stored.
void Store(const KSSettings& next) {
    bool same = SameSettings(next, *g_pSettings);
    StoreSettings(next);
    if (!same)
        InterlockedExchange(&g_bRecreateEngine, 1);
}

void OnOk(HWND hwnd) {
    KSSettings s = *g_pSettings;
    ReadDevice(hwnd, s.output_device);
    s.input_buffer_size = g_nPendingInputSize;
    s.output_buffer_size = g_nPendingOutputSize;
    s.output_buffer_cnt = g_nPendingBufferCount;
    if (KeepRingAbovePacket(s))
        MessageBoxA(hwnd,
                    "The input buffer MUST be larger than output buffer.\nThis has been corrected.",
                    "Warning!", MB_OK);
    s.volume_enabled = GetCheck(hwnd, IDC_VOLUME_ENABLED);
    s.gapless_enabled = GetCheck(hwnd, IDC_GAPLESS);
    s.logarithmic_volume = GetCheck(hwnd, IDC_LOG_VOLUME);
    s.logging_enabled = GetCheck(hwnd, IDC_LOGGING);
    s.adapt_formats_enabled = GetCheck(hwnd, IDC_ADAPT_FORMATS);
    s.hardware_volume_enabled = GetCheck(hwnd, IDC_HARDWARE_VOLUME);
    s.release_on_pause_enabled = GetCheck(hwnd, IDC_RELEASE_ON_PAUSE);
    s.preroll_ms = ReadMs(hwnd, IDC_PREROLL, &KSSettings::preroll_ms, s.preroll_ms);
    s.fade_ms = ReadMs(hwnd, IDC_FADE, &KSSettings::fade_ms, s.fade_ms);
    bool remap = s.logarithmic_volume != g_pSettings->logarithmic_volume;
    bool relog = s.logging_enabled != g_pSettings->logging_enabled;
    Store(s);
    if (remap)
        ApplyVolume(g_nVolume);
    if (relog)
        LogEnable(s.logging_enabled);
    SaveSettings(s);
    EndDialog(hwnd, 0);
}

void OnDefaults(HWND hwnd) {
    KSSettings s = *g_pSettings;
    SetDefaultSettings(s);
    StoreSettings(s);
    SaveSettings(s);
    InterlockedExchange(&g_bRecreateEngine, 1);
    EndDialog(hwnd, 0);
}

BOOL OnCommand(HWND hwnd, int id) {
    switch (id) {
    case IDOK:
        OnOk(hwnd);
        return TRUE;
    case IDCANCEL:
        EndDialog(hwnd, 0);
        return TRUE;
    case IDC_DEFAULTS:
        OnDefaults(hwnd);
        return TRUE;
    case IDC_OPEN_STATUS:
        if (g_pEngine)
            OpenStatusWindow((HINSTANCE)GetWindowLongPtrA(hwnd, GWLP_HINSTANCE), g_pEngine);
        return TRUE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK ConfigDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SHOWWINDOW:
        // Filled when ShowWindow shows it, not again when its owner is restored from an icon.
        if (wParam && lParam == 0)
            OnShow(hwnd);
        return TRUE;
    case WM_HSCROLL:
        OnSliderMoved(hwnd, LOWORD(wParam), (HWND)lParam);
        return TRUE;
    case WM_COMMAND:
        return OnCommand(hwnd, LOWORD(wParam));
    case WM_TIMER:
        if (wParam == kListTimer)
            OnListTimer(hwnd);
        return TRUE;
    case WM_DESTROY:
        KillTimer(hwnd, kListTimer);
        if (g_pTooltip)
            RemoveTools(hwnd);
        return FALSE;
    }
    return FALSE;
}
