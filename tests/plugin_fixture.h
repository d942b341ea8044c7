// Fixture for tests that drive the plug-in DLL as the player does, on simulated devices.
// The DLL is loaded once per test program with the simulated platform behind its imports (the
// player never unloads it either). Each test gets a fresh platform with the default devices, a
// private folder for the plug-in's INI and log files, its chosen settings, and Init; TearDown
// calls Quit.
#pragma once

#include "host/out_module.h"
#include "testbed/redirect.h"
#include "tests/bytes_match.h"
#include "tests/waits.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class PluginFixture : public ::testing::Test {
  public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

  protected:
    // Settings written into the plug-in's INI file before Init, as KEY=VALUE.
    virtual std::vector<std::string> Settings() { return {}; }
    // Devices of the test; the default set unless overridden.
    virtual void AddDevices() { SimKs_AddDefaultDevices(); }
    // Name of the test's folder below the executable's, after "plugin_": the suite's and the
    // test's names joined by "_" unless overridden (processes that run at the same time need
    // folders of their own). No ".": the INI file's name ends at the path's first one.
    virtual std::string FolderName();

    void SetUp() override; // Prepare, then Init
    // Quit, then the test's folder is removed; a failed test's folder is kept and named.
    void TearDown() override;
    // Everything SetUp does before Init: a fresh platform, the folder, the settings, the record.
    void Prepare();

    // Writes all of data as the player does (whole writes while CanWrite allows, Sleep
    // otherwise). Returns false when a write was refused, or the writes did not all go in
    // before kHangMs.
    bool WriteAll(const std::vector<char>& data);
    // A track's natural end as the player ends it: IsPlaying asked until it says 0, then Close.
    // False when it still says 1 after kHangMs (Close is called all the same).
    bool EndTrack();
    // Waits until the stream has consumed count bytes; false after timeoutMs.
    bool WaitConsumed(int stream, ULONGLONG count, DWORD timeoutMs = kHangMs);
    // Everything the stream consumed.
    std::vector<char> Consumed(int stream);
    // The plug-in's log file as it is now.
    std::string Log();
    // Text of message box index, or "" when there is none.
    std::string MessageBoxText(int index);

    static HMODULE s_dll;
    static Out_Module* s_mod;
    Out_Module* mod = nullptr;
    std::string folder; // holds player.ini and "quellor log.txt"
    bool initDone = false;
};

// Deletes the files of a folder (not its subfolders) and the folder, when it is then empty.
void RemoveFolder(const std::string& path);

// Adds and announces a stereo 16-bit 44.1 kHz render device that is not one of the set
// ("Stranger", path "\\?\sim#stranger"); returns its index in the bed, -1
// when the announcement failed.
int AnnounceStranger();

// PCM test data: count 16-bit samples from a simple deterministic sequence.
std::vector<char> Pcm16(size_t samples, unsigned seed = 1);
// Packed 24-bit samples.
std::vector<char> Pcm24(size_t samples, unsigned seed = 1);
// Packed 24-bit samples as the device takes them, in 32-bit containers: 0, b0, b1, b2.
std::vector<char> Widen24(const std::vector<char>& packed);
