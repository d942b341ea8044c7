// The requests of a simulated WaveRT pin: the cyclic buffer, the notification events, the position
// register and the position property, each checked against what a careful client does, and the
// state steps and the closing that the careful-client rules also cover.
#include "testbed/wavert.h"

#include <cstdio>
#include <cstring>

namespace simks {

namespace {

Answer Refuse(DWORD error) {
    Answer a{};
    a.error = error;
    return a;
}

template <typename T> Answer Value(const T& value) {
    Answer a{};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&value);
    a.data.assign(p, p + sizeof value);
    return a;
}

// An output buffer too small for the value: the size rules answer it, nothing happens.
Answer Probe(ULONG size) {
    Answer a{};
    a.data.assign(size, 0);
    return a;
}

// A careless request: recorded, and refused as STATUS_INVALID_DEVICE_STATE reaches a client.
Answer Violate(Stream& s, ULONG kind, const char* text) {
    Violation(s, kind, text);
    return Refuse(ERROR_BAD_COMMAND);
}

const SimKsWaveRtOptions& Options(const Stream& s) {
    return FindDevice(s.device)->rt;
}

// The size a request of requested bytes gets from the device's variant, or 0 with *error set.
ULONG Rounded(const Stream& s, ULONG requested, ULONG notifications, DWORD* error) {
    const SimKsWaveRtOptions& o = Options(s);
    ULONG block = s.info.Format.Format.nBlockAlign ? s.info.Format.Format.nBlockAlign : 1;
    ULONG size = requested;
    if (o.Flags & SIMKS_RT_ROUND_DOWN_FRAMES) {
        size -= size % block;
        if (size == 0)
            *error = ERROR_GEN_FAILURE;
    }
    if ((o.Flags & SIMKS_RT_COUNT_DIVIDES) && notifications && size % notifications)
        *error = ERROR_INVALID_PARAMETER;
    if ((o.Flags & SIMKS_RT_ROUND_UP_PAGES) && size % 4096)
        size += 4096 - size % 4096;
    if (o.FixedBufferSize)
        size = o.FixedBufferSize;
    if (o.Flags & SIMKS_RT_ZERO_BUFFER)
        size = 0;
    return size;
}

// Allocates the buffer that a request of requested bytes gets; 0 or the Win32 error.
DWORD Allocate(Stream& s, int stream, ULONG requested, ULONG notifications) {
    WaveRt& rt = s.rt;
    DWORD error = 0;
    ULONG size = Rounded(s, requested, notifications, &error);
    if (error)
        return error;
    void* memory = VirtualAlloc(NULL, size ? size : 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!memory)
        return ERROR_NOT_ENOUGH_MEMORY;
    rt.buffer = static_cast<unsigned char*>(memory);
    rt.size = size;
    rt.requested = requested;
    rt.notifications = notifications;
    rt.hasBuffer = true;
    rt.shadow.assign(size, 0);
    rt.seed = (ULONGLONG)NowUs() * 0x100000001B3ull + (ULONGLONG)stream;
    MarkAll(rt);
    return 0;
}

Answer Buffer(Stream& s, int stream, const void* input, ULONG inputSize, ULONG outputSize,
              bool notify) {
    if (notify && (Options(s).Flags & SIMKS_RT_NO_NOTIFICATION))
        return Refuse(ERROR_NOT_SUPPORTED);
    ULONG needed = notify ? sizeof(RtBufferNotifyRequest) : sizeof(RtBufferRequest);
    if (inputSize < needed)
        return Refuse(ERROR_INVALID_PARAMETER);
    if (outputSize < sizeof(RtBufferAnswer))
        return Probe(sizeof(RtBufferAnswer));
    ULONG requested = static_cast<const RtBufferRequest*>(input)->RequestedBufferSize;
    ULONG count = notify ? static_cast<const RtBufferNotifyRequest*>(input)->NotificationCount : 0;
    if (notify && count != 1 && count != 2)
        return Refuse(ERROR_INVALID_PARAMETER);
    if (s.rt.hasBuffer)
        return Violate(s, SIMKS_VIOLATION_REPEATED, "a second buffer was asked for");
    if (s.info.State != kStateStop)
        return Violate(s, SIMKS_VIOLATION_NOT_STOPPED, "the buffer was asked for outside STOP");
    DWORD error = Allocate(s, stream, requested, count);
    if (error)
        return Refuse(error);
    RtBufferAnswer answer;
    memset(&answer, 0, sizeof answer);
    answer.BufferAddress = s.rt.buffer;
    answer.ActualBufferSize = s.rt.size;
    answer.CallMemoryBarrier = (Options(s).Flags & SIMKS_RT_MEMORY_BARRIER) ? TRUE : FALSE;
    return Value(answer);
}

Answer Register(Stream& s, HANDLE client) {
    WaveRt& rt = s.rt;
    if (!rt.hasBuffer || rt.notifications == 0)
        return Violate(s, SIMKS_VIOLATION_OUT_OF_ORDER,
                       "an event was registered before a buffer with notifications");
    for (const RtEvent& e : rt.events)
        if (e.client == client)
            return Violate(s, SIMKS_VIOLATION_REPEATED, "the same event was registered twice");
    HANDLE own = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), client, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return Refuse(ERROR_INVALID_HANDLE);
    rt.events.push_back(RtEvent{client, own});
    return Answer{};
}

