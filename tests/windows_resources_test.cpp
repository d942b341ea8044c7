// The DLL's dialog templates, read from its resources: the status window's extended template
// and every control of the settings dialog with its id, class, text, place and kind.
#include "tests/plugin_fixture.h"

#include "resources/resource.h"

#include <commctrl.h>
#include <string>
#include <vector>

namespace {

struct Reader {
    const BYTE* p;
    WORD Word() {
        WORD w = *(const WORD*)p;
        p += 2;
        return w;
    }
    DWORD Dword() {
        DWORD d = *(const DWORD*)p;
        p += 4;
        return d;
    }
    // A name or ordinal field; predefined control classes come as ordinals.
    std::string NameOrOrdinal() {
        static const char* classes[] = {"BUTTON",  "EDIT",      "STATIC",
                                        "LISTBOX", "SCROLLBAR", "COMBOBOX"};
        if (*(const WORD*)p == 0xFFFF) {
            p += 2;
            WORD ord = Word();
            return ord >= 0x80 && ord <= 0x85 ? classes[ord - 0x80] : "#" + std::to_string(ord);
        }
        std::string s;
        for (WORD c; (c = Word());)
            s += (char)c;
        return s;
    }
    void Align(const BYTE* base) { p = base + ((p - base + 3) & ~3); }
};

struct Templates : PluginFixture {
    const BYTE* Load(int id) {
        HRSRC res = FindResourceA(s_dll, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
        return res ? (const BYTE*)LockResource(LoadResource(s_dll, res)) : nullptr;
    }
};

TEST_F(Templates, StatusWindowIsAnEmptyExtendedDialog) {
    const BYTE* base = Load(IDD_STATUS);
    ASSERT_TRUE(base);
    Reader r = {base};
    EXPECT_EQ(1, r.Word()) << "version";
    EXPECT_EQ(0xFFFF, r.Word()) << "extended";
    r.Dword(); // help id
    EXPECT_EQ(0u, r.Dword()) << "extended style";
    EXPECT_EQ(0x80C800C8u, r.Dword());
    EXPECT_EQ(0, r.Word()) << "controls";
    r.Word(), r.Word(); // x, y
    EXPECT_EQ(192, r.Word());
    EXPECT_EQ(284, r.Word());
    EXPECT_EQ("", r.NameOrOrdinal()) << "menu";
    EXPECT_EQ("", r.NameOrOrdinal()) << "class";
    EXPECT_EQ("Quellor Status", r.NameOrOrdinal());
    EXPECT_EQ(8, r.Word());
    r.Word(), r.Word(); // weight, italic and charset
    EXPECT_EQ("MS Shell Dlg", r.NameOrOrdinal());
}

struct Item {
    int id;
    std::string cls, text;
    int x, y, cx, cy;
    DWORD kind; // the style bits that make the control what it is
};

TEST_F(Templates, SettingsDialogHasEveryControlInPlace) {
    const DWORD list = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_VSCROLL;
    const std::vector<Item> want = {
        {IDOK, "BUTTON", "OK", 279, 7, 50, 14, BS_DEFPUSHBUTTON},
        {IDCANCEL, "BUTTON", "Cancel", 279, 24, 50, 14, BS_PUSHBUTTON},
        {IDC_DEVICE_LIST, "LISTBOX", "", 7, 22, 253, 84, list},
        {0xFFFF, "STATIC", "Output Device", 7, 7, 47, 8, SS_LEFT},
        {IDC_VOLUME_ENABLED, "BUTTON", "Enable Volume Control", 188, 124, 111, 12, BS_AUTOCHECKBOX},
        {IDC_DEFAULTS, "BUTTON", "Defaults", 279, 92, 50, 14, BS_PUSHBUTTON},
        {0xFFFF, "BUTTON", "Input Buffer Size", 7, 113, 141, 35, BS_GROUPBOX},
        {0xFFFF, "BUTTON", "Output Buffer Size", 7, 148, 141, 35, BS_GROUPBOX},
        {IDC_OPEN_STATUS, "BUTTON", "Open Status", 279, 72, 50, 14, BS_PUSHBUTTON},
        {IDC_INPUT_SLIDER, "msctls_trackbar32", "", 7, 124, 79, 23, TBS_AUTOTICKS},
        {IDC_INPUT_LABEL, "STATIC", "Static", 107, 127, 39, 8, SS_LEFT},
        {IDC_OUTPUT_SLIDER, "msctls_trackbar32", "", 7, 160, 79, 23, TBS_AUTOTICKS},
        {IDC_OUTPUT_LABEL, "STATIC", "Static", 107, 160, 35, 8, SS_LEFT},
        {0xFFFF, "BUTTON", "Number of Output Buffers", 7, 184, 141, 35, BS_GROUPBOX},
        {IDC_COUNT_SLIDER, "msctls_trackbar32", "", 7, 196, 81, 23, TBS_AUTOTICKS},
        {IDC_COUNT_LABEL, "STATIC", "Static", 109, 198, 32, 8, SS_LEFT},
        {IDC_GAPLESS, "BUTTON", "Gapless Mode", 188, 144, 126, 12, BS_AUTOCHECKBOX},
        {IDC_LOG_VOLUME, "BUTTON", "Logarithmic Volume Control", 188, 164, 102, 10,
         BS_AUTOCHECKBOX},
        {IDC_LOGGING, "BUTTON", "Enable Logging", 188, 184, 64, 10, BS_AUTOCHECKBOX},
    };
    const BYTE* base = Load(IDD_SETTINGS);
    ASSERT_TRUE(base);
    Reader r = {base};
    DWORD style = r.Dword();
    EXPECT_EQ((DWORD)(DS_MODALFRAME | WS_CAPTION | WS_SYSMENU),
              style & (DS_MODALFRAME | WS_CAPTION | WS_SYSMENU));
    r.Dword(); // extended style
    ASSERT_EQ(want.size(), r.Word());
    r.Word(), r.Word(); // x, y
    EXPECT_EQ(336, r.Word());
    EXPECT_EQ(228, r.Word());
    r.NameOrOrdinal(), r.NameOrOrdinal(); // menu, class
    EXPECT_EQ("Quellor Settings", r.NameOrOrdinal());
    EXPECT_EQ(8, r.Word());
    EXPECT_EQ("MS Shell Dlg", r.NameOrOrdinal());
    for (const Item& w : want) {
        r.Align(base);
        Item got;
        DWORD itemStyle = r.Dword();
        r.Dword(); // extended style
        got.x = (SHORT)r.Word(), got.y = (SHORT)r.Word();
        got.cx = (SHORT)r.Word(), got.cy = (SHORT)r.Word();
        got.id = r.Word();
        got.cls = r.NameOrOrdinal();
        got.text = r.NameOrOrdinal();
        r.p += r.Word(); // creation data
        SCOPED_TRACE(w.text + " " + std::to_string(w.id));
        EXPECT_EQ(w.id, got.id);
        EXPECT_STRCASEEQ(w.cls.c_str(), got.cls.c_str());
        EXPECT_EQ(w.text, got.text);
        EXPECT_EQ(w.x, got.x);
        EXPECT_EQ(w.y, got.y);
        EXPECT_EQ(w.cx, got.cx);
        EXPECT_EQ(w.cy, got.cy);
        DWORD typeMask = w.cls == "BUTTON" ? BS_TYPEMASK : w.cls == "STATIC" ? SS_TYPEMASK : w.kind;
        EXPECT_EQ(w.kind, itemStyle & typeMask);
        EXPECT_TRUE(itemStyle & WS_CHILD);
        EXPECT_TRUE(itemStyle & WS_VISIBLE);
    }
}

} // namespace
