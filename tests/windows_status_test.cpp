// The status window of an engine built in-process over simulated devices: its pixels painted
// into a memory bitmap (the usage bar, the lines and their positions), its timer, Escape, and
// its closing when the engine is destroyed on another thread.
#include "engine/kscore.h"
#include "host/status.h"
#include "testbed/simfixture.h"
#include "tests/test_host.h"
#include "tests/waits.h"

#include <functional>
#include <string>
#include <vector>

namespace {

// A 32-bit top-down picture of a window's client area as PaintStatus draws it.
struct Picture {
    int width = 0, height = 0;
    std::vector<RGBQUAD> px;
    const RGBQUAD& At(int x, int y) const { return px[(size_t)y * width + x]; }
    bool Is(int x, int y, BYTE r, BYTE g, BYTE b) const {
        const RGBQUAD& p = At(x, y);
        return p.rgbRed == r && p.rgbGreen == g && p.rgbBlue == b;
    }
    bool Dark(int x, int y) const {
        const RGBQUAD& p = At(x, y);
        return p.rgbRed + p.rgbGreen + p.rgbBlue < 240;
    }
    bool RowHasText(int y) const {
        for (int x = 0; x < width; x++)
            if (Dark(x, y))
                return true;
        return false;
    }
    // Equal pixels in rows top..bottom-1.
    bool SameRows(const Picture& o, int top, int bottom) const {
        for (int y = top; y < bottom; y++)
            for (int x = 0; x < width; x++)
                if (memcmp(&At(x, y), &o.At(x, y), sizeof(RGBQUAD)))
                    return false;
        return true;
    }
};

// Draws with paint into a memory bitmap of the window's client size and reads it back.
Picture Capture(HWND window, const std::function<void(HWND, HDC)>& paint) {
    Picture pic;
    RECT rc;
    GetClientRect(window, &rc);
    pic.width = rc.right;
    pic.height = rc.bottom;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, pic.width, pic.height);
    HGDIOBJ old = SelectObject(mem, bitmap);
    paint(window, mem);
    SelectObject(mem, old);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = pic.width;
    bi.bmiHeader.biHeight = -pic.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    pic.px.resize((size_t)pic.width * pic.height);
    GetDIBits(mem, bitmap, 0, pic.height, pic.px.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return pic;
}

struct Line {
    int y;
    std::string text;
};

// The lines drawn as the status window draws text, on its background.
Picture Expected(HWND window, const std::vector<Line>& lines) {
    return Capture(window, [&](HWND w, HDC dc) {
        RECT rc;
        GetClientRect(w, &rc);
        HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
        FillRect(dc, &rc, face);
        DeleteObject(face);
        SetBkMode(dc, TRANSPARENT);
        for (const Line& l : lines)
            StatusTextOut(dc, 20, l.y, "%s", l.text.c_str());
    });
}

int UsageWidth() {
    HDC dc = CreateCompatibleDC(NULL);
    int w = StatusTextWidth(dc, "Usage:");
    DeleteDC(dc);
    return w;
}

struct Status : SimKsFixture {
    TestHost host;
    KSSettings& settings = host.settings;
    KSCore* core = nullptr;
    HWND window = NULL;

