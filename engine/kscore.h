// The playback engine: input ring buffer, output packets, player thread, stream start and end,
// gapless hand-over, volume, timing and the choice of device and pin format.
//
// Threading:
// - Host threads call Start, End, Pause, SetVolume and the queries. Write (with CanWrite) comes
//   from one host thread at a time, the player's decode thread, which may differ from the thread
//   that starts, ends and pauses; every call runs concurrently with the player thread.
// - The player thread (PlayerThread) moves audio from the ring into packets, scales it by the
//   volume and submits full packets to the pin; packet completions pace it. It sleeps on
//   m_hWakeEvent when there is nothing to do, and ends a gapless stream on underrun.
// - On a WaveRT device (m_rt.pin set, rtplayer.cpp) the same thread writes the ring into the
//   driver's cyclic buffer instead, half by half as the hardware leaves them, woken by the
//   driver's notification or, polled, about four times a half. It stays awake while the stream
//   runs; the end holds it off (HoldPlayerThread) before the pin, which owns the buffer, stops.
// - m_csControl serialises Start, End, Pause and the final end of Shutdown; StartInternal,
//   OpenOutput, EndInternal and CloseOutput run only with it held.
// - m_csWake pairs the player thread's going to sleep with WakeThread.
// - Lock order: m_csControl, then m_csWake (Pause and EndInternal wake the thread while holding
//   m_csControl). The player thread never waits for m_csControl while it holds m_csWake: it
//   leaves m_csWake before it ends a gapless stream. The log lock is always innermost.
// - m_nInputUsed is added to by Write and subtracted from by the player thread, both with
//   Interlocked operations; the other cross-thread flags are volatile LONGs.
// - The status window (status.cpp) runs on the thread that opened it (the settings dialog's)
//   and reads the engine without its locks. The status lock guards g_pKSCore and m_hwndStatus
//   between that thread and the destructor, which may run on another thread; it is always taken
//   alone, never together with m_csControl, m_csWake or the log lock.
//
// A device that stops: every wait of a stream's end, a pause and the shut-down keeps its meaning
// while the device makes progress and is bounded when it does not (kDeviceAnswerMs, StallMs).
// The stream then ends as a removed device ends it: the pin is stopped and closed, the packets
// it held are given up, and the log says so. Packets that the device keeps even after its pin
// was closed leave the engine unusable, and its memory stays allocated for good (Shutdown).
#pragma once

#include "diag/constants.h"
#include "diag/owned.h"
#include "engine/rtstream.h"

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <cstdio>

class KSSettings;
class CKsEnumFilters;
class CKsAudRenFilter;
class CKsPin;
class CKsRtPin;

// One output packet: the stream header the pin consumes and the OVERLAPPED of its write.
struct KSPacket {
    KSSTREAM_HEADER Header;
    OVERLAPPED Signal;
};

const int kMaxPackets = 8;

// How long the engine waits for the device to answer before it treats the device as stopped: the
// return of the packets after KSSTATE_STOP and after the pin was closed, and the player thread's
// acknowledgement of a pause or of its end. A device answers in milliseconds; one that starts or
// stops its clock (USB, Bluetooth) takes up to about a second.
const DWORD kDeviceAnswerMs = 3000;

// Output modes.
enum { MODE_CLOSED = 0, MODE_OPEN = 1, MODE_ENDING = 2 };

class KSCore {
  public:
    KSCore(HWND hwndParent, HINSTANCE hInstance, KSSettings* pSettings);
    ~KSCore();
    KSCore(const KSCore&) = delete;
    KSCore& operator=(const KSCore&) = delete;

    // Host operations.
    int Start(int rate, int channels, int bits); // 1000 when open, -1 when not
    int Write(const char* data, int length);     // 0 taken whole, 1 refused
    int CanWrite();
    int IsPlaying();
    int Pause(int pause); // returns the previous pause flag
    void SetVolume(int volume);
    int GetOutputTime();
    void End();          // the host's close
    void End(int force); // forced end: replace the pin, gapless underrun, destruction
    // Opens the status window on the calling thread, unless one is open.
    void OpenDiagnosticWindow();

    // Ends any stream, closes the status window and the device list, and stops the player thread:
    // the destructor's work, done once. False when the device kept packets even after its pin was
    // closed, or the player thread did not end: the engine's memory must then never be freed.
    bool Shutdown();

