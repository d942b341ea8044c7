// The plug-in DLL files as the player's loader sees them, read from disk: this build's DLL, and
// the shipped i686 DLL, which this judges even where no 32-bit program can run.
#include "tests/pe_file.h"
#include "tests/pe_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

// The DLL named by an environment variable that the test's CTest entry sets.
PeFile Load(const char* variable) {
    const char* path = getenv(variable);
    PeFile pe;
    std::string error;
    if (!path)
        ADD_FAILURE() << variable << " is not set";
    else if (!pe.Load(path, error))
        ADD_FAILURE() << error << " (the shipped DLL comes from the i686 build: build it first)";
    return pe;
}

void ExpectPluginTables(const PeFile& pe) {
    EXPECT_EQ("out_quellor3.dll", pe.exportName);
    EXPECT_EQ(1u, pe.exportFunctions);
    ASSERT_EQ(1u, pe.exportNames.size());
    EXPECT_EQ("winampGetOutModule", pe.exportNames[0]);

    static const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                                 "advapi32.dll", "setupapi.dll", "shlwapi.dll",
                                                 "winmm.dll",    "comctl32.dll", "msvcrt.dll"};
    EXPECT_FALSE(pe.importDlls.empty());
    for (std::string name : pe.importDlls) {
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
}

// The DLL carries no thread runtime: thread-local slots are what a thread library (winpthreads,
// the C++ runtime's emulated TLS and its thread support) takes first. The two TLS callbacks left
// are the C runtime start-up's own (constructors and destructors of thread-local data, of which
// the plug-in has none); a thread library adds one of its own.
void ExpectNoThreadRuntime(const PeFile& pe) {
    for (const char* name : {"TlsAlloc", "TlsSetValue", "TlsFree", "FlsAlloc"})
        EXPECT_EQ(pe.importNames.end(),
                  std::find(pe.importNames.begin(), pe.importNames.end(), name))
            << "imports " << name;
    EXPECT_LE(pe.tlsCallbacks, 2);
}

// The version resource names the project's version (QUELLOR_VERSION, from CMake) in numbers and in
// text, and the plug-in's file, as a user reads them in the file's properties.
void ExpectVersionResource(const PeFile& pe) {
    VersionInfo info;
    std::string error;
    ASSERT_TRUE(info.Parse(pe.Resource(16 /* RT_VERSION */), error)) << error;
    const VS_FIXEDFILEINFO& f = info.fixed;
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%u.%u.%u", (unsigned)HIWORD(f.dwFileVersionMS),
             (unsigned)LOWORD(f.dwFileVersionMS), (unsigned)HIWORD(f.dwFileVersionLS));
    EXPECT_STREQ(QUELLOR_VERSION, numbers);
    EXPECT_EQ(0, LOWORD(f.dwFileVersionLS));
    EXPECT_EQ(f.dwFileVersionMS, f.dwProductVersionMS);
    EXPECT_EQ(f.dwFileVersionLS, f.dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_DLL, f.dwFileType);
    const std::map<std::string, std::string> expected = {
        {"FileVersion", QUELLOR_VERSION},
        {"ProductVersion", QUELLOR_VERSION},
        {"OriginalFilename", "out_quellor3.dll"},
        {"InternalName", "out_quellor3"},
        {"ProductName", "Quellor"},
        {"FileDescription", "Quellor Kernel Streaming output plug-in for Winamp"}};
    EXPECT_EQ(expected, info.values);
}

TEST(ShippedDll, IsPe32ForI386WithThePlayersTables) {
    PeFile pe = Load("QUELLOR_SHIPPED_DLL");
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pe.machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, pe.magic);
    ExpectPluginTables(pe);
    ExpectNoThreadRuntime(pe);
    ExpectVersionResource(pe);
}

TEST(BuiltDll, IsOfThisBuildsKindWithThePlayersTables) {
    PeFile pe = Load("QUELLOR_BUILT_DLL");
#ifdef _WIN64
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, pe.machine);
#else
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pe.machine);
#endif
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR_MAGIC, pe.magic);
    ExpectPluginTables(pe);
    ExpectNoThreadRuntime(pe);
    ExpectVersionResource(pe);
}

TEST(PeFileReader, RefusesWhatIsNoImage) {
    PeFile pe;
    std::string error;
    EXPECT_FALSE(pe.Load("no such file.dll", error));
    EXPECT_NE(std::string::npos, error.find("no such file.dll"));
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(NULL, self, MAX_PATH));
    EXPECT_TRUE(pe.Load(self, error)) << error;
    EXPECT_TRUE(pe.exportNames.empty());
    VersionInfo info;
    EXPECT_FALSE(info.Parse(pe.Resource(16 /* RT_VERSION */), error)) << "this test has none";
}

} // namespace