Answer Unregister(Stream& s, HANDLE client) {
    std::vector<RtEvent>& events = s.rt.events;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].client != client)
            continue;
        if (s.info.State != kStateStop)
            return Violate(s, SIMKS_VIOLATION_NOT_STOPPED,
                           "an event was unregistered outside STOP");
        CloseHandle(events[i].own);
        events.erase(events.begin() + i);
        return Answer{};
    }
    Violation(s, SIMKS_VIOLATION_UNKNOWN_EVENT, "an event never registered was unregistered");
    return Refuse(ERROR_INVALID_PARAMETER);
}

Answer Event(Stream& s, const void* input, ULONG inputSize, bool registering) {
    if (Options(s).Flags & SIMKS_RT_NO_NOTIFICATION)
        return Refuse(ERROR_NOT_SUPPORTED);
    if (inputSize < sizeof(RtEventRequest))
        return Refuse(ERROR_INVALID_PARAMETER);
    HANDLE client = static_cast<const RtEventRequest*>(input)->NotificationEvent;
    return registering ? Register(s, client) : Unregister(s, client);
}

Answer PositionRegister(Stream& s, ULONG inputSize, ULONG outputSize) {
    WaveRt& rt = s.rt;
    if (Options(s).Flags & SIMKS_RT_NO_POSITION_REGISTER)
        return Refuse(ERROR_NOT_SUPPORTED);
    if (inputSize < sizeof(RtRegisterRequest))
        return Refuse(ERROR_INVALID_PARAMETER);
    if (outputSize < sizeof(RtRegisterAnswer))
        return Probe(sizeof(RtRegisterAnswer));
    if (!rt.hasBuffer)
        return Violate(s, SIMKS_VIOLATION_OUT_OF_ORDER,
                       "the position register was asked for before a buffer");
    if (rt.regMapped)
        return Violate(s, SIMKS_VIOLATION_REPEATED, "the position register was mapped twice");
    rt.reg = VirtualAlloc(NULL, sizeof(ULONGLONG), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!rt.reg)
        return Refuse(ERROR_NOT_ENOUGH_MEMORY);
    rt.regMapped = true;
    rt.regWidth = Options(s).RegisterWidth == 64 ? 64 : 32;
    WriteRegister(s);
    RtRegisterAnswer answer;
    memset(&answer, 0, sizeof answer);
    answer.Register = rt.reg;
    answer.Width = rt.regWidth;
    answer.Accuracy = s.info.Format.Format.nBlockAlign;
    return Value(answer);
}

Answer Position(Stream& s, ULONG flags, ULONG outputSize) {
    if (flags != kPropGet)
        return Refuse(ERROR_INVALID_FUNCTION);
    if (outputSize < sizeof(KsAudioPosition))
        return Probe(sizeof(KsAudioPosition));
    if (!s.rt.hasBuffer)
        return Violate(s, SIMKS_VIOLATION_OUT_OF_ORDER,
                       "the position was asked for before a buffer");
    CatchUp(s, NowUs());
    KsAudioPosition position;
    position.PlayOffset = ReportedPosition(s);
    position.WriteOffset = position.PlayOffset;
    ++s.rt.positionRequests;
    return Value(position);
}

Answer Latency(Stream& s, ULONG outputSize) {
    if (!(Options(s).Flags & SIMKS_RT_LATENCY))
        return Refuse(ERROR_NOT_FOUND);
    if (outputSize < sizeof(RtHwLatency))
        return Probe(sizeof(RtHwLatency));
    if (!s.rt.hasBuffer)
        return Violate(s, SIMKS_VIOLATION_OUT_OF_ORDER,
                       "the latency was asked for before a buffer");
    const SimKsRtLatency& l = Options(s).Latency;
    return Value(RtHwLatency{l.FifoSize, l.ChipsetDelay, l.CodecDelay});
}

// Packet mode: packets of size / notifications bytes, numbered from 0 since the last STOP.
ULONG PacketBytes(const Stream& s) {
    return s.rt.notifications ? s.rt.size / s.rt.notifications : 0;
}

// Packets completely transferred since the last STOP; only a buffer with notifications has them.
Answer PacketCount(Stream& s, ULONG outputSize) {
    if (!(Options(s).Flags & SIMKS_RT_PACKET_MODE))
        return Refuse(ERROR_NOT_FOUND);
    if (outputSize < sizeof(ULONG))
        return Probe(sizeof(ULONG));
    if (!PacketBytes(s))
        return Refuse(ERROR_NOT_SUPPORTED);
    return Value((ULONG)(s.rt.played / PacketBytes(s)));
}