    // True when construction got its events, locks and player thread.
    bool IsReady() const { return m_bReady; }

    volatile LONG m_bPaused = 0;   // host paused playback (Pause sets, OpenOutput clears)
    volatile LONG m_bPauseAck = 0; // player thread's copy of m_bPaused at the end of each pass
    volatile LONG m_nMode = MODE_CLOSED;
    BYTE* m_pInputBuffer = nullptr; // the ring (owned)
    DWORD m_dwInputSize = 0;        // ring size in bytes
    int m_nPacketCount = 0;         // packets in use, 2..8, fixed for the engine's life
    volatile LONG m_bStarted = 0;   // 1 from a successful Start until the host's End()
    // Ring read and write positions. While a stream runs the player thread alone moves the read
    // position and Write alone the write position; the control path sets both back to the start
    // (ConfigureInputBuffer, OpenOutput, and an end that discards the ring while the player thread
    // is held off by the pause flag).
    BYTE* m_pReadPtr = nullptr;
    BYTE* m_pWritePtr = nullptr;
    volatile LONG m_nInputUsed = 0;        // bytes held in the ring
    volatile DWORD m_nVolume = kMaxVolume; // 0..kMaxVolume; kMaxVolume copies unscaled
    DWORD m_dwPacketSize = 8192;           // bytes per packet
    HWND m_hwndStatus = nullptr;           // the status window, or null (under the status lock)
    HWND m_hwndParent;                     // owner of every message box
    HINSTANCE m_hInstance;                 // module holding the status dialog resource
    DWORD m_dwThreadId = 0;                // the player thread's identifier
    // The player thread: created by the constructor, waited for and closed by Shutdown.
    UniqueHandle m_hThread;
    // m_nPacketCount + 1 manual-reset events. [0] is the stop event: set by Shutdown, reset by
    // OpenOutput and by the player thread when it sees it. [i + 1] is packet i's completion
    // event: signalled = free, non-signalled = with the device. The player thread resets it
    // before submitting; the platform sets it when the device has consumed the packet (or given
    // it back at KSSTATE_STOP or when the pin is closed); OpenOutput and a failed submission set
    // it.
    HandleArray m_phEvents;
    KSPacket m_Packets[kMaxPackets] = {};
    CKsEnumFilters* m_pEnumFilters = nullptr;   // filter enumerator (owned), or null
    CKsAudRenFilter* m_pRenderFilter = nullptr; // filter of the current stream (the enumerator's)
    CKsPin* m_pRenderPin = nullptr;             // render pin (owned), or null
    BYTE* m_pOutputBuffer = nullptr;            // packet memory (owned)
    volatile LONG m_nCurrentPacket = -1;        // packet being filled, -1 for none
    // Wakes the player thread (manual-reset): WakeThread sets it under m_csWake; the player
    // thread resets it under m_csWake when it goes to sleep with nothing to do.
    UniqueHandle m_hWakeEvent;
    volatile LONG m_bSleeping = 0;       // player thread asleep
    volatile LONG m_bInPacketWait = 0;   // player thread blocked until the device gives back a
                                         // packet or a WaveRT half
    volatile LONG m_nPasses = 0;         // passes of the player loop since construction
    volatile DWORD m_dwWakeTime = 0;     // millisecond clock at the last wake-up
    CriticalSection m_csWake;            // see the threading note
    CriticalSection m_csControl;         // see the threading note
    volatile DWORD m_dwBytesWritten = 0; // bytes submitted since the stream started
    KSSettings* m_pSettings;             // the settings record (not owned)
    WAVEFORMATEXTENSIBLE m_wfxCurrent{}; // format the current pin was created with
    volatile LONG m_bExitThread = 0;     // Shutdown asks the player thread to end
    int m_nPinState = 0;                 // KSSTATE last requested by start or pause
    volatile LONG m_nLostPackets = 0;    // packets the device kept after its pin was closed
    // The open WaveRT stream (rtstream.h); m_rt.pin is null while the stream, if any, uses packets.
    RtStream m_rt;
    // Auto-reset events made by the first WaveRT open and kept for the engine's life. The driver
    // sets m_hRtEvent at each half of an event-driven stream (registered by the open, unregistered
    // after STOP); WakeThread sets m_hRtWake while the player thread waits for audio to top up a
    // half (m_rt.wantAudio). The player thread waits on both.
    UniqueHandle m_hRtEvent;
    UniqueHandle m_hRtWake;