    virtual int Packets() { return 8; }
    void SetUp() override {
        SimKsFixture::SetUp();
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
        settings.output_buffer_cnt = Packets();
        core = new KSCore(host);
        ASSERT_TRUE(core->IsReady());
        OpenStatusWindow(GetModuleHandleA(NULL), core);
        window = StatusWindow();
        ASSERT_TRUE(window);
    }
    void TearDown() override {
        CloseStatusWindow();
        delete core;
        SimKsFixture::TearDown();
    }
    Picture Paint() { return Capture(window, PaintStatus); }
    // Writes bytes and waits until the ring holds want bytes.
    bool Fill(size_t bytes, LONG want) {
        std::vector<char> pcm(bytes, 0x11);
        if (core->Write(pcm.data(), (int)pcm.size()) != 0)
            return false;
        return WaitUntil([&] { return core->Snapshot().inputUsed == (DWORD)want; });
    }
    // Green and grey pixels of the usage bar's bottom row, and where the bar starts and ends.
    void Bar(const Picture& pic, int& green, int& grey, int& first, int& last) {
        green = grey = 0;
        first = last = -1;
        for (int x = 0; x < pic.width; x++) {
            bool g = pic.Is(x, 119, 0, 255, 0), s = pic.Is(x, 119, 160, 160, 160);
            green += g;
            grey += s;
            if (g || s) {
                first = first < 0 ? x : first;
                last = x;
            }
        }
    }
};

TEST_F(Status, UsageBarIsTwoHundredPixelsFilledGreenByTheRingLevel) {
    ASSERT_GT(core->Start(44100, 2, 16), 0);
    const int barLeft = UsageWidth() + 30;
    const struct {
        size_t write;
        LONG ring;
        int green;
    } steps[] = {{0, 0, 0}, {8 * 8192, 0, 0}, {16384, 16384, 50}, {49152, 65536, 200}};
    for (const auto& s : steps) {
        if (s.write) {
            ASSERT_TRUE(Fill(s.write, s.ring));
        }
        if (s.write == 8 * 8192) {
            ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs)) << "every packet with the device";
        }
        int green, grey, first, last;
        Bar(Paint(), green, grey, first, last);
        EXPECT_EQ(s.green, green) << s.ring << " bytes in the ring";
        EXPECT_EQ(200 - s.green, grey) << s.ring << " bytes in the ring";
        EXPECT_EQ(barLeft, first);
        EXPECT_EQ(barLeft + 199, last);
    }
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0); // lets the end drain
    core->End();
}

TEST_F(Status, LinesShowTheSizesDurationsAndFormat) {
    int onboard = SimKs_AddZooDevice(4); // 48 kHz 16-bit stereo only: 8-bit mono is adapted
    ASSERT_LE(0, onboard);
    ASSERT_GT(core->Start(44100, 2, 16), 0);
    Picture pic = Paint();
    Picture expected = Expected(window, {{80, "Size: 65536 bytes (371.5mS)"},
                                         {120, "Buffered: 0mS written, not yet heard"},
                                         {160, "Size: 8192 bytes (46.4mS x 8)"},
                                         {180, "0 : FREE"},
                                         {420, "Number of Channels: 2"},
                                         {400, "Sample Size: 16 bits"},
                                         {380, "Frequency: 44100Hz"}});
    EXPECT_TRUE(pic.SameRows(expected, 80, 100));
    EXPECT_TRUE(pic.SameRows(expected, 120, 140));
    EXPECT_TRUE(pic.SameRows(expected, 160, 200));
    EXPECT_TRUE(pic.SameRows(expected, 380, pic.height));
    // Paused on the manual clock, written and heard stand still: 185 ms written, 46 ms heard.
    ASSERT_TRUE(Fill(4 * 8192, 0));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    ASSERT_EQ(1, SimKs_CompletePackets(0, 1));
    core->Pause(1);
    expected = Expected(window, {{120, "Buffered: 139mS written, not yet heard"}});
    EXPECT_TRUE(Paint().SameRows(expected, 120, 140));
    core->End();

    ASSERT_GT(core->Start(48000, 2, 24), 0);
    expected = Expected(window, {{400, "Sample Size: 24 bits"}});
    EXPECT_TRUE(Paint().SameRows(expected, 400, 420)) << "24 bits in 32-bit containers";
    core->End();

    lstrcpyA(settings.output_device, SimKs_DevicePath(onboard));
    ASSERT_GT(core->Start(48000, 1, 8), 0);
    expected = Expected(window, {{400, "Sample Size: 16 in 16 bits (stream 8)"},
                                 {420, "Number of Channels: 2 (stream 1)"}});
    EXPECT_TRUE(Paint().SameRows(expected, 400, pic.height)) << "the stream's format beside";
    core->End();
}

