// The settings dialog driven as a user drives it: what it shows, its sliders and labels, its
// tooltips, OK with the buffer-size correction, Defaults, the device list's exact matching and
// its following of arrivals and removals, and the Open Status button.
#include "tests/dialog_driver.h"

#include "tests/waits.h"

#include <commctrl.h>
#include <cstring>

namespace {

struct Dialog : DialogFixture {};

struct Shown {
    LRESULT selection = -2, items = 0;
    int inputPos = -1, outputPos = -1, countPos = -1;
    std::string inputLabel, outputLabel, countLabel;
    bool volume = true, gapless = true, logVolume = false, logging = true, hardwareVolume = false;
};

Shown Read(HWND d) {
    Shown s;
    s.selection = SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    s.items = SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCOUNT, 0, 0);
    s.inputPos = SliderPos(d, IDC_INPUT_SLIDER);
    s.outputPos = SliderPos(d, IDC_OUTPUT_SLIDER);
    s.countPos = SliderPos(d, IDC_COUNT_SLIDER);
    s.inputLabel = ItemText(d, IDC_INPUT_LABEL);
    s.outputLabel = ItemText(d, IDC_OUTPUT_LABEL);
    s.countLabel = ItemText(d, IDC_COUNT_LABEL);
    s.volume = IsChecked(d, IDC_VOLUME_ENABLED);
    s.gapless = IsChecked(d, IDC_GAPLESS);
    s.logVolume = IsChecked(d, IDC_LOG_VOLUME);
    s.logging = IsChecked(d, IDC_LOGGING);
    s.hardwareVolume = IsChecked(d, IDC_HARDWARE_VOLUME);
    return s;
}

TEST_F(Dialog, ShowsTheDefaults) {
    Shown s;
    ASSERT_TRUE(RunConfig([&](HWND d) { s = Read(d); }));
    EXPECT_EQ(3, s.items) << "the three render devices; the capture device is not offered";
    EXPECT_EQ(0, s.selection) << "an empty output_device selects the first device";
    EXPECT_EQ(2, s.inputPos);
    EXPECT_EQ("64KB", s.inputLabel);
    EXPECT_EQ(0, s.outputPos);
    EXPECT_EQ("8KB", s.outputLabel);
    EXPECT_EQ(8, s.countPos);
    EXPECT_EQ("8", s.countLabel);
    EXPECT_TRUE(s.logVolume);
    EXPECT_TRUE(s.hardwareVolume);
    EXPECT_FALSE(s.volume);
    EXPECT_FALSE(s.gapless);
    EXPECT_FALSE(s.logging);
}

// The tooltip window of this process, found by its class.
HWND TooltipWindow() {
    HWND w = NULL;
    while ((w = FindWindowExA(NULL, w, TOOLTIPS_CLASSA, NULL))) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId())
            return w;
    }
    return NULL;
}

TEST_F(Dialog, RegistersThirteenTooltipsWhileShownAndNamesTheLogFile) {
    LRESULT whileShown = -1;
    WCHAR logText[512] = L"";
    ASSERT_TRUE(RunConfig([&](HWND d) {
        HWND tip = TooltipWindow();
        whileShown = SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0);
        // The wide form: the narrow one copies at most 80 bytes.
        TOOLINFOW ti = {};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.uFlags = TTF_IDISHWND;
        ti.uId = (UINT_PTR)GetDlgItem(d, IDC_LOGGING);
        ti.lpszText = logText;
        SendMessageW(tip, TTM_GETTEXTW, 512, (LPARAM)&ti);
    }));
    EXPECT_EQ(13, whileShown);
    EXPECT_STREQ(L"Activates diagnostic logging. Diagnostic information is output to "
                 L"\"quellor log.txt\"",
                 logText);
    EXPECT_EQ(0, SendMessageA(TooltipWindow(), TTM_GETTOOLCOUNT, 0, 0))
        << "the tools go with the dialog";
}