  private:
    // What the end watches while it waits for the device: a packet that comes back changes the
    // free packets or, refilled, the bytes submitted.
    struct Progress {
        int freePackets;
        DWORD bytesSubmitted;
        DWORD sinceMs; // when it last changed (GetTickCount)
    };

    void AttachToStatus();
    void CloseDiagnosticWindow();
    bool AllocateEvents();
    bool StartPlayerThread();
    bool StopPlayerThread();
    void ConfigureInputBuffer(int size);
    void ConfigureOutputBuffer(int size);
    void InitPackets(bool createEvents);
    void DiscardRing();
    void WakeThread();
    bool WaitForPauseAck();
    void HoldPlayerThread();
    HRESULT RequestState(KSSTATE state);
    void EndInternal(int force);
    bool PlayOut();
    void ReclaimPackets();
    void CloseOutput();
    bool DrainDone();
    bool AllPacketsFree(DWORD timeout);
    int FreePacketCount();
    DWORD StallMs();
    void StartWatch(Progress& p);
    bool Stalled(Progress& p);

    int StartInternal(int rate, int channels, int bits);
    int OpenOutput(WAVEFORMATEXTENSIBLE* pwfx);
    CKsEnumFilters* EnsureFilterList();
    CKsAudRenFilter* FindFilter();
    int ErrorBox(const char* text);

    // WaveRT streams: opening and closing (rtopen.cpp), the player thread's part (rtplayer.cpp).
    bool RtDeviceBusy(const WAVEFORMATEX* format);
    bool OpenRtStream(CKsRtPin* pin, const WAVEFORMATEX& format);
    bool TakeRtBuffer(CKsRtPin* pin);
    bool ChooseRtPosition(CKsRtPin* pin);
    void CloseRtStream();
    bool MakeRtEvents();
    void RtPass();
    void RtServe();
    bool RtWait();
    void RtLook();
    bool RtReadPosition(ULONG* offset);
    void RtWriteHalf();
    void RtTopUp();
    void RtPut(ULONGLONG at, DWORD n);
    bool RtPlayOut();

    static DWORD WINAPI PlayerThreadProc(LPVOID param);
    void PlayerThread();
    void PacketPass();
    bool WaitForPacket();
    bool HasWork();
    void GoToSleep();
    void EndOnGaplessUnderrun();
    int FillPacket(int index, DWORD available);
    // Copies n bytes (at most those held) from the ring's read position to dst, scaled by the
    // volume, and gives them up in the ring: the one reader of the ring, for packets and for the
    // WaveRT cyclic buffer alike. Player thread only.
    void ReadRing(BYTE* dst, DWORD n);
    void SubmitCurrentPacket();
    void CopyWithVolume(BYTE* dst, const BYTE* src, DWORD count);

    bool m_bReady = false;    // events, locks and thread all exist
    bool m_bShutDown = false; // Shutdown has run
    bool m_bKeep = false;     // Shutdown found the engine still in use by the device or thread
};

// The newest engine, for the status window; null once it is being destroyed. Changed only under
// the status lock.
extern KSCore* g_pKSCore;

// The status window (status.cpp): built from dialog resource 102 of the engine's module,
// repainted every 20 ms from g_pKSCore while the window is that engine's m_hwndStatus.
INT_PTR CALLBACK StatusDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void CALLBACK StatusTimerProc(HWND hwnd, UINT msg, UINT_PTR idEvent, DWORD time);
// Paints the window into hdc, drawn off-screen first; hdc may be any device context.
void PaintStatus(HWND hwnd, HDC hdc);
// Formats into 256 bytes and draws the text with its top-left corner at x, y.
void DrawStatusText(HDC hdc, int x, int y, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 4, 5)));
// Width in pixels of the formatted text.
int GetStatusTextWidth(HDC hdc, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
// Fills the rectangle and returns 1; returns 0 and draws nothing when it is empty.
int FillBar(int left, int top, int right, int bottom, HDC hdc, HBRUSH brush);