// On a WaveRT device the window shows the cyclic buffer where the packets would be (its halves,
// alignment and latency too), and the format three packet lines lower than with one packet.
TEST_F(Status, WaveRtStreamShowsTheCyclicBufferInsteadOfThePackets) {
    lstrcpyA(settings.output_device, SimKs_DevicePath(SIMKS_DEFAULT_WAVERT));
    ASSERT_GT(core->Start(44100, 2, 16), 0);
    std::vector<Line> lines = {{140, "Cyclic Buffer (WaveRT, event-driven):"},
                               {160, "Size: 16384 bytes (92.9mS)"},
                               {180, "Playing: first half, at byte 0"},
                               {200, "Halves: 2048 frames, 128-byte alignment"},
                               {220, "Latency: 0mS; packet mode off (not offered)"},
                               {260, "Output Format:"},
                               {280, "Frequency: 44100Hz"},
                               {300, "Sample Size: 16 bits"},
                               {320, "Number of Channels: 2"}};
    Picture pic = Paint();
    EXPECT_TRUE(pic.SameRows(Expected(window, lines), 140, pic.height));
    ASSERT_EQ(2148u, SimKs_AdvanceWaveRt(0, 2148)); // into the second half
    ASSERT_TRUE(WaitUntil([&] { return core->Snapshot().playOffset == 8592; }));
    lines[2].text = "Playing: second half, at byte 8592";
    EXPECT_TRUE(Paint().SameRows(Expected(window, lines), 180, 200));
    core->End();

    SimKsWaveRtOptions packets = {SIMKS_RT_PACKET_MODE, 0, 0, 0, 0, 0, {}};
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &packets);
    ASSERT_GT(core->Start(44100, 2, 16), 0);
    EXPECT_TRUE(Paint().SameRows(
        Expected(window, {{220, "Latency: 0mS; packet mode off (offered by the driver)"}}), 220,
        240));
    core->End();

    SimKsWaveRtOptions polled = {SIMKS_RT_NO_NOTIFICATION, 0, 0, 0, 0, 0, {}};
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &polled);
    ASSERT_GT(core->Start(44100, 2, 16), 0);
    EXPECT_TRUE(
        Paint().SameRows(Expected(window, {{140, "Cyclic Buffer (WaveRT, polled):"}}), 140, 160));
    core->End();
    EXPECT_TRUE(Paint().SameRows(Expected(window, {{140, "Output Buffers:"}}), 140, 160))
        << "the packets again once the stream is closed";
}

// The line below the thread's state says where the volume goes while the device's control may be
// used; with that setting off the window is as it always was.
TEST_F(Status, VolumeLineShowsOffSoftwareOrTheDeviceLevel) {
    SimKsTopology topo;
    ASSERT_TRUE(SimKs_AddTopology(SIMKS_DEFAULT_VERSATILE, SIMKS_TOPO_VOLUME_MUTE, &topo));
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    const struct {
        int volumeEnabled, hardware, volume;
        const char* text; // nullptr: no line
    } cases[] = {{1, 0, 128, nullptr},
                 {0, 1, 128, "Volume: off"},
                 {1, 1, 128, "Volume: device control, -48.0 dB"},
                 {1, 1, 0, "Volume: device control, muted"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        settings.volume_enabled = c.volumeEnabled;
        settings.hardware_volume_enabled = c.hardware;
        core->SetVolume(c.volume);
        ASSERT_GT(core->Start(44100, 2, 16), 0);
        ASSERT_TRUE(WaitUntil([&] { return core->Snapshot().deviceMuted == (c.volume == 0); }));
        std::vector<Line> lines;
        if (c.text)
            lines.push_back({40, c.text});
        EXPECT_TRUE(Paint().SameRows(Expected(window, lines), 40, 60));
        core->End();
    }
    EXPECT_TRUE(Paint().SameRows(Expected(window, {{40, "Volume: software"}}), 40, 60))
        << "no stream, no device control";
}

// With fades on, a line below the format says so (with them off there is none: the last line is
// the channels', below).
TEST_F(Status, FadesLineBelowTheFormatWhenOn) {
    settings.fade_ms = 20;
    ASSERT_GT(core->Start(44100, 2, 16), 0);
    Picture pic = Paint();
    EXPECT_TRUE(pic.SameRows(Expected(window, {{440, "Fades: 20 ms at pause, seek and stop"}}), 440,
                             pic.height));
    core->End();
}

TEST_F(Status, BeforeAnyStreamTheDurationsAreZero) {
    Picture expected = Expected(window, {{80, "Size: 65536 bytes (0.0mS)"}});
    EXPECT_TRUE(Paint().SameRows(expected, 80, 100));
}

struct TwoPackets : Status {
    int Packets() override { return 2; }
};

// The last text line sits at 260 + 20 x packets.
int LastTextLine(const Picture& pic) {
    int y = pic.height - 1;
    while (y > 0 && !pic.RowHasText(y))
        y--;
    while (y > 0 && pic.RowHasText(y - 1))
        y--;
    return y;
}

TEST_F(Status, NumberOfChannelsIsAtFourHundredTwentyWithEightPackets) {
    int top = LastTextLine(Paint());
    EXPECT_GE(top, 420);
    EXPECT_LT(top, 430);
}

TEST_F(TwoPackets, NumberOfChannelsIsAtThreeHundredWithTwoPackets) {
    int top = LastTextLine(Paint());
    EXPECT_GE(top, 300);
    EXPECT_LT(top, 310);
}

// Lets only the window's timer messages through until it has something to repaint.
bool TimerInvalidates(HWND window) {
    return WaitUntil([&] {
        MSG msg;
        while (PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE))
            DispatchMessageA(&msg);
        return GetUpdateRect(window, NULL, FALSE) != FALSE;
    });
}

