// The plug-in DLL files as the player's loader sees them, read from disk: this build's DLL, and
// the shipped i686 DLL, which this judges even where no 32-bit program can run.
#include "tests/pe_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
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

TEST(ShippedDll, IsPe32ForI386WithThePlayersTables) {
    PeFile pe = Load("QUELLOR_SHIPPED_DLL");
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pe.machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, pe.magic);
    ExpectPluginTables(pe);
    ExpectNoThreadRuntime(pe);
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
}

} // namespace
