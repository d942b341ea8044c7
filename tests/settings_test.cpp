// The settings record: the file path rule, defaults, clamps, and a save/load round trip
// through a real INI file shared with other sections.
#include "host/settings.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <string>

namespace {

std::string IniPath(const std::string& exe) {
    char out[MAX_PATH + 1];
    BuildIniPath(exe.c_str(), out);
    return out;
}

TEST(SettingsPath, CutsAtTheFirstDot) {
    EXPECT_EQ("C:\\Program Files\\Player\\player.ini",
              IniPath("C:\\Program Files\\Player\\player.exe"));
    EXPECT_EQ("C:\\Apps.ini", IniPath("C:\\Apps.old\\Player\\player.exe"));
    EXPECT_EQ("C:\\P\\a.ini", IniPath("C:\\P\\a.b.exe"));
}

TEST(SettingsPath, NoDotAppendsExtensionNeverTheExecutable) {
    EXPECT_EQ("C:\\Player\\player.ini", IniPath("C:\\Player\\player"));
}

TEST(SettingsPath, LongPathsStayWithinTheBuffer) {
    std::string longNoDot = "C:\\" + std::string(MAX_PATH - 3, 'x'); // 260 characters
    std::string ini = IniPath(longNoDot);
    EXPECT_EQ((size_t)MAX_PATH, ini.size());
    EXPECT_EQ(".ini", ini.substr(ini.size() - 4));

    std::string lateDot = "C:\\" + std::string(MAX_PATH - 6, 'y') + ".exe"; // dot at index 257
    ini = IniPath(lateDot);
    EXPECT_EQ((size_t)MAX_PATH, ini.size());
    EXPECT_EQ(".ini", ini.substr(ini.size() - 4));
}

// A settings record bound to a scratch INI file in the test's folder.
struct SettingsFile : ::testing::Test {
    KSSettings settings;
    std::string path;

    void SetUp() override {
        char dir[MAX_PATH];
        GetCurrentDirectoryA(sizeof dir, dir);
        path = std::string(dir) + "\\settings_test.ini";
        DeleteFileA(path.c_str());
        lstrcpynA(settings.ini_file, path.c_str(), sizeof settings.ini_file);
        SetDefaultSettings(settings);
    }
    void TearDown() override { DeleteFileA(path.c_str()); }

