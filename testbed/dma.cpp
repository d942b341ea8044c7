// The DMA engine of a simulated WaveRT stream: it reads the client's cyclic buffer at the play
// position, records what the hardware plays, marks what it read so that a half not rewritten in
// time is replayed and noted, keeps the position register and signals the events at each half.
#include "testbed/capture.h"
#include "testbed/wavert.h"

#include <climits>
#include <cmath>

namespace simks {

namespace {

const LONGLONG kNever = LLONG_MAX;

// The buffer is judged in words of this many bytes, counted from its start: a word whose bytes
// all still carry the mark was not rewritten. A client's own bytes match the mark by chance one
// at a time, never a whole word.
const ULONG kWord = 8;

ULONGLONG Mix(ULONGLONG x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The mark of the byte at offset: the same in every pass, different for every stream.
unsigned char MarkByte(ULONGLONG seed, ULONG offset) {
    return (unsigned char)(Mix(seed ^ (offset / 8)) >> (offset % 8 * 8));
}

// TRUE when every byte of the word that starts at offset still carries the mark.
bool WordMarked(const WaveRt& rt, ULONG offset) {
    ULONG end = offset + kWord < rt.size ? offset + kWord : rt.size;
    for (ULONG k = offset; k < end; ++k)
        if (rt.buffer[k] != MarkByte(rt.seed, k))
            return false;
    return true;
}

void Record(Stream& s, const unsigned char* data, ULONG n) {
    if (s.toMemory)
        s.consumed.insert(s.consumed.end(), data, data + n);
    WavAppend(s, data, n);
    s.info.ConsumedBytes += n;
}

void NoteStale(Stream& s, ULONG half, ULONGLONG streamOffset, ULONG bytes) {
    WaveRt& rt = s.rt;
    if (!rt.staleOpen) {
        rt.stale.push_back(SimKsStale{half, rt.played / rt.size, streamOffset, 0, NowUs()});
        rt.staleOpen = true;
    }
    rt.stale.back().Bytes += bytes;
}

/*----------------------------------------------------------------------------------------------
 * ReadChunk: the hardware reads n bytes at offset, all in one half. Each word is judged as the
 * engine reaches its first byte; the bytes of a word that was never rewritten play what played
 * there the pass before. The bytes read are then marked.
 *--------------------------------------------------------------------------------------------*/
void ReadChunk(Stream& s, ULONG offset, ULONG n, ULONG half) {
    WaveRt& rt = s.rt;
    std::vector<unsigned char> played(n);
    ULONG replayed = 0, firstReplayed = 0;
    unsigned char silence = s.info.Format.Format.wBitsPerSample == 8 ? 0x80 : 0;
    for (ULONG k = 0; k < n; ++k) {
        ULONG at = offset + k;
        if (rt.eos && rt.played + k >= rt.eosAt) {
            // After the last packet's audio the driver plays silence, whatever the buffer holds.
            rt.wordMarked = false;
            played[k] = silence;
            continue;
        }
        if (at % kWord == 0)
            rt.wordMarked = WordMarked(rt, at);
        played[k] = rt.wordMarked ? rt.shadow[at] : rt.buffer[at];
        if (rt.wordMarked && replayed++ == 0)
            firstReplayed = k;
    }
    if (replayed)
        NoteStale(s, half, s.info.ConsumedBytes + firstReplayed, replayed);
    for (ULONG k = 0; k < n; ++k) {
        rt.shadow[offset + k] = played[k];
        rt.buffer[offset + k] = MarkByte(rt.seed, offset + k);
    }
    Record(s, played.data(), n);
}

const SimKsWaveRtOptions& Options(const Stream& s) {
    return FindDevice(s.device)->rt;
}

void Notify(Stream& s) {
    WaveRt& rt = s.rt;
    ULONG limit = Options(s).EventLimit;
    if (rt.events.empty() || (limit && rt.signalled >= limit))
        return;
    for (const RtEvent& e : rt.events)
        SetEvent(e.own);
    ++rt.signalled;
}

// With two notifications per pass each half ends with one, with one only the second half does.
bool Notifies(const Stream& s, ULONG half) {
    return s.rt.notifications == 2 || (s.rt.notifications == 1 && half == 1);
}

ULONG JitterBytes(const Stream& s) {
    return Options(s).JitterFrames * s.info.Format.Format.nBlockAlign;
}

// Where the engine stops in the half that ends at end: an early notification comes before it.
ULONG StopAt(const Stream& s, ULONG offset, ULONG end, ULONG half) {
    ULONG early = JitterBytes(s);
    bool before = Options(s).Events == SIMKS_RT_EVENTS_EARLY && Notifies(s, half);
    return before && early < end - offset ? end - early : end;
}

// The notification of the end of a half, as the device's event jitter gives it.
void NotifyHalf(Stream& s) {
    WaveRt& rt = s.rt;
    ++rt.due;
    switch (Options(s).Events) {
    case SIMKS_RT_EVENTS_EARLY:
        return; // given before the end
    case SIMKS_RT_EVENTS_LATE:
        rt.lateAt = rt.played + JitterBytes(s);
        rt.latePending = true;
        return;
    case SIMKS_RT_EVENTS_DOUBLED:
        Notify(s);
        Notify(s);
        return;
    case SIMKS_RT_EVENTS_MISSED_ONCE:
        if (rt.due != 2)
            Notify(s);
        return;
    default:
        Notify(s);
    }
}

// The end of a half was read.
void HalfDone(Stream& s, ULONG half) {
    WaveRt& rt = s.rt;
    ++rt.halves;
    rt.staleOpen = false;
    if (Notifies(s, half))
        NotifyHalf(s);
}

bool Moves(const Stream& s) {
    return s.rt.buffer && s.rt.size >= 2 && !s.asleep && !FindDevice(s.device)->removed;
}

double Rate(const Stream& s) {
    return s.info.Format.Format.nAvgBytesPerSec * Bed().factor;
}

// When the real-time engine reaches played + bytes, rounded up to whole frames.
LONGLONG DueAt(const Stream& s, ULONGLONG bytes) {
    ULONG block = s.info.Format.Format.nBlockAlign;
    ULONGLONG target = s.rt.played + bytes - s.rt.anchorPlayed;
    target = (target + block - 1) / block * block;
    return s.rt.anchorUs + (LONGLONG)std::ceil(target * 1e6 / Rate(s));
}

// Real-time clock: the next end of a half or, sooner, the next step of the position register: an
// eighth of a half or a millisecond, whichever is less, in whole frames. A DMA engine's position
// moves on with each burst it fetches, far finer than a half.
LONGLONG NextDue(const Stream& s) {
    ULONG block = s.info.Format.Format.nBlockAlign;
    ULONG half = s.rt.size / 2;
    ULONG offset = (ULONG)(s.rt.played % s.rt.size);
    ULONG toBoundary = (offset < half ? half : s.rt.size) - offset;
    ULONG ms = (ULONG)(Rate(s) / 1000);
    ULONG step = (half / 8 < ms ? half / 8 : ms) / block * block;
    step = step < block ? block : step;
    return DueAt(s, toBoundary < step ? toBoundary : step);
}

} // namespace

ULONGLONG ReportedPosition(const Stream& s) {
    const WaveRt& rt = s.rt;
    if (rt.size == 0)
        return 0;
    ULONGLONG offset = rt.played % rt.size;
    ULONG jitter = JitterBytes(s) % rt.size;
    offset = (offset + ((rt.played / rt.size) % 2 ? rt.size - jitter : jitter)) % rt.size;
    if (Options(s).Flags & SIMKS_RT_POSITION_OUTSIDE)
        offset += 2ull * rt.size;
    return offset;
}

void WriteRegister(Stream& s) {
    if (!s.rt.reg)
        return;
    ULONGLONG value = ReportedPosition(s);
    // The bytes before the position are read and marked before the client can see it.
    MemoryBarrier();
    if (s.rt.regWidth == 64)
        *static_cast<volatile ULONGLONG*>(s.rt.reg) = value;
    else
        *static_cast<volatile ULONG*>(s.rt.reg) = (ULONG)value;
}

void MarkAll(WaveRt& rt) {
    for (ULONG k = 0; k < rt.size; ++k)
        rt.buffer[k] = MarkByte(rt.seed, k);
}

bool HasUnwritten(const WaveRt& rt) {
    for (ULONG k = 0; k < rt.size; k += kWord)
        if (WordMarked(rt, k))
            return true;
    return false;
}

bool HalfRewritten(const WaveRt& rt, ULONG half) {
    ULONG begin = half * (rt.size / 2), end = half ? rt.size : rt.size / 2;
    for (ULONG k = begin / kWord * kWord; k < end; k += kWord)
        if (WordMarked(rt, k))
            return false;
    return true;
}

void AdvanceDma(Stream& s, ULONGLONG bytes) {
    WaveRt& rt = s.rt;
    if (!Moves(s))
        return;
    ULONG half = rt.size / 2;
    while (bytes > 0) {
        ULONG offset = (ULONG)(rt.played % rt.size);
        ULONG which = offset < half ? 0 : 1;
        ULONG end = which == 0 ? half : rt.size;
        ULONG stop = StopAt(s, offset, end, which);
        if (rt.latePending && rt.lateAt > rt.played && rt.lateAt - rt.played < stop - offset)
            stop = offset + (ULONG)(rt.lateAt - rt.played);
        ULONG n = bytes < stop - offset ? (ULONG)bytes : stop - offset;
        ReadChunk(s, offset, n, which);
        rt.played += n;
        bytes -= n;
        WriteRegister(s);
        if (offset + n == end)
            HalfDone(s, which);
        else if (offset + n == stop && !rt.latePending)
            Notify(s); // early
        if (rt.latePending && rt.played >= rt.lateAt) {
            rt.latePending = false;
            Notify(s);
        }
    }
}

void CatchUp(Stream& s, LONGLONG now) {
    if (!s.rt.active || Bed().clock != SIMKS_CLOCK_REALTIME || s.info.State != kStateRun ||
        !Moves(s))
        return;
    ULONG block = s.info.Format.Format.nBlockAlign;
    double elapsed = (double)(now - s.rt.anchorUs);
    ULONGLONG frames = elapsed > 0 ? (ULONGLONG)(elapsed * Rate(s) / 1e6 / block) : 0;
    ULONGLONG target = s.rt.anchorPlayed + frames * block;
    if (target > s.rt.played)
        AdvanceDma(s, target - s.rt.played);
}

void ReanchorWaveRt(Stream& s, LONGLONG now) {
    s.rt.anchorUs = now;
    s.rt.anchorPlayed = s.rt.played;
}

LONGLONG RunWaveRtClock(LONGLONG now) {
    LONGLONG next = kNever;
    if (Bed().clock != SIMKS_CLOCK_REALTIME)
        return next;
    for (Stream& s : Bed().streams) {
        if (!s.rt.active || !s.info.Open || s.info.State != kStateRun || !Moves(s))
            continue;
        CatchUp(s, now);
        LONGLONG due = NextDue(s);
        next = due < next ? due : next;
    }
    return next;
}

void WaveRtStateChanging(Stream& s, ULONG state, LONGLONG now) {
    WaveRt& rt = s.rt;
    if (!rt.active)
        return;
    if (s.info.State == kStateRun)
        CatchUp(s, now);
    if (state == kStateRun) {
        ReanchorWaveRt(s, now);
        if (!rt.ranOnce && rt.buffer && HasUnwritten(rt))
            Violation(s, SIMKS_VIOLATION_RUN_UNFILLED,
                      "RUN with bytes of the buffer never written");
        rt.ranOnce = true;
    }
    if (state == kStateStop) {
        rt.played = 0;
        rt.latePending = false;
        rt.lastPacket = -1;
        rt.eos = false;
        rt.staleOpen = false;
        WriteRegister(s);
    }
}

} // namespace simks

extern "C" ULONG SimKs_AdvanceWaveRt(int stream, ULONG frames) {
    using namespace simks;
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || !s->rt.active || !s->info.Open || s->info.State != kStateRun || !Moves(*s) ||
        Bed().clock != SIMKS_CLOCK_MANUAL)
        return 0;
    AdvanceDma(*s, (ULONGLONG)frames * s->info.Format.Format.nBlockAlign);
    return frames;
}
