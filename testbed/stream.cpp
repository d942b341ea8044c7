// Streams of simulated pins: packet queue, completion in order, state changes, starvation.
#include "testbed/stream.h"

#include "testbed/capture.h"
#include "testbed/wavert.h"

#include <climits>
#include <cstring>

namespace simks {

namespace {

bool Starving(const Stream& s) {
    return s.info.Open && s.info.State == kStateRun && s.queue.empty() && s.info.Submitted > 0 &&
           Bed().clock != SIMKS_CLOCK_UNPACED;
}

void UpdateStarvation(Stream& s, LONGLONG t) {
    bool open = !s.starvation.empty() && s.starvation.back().EndUs == 0;
    bool starving = Starving(s);
    if (starving && !open)
        s.starvation.push_back(SimKsStarvation{t, 0});
    else if (!starving && open)
        s.starvation.back().EndUs =
            t > s.starvation.back().StartUs ? t : s.starvation.back().StartUs + 1;
}

// The head packet's part played ahead (SimKs_PlayPart) is consumed already.
void Consume(Stream& s, Packet& p) {
    ULONG n = p.info.DataUsed - s.headPart;
    p.info.StreamOffset = s.info.ConsumedBytes - s.headPart;
    if (n) {
        const unsigned char* data = static_cast<const unsigned char*>(p.header->Data) + s.headPart;
        if (s.toMemory)
            s.consumed.insert(s.consumed.end(), data, data + n);
        WavAppend(s, data, n);
    }
    s.info.ConsumedBytes += n;
}

} // namespace

int OpenStream(int device, ULONG pinId, const KsPinConnect* connect,
               const KsDataFormatWave* format) {
    State& bed = Bed();
    Stream s{};
    s.device = device;
    s.pinId = pinId;
    s.info.Device = device;
    s.info.PinId = pinId;
    s.info.Open = TRUE;
    s.info.State = kStateStop;
    s.info.InterfaceId = connect->Interface.Id;
    s.info.FormatSize = format->DataFormat.FormatSize;
    s.info.SampleSize = format->DataFormat.SampleSize;
    const WAVEFORMATEX& wfx = format->WaveFormatEx;
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        memcpy(&s.info.Format, &wfx, sizeof(WAVEFORMATEXTENSIBLE));
    } else {
        s.info.Format.Format = wfx;
        s.info.Format.Format.cbSize = 0;
    }
    s.toMemory = bed.captureMemory;
    s.wavFile = INVALID_HANDLE_VALUE;
    s.rt.active = FindDevice(device)->wavert;
    s.rt.lastPacket = -1;
    bed.streams.push_back(s);
    int number = (int)bed.streams.size() - 1;
    if (!bed.capturePath.empty())
        WavOpen(bed.streams.back(), number, bed.capturePath);
    WakeAllConditionVariable(&bed.changed);
    return number;
}

int CompleteQueued(Stream& s, int count, ULONG outcome, LONG status, LONGLONG t) {
    int done = 0;
    while (done < count && !s.queue.empty()) {
        Packet& p = s.packets[s.queue.front()];
        s.queue.pop_front();
        if (outcome == SIMKS_PACKET_CONSUMED)
            Consume(s, p);
        s.headPart = 0;
        p.info.Outcome = outcome;
        p.info.Status = status;
        p.info.CompleteUs = NowUs();
        OVERLAPPED* overlapped = p.overlapped;
        p.header = nullptr;
        p.overlapped = nullptr;
        Signal(overlapped, status, p.headerBytes);
        ++done;
    }
    s.info.Queued = (ULONG)s.queue.size();
    if (done) {
        UpdateStarvation(s, t);
        WakeAllConditionVariable(&Bed().changed);
    }
    return done;
}

bool Held(const Stream& s, int mode) {
    return FindDevice(s.device)->hold >= mode;
}

// Completes the queued packets of a playing stream at once when the clock is unpaced.
void ConsumeUnpaced(Stream& s, LONGLONG now) {
    if (Bed().clock == SIMKS_CLOCK_UNPACED && s.info.Open && s.info.State == kStateRun &&
        !Held(s, SIMKS_HOLD_CLOCK))
        CompleteQueued(s, INT_MAX, SIMKS_PACKET_CONSUMED, kStatusSuccess, now);
}

void ReleaseHeld(int device) {
    LONGLONG now = NowUs();
    for (Stream& s : Bed().streams) {
        if (s.device != device)
            continue;
        if (!s.info.Open)
            CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusCancelled, now);
        s.headStartUs = now;
        s.headPlayedUs = 0;
        ConsumeUnpaced(s, now);
        UpdateStarvation(s, now);
    }
    WakeWorker();
}

void CloseStream(int stream) {
    Stream& s = *FindStream(stream);
    if (!Held(s, SIMKS_HOLD_ALL))
        CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusCancelled, NowUs());
    Device& d = *FindDevice(s.device);
    if (d.instances[s.pinId] > 0)
        --d.instances[s.pinId];
    CloseWaveRt(s);
    s.info.Open = FALSE;
    UpdateStarvation(s, NowUs());
    WavClose(s);
}

