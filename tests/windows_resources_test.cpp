// The status window's dialog template as the DLL carries it: nothing else opens it with these
// exact properties (the settings dialog's controls are exercised by the dialog tests).
#include "tests/plugin_fixture.h"

#include "resources/resource.h"

#include <string>

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
    // A name field; the template holds no ordinals.
    std::string Name() {
        std::string s;
        for (WORD c; (c = Word());)
            s += (char)c;
        return s;
    }
};

struct Template : PluginFixture {
    const BYTE* Load(int id) {
        HRSRC res = FindResourceA(s_dll, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
        return res ? (const BYTE*)LockResource(LoadResource(s_dll, res)) : nullptr;
    }
};

TEST_F(Template, StatusWindowIsAnEmptyExtendedDialog) {
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
    EXPECT_EQ("", r.Name()) << "menu";
    EXPECT_EQ("", r.Name()) << "class";
    EXPECT_EQ("Quellor Status", r.Name());
    EXPECT_EQ(8, r.Word());
    r.Word(), r.Word(); // weight, italic and charset
    EXPECT_EQ("MS Shell Dlg", r.Name());
}

} // namespace
