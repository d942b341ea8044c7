// The position of a standard-streaming pin, the manual clock's partial play and the reset: the
// pin answers KSPROPERTY_AUDIO_POSITION with the bytes its device has played of the stream, the
// part of the packet under way included (played by SimKs_PlayPart, or by the real-time clock in
// whole frames since the packet began), counted from the last reset unless the device keeps its
// position over one.
#include "testbed/capture.h"
#include "testbed/props.h"
#include "testbed/stream.h"
#include "testbed/wavert.h"

#include <climits>
#include <cstring>

namespace simks {

namespace {

// The real-time clock's part of the head packet: its playing time before the last pause, and
// since it began or resumed while the stream runs.
ULONG HeadPlayed(const Stream& s, LONGLONG now) {
    if (Bed().clock != SIMKS_CLOCK_REALTIME || s.queue.empty())
        return 0;
    LONGLONG us = s.headPlayedUs;
    if (s.info.State == kStateRun && !Held(s, SIMKS_HOLD_CLOCK) && now > s.headStartUs)
        us += now - s.headStartUs;
    ULONG block = s.info.Format.Format.nBlockAlign ? s.info.Format.Format.nBlockAlign : 1;
    double rate = s.info.Format.Format.nAvgBytesPerSec * Bed().factor;
    ULONGLONG frames = us > 0 ? (ULONGLONG)(us * rate / 1e6 / block) : 0;
    ULONG used = s.packets[s.queue.front()].info.DataUsed;
    ULONGLONG bytes = frames * block;
    return bytes < used ? (ULONG)bytes : used;
}

// Up to bytes more of the head packet played ahead of its completion, recorded.
ULONG PlayHead(Stream& s, ULONG bytes) {
    Packet& p = s.packets[s.queue.front()];
    ULONG left = p.info.DataUsed - s.headPart;
    ULONG n = bytes < left ? bytes : left;
    const unsigned char* data = static_cast<const unsigned char*>(p.header->Data) + s.headPart;
    if (s.toMemory)
        s.consumed.insert(s.consumed.end(), data, data + n);
    WavAppend(s, data, n);
    s.headPart += n;
    s.info.ConsumedBytes += n;
    return n;
}

} // namespace

// What the real-time clock played of the head packet goes into the record before the packet is
// cancelled: the device has played it, and its position said so.
void RecordHeadPlayed(Stream& s, LONGLONG now) {
    ULONG played = HeadPlayed(s, now);
    if (played > s.headPart)
        PlayHead(s, played - s.headPart);
}

ULONGLONG StandardPlayed(const Stream& s, LONGLONG now) {
    return s.info.ConsumedBytes + HeadPlayed(s, now);
}

// The writes queued end as cancelled, unplayed; a device whose quirk says so refuses the request.
DWORD ResetStream(int stream, const void* in, ULONG inSize) {
    Stream& s = *FindStream(stream);
    const Device& d = *FindDevice(s.device);
    if (!in || inSize < sizeof(ULONG))
        return ERROR_INVALID_PARAMETER;
    ULONG how;
    memcpy(&how, in, sizeof how);
    if ((how != kResetBegin && how != kResetEnd) || s.rt.active ||
        (d.quirks.Flags & SIMKS_QUIRK_NO_RESET))
        return ERROR_INVALID_FUNCTION;
    s.resetting = how == kResetBegin;
    if (how == kResetEnd)
        return 0;
    LONGLONG now = NowUs();
    if (!Held(s, SIMKS_HOLD_ALL)) {
        RecordHeadPlayed(s, now);
        CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusCancelled, now);
    }
    s.headPlayedUs = 0;
    s.headStartUs = now;
    if (!(d.quirks.Flags & SIMKS_QUIRK_RESET_KEEPS_POSITION))
        s.positionZero = StandardPlayed(s, now);
    return 0;
}

bool IsPositionRequest(const KsIdentifier* req) {
    return IsEqualGUID(req->Set, kSetAudio) && req->Id == kAudioPosition;
}

// Stream-relative offsets: what was played, and what was handed to the pin.
Answer StandardPosition(int stream, const KsIdentifier* req, ULONG outputSize) {
    Answer a{};
    if (req->Flags != kPropGet) {
        a.error = ERROR_INVALID_FUNCTION;
        return a;
    }
    a.data.assign(sizeof(KsAudioPosition), 0);
    if (outputSize < sizeof(KsAudioPosition))
        return a;
    const Stream& s = *FindStream(stream);
    ULONGLONG played = StandardPlayed(s, NowUs());
    KsAudioPosition p{played - s.positionZero, s.info.ConsumedBytes - s.positionZero};
    for (size_t index : s.queue)
        p.WriteOffset += s.packets[index].info.DataUsed;
    p.WriteOffset -= s.headPart;
    memcpy(a.data.data(), &p, sizeof p);
    return a;
}

} // namespace simks

extern "C" ULONG SimKs_PlayPart(int stream, ULONG bytes) {
    using namespace simks;
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || s->queue.empty() || s->info.State != kStateRun)
        return 0;
    return PlayHead(*s, bytes);
}

extern "C" ULONGLONG SimKs_PlayedBytes(int stream) {
    using namespace simks;
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s)
        return 0;
    LONGLONG now = NowUs();
    if (!s->rt.active)
        return StandardPlayed(*s, now);
    CatchUp(*s, now);
    return s->rt.played;
}