// Only the expected next packet is taken: after the one the hardware is playing (the first one
// before the stream ran) and no further ahead than the one after the last written. Behind and
// ahead both answer ERROR_IO_DEVICE; the bed counts them apart.
Answer WritePacket(Stream& s, const void* output, ULONG outputSize) {
    if (!(Options(s).Flags & SIMKS_RT_PACKET_MODE))
        return Refuse(ERROR_NOT_FOUND);
    if (!output || outputSize < sizeof(RtWritePacket))
        return Refuse(ERROR_INVALID_PARAMETER);
    ULONG bytes = PacketBytes(s);
    if (!bytes)
        return Refuse(ERROR_NOT_SUPPORTED);
    WaveRt& rt = s.rt;
    const RtWritePacket& w = *static_cast<const RtWritePacket*>(output);
    LONGLONG count = (LONGLONG)(rt.played / bytes);
    LONGLONG least = rt.ranOnce ? count + 1 : count;
    LONGLONG most = rt.lastPacket + 1 > least ? rt.lastPacket + 1 : least;
    if ((LONGLONG)w.PacketNumber < least) {
        ++rt.packetsLate;
        return Refuse(ERROR_IO_DEVICE);
    }
    if ((LONGLONG)w.PacketNumber > most) {
        ++rt.packetsOverrun;
        return Refuse(ERROR_IO_DEVICE);
    }
    rt.lastPacket = w.PacketNumber;
    ++rt.packetsWritten;
    if (w.Flags & kHeaderEndOfStream) {
        rt.eos = true;
        rt.eosAt = (ULONGLONG)w.PacketNumber * bytes +
                   (w.EosPacketLength < bytes ? w.EosPacketLength : bytes);
    }
    Answer a{};
    a.set = true;
    return a;
}

} // namespace

void Violation(Stream& s, ULONG kind, const char* text) {
    SimKsViolation v;
    memset(&v, 0, sizeof v);
    v.Kind = kind;
    v.TimeUs = NowUs();
    lstrcpynA(v.Text, text, sizeof v.Text);
    s.rt.violations.push_back(v);
}

Answer AnswerWaveRt(int stream, const void* input, ULONG inputSize, const void* output,
                    ULONG outputSize) {
    Stream& s = *FindStream(stream);
    const KsIdentifier* req = static_cast<const KsIdentifier*>(input);
    if (IsEqualGUID(req->Set, kSetAudio))
        return req->Id == kAudioPosition ? Position(s, req->Flags, outputSize)
                                         : Refuse(ERROR_NOT_FOUND);
    if (!IsEqualGUID(req->Set, kSetRtAudio))
        return Refuse(ERROR_SET_NOT_FOUND);
    if (req->Id == kRtSetWritePacket && req->Flags == kPropSet)
        return WritePacket(s, output, outputSize);
    if (req->Flags != kPropGet)
        return Refuse(ERROR_INVALID_FUNCTION);
    switch (req->Id) {
    case kRtBuffer:
        return Buffer(s, stream, input, inputSize, outputSize, false);
    case kRtBufferWithNotification:
        return Buffer(s, stream, input, inputSize, outputSize, true);
    case kRtRegisterEvent:
        return Event(s, input, inputSize, true);
    case kRtUnregisterEvent:
        return Event(s, input, inputSize, false);
    case kRtPositionRegister:
        return PositionRegister(s, inputSize, outputSize);
    case kRtHwLatency:
        return Latency(s, outputSize);
    case kRtPacketCount:
        return PacketCount(s, outputSize);
    default:
        return Refuse(ERROR_NOT_FOUND);
    }
}

DWORD CheckWaveRtState(Stream& s, ULONG state) {
    ULONG old = s.info.State;
    if (!s.rt.active || state == old)
        return 0;
    if (state > old + 1 || old > state + 1) {
        char text[96];
        snprintf(text, sizeof text, "the state went from %lu to %lu", old, state);
        Violation(s, SIMKS_VIOLATION_STATE_JUMP, text);
        return ERROR_BAD_COMMAND;
    }
    if (old == kStateStop && !s.rt.hasBuffer) {
        Violation(s, SIMKS_VIOLATION_OUT_OF_ORDER, "the pin left STOP without a buffer");
        return ERROR_BAD_COMMAND;
    }
    if (state == kStateRun && (Options(s).Flags & SIMKS_RT_RUN_REFUSED))
        return ERROR_NOT_READY;
    return 0;
}

void CloseWaveRt(Stream& s) {
    if (!s.rt.active)
        return;
    if (!FindDevice(s.device)->removed) {
        if (!s.rt.events.empty())
            Violation(s, SIMKS_VIOLATION_CLOSED_REGISTERED,
                      "the pin was closed with an event still registered");
        if (s.info.State != kStateStop)
            Violation(s, SIMKS_VIOLATION_NOT_STOPPED, "the pin was closed outside STOP");
    }
    ReleaseWaveRt(s);
}

void ReleaseWaveRt(Stream& s) {
    WaveRt& rt = s.rt;
    for (const RtEvent& e : rt.events)
        CloseHandle(e.own);
    rt.events.clear();
    if (rt.buffer)
        VirtualFree(rt.buffer, 0, MEM_RELEASE);
    if (rt.reg)
        VirtualFree(rt.reg, 0, MEM_RELEASE);
    rt.buffer = nullptr;
    rt.reg = nullptr;
}

} // namespace simks
