// The DLL as the player sees it: its export and import tables, and the output-module record.
#include "tests/plugin_fixture.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace {

const IMAGE_NT_HEADERS* Headers(HMODULE m) {
    const BYTE* base = (const BYTE*)m;
    return (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
}

template <typename T> const T* At(HMODULE m, DWORD rva) {
    return (const T*)((const BYTE*)m + rva);
}

struct Dll : PluginFixture {};

TEST_F(Dll, ExportsOnlyTheModuleGetterUnderItsName) {
    const IMAGE_DATA_DIRECTORY& dir =
        Headers(s_dll)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    const IMAGE_EXPORT_DIRECTORY* exp = At<IMAGE_EXPORT_DIRECTORY>(s_dll, dir.VirtualAddress);
    EXPECT_STREQ("out_quellor3.dll", At<char>(s_dll, exp->Name));
    ASSERT_EQ(1u, exp->NumberOfNames);
    EXPECT_EQ(1u, exp->NumberOfFunctions);
    EXPECT_STREQ("winampGetOutModule", At<char>(s_dll, *At<DWORD>(s_dll, exp->AddressOfNames)));
}

TEST_F(Dll, ImportsOnlyWindowsSystemLibraries) {
    static const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                                 "advapi32.dll", "setupapi.dll", "shlwapi.dll",
                                                 "winmm.dll",    "comctl32.dll", "msvcrt.dll"};
    const IMAGE_DATA_DIRECTORY& dir =
        Headers(s_dll)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const IMAGE_IMPORT_DESCRIPTOR* d = At<IMAGE_IMPORT_DESCRIPTOR>(s_dll, dir.VirtualAddress);
    int count = 0;
    for (; d->Name; d++, count++) {
        std::string name = At<char>(s_dll, d->Name);
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
    EXPECT_GT(count, 0);
}

TEST_F(Dll, RecordHoldsTheValuesThePlayerReads) {
    EXPECT_EQ(sizeof(void*) == 4 ? 80u : 160u, sizeof(Out_Module));
    EXPECT_EQ(0x10, mod->version);
    EXPECT_STREQ("Quellor Output v3.61", mod->description);
    EXPECT_EQ(mod->GetOutputTime, mod->GetWrittenTime);
    // The player keeps its own id in the record; the plug-in must go on working after that.
    static char hostId[] = "host";
    INT_PTR old = mod->id;
    mod->id = (INT_PTR)hostId;
    mod->SetPan(-127);
    EXPECT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    mod->Close();
    mod->id = old;
}

} // namespace
