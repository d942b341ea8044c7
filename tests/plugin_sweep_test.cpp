// Allocation failures across the whole plug-in: a session from Init to Quit (open, writes, pause
// and resume, close, a second open, close, quit) is run once per allocation it makes, in a
// process of its own, with that one allocation failing; once on a packet device and once on the
// WaveRT device. No session may hang or crash, and the user may only be told what the opening
// step tells.
#include "tests/child_runner.h"
#include "tests/plugin_fixture.h"
#include "tools/common/hostenv.h"

#include <cstdio>
#include <fstream>

namespace {

const char kFailAtVar[] = "QUELLOR_SWEEP_FAIL_AT"; // allocation to fail; 0 counts only
const char kReportVar[] = "QUELLOR_SWEEP_REPORT";  // file that receives the count
const char kWaveRtVar[] = "QUELLOR_SWEEP_WAVERT";  // 1: the session plays on the WaveRT device
// A session takes about a second; the engine's longest chain of bounded waits stays well below
// this, so a child that is still running has hung.
const DWORD kChildTimeoutMs = 20000;
// Two children at a time keep a shared two-core machine usable.
const int kParallel = 2;

// The session itself, run in the child. Init is part of it, so nothing is set up before.
struct SweepSession : PluginFixture {
    std::vector<std::string> Settings() override {
        if (EnvInt(kWaveRtVar) != 1)
            return {"logging_enabled=1"};
        return {"logging_enabled=1",
                std::string("output_device=") + SimKs_DevicePath(SIMKS_DEFAULT_WAVERT)};
    }
    std::string FolderName() override {
        return "sweep_" + std::to_string(EnvInt(kWaveRtVar)) + "_" +
               std::to_string(EnvInt(kFailAtVar));
    }
    void SetUp() override {
        if (EnvInt(kFailAtVar) < 0)
            GTEST_SKIP() << "runs only as a child of the sweep";
        Prepare();
        // The cyclic buffer plays only by a clock; fast, since only hangs and crashes count here.
        if (EnvInt(kWaveRtVar) == 1)
            SimKs_SetClock(SIMKS_CLOCK_REALTIME, 20.0);
    }

    void ExpectOnlyKnownBoxes() {
        for (int i = 0; i < SimKs_MessageBoxCount(); i++) {
            std::string text = MessageBoxText(i);
            EXPECT_TRUE(text == "Failed to allocate CKsEnumFilters" ||
                        text == "CKsEnumFilters::EnumFilters failed" ||
                        text == "Could not find suitable output filter")
                << text;
        }
    }
    // One stream: what a refused open leaves must refuse writes.
    void Stream(bool pauseInTheMiddle) {
        std::vector<char> pcm = Pcm16(8192);
        int opened = mod->Open(44100, 2, 16, -1, -1);
        int can = mod->CanWrite();
        int wrote = mod->Write(pcm.data(), (int)pcm.size());
        if (opened <= 0 && can == 0) {
            EXPECT_EQ(1, wrote);
        }
        if (pauseInTheMiddle) {
            mod->Pause(1);
            mod->Pause(0);
            mod->Write(pcm.data(), (int)pcm.size());
        }
        mod->IsPlaying();
        mod->GetOutputTime();
        mod->Close();
    }
};

TEST_F(SweepSession, InitToQuit) {
    SimKs_ArmAllocations((ULONG)EnvInt(kFailAtVar));
    mod->Init();
    mod->SetVolume(200);
    Stream(true);
    Stream(false);
    mod->Quit();
    ULONG count = SimKs_DisarmAllocations();
    ExpectOnlyKnownBoxes();
    const char* report = getenv(kReportVar);
    if (report) {
        std::ofstream out(report);
        out << count;
    }
}

void SetChildEnv(bool wavert, int failAt, const std::string& report) {
    SetEnvironmentVariableA(kWaveRtVar, wavert ? "1" : "0");
    SetEnvironmentVariableA(kFailAtVar, std::to_string(failAt).c_str());
    SetEnvironmentVariableA(kReportVar, report.empty() ? NULL : report.c_str());
}

const char kChildArgs[] = "--gtest_filter=SweepSession.InitToQuit --gtest_brief=1";

// How many allocations a whole session makes, counted in a child like the others.
int CountAllocations(bool wavert) {
    std::string report = hostenv::ExeFolder() + "\\sweep_count.txt";
    DeleteFileA(report.c_str());
    std::vector<ChildResult> failed = RunChildren(1, 1, kChildTimeoutMs, kChildArgs,
                                                  [&](int) { SetChildEnv(wavert, 0, report); });
    for (const ChildResult& r : failed)
        ADD_FAILURE() << "the counting session failed (exit " << r.exitCode << ")\n" << r.output;
    int count = 0;
    std::ifstream(report) >> count;
    DeleteFileA(report.c_str());
    return count;
}

void SweepEverySite(bool wavert) {
    int total = CountAllocations(wavert);
    ASSERT_GT(total, 0);
    DWORD start = GetTickCount();
    std::vector<ChildResult> failed =
        RunChildren(total, kParallel, kChildTimeoutMs, kChildArgs,
                    [&](int index) { SetChildEnv(wavert, index + 1, std::string()); });
    printf("%s: %d allocation sites, each failed in its own process: %lu ms\n",
           wavert ? "WaveRT device" : "packet device", total, GetTickCount() - start);
    for (const ChildResult& r : failed) {
        ADD_FAILURE() << "allocation " << r.index + 1 << " of " << total << " failing: "
                      << (r.hung ? "hung" : "exit code " + std::to_string(r.exitCode)) << "\n"
                      << r.output;
    }
}

TEST(AllocationSweep, EverySiteFailedOnceInItsOwnProcess) {
    SweepEverySite(false);
}

TEST(AllocationSweep, EverySiteOfAWaveRtSessionFailedOnceInItsOwnProcess) {
    SweepEverySite(true);
}

} // namespace
