// The diagnostic log: file place and creation, line bytes, levels, switching, limits.
#include "diag/log.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadLog() {
    std::ifstream in(g_szLogFile, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool LogExists() {
    return GetFileAttributesA(g_szLogFile) != INVALID_FILE_ATTRIBUTES;
}

struct Log : ::testing::Test {
    void SetUp() override {
        LogInit();
        LogEnable(0);
    }
    void TearDown() override {
        LogEnable(0);
        LogShutdown();
        DeleteFileA(g_szLogFile);
    }
};

TEST_F(Log, LiesBesideTheExecutableAndStartsEmpty) {
    char exe[MAX_PATH + 1];
    GetModuleFileNameA(NULL, exe, sizeof exe);
    std::string expected(exe);
    expected = expected.substr(0, expected.rfind('\\')) + "\\quellor log.txt";
    EXPECT_EQ(expected, std::string(g_szLogFile));

    LogEnable(1);
    DiagLog(1, "left over from an earlier run");
    LogShutdown();
    LogInit();
    EXPECT_TRUE(LogExists());
    EXPECT_EQ("", ReadLog());
}

TEST_F(Log, DisabledLogStaysEmpty) {
    DiagLog(1, "not written");
    EXPECT_TRUE(LogExists());
    EXPECT_EQ("", ReadLog());
}

TEST_F(Log, LinesEndInCrLfAndKeepTheirOwnLineFeeds) {
    LogEnable(1);
    DiagLog(1, "Quellor Plugin v3.61 (x86) Diagnostic log\n");
    DiagLog(1, "Buffer %d of %d", 3, 8);
    EXPECT_EQ("Quellor Plugin v3.61 (x86) Diagnostic log\n\r\nBuffer 3 of 8\r\n", ReadLog());
}

TEST_F(Log, LevelZeroIsNeverWritten) {
    LogEnable(1);
    DiagLog(0, "Thread woke at %d", 12);
    DiagLog(1, "kept");
    EXPECT_EQ("kept\r\n", ReadLog());
}

TEST_F(Log, SwitchingTakesEffectAtOnce) {
    LogEnable(1);
    DiagLog(1, "one");
    LogEnable(0);
    DiagLog(1, "two");
    LogEnable(1);
    DiagLog(1, "three");
    EXPECT_EQ("one\r\nthree\r\n", ReadLog());
}

TEST_F(Log, PercentInAnArgumentIsWrittenUnchanged) {
    LogEnable(1);
    DiagLog(1, "Device: %s", "100% %d %s Speakers");
    EXPECT_EQ("Device: 100% %d %s Speakers\r\n", ReadLog());
}

TEST_F(Log, DeletedFileIsCreatedAgainByTheNextLine) {
    LogEnable(1);
    DiagLog(1, "a");
    DeleteFileA(g_szLogFile);
    DiagLog(1, "b");
    EXPECT_EQ("b\r\n", ReadLog());
}

TEST_F(Log, LongMessageIsCutTo4093Characters) {
    LogEnable(1);
    std::string huge(10000, 'q');
    DiagLog(1, "%s", huge.c_str());
    DiagLog(1, "%s", std::string(4093, 'r').c_str());
    EXPECT_EQ(std::string(4093, 'q') + "\r\n" + std::string(4093, 'r') + "\r\n", ReadLog());
}

// After LogShutdown a line is dropped, and a second shutdown is harmless.
TEST_F(Log, LinesAfterShutdownAreDroppedAndShutdownTwiceIsHarmless) {
    LogEnable(1);
    DiagLog(1, "before");
    LogShutdown();
    DiagLog(1, "after");
    LogCause("Something", E_FAIL);
    LogShutdown();
    EXPECT_EQ("before\r\n", ReadLog());
    LogInit(); // for TearDown
}

TEST_F(Log, CauseNamesTheCallAndItsResult) {
    LogEnable(1);
    LogCause("CKsPin::WriteData", HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
    EXPECT_EQ("CKsPin::WriteData failed, hr=0x8007001f\r\n", ReadLog());
}

TEST(LogPath, TooLongFolderGivesNoPath) {
    char out[MAX_PATH + 1] = "unchanged";
    std::string tooLong = "C:\\" + std::string(MAX_PATH - 19, 'f') + "\\host.exe";
    EXPECT_FALSE(BuildLogPath(tooLong.c_str(), out, sizeof out)) << "folder of 244 + 16";
    EXPECT_STREQ("", out);

    std::string folder = "C:\\" + std::string(MAX_PATH - 20, 'f');
    std::string exe = folder + "\\host.exe";
    ASSERT_TRUE(BuildLogPath(exe.c_str(), out, sizeof out));
    EXPECT_EQ(folder + "\\quellor log.txt", std::string(out));
    EXPECT_EQ((size_t)MAX_PATH - 1, strlen(out));

    std::string overlong(2 * MAX_PATH, 'z');
    EXPECT_FALSE(BuildLogPath(overlong.c_str(), out, sizeof out));
}

} // namespace
