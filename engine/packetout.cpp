// The packet output: filling packets from the ring, submitting them, and the end of a packet
// stream (the drain, the stop, and the packets a stopped device still holds).
#include "engine/packetout.h"

#include "diag/constants.h"
#include "diag/log.h"
#include "engine/kscore.h"
#include "engine/streambuffer.h"
#include "ks/pin.h"

#include <cstring>
#include <new>

namespace {

// The completion a stop gives the packets it hands back unplayed.
constexpr ULONG kStatusCancelled = 0xC0000120;

// A completion that is neither success nor the stop's: the device failed the request.
bool FailedCompletion(ULONG status) {
    return (status & 0xC0000000) == 0xC0000000 && status != kStatusCancelled;
}

} // namespace

// Each packet's header travels to the driver as the platform defines it; its size is taken from
// the header file, and these figures pin the layout down for each architecture.
#ifdef _WIN64
static_assert(sizeof(KSSTREAM_HEADER) == 56, "x86_64: 64-bit Data pointer and a Reserved field");
#else
static_assert(sizeof(KSSTREAM_HEADER) == 48, "i686: the 48-byte stream header");
#endif

KSPacketOutput::KSPacketOutput(PinOwner pin, const KSPacketPlan& plan, KSStreamSite& site,
                               KSStreamBuffer& bytes)
    : m_site(site), m_bytes(bytes), m_pRenderPin(std::move(pin)), m_nPacketCount(plan.count),
      m_dwPacketSize(plan.packetSize) {}

bool KSPacketOutput::Open(DWORD rate) {
    m_dwRate = rate;
    // The engine's plan keeps count x size within 32 bits, so no offset overflows.
    DWORD bytes = (DWORD)m_nPacketCount * m_dwPacketSize;
    m_pMemory.reset(new (std::nothrow) BYTE[bytes]);
    if (!m_pMemory) {
        DiagLog(1, "Cannot allocate the output buffer: out of memory for %llu bytes",
                (unsigned long long)bytes);
        return false;
    }
    for (int i = 0; i < m_nPacketCount; i++) {
        m_hEvents[i].Reset(CreateEventA(NULL, TRUE, TRUE, NULL));
        if (!m_hEvents[i].Valid()) {
            LogCause("CreateEventA", HRESULT_FROM_WIN32(GetLastError()));
            return false;
        }
        m_phEvents[i] = m_hEvents[i].Get();
        KSPacket& p = m_Packets[i];
        p.Signal.hEvent = m_phEvents[i];
        p.Header.Data = m_pMemory.get() + (DWORD)i * m_dwPacketSize;
        p.Header.PresentationTime.Numerator = 1;
        p.Header.PresentationTime.Denominator = 1;
        p.Header.Size = sizeof(KSSTREAM_HEADER);
    }
    return true;
}

// Waits for the stop event or a free packet, without a time limit: the device's completions
// pace the stream.
KSNext KSPacketOutput::BeforeWait(KSWaitList& list) {
    for (int i = 0; i < m_nPacketCount; i++)
        list.handles[i] = m_phEvents[i];
    list.count = (DWORD)m_nPacketCount;
    list.timeoutMs = INFINITE;
    return KSNext::kWait;
}

// A free packet becomes the current one when none is; then the current packet takes what the
// ring holds and goes to the device when full, or when the stream ends with anything in it.
KSNext KSPacketOutput::AfterWait(int wait) {
    if (wait == kWaitFailed)
        return KSNext::kSleep;
    if (CheckCompletions())
        return KSNext::kDone;
    // Paused, the packets are left as they are: a release takes what they hold.
    if (m_site.Paused())
        return KSNext::kSleep;
    if (wait >= 0 && m_nCurrentPacket < 0) {
        m_Packets[wait].Header.DataUsed = 0;
        InterlockedExchange(&m_nCurrentPacket, wait);
    }
    LONG current = m_nCurrentPacket;
    if (current < 0 || m_site.Paused())
        return KSNext::kSleep;
    DWORD held = m_bytes.Held();
    int full = held > 0 ? FillPacket(current, held) : 0;
    bool ending =
        (m_site.Mode() == kModeEnding || m_site.Tail()) && m_Packets[current].Header.DataUsed > 0;
    if (full || ending)
        SubmitCurrentPacket();
    else if (m_bytes.Held() == 0)
        return KSNext::kSleep;
    return KSNext::kDone;
}

bool KSPacketOutput::HasPartial() {
    LONG current = m_nCurrentPacket;
    return current >= 0 && m_Packets[current].Header.DataUsed > 0;
}

// In ending mode, or once the host waits for its last bytes, a partly filled packet still has
// to go.
bool KSPacketOutput::HasWork() {
    return (m_site.Mode() == kModeEnding || m_site.Tail()) && HasPartial();
}