    void Put(const char* key, const char* value) {
        WritePrivateProfileStringA("Quellor", key, value, path.c_str());
    }
    int LoadInt(const char* key, const char* value, int KSSettings::*field) {
        Put(key, value);
        SetDefaultSettings(settings);
        LoadSettings(settings);
        return settings.*field;
    }
    // Loads the two sizes as the file gives them.
    void LoadSizes(const char* input, const char* output) {
        Put("input_buffer_size", input);
        Put("output_buffer_size", output);
        SetDefaultSettings(settings);
        LoadSettings(settings);
    }
};

TEST_F(SettingsFile, MissingFileGivesDefaults) {
    LoadSettings(settings);
    EXPECT_STREQ("", settings.output_device);
    EXPECT_EQ(0, settings.volume_enabled);
    EXPECT_EQ(0, settings.gapless_enabled);
    EXPECT_EQ(65536, settings.input_buffer_size);
    EXPECT_EQ(8192, settings.output_buffer_size);
    EXPECT_EQ(8, settings.output_buffer_cnt);
    EXPECT_EQ(0, settings.logging_enabled);
    EXPECT_EQ(1, settings.logarithmic_volume);
    EXPECT_EQ(1, settings.adapt_formats_enabled);
    EXPECT_EQ(1, settings.hardware_volume_enabled);
    EXPECT_EQ(0, settings.release_on_pause_enabled);
    EXPECT_EQ(0, settings.preroll_ms);
    EXPECT_EQ(0, settings.fade_ms);
}

TEST_F(SettingsFile, SizesAndCountAreClamped) {
    Put("output_buffer_size", "2048"); // a packet smaller than the smallest ring
    struct {
        const char* key;
        int KSSettings::*field;
        const char* text;
        int expected;
    } cases[] = {
        {"input_buffer_size", &KSSettings::input_buffer_size, "5000", 4096},
        {"input_buffer_size", &KSSettings::input_buffer_size, "1000", 4096},
        {"input_buffer_size", &KSSettings::input_buffer_size, "-5000", 4096},
        {"input_buffer_size", &KSSettings::input_buffer_size, "70000", 69632},
        {"input_buffer_size", &KSSettings::input_buffer_size, "1048576", 1048576},
        {"input_buffer_size", &KSSettings::input_buffer_size, "lots", 4096},
        {"input_buffer_size", &KSSettings::input_buffer_size, "67108864", 67108864},
        {"input_buffer_size", &KSSettings::input_buffer_size, "67109888", 67108864},
        {"input_buffer_size", &KSSettings::input_buffer_size, "2147483647", 67108864},
        {"output_buffer_size", &KSSettings::output_buffer_size, "3000", 2048},
        {"output_buffer_size", &KSSettings::output_buffer_size, "8388608", 8388608},
        {"output_buffer_size", &KSSettings::output_buffer_size, "8389632", 8388608},
        {"output_buffer_size", &KSSettings::output_buffer_size, "1073741824", 8388608},
        {"output_buffer_size", &KSSettings::output_buffer_size, "9000", 8192},
        {"output_buffer_size", &KSSettings::output_buffer_size, "-1", 2048},
        {"output_buffer_cnt", &KSSettings::output_buffer_cnt, "1", 2},
        {"output_buffer_cnt", &KSSettings::output_buffer_cnt, "20", 8},
        {"output_buffer_cnt", &KSSettings::output_buffer_cnt, "5", 5},
        {"output_buffer_cnt", &KSSettings::output_buffer_cnt, "-3", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, LoadInt(c.key, c.text, c.field)) << c.key << "=" << c.text;
}

// A ring no larger than a packet would never let the host write: it is corrected as the settings
// dialog corrects it, to twice the packet.
TEST_F(SettingsFile, RingNotLargerThanAPacketBecomesTwoPackets) {
    LoadSizes("8192", "16384");
    EXPECT_EQ(32768, settings.input_buffer_size);
    EXPECT_EQ(16384, settings.output_buffer_size);
    LoadSizes("16384", "16384");
    EXPECT_EQ(32768, settings.input_buffer_size);
    LoadSizes("17408", "16384");
    EXPECT_EQ(17408, settings.input_buffer_size) << "one KiB larger is enough";
    LoadSizes("4096", "1073741824");
    EXPECT_EQ(8388608, settings.output_buffer_size);
    EXPECT_EQ(16777216, settings.input_buffer_size) << "corrected after the upper clamp";
}

// Packet memory is count x size: no file can make that product overflow 32 bits.
TEST_F(SettingsFile, SizeProductsStayWithin32Bits) {
    Put("output_buffer_cnt", "4");
    LoadSizes("2147483647", "1073741824");
    EXPECT_LE((long long)settings.output_buffer_cnt * settings.output_buffer_size,
              64LL * 1024 * 1024);
    EXPECT_EQ(67108864, settings.input_buffer_size);
}

TEST_F(SettingsFile, SwitchesAreKeptAsRead) {
    EXPECT_EQ(7, LoadInt("gapless_enabled", "7", &KSSettings::gapless_enabled));
    EXPECT_EQ(0, LoadInt("logarithmic_volume", "0", &KSSettings::logarithmic_volume));
    EXPECT_EQ(0, LoadInt("adapt_formats_enabled", "0", &KSSettings::adapt_formats_enabled));
    EXPECT_EQ(1, LoadInt("adapt_formats_enabled", "7", &KSSettings::adapt_formats_enabled));
    EXPECT_EQ(0, LoadInt("hardware_volume_enabled", "0", &KSSettings::hardware_volume_enabled));
    EXPECT_EQ(1, LoadInt("hardware_volume_enabled", "7", &KSSettings::hardware_volume_enabled));
    EXPECT_EQ(1, LoadInt("release_on_pause_enabled", "7", &KSSettings::release_on_pause_enabled));
    EXPECT_EQ(2000, LoadInt("preroll_ms", "99999", &KSSettings::preroll_ms));
    EXPECT_EQ(0, LoadInt("preroll_ms", "-5", &KSSettings::preroll_ms));
    EXPECT_EQ(250, LoadInt("preroll_ms", "250", &KSSettings::preroll_ms));
    EXPECT_EQ(200, LoadInt("fade_ms", "99999", &KSSettings::fade_ms));
    EXPECT_EQ(0, LoadInt("fade_ms", "-5", &KSSettings::fade_ms));
    EXPECT_EQ(20, LoadInt("fade_ms", "20", &KSSettings::fade_ms));
}

TEST_F(SettingsFile, LongDevicePathIsCutTo260) {
    std::string device = "\\\\?\\" + std::string(400, 'd');
    Put("output_device", device.c_str());
    LoadSettings(settings);
    EXPECT_EQ(device.substr(0, MAX_PATH), std::string(settings.output_device));
}

TEST_F(SettingsFile, SaveAndLoadRoundTripLeavesOtherSectionsAlone) {
    WritePrivateProfileStringA("Player", "skin", "dark", path.c_str());
    WritePrivateProfileStringA("Quellor", "unrelated", "kept", path.c_str());
    lstrcpyA(settings.output_device, "\\\\?\\root#media#0001#{6994ad04}\\wave");
    settings.volume_enabled = 1;
    settings.gapless_enabled = 1;
    settings.input_buffer_size = 131072;
    settings.output_buffer_size = 4096;
    settings.output_buffer_cnt = 3;
    settings.logging_enabled = 1;
    settings.logarithmic_volume = 0;
    settings.hardware_volume_enabled = 0;
    SaveSettings(settings);

    KSSettings loaded = settings;
    SetDefaultSettings(loaded);
    LoadSettings(loaded);
    EXPECT_STREQ(settings.output_device, loaded.output_device);
    EXPECT_EQ(1, loaded.volume_enabled);
    EXPECT_EQ(1, loaded.gapless_enabled);
    EXPECT_EQ(131072, loaded.input_buffer_size);
    EXPECT_EQ(4096, loaded.output_buffer_size);
    EXPECT_EQ(3, loaded.output_buffer_cnt);
    EXPECT_EQ(1, loaded.logging_enabled);
    EXPECT_EQ(0, loaded.logarithmic_volume);
    EXPECT_EQ(0, loaded.hardware_volume_enabled);

    char text[32];
    GetPrivateProfileStringA("Player", "skin", "", text, sizeof text, path.c_str());
    EXPECT_STREQ("dark", text);
    GetPrivateProfileStringA("Quellor", "unrelated", "", text, sizeof text, path.c_str());
    EXPECT_STREQ("kept", text);
    GetPrivateProfileStringA("Quellor", "input_buffer_size", "", text, sizeof text, path.c_str());
    EXPECT_STREQ("131072", text);
}

} // namespace