void SetStreamState(int stream, ULONG state) {
    Stream& s = *FindStream(stream);
    LONGLONG now = NowUs();
    ULONG old = s.info.State;
    if (old == state)
        return;
    WaveRtStateChanging(s, state, now);
    if (old == kStateRun && !s.queue.empty())
        s.headPlayedUs += now - s.headStartUs;
    if (state == kStateRun)
        s.headStartUs = now;
    s.info.State = state;
    s.states.push_back(SimKsStateChange{state, now});
    if (state == kStateStop && !Held(s, SIMKS_HOLD_ALL)) {
        RecordHeadPlayed(s, now);
        CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusCancelled, now);
        s.headPlayedUs = 0;
    }
    ConsumeUnpaced(s, now);
    UpdateStarvation(s, now);
    if (Bed().clock == SIMKS_CLOCK_REALTIME)
        WakeWorker();
}

namespace {

// Checks the stream header as the KS stream probe does; 0 when it may be queued.
DWORD CheckHeader(const KsStreamHeader* h, ULONG outputSize) {
    if (!h || outputSize < sizeof(KsStreamHeader) || h->Size < sizeof(KsStreamHeader) ||
        outputSize != h->Size)
        return ERROR_INVALID_PARAMETER;
    if (h->DataUsed > h->FrameExtent || (h->FrameExtent && !h->Data))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

// Counts the write against the device's write fault: 0, or the fault mode that hits it.
int WriteFaultHit(Device& d) {
    WriteFault& f = d.writeFault;
    if (f.mode == SIMKS_WRITE_OK)
        return SIMKS_WRITE_OK;
    ULONG n = ++f.seen;
    bool hit = n >= f.first && (f.count == 0 || n - f.first < f.count);
    return hit ? f.mode : SIMKS_WRITE_OK;
}

} // namespace

DWORD WriteStream(int stream, void* output, ULONG outputSize, OVERLAPPED* overlapped) {
    Stream& s = *FindStream(stream);
    Device& d = *FindDevice(s.device);
    KsStreamHeader* h = static_cast<KsStreamHeader*>(output);
    if (!overlapped)
        return ERROR_INVALID_PARAMETER;
    if (d.removed)
        return ERROR_DEVICE_REMOVED;
    if (s.asleep)
        return ERROR_NOT_READY;
    // A WaveRT pin takes no stream writes: its hardware reads the cyclic buffer.
    if (s.rt.active)
        return ERROR_INVALID_FUNCTION;
    DWORD bad = CheckHeader(h, outputSize);
    if (bad)
        return bad;
    if (d.pins[s.pinId].DataFlow != kDataFlowIn)
        return ERROR_INVALID_FUNCTION;
    if (s.info.State == kStateStop || s.resetting)
        return ERROR_BAD_COMMAND;
    int fault = WriteFaultHit(d);
    if (fault == SIMKS_WRITE_IMMEDIATE)
        return d.writeFault.code;
    LONGLONG now = NowUs();
    SimKsPacketInfo info{
        h->FrameExtent, h->DataUsed, h->OptionsFlags, SIMKS_PACKET_QUEUED, 0, now, 0, 0};
    s.packets.push_back(Packet{h, overlapped, outputSize, info});
    ++s.info.Submitted;
    if (fault == SIMKS_WRITE_PENDING) {
        Defer(Deferred{now,
                       overlapped,
                       nullptr,
                       {},
                       (LONG)d.writeFault.code,
                       0,
                       stream,
                       s.packets.size() - 1});
        return ERROR_IO_PENDING;
    }
    s.queue.push_back(s.packets.size() - 1);
    s.info.Queued = (ULONG)s.queue.size();
    if (s.queue.size() == 1) {
        s.headStartUs = now;
        s.headPlayedUs = 0;
    }
    ConsumeUnpaced(s, now);
    UpdateStarvation(s, now);
    WakeAllConditionVariable(&Bed().changed);
    if (Bed().clock == SIMKS_CLOCK_REALTIME)
        WakeWorker();
    return ERROR_IO_PENDING;
}

void ClockChanged() {
    LONGLONG now = NowUs();
    for (Stream& s : Bed().streams) {
        if (!s.info.Open)
            continue;
        s.headStartUs = now;
        s.headPlayedUs = 0;
        ReanchorWaveRt(s, now);
        ConsumeUnpaced(s, now);
        UpdateStarvation(s, now);
    }
    WakeWorker();
}

} // namespace simks

extern "C" int SimKs_CompletePackets(int stream, int count) {
    using namespace simks;
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || count <= 0 || Bed().clock != SIMKS_CLOCK_MANUAL || s->info.State != kStateRun ||
        Held(*s, SIMKS_HOLD_CLOCK))
        return 0;
    return CompleteQueued(*s, count, SIMKS_PACKET_CONSUMED, kStatusSuccess, NowUs());
}

extern "C" BOOL SimKs_WaitQueued(int stream, ULONG count, DWORD timeoutMs) {
    using namespace simks;
    Lock lock;
    DWORD start = GetTickCount();
    for (;;) {
        Stream* s = FindStream(stream);
        if (s && s->queue.size() >= count)
            return TRUE;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs)
            return FALSE;
        SleepConditionVariableCS(&Bed().changed, &Bed().cs, timeoutMs - spent);
    }
}