// The packet's count grows before the ring's shrinks: the end's drain, which looks at the ring
// first and then at the packet, never finds both empty while bytes are on their way.
int KSPacketOutput::FillPacket(int index, DWORD available) {
    KSSTREAM_HEADER& h = m_Packets[index].Header;
    DWORD room = m_dwPacketSize - h.DataUsed;
    DWORD n = available < room ? available : room;
    BYTE* dst = (BYTE*)h.Data + h.DataUsed;
    h.DataUsed += n;
    m_bytes.Read(dst, n);
    CsGuard lock(m_csClock);
    m_qwTaken += n;
    return h.DataUsed == m_dwPacketSize ? 1 : 0;
}

// Hands a packet to the device (fresh: its bytes count as handed, as the stream's first time
// out). A packet whose write fails is freed at once, so that no wait for the packets hangs on it.
void KSPacketOutput::Submit(LONG index, bool fresh) {
    KSPacket& p = m_Packets[index];
    p.Header.FrameExtent = p.Header.DataUsed;
    if (fresh)
        m_bytes.CountHanded(p.Header.DataUsed);
    InterlockedExchangeAdd((volatile LONG*)&m_dwSubmitted, (LONG)p.Header.DataUsed);
    {
        // The time counts the packet as sent and with the device in one step.
        CsGuard lock(m_csClock);
        m_qwSent += p.Header.DataUsed;
        ResetEvent(m_phEvents[index]);
        m_seq[index] = m_dwNextSeq++;
    }
    m_bNotTaken[index] = false;
    HRESULT hr = m_pRenderPin->WriteData(&p.Header, &p.Signal);
    InterlockedExchange(&m_nCurrentPacket, -1);
    if (FAILED(hr)) {
        DiagLog(1, "KS Packet write failed (buffer %d)", (int)index);
        LogCause("CKsPin::WriteData", hr);
        m_bNotTaken[index] = true;
        SetEvent(m_phEvents[index]);
        m_site.DeviceLost("a packet write failed");
    }
}

// Any failure of a running pin means the device is gone or asleep. True when one came back failed.
bool KSPacketOutput::CheckCompletions() {
    for (int i = 0; i < m_nPacketCount; i++) {
        ULONG status = (ULONG)m_Packets[i].Signal.Internal; // an NTSTATUS
        if (FailedCompletion(status) && WaitForSingleObject(m_phEvents[i], 0) == WAIT_OBJECT_0) {
            DiagLog(1, "KS Packet %d came back failed, status=0x%08lx", i, (unsigned long)status);
            m_site.DeviceLost("a packet came back failed");
            return true;
        }
    }
    return false;
}

// Given to the device and given back unplayed by the stop, or never taken.
bool KSPacketOutput::Unplayed(int index) {
    return m_seq[index] &&
           (m_bNotTaken[index] || (ULONG)m_Packets[index].Signal.Internal == kStatusCancelled);
}

// Of the packets given back unplayed, the bytes the device had played all the same: the start of
// the one under way when it paused or failed. The pin's position says how far it got; an answer
// that does not fit within that packet is not used, and nothing is taken as played.
DWORD KSPacketOutput::PlayedOfUnplayed(ULONGLONG played, DWORD unplayedBytes, DWORD firstSize) {
    ULONGLONG notPlayed = m_dwSubmitted >= played ? m_dwSubmitted - played : MAXDWORD;
    if (notPlayed >= unplayedBytes || unplayedBytes - notPlayed >= firstSize)
        return 0;
    DWORD skip = unplayedBytes - (DWORD)notPlayed;
    DiagLog(1, "The device had played %lu bytes of the packet under way; they are not sent again",
            skip);
    return skip;
}

// The packets' bytes in the order they went to the device, then the packet being filled, less
// what the device had played of the first. Memory that cannot be had loses them, logged.
int KSPacketOutput::StopKeeping(bool, KSBytes* unplayed) {
    RequestState(*m_pRenderPin, KSSTATE_PAUSE); // the position stands where the device stopped
    bool known = false;
    ULONGLONG played = PositionPlayed(&known);
    int lost = StopPaused();
    Gather(played, known, unplayed);
    return lost;
}

// Where the device stands, in the count of m_dwSubmitted (known: the pin answered).
ULONGLONG KSPacketOutput::PositionPlayed(bool* known) {
    ULONGLONG played = 0;
    HRESULT hr = m_pRenderPin->GetPlayedBytes(&played);
    *known = SUCCEEDED(hr);
    if (!*known)
        LogCause("CKsPin::GetPlayedBytes (the packet under way is sent again whole)", hr);
    // The position counts from its value at the last start or seek.
    CsGuard lock(m_csClock);
    return played - m_qwBase + (m_dwSubmitted - (DWORD)m_qwSent);
}

