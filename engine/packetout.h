// The packet output: standard streaming. The stream's bytes go into the packets, and each full
// packet to the render pin as one overlapped KS stream write; the packets' completion events pace
// the player thread. A partly filled packet waits for more audio while the stream is open and
// goes as it is once the stream ends.
//
// Ownership: the output owns the render pin (closed and deleted with it), the packet records, the
// packet memory and the packets' completion events (manual-reset), which outlive the pin. A packet
// is free while its event is signalled and with the device while it is not: the output resets it
// before submitting, the platform sets it when the device has consumed the packet (or given it
// back at KSSTATE_STOP or when the pin is closed), and a failed submission sets it. An output
// whose device kept packets even after its pin was closed is never deleted (the engine keeps it).
//
// The time: the pin's position (KSPROPERTY_AUDIO_POSITION) counted from its value just after each
// start and seek, or, where the driver does not answer it, the packets that came back plus the
// time since the last one, never past what was submitted. m_csClock guards the counts the host's
// threads read against the player thread's submissions and the seek.
#pragma once

#include "diag/owned.h"
#include "engine/output.h"
#include "engine/snapshot.h"

#include <memory>

// One output packet: the stream header the pin consumes and the OVERLAPPED of its write.
struct KSPacket {
    KSSTREAM_HEADER Header;
    OVERLAPPED Signal;
};

class KSPacketOutput final : public KSOutput {
  public:
    KSPacketOutput(PinOwner pin, const KSPacketPlan& plan, KSStreamSite& site,
                   KSStreamBuffer& bytes);
    // The memory and the events; every packet starts free and empty. rate: the pin's bytes per
    // second. False (logged) when either cannot be had.
    bool Open(DWORD rate);

    CKsPin& Pin() override { return *m_pRenderPin; }
    void Running() override { TakeBase(); }
    int Stop() override;
    int StopKeeping(bool exact, KSBytes* unplayed) override;
    void SubmitPartial() override;
    void Flush() override;
    bool TakeBack(KSBytes* unplayed) override;
    bool PlayNow(const BYTE* data, DWORD size) override;
    DWORD Capacity() override { return (DWORD)m_nPacketCount * m_dwPacketSize; }
    bool PlayedOut() override;
    void AwaitPlayOut(bool self) override;
    ULONGLONG Progress() override;
    DWORD StallUnit() override { return m_dwPacketSize; }
    const char* StallText() override { return "no packet came back"; }

    KSNext BeforeWait(KSWaitList& list) override;
    KSNext AfterWait(int wait) override;
    bool HasWork() override;

    void AudioWritten() override {}
    bool AllPlayed() override { return AllPacketsFree(0); }
    ULONGLONG Taken() override;
    ULONGLONG Played() override;
    void Describe(KSSnapshot& s) override;

  private:
    bool HasPartial();
    int FillPacket(int index, DWORD available);
    void SubmitCurrentPacket() { Submit(m_nCurrentPacket, true); }
    void Submit(LONG index, bool fresh);
    ULONGLONG PositionPlayed(bool* known);
    void Gather(ULONGLONG played, bool known, KSBytes* unplayed);
    void Restart();
    bool AllPacketsFree(DWORD timeout);
    int FreePacketCount();
    int StopPaused(); // the rest of Stop, from a paused pin
    int ReclaimPackets();
    bool Unplayed(int index);
    DWORD PlayedOfUnplayed(ULONGLONG played, DWORD unplayedBytes, DWORD firstSize);
    bool CheckCompletions();
    void CancelQueued();
    void TakeBase();
    ULONGLONG PinPlayed();
    ULONGLONG CompletedPlayed();

    KSStreamSite& m_site;
    KSStreamBuffer& m_bytes;
    std::unique_ptr<BYTE[]> m_pMemory;   // m_nPacketCount x m_dwPacketSize bytes
    UniqueHandle m_hEvents[kMaxPackets]; // the packets' completion events
    HANDLE m_phEvents[kMaxPackets] = {}; // the same, for the waits
    PinOwner m_pRenderPin;               // closed before the events go
    KSPacket m_Packets[kMaxPackets] = {};
    int m_nPacketCount;                  // packets, 2..8
    DWORD m_dwPacketSize;                // bytes per packet
    DWORD m_dwRate = 0;                  // the pin's bytes per second
    volatile LONG m_nCurrentPacket = -1; // packet being filled, -1 for none
    volatile DWORD m_dwSubmitted = 0;    // bytes submitted by this output: progress
    // Player thread and, with it held, the control path.
    DWORD m_seq[kMaxPackets] = {}; // order of submission (from 1; 0: never submitted)
    DWORD m_dwNextSeq = 1;
    bool m_bNotTaken[kMaxPackets] = {}; // the write failed: the device never had the packet

    // The time, under m_csClock: bytes taken from the stream buffer and submitted since the open
    // or the last seek, the position then, and the completions' count and clock.
    CriticalSection m_csClock;
    ULONGLONG m_qwTaken = 0;
    ULONGLONG m_qwSent = 0;
    ULONGLONG m_qwBase = 0;
    bool m_bPosition = true; // the driver answers the position
    ULONGLONG m_qwDone = 0;
    DWORD m_dwDoneMs = 0;
};
