// The packet output: standard streaming. The ring's audio goes into the packets, and each full
// packet to the render pin as one overlapped KS stream write; the packets' completion events pace
// the player thread. A partly filled packet waits for more audio while the stream is open and
// goes as it is once the stream ends.
//
// Ownership: the output owns the render pin (closed and deleted with it) and the packet records;
// the packet memory and the completion events are the engine's (KSPacketMemory). A packet is free
// while its event is signalled and with the device while it is not.
#pragma once

#include "engine/output.h"
#include "engine/snapshot.h"

// One output packet: the stream header the pin consumes and the OVERLAPPED of its write.
struct KSPacket {
    KSSTREAM_HEADER Header;
    OVERLAPPED Signal;
};

class KSPacketOutput final : public KSOutput {
  public:
    // Every packet starts free and empty.
    KSPacketOutput(PinOwner pin, const KSPacketMemory& memory, KSStreamSite& site);

    CKsPin& Pin() override { return *m_pRenderPin; }
    void Running() override {}
    int Stop() override;
    int StopKeeping(bool exact, KSBytes* unplayed) override;
    void SubmitPartial() override;
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
    void Describe(KSSnapshot& s) override;

  private:
    bool HasPartial();
    int FillPacket(int index, DWORD available);
    void SubmitCurrentPacket();
    bool AllPacketsFree(DWORD timeout);
    int FreePacketCount();
    int ReclaimPackets();
    bool Unplayed(int index);
    DWORD PlayedOfUnplayed(ULONGLONG played, DWORD unplayedBytes, DWORD firstSize);
    bool CheckCompletions();

    KSStreamSite& m_site;
    PinOwner m_pRenderPin;
    KSPacket m_Packets[kMaxPackets] = {};
    const HANDLE* m_phEvents;            // the packets' completion events (the engine's)
    int m_nPacketCount;                  // packets, 2..8
    DWORD m_dwPacketSize;                // bytes per packet
    volatile LONG m_nCurrentPacket = -1; // packet being filled, -1 for none
    volatile DWORD m_dwSubmitted = 0;    // bytes submitted by this output: progress
    // Player thread and, with it held, the control path.
    DWORD m_seq[kMaxPackets] = {}; // order of submission (from 1; 0: never submitted)
    DWORD m_dwNextSeq = 1;
    bool m_bNotTaken[kMaxPackets] = {}; // the write failed: the device never had the packet
};