// The fade field shows 0 by default; OK stores what it holds within 0..200 ms.
TEST_F(Dialog, FadeFieldIsStoredWithinItsRange) {
    const struct {
        const char* typed;
        int stored;
    } cases[] = {{"20", 20}, {"250", 200}};
    for (const auto& c : cases) {
        std::string shown;
        ASSERT_TRUE(RunConfig([&](HWND d) {
            shown = ItemText(d, IDC_FADE);
            SetDlgItemTextA(d, IDC_FADE, c.typed);
            Press(d, IDOK);
        }));
        EXPECT_EQ(c.stored, IniInt("fade_ms")) << c.typed;
        EXPECT_EQ(c.stored == 20 ? "0" : "20", shown);
    }
}

TEST_F(Dialog, MovingASliderUpdatesItsLabel) {
    std::string input, output, count;
    int inputPos = -1;
    ASSERT_TRUE(RunConfig([&](HWND d) {
        PressKey(d, IDC_INPUT_SLIDER, VK_RIGHT);
        PressKey(d, IDC_INPUT_SLIDER, VK_RIGHT); // already at the end
        PressKey(d, IDC_OUTPUT_SLIDER, VK_RIGHT);
        PressKey(d, IDC_COUNT_SLIDER, VK_LEFT);
        inputPos = SliderPos(d, IDC_INPUT_SLIDER);
        input = ItemText(d, IDC_INPUT_LABEL);
        output = ItemText(d, IDC_OUTPUT_LABEL);
        count = ItemText(d, IDC_COUNT_LABEL);
    }));
    EXPECT_EQ(3, inputPos);
    EXPECT_EQ("128KB", input);
    EXPECT_EQ("16KB", output);
    EXPECT_EQ("7", count);
    EXPECT_EQ("<missing>", Ini("input_buffer_size")) << "Cancel saves nothing";
}

struct LoggingDialog : DialogFixture {
    std::vector<std::string> Settings() override { return {"logging_enabled=1"}; }
};

TEST_F(LoggingDialog, AnUnknownSliderCodeIsLoggedAndChangesNothing) {
    std::string label;
    ASSERT_TRUE(RunConfig([&](HWND d) {
        HWND slider = GetDlgItem(d, IDC_INPUT_SLIDER);
        SendMessageA(slider, TBM_SETPOS, TRUE, 0);
        SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK + 1, 0), (LPARAM)slider);
        label = ItemText(d, IDC_INPUT_LABEL);
    }));
    EXPECT_EQ("64KB", label);
    EXPECT_EQ(1, LogCount("Unknown message"));
}

TEST_F(Dialog, OkCorrectsAnInputBufferNotLargerThanTheOutput) {
    const struct { int inputPos, outputPos, stored; } cases[] = {{0, 1, 32768}, {1, 2, 65536}};
    for (const auto& c : cases) {
        int boxes = SimKs_MessageBoxCount();
        HWND dialog = NULL;
        ASSERT_TRUE(RunConfig([&](HWND d) {
            dialog = d;
            MoveSlider(d, IDC_INPUT_SLIDER, c.inputPos);
            MoveSlider(d, IDC_OUTPUT_SLIDER, c.outputPos);
            Press(d, IDOK);
        }));
        ASSERT_EQ(boxes + 1, SimKs_MessageBoxCount());
        SimKsMessageBox box;
        ASSERT_TRUE(SimKs_GetMessageBox(boxes, &box));
        EXPECT_STREQ(
            "The input buffer MUST be larger than output buffer.\nThis has been corrected.",
            box.Text);
        EXPECT_STREQ("Warning!", box.Caption);
        EXPECT_EQ((UINT)MB_OK, box.Type);
        EXPECT_EQ(dialog, box.Owner);
        EXPECT_EQ(c.stored, IniInt("input_buffer_size"));
        EXPECT_EQ(c.stored / 2, IniInt("output_buffer_size"));
    }
}

// A device already chosen: with an empty output_device the selected first item would be a
// change of its own.
struct ChosenDevice : DialogFixture {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1",
                std::string("output_device=") + SimKs_DevicePath(SIMKS_DEFAULT_VERSATILE)};
    }
};