// With every packet back from the device: the bytes of those it did not play, in the order they
// went, then the packet being filled, less what the device had played of the first.
void KSPacketOutput::Gather(ULONGLONG played, bool known, KSBytes* unplayed) {
    int order[kMaxPackets + 1], count = 0;
    DWORD sent = 0;
    for (int i = 0; i < m_nPacketCount; i++) {
        if (!Unplayed(i))
            continue;
        int at = count++;
        for (; at > 0 && m_seq[order[at - 1]] > m_seq[i]; at--)
            order[at] = order[at - 1];
        order[at] = i;
        sent += m_Packets[i].Header.DataUsed;
    }
    DWORD skip =
        known && count ? PlayedOfUnplayed(played, sent, m_Packets[order[0]].Header.DataUsed) : 0;
    DWORD total = sent - skip;
    if (HasPartial()) {
        order[count++] = m_nCurrentPacket;
        unplayed->uncounted = m_Packets[m_nCurrentPacket].Header.DataUsed;
        total += unplayed->uncounted;
    }
    if (!total)
        return;
    if (!AllocateUnplayed(unplayed, total))
        return;
    BYTE* at = unplayed->data.get();
    for (int i = 0; i < count; i++) {
        const KSSTREAM_HEADER& h = m_Packets[order[i]].Header;
        DWORD from = i == 0 ? skip : 0;
        memcpy(at, (const BYTE*)h.Data + from, h.DataUsed - from);
        at += h.DataUsed - from;
    }
}

void KSPacketOutput::SubmitPartial() {
    if (HasPartial())
        SubmitCurrentPacket();
}

// True when no packet is with the device (timeout 0: a test; otherwise a wait of that long).
bool KSPacketOutput::AllPacketsFree(DWORD timeout) {
    return WaitForMultipleObjects(m_nPacketCount, m_phEvents, TRUE, timeout) != WAIT_TIMEOUT;
}

int KSPacketOutput::FreePacketCount() {
    int free = 0;
    for (int i = 0; i < m_nPacketCount; i++)
        free += WaitForSingleObject(m_phEvents[i], 0) == WAIT_OBJECT_0;
    return free;
}

// The drain is complete when the packet being filled, if any, holds no bytes and every packet
// has come back. (The engine looks at the ring first.)
bool KSPacketOutput::PlayedOut() {
    return !HasPartial() && AllPacketsFree(0);
}

// While the player thread still moves the ring into packets, a poll; then a wait for the last
// packets. The player thread (a gapless underrun) has submitted everything already.
void KSPacketOutput::AwaitPlayOut(bool) {
    if (m_bytes.Held() != 0 || HasPartial())
        Sleep(kPollMs);
    else
        AllPacketsFree(kPollMs);
}

// A packet that comes back changes the free packets or, refilled, the bytes submitted.
ULONGLONG KSPacketOutput::Progress() {
    return ((ULONGLONG)m_dwSubmitted << 8) | (ULONGLONG)FreePacketCount();
}

int KSPacketOutput::Stop() {
    RequestState(*m_pRenderPin, KSSTATE_PAUSE);
    return StopPaused();
}

int KSPacketOutput::StopPaused() {
    RequestState(*m_pRenderPin, KSSTATE_STOP);
    // Stopping the pin gives back what was still queued.
    return AllPacketsFree(kDeviceAnswerMs) ? 0 : ReclaimPackets();
}

// The device kept packets after KSSTATE_STOP. Closing its pin makes the platform give back every
// request still queued on it, as for a removed device. Packets that do not come back even then
// stay the device's (returned: the engine keeps their memory).
int KSPacketOutput::ReclaimPackets() {
    DiagLog(1, "Device kept %d of %d packets after KSSTATE_STOP; closing its pin",
            m_nPacketCount - FreePacketCount(), m_nPacketCount);
    m_pRenderPin->ClosePin();
    if (AllPacketsFree(kDeviceAnswerMs))
        return 0;
    int lost = m_nPacketCount - FreePacketCount();
    DiagLog(1, "Device still holds %d packets after its pin was closed; they are given up", lost);
    return lost;
}

void KSPacketOutput::Describe(KSSnapshot& s) {
    s.kind = KSOutputKind::kPackets;
    for (int i = 0; i < m_nPacketCount; i++)
        s.packetFree[i] = WaitForSingleObject(m_phEvents[i], 0) == WAIT_OBJECT_0;
    LONG current = m_nCurrentPacket;
    s.currentPacket = current;
    s.currentUsed = current >= 0 ? m_Packets[current].Header.DataUsed : 0;
}