// Lets only the window's timer messages through until ticks of them have been dispatched.
bool TimerTicks(HWND window, int ticks) {
    return WaitUntil([&] {
        MSG msg;
        while (ticks > 0 && PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            DispatchMessageA(&msg);
            ticks--;
        }
        return ticks == 0;
    });
}

TEST_F(Status, TheTimerInvalidatesTheWindowAndEscapeClosesIt) {
    ValidateRect(window, NULL);
    EXPECT_TRUE(TimerInvalidates(window));
    SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(NULL, StatusWindow());
    OpenStatusWindow(GetModuleHandleA(NULL), core);
    EXPECT_TRUE(IsWindow(StatusWindow())) << "it opens again";
}

// The host's order: the status window lets go of the engine, then the engine goes.
DWORD WINAPI DeleteEngine(LPVOID p) {
    CloseStatusWindow();
    delete (KSCore*)p;
    return 0;
}

// Deletes the engine, then tells whether the window was already gone when the destructor returned.
struct Deletion {
    KSCore* core;
    HWND window;
    bool goneAtReturn = false;
};

DWORD WINAPI DeleteEngineAndLook(LPVOID p) {
    Deletion& d = *(Deletion*)p;
    CloseStatusWindow();
    delete d.core;
    d.goneAtReturn = !IsWindow(d.window);
    return 0;
}

// The destructor asks the window's thread to close it and waits for that while the thread
// dispatches: the window is gone before the destructor returns, not left to close later.
TEST_F(Status, DestroyedOnAnotherThreadTheWindowClosesOnItsOwnThread) {
    Deletion deletion{core, window};
    HANDLE thread = CreateThread(NULL, 0, DeleteEngineAndLook, &deletion, 0, NULL);
    ASSERT_TRUE(thread);
    core = nullptr;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, kHangMs, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0)) << "the destructor came back";
    CloseHandle(thread);
    EXPECT_TRUE(deletion.goneAtReturn) << "closed by this thread while the destructor waited";
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(Status, DestroyedWhileItsThreadIsBlockedTheWindowReadsNothingMore) {
    HANDLE thread = CreateThread(NULL, 0, DeleteEngine, core, 0, NULL);
    ASSERT_TRUE(thread);
    core = nullptr;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kHangMs)) << "the destructor came back";
    CloseHandle(thread);
    ASSERT_TRUE(IsWindow(window));
    ValidateRect(window, NULL);
    ASSERT_TRUE(TimerTicks(window, 2));
    EXPECT_FALSE(GetUpdateRect(window, NULL, FALSE)) << "no tick reaches the engine";
    Picture pic = Paint();
    int text = 0;
    for (int y = 0; y < pic.height; y++)
        text += pic.RowHasText(y);
    EXPECT_EQ(0, text) << "a detached window paints its background only";
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(window));
}

} // namespace