TEST_F(ChosenDevice, OkWithoutAChangeSavesAndLeavesTheRebuildFlag) {
    // The flag lives as long as the DLL: an open takes whatever an earlier test left set.
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Close();
    const int built = LogCount("Constructed KSCore");
    DeleteFileA((folder + "\\player.ini").c_str());
    ASSERT_TRUE(RunConfig([](HWND d) { Press(d, IDOK); }));
    EXPECT_EQ(65536, IniInt("input_buffer_size")) << "saved although nothing changed";
    EXPECT_EQ(1, IniInt("logarithmic_volume"));
    EXPECT_EQ(SimKs_DevicePath(SIMKS_DEFAULT_VERSATILE), Ini("output_device"));
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Close();
    EXPECT_EQ(built, LogCount("Constructed KSCore")) << "no rebuild";

    // A flag already set by an earlier change stays set.
    ASSERT_TRUE(RunConfig([](HWND d) {
        SetChecked(d, IDC_GAPLESS, true);
        SetChecked(d, IDC_HARDWARE_VOLUME, false);
        Press(d, IDOK);
    }));
    EXPECT_EQ(0, IniInt("hardware_volume_enabled"));
    ASSERT_TRUE(RunConfig([](HWND d) { Press(d, IDOK); }));
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(built + 1, LogCount("Constructed KSCore"));
    mod->Close();
}

TEST_F(Dialog, LoggingSwitchesAtOnceAndMarksTheRebuild) {
    mod->Close();
    EXPECT_EQ(0, LogCount("End()")) << "logging is off";
    ASSERT_TRUE(RunConfig([](HWND d) {
        SetChecked(d, IDC_LOGGING, true);
        Press(d, IDOK);
    }));
    mod->Close();
    EXPECT_EQ(1, LogCount("End()")) << "on before any stream opened";
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(1, LogCount("Destructed KSCore")) << "the change rebuilt the engine";
    mod->Close();

    int ends = LogCount("End()");
    ASSERT_TRUE(RunConfig([](HWND d) {
        SetChecked(d, IDC_LOGGING, false);
        Press(d, IDOK);
    }));
    mod->Close();
    EXPECT_EQ(ends, LogCount("End()")) << "off at once";
    EXPECT_EQ(0, IniInt("logging_enabled"));
}

struct ChangedSettings : DialogFixture {
    std::vector<std::string> Settings() override {
        return {"output_device=\\\\?\\elsewhere",
                "volume_enabled=1",
                "gapless_enabled=1",
                "input_buffer_size=131072",
                "output_buffer_size=32768",
                "output_buffer_cnt=4",
                "logging_enabled=1",
                "logarithmic_volume=0",
                "adapt_formats_enabled=0",
                "hardware_volume_enabled=0"};
    }
};

TEST_F(ChangedSettings, DefaultsClosesTheDialogAndWritesTheDefaults) {
    ASSERT_TRUE(RunConfig([](HWND d) { Press(d, IDC_DEFAULTS); }));
    EXPECT_EQ("", Ini("output_device"));
    EXPECT_EQ(0, IniInt("volume_enabled"));
    EXPECT_EQ(0, IniInt("gapless_enabled"));
    EXPECT_EQ(65536, IniInt("input_buffer_size"));
    EXPECT_EQ(8192, IniInt("output_buffer_size"));
    EXPECT_EQ(8, IniInt("output_buffer_cnt"));
    EXPECT_EQ(0, IniInt("logging_enabled"));
    EXPECT_EQ(1, IniInt("logarithmic_volume"));
    EXPECT_EQ(1, IniInt("adapt_formats_enabled"));
    EXPECT_EQ(1, IniInt("hardware_volume_enabled"));
    mod->Close();
    EXPECT_EQ(1, LogCount("End()")) << "the log switch waits for the rebuild";
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(1, LogCount("Destructed KSCore")) << "rebuilt at the next open";
    mod->Close();
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ(SIMKS_DEFAULT_VERSATILE, info.Device);
}

