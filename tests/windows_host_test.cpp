// The windows against the host's threads: the About box, the engine rebuild after the dialog
// changed a setting (on the dialog's thread and on another one, with the status window open),
// Quit with the status window open, and the dialog used while a stream plays.
#include "tests/dialog_driver.h"

#include <cstring>
#include <regex>

namespace {

struct Host : DialogFixture {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "volume_enabled=1", "logarithmic_volume=1"};
    }
    // Opens the status window from the dialog, moves the count slider to 4 and the output
    // slider to 16 KB, and presses OK. Returns the status window.
    HWND ChangeSizesWithStatusOpen() {
        HWND status = NULL;
        EXPECT_TRUE(RunConfig([&](HWND d) {
            Press(d, IDC_OPEN_STATUS);
            status = WaitForWindow("Quellor Status");
            MoveSlider(d, IDC_COUNT_SLIDER, 4);
            MoveSlider(d, IDC_OUTPUT_SLIDER, 1);
            Press(d, IDOK);
        }));
        return status;
    }
    static DWORD WINAPI OpenThread(LPVOID result) {
        *(int*)result = s_mod->Open(44100, 2, 16, -1, -1);
        return 0;
    }
};

TEST_F(Host, AboutBoxNamesTheVersionAndTheBuildDate) {
    HWND owner = CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    mod->About(owner);
    ASSERT_EQ(1, SimKs_MessageBoxCount());
    SimKsMessageBox box;
    ASSERT_TRUE(SimKs_GetMessageBox(0, &box));
    EXPECT_EQ(owner, box.Owner);
    EXPECT_STREQ("About", box.Caption);
    EXPECT_EQ((UINT)MB_OK, box.Type);
    std::string text = box.Text;
    EXPECT_EQ(0u, text.find("Quellor Plugin v3.61 (x86)\n")) << text;
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\n[^\n]+\n\nCompiled on (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|"
                         "Dec) [ 123][0-9] [0-9]{4}\n$")))
        << text;
    DestroyWindow(owner);
}

TEST_F(Host, OpenAfterAChangeRebuildsTheEngineWithTheNewSizesAndTheMappedVolume) {
    mod->SetVolume(128); // maps to 64 of 256
    HWND status = ChangeSizesWithStatusOpen();
    ASSERT_TRUE(status);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_FALSE(IsWindow(status)) << "the old engine's window went with it";
    EXPECT_EQ(1, LogCount("Constructed KSCore (Input Size:65536) (Output Size 16384) "
                          "(Output Cnt 4)"));
    std::vector<SHORT> samples(16384, 1000);
    std::vector<char> pcm((char*)samples.data(), (char*)(samples.data() + samples.size()));
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(WaitUntil([this] { return mod->IsPlaying() == 0; }));
    mod->Close();
    std::vector<char> got = Consumed(0);
    ASSERT_GE(got.size(), 2u);
    SHORT first;
    memcpy(&first, got.data(), 2);
    EXPECT_EQ(250, first) << "1000 at the mapped volume 64";
    SimKsPacketInfo packet;
    ASSERT_TRUE(SimKs_GetPacket(0, 0, &packet));
    EXPECT_EQ(16384u, packet.FrameExtent);

    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Close();
    EXPECT_EQ(2, LogCount("Constructed KSCore")) << "one rebuild only";
}

TEST_F(Host, RebuildOnAnotherThreadClosesTheStatusWindowOnItsOwn) {
    HWND status = ChangeSizesWithStatusOpen();
    ASSERT_TRUE(status);
    int opened = 0;
    bool goneAtReturn = false;
    RunPumping([&] {
        opened = mod->Open(44100, 2, 16, -1, -1);
        goneAtReturn = !IsWindow(status);
    });
    EXPECT_GT(opened, 0);
    EXPECT_TRUE(goneAtReturn) << "closed by this thread's message loop before Open returned";
    mod->Close();
}

TEST_F(Host, RebuildOnAnotherThreadDoesNotHangWhileTheWindowsThreadWaitsForIt) {
    HWND status = ChangeSizesWithStatusOpen();
    ASSERT_TRUE(status);
    int opened = 0;
    HANDLE thread = CreateThread(NULL, 0, OpenThread, &opened, 0, NULL);
    ASSERT_TRUE(thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kHangMs)) << "no dispatching here";
    CloseHandle(thread);
    EXPECT_GT(opened, 0);
    EXPECT_TRUE(IsWindow(status)) << "left to its thread";
    EXPECT_TRUE(WaitUntil([&] {
        Pump();
        return !IsWindow(status);
    })) << "closed as soon as its thread dispatched";
    mod->Close();
}

TEST_F(Host, QuitOnAnotherThreadWithTheStatusWindowOpen) {
    ASSERT_TRUE(RunConfig([](HWND d) { Press(d, IDC_OPEN_STATUS); }));
    HWND status = WaitForWindow("Quellor Status");
    ASSERT_TRUE(status);
    RunPumping([&] { mod->Quit(); });
    initDone = false;
    EXPECT_FALSE(IsWindow(status));
}

struct Playing : DialogFixture {
    void SetUp() override {
        DialogFixture::SetUp();
        SimKs_SetClock(SIMKS_CLOCK_REALTIME, 2.0);
    }
    std::vector<char> pcm = Pcm16(44100 * 2);
    bool written = false;
    static DWORD WINAPI WriteThread(LPVOID p) {
        Playing& t = *(Playing*)p;
        t.written = t.WriteAll(t.pcm);
        return 0;
    }
};

// The dialog and the status window on this thread while another thread writes a second of
// audio: every byte arrives in order, in the one stream, and the changes wait for the next open.
TEST_F(Playing, TheDialogAndTheStatusWindowWhileAStreamPlaysLoseNoAudio) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    HANDLE thread = CreateThread(NULL, 0, WriteThread, static_cast<Playing*>(this), 0, NULL);
    ASSERT_TRUE(thread);
    ASSERT_TRUE(RunConfig([this](HWND d) {
        Press(d, IDC_OPEN_STATUS);
        WaitConsumed(0, pcm.size() / 4); // audio plays while the status window shows it
        MoveSlider(d, IDC_COUNT_SLIDER, 2);
        MoveSlider(d, IDC_INPUT_SLIDER, 3);
        Press(d, IDOK);
    }));
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
        Pump();
    CloseHandle(thread);
    EXPECT_TRUE(written);
    EXPECT_TRUE(WaitUntil([this] { return mod->IsPlaying() == 0; }));
    mod->Close();
    EXPECT_EQ(1, SimKs_StreamCount());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
    EXPECT_EQ(131072, IniInt("input_buffer_size"));
}

} // namespace