// The stored path of the second device in capitals: the device list compares byte for byte,
// the engine without regard to case.
struct OtherCase : DialogFixture {
    std::string Upper() {
        std::string p = SimKs_DevicePath(SIMKS_DEFAULT_LEGACY);
        CharUpperBuffA(&p[0], (DWORD)p.size());
        return p;
    }
    std::vector<std::string> Settings() override { return {"output_device=" + Upper()}; }
};

TEST_F(OtherCase, SelectsNoItemWhileTheEngineOpensThatDevice) {
    ASSERT_NE(Upper(), SimKs_DevicePath(SIMKS_DEFAULT_LEGACY)) << "the path has lower case";
    LRESULT selection = 0;
    ASSERT_TRUE(RunConfig([&](HWND d) {
        selection = SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
        Press(d, IDOK);
    }));
    EXPECT_EQ(LB_ERR, selection);
    EXPECT_EQ(Upper(), Ini("output_device")) << "no selection leaves the device as it was";
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Close();
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ(SIMKS_DEFAULT_LEGACY, info.Device);
}

struct ExactCase : DialogFixture {
    std::vector<std::string> Settings() override {
        return {std::string("output_device=") + SimKs_DevicePath(SIMKS_DEFAULT_LEGACY)};
    }
};

TEST_F(ExactCase, SelectsItsDeviceAndOkStoresAnotherChoice) {
    LRESULT selection = -1;
    ASSERT_TRUE(RunConfig([&](HWND d) {
        selection = SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
        SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_SETCURSEL, 0, 0);
        Press(d, IDOK);
    }));
    EXPECT_EQ(1, selection);
    EXPECT_EQ(SimKs_DevicePath(SIMKS_DEFAULT_VERSATILE), Ini("output_device"));
}

std::string SelectedPath(HWND d) {
    LRESULT sel = SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    LRESULT data = SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETITEMDATA, (WPARAM)sel, 0);
    return sel == LB_ERR || !data ? "" : (const char*)data;
}

LRESULT Items(HWND d) {
    return SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCOUNT, 0, 0);
}

// A device plugged in and another unplugged while the dialog is open: the list follows, the
// user's choice stays chosen.
TEST_F(ExactCase, TheListFollowsArrivalsAndRemovals) {
    LRESULT arrived = 0, removed = 0;
    std::string afterArrival, afterRemoval;
    ASSERT_TRUE(RunConfig([&](HWND d) {
        AnnounceStranger();
        WaitUntil([&] { return Items(d) == 4; });
        arrived = Items(d);
        afterArrival = SelectedPath(d);
        SimKs_RemoveDevice(SIMKS_DEFAULT_VERSATILE);
        WaitUntil([&] { return Items(d) == 3; });
        removed = Items(d);
        afterRemoval = SelectedPath(d);
        Press(d, IDOK);
    }));
    EXPECT_EQ(4, arrived);
    EXPECT_EQ(3, removed);
    EXPECT_EQ(SimKs_DevicePath(SIMKS_DEFAULT_LEGACY), afterArrival);
    EXPECT_EQ(SimKs_DevicePath(SIMKS_DEFAULT_LEGACY), afterRemoval);
    EXPECT_EQ(SimKs_DevicePath(SIMKS_DEFAULT_LEGACY), Ini("output_device"));
}

TEST_F(Dialog, OpenStatusTwiceGivesOneWindowThatQuitCloses) {
    int windows = 0;
    ASSERT_TRUE(RunConfig([&](HWND d) {
        Press(d, IDC_OPEN_STATUS);
        Press(d, IDC_OPEN_STATUS);
        windows = CountWindows("Quellor Status");
    }));
    EXPECT_EQ(1, windows);
    EXPECT_EQ(1, CountWindows("Quellor Status")) << "the status window outlives the dialog";
    mod->Quit();
    initDone = false;
    EXPECT_EQ(0, CountWindows("Quellor Status"));
}

} // namespace
