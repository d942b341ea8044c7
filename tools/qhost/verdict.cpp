// Comparing what qhost sent with what the simulated devices consumed. A WaveRT device's silence
// is taken out first (rtverdict.h); its gaps count as starvation (those a seek made apart), and its
// stale replays too. With fades, the faded stretches are told apart from the rest, which must be
// exact.
#include "tools/qhost/verdict.h"

#include "testbed/simks.h"
#include "tools/qhost/fadecompare.h"
#include "tools/qhost/rtverdict.h"
#include "tools/qhost/seekverdict.h"
#include "tools/common/asdevice.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The bytes a device should receive for a track played on a pin of the given format: each
// sample at the top of the pin's container (packed 24-bit samples in 32-bit containers travel as
// 0, b0, b1, b2), mono on two channels, added channels silent.
std::vector<char> ExpectedBytes(const Track& t, const std::vector<WrittenRange>& ranges,
                                const WAVEFORMATEXTENSIBLE& f) {
    std::vector<char> bytes;
    for (const WrittenRange& r : ranges) {
        std::vector<char> part =
            asdevice::Bytes(t.data.data() + r.from, r.to - r.from, t.channels, t.bits, f.Format);
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

// The track's samples reached the pin in another container or on more channels (24-bit audio in
// 32-bit containers is the plug-in's own way, not an adaptation).
bool Adapted(const Track& t, const WAVEFORMATEXTENSIBLE& f) {
    int container = f.Format.wBitsPerSample;
    bool own = container == (t.bits + 7) / 8 * 8 || (t.bits == 24 && container == 32);
    return f.Format.nChannels != t.channels || !own;
}

void ReportAdaptation(const Track& t, const WAVEFORMATEXTENSIBLE& f) {
    int valid = f.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && f.Samples.wValidBitsPerSample
                    ? f.Samples.wValidBitsPerSample
                    : f.Format.wBitsPerSample;
    printf("  adapted: %s (%d-bit, %d ch) played as %d valid bits in %d-bit containers, %d ch, "
           "%s\n",
           t.name.c_str(), t.bits, t.channels, valid, f.Format.wBitsPerSample, f.Format.nChannels,
           f.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? "extensible" : "plain");
}

// The first track's calls that empty the device's queue on purpose: each Flush, and each pause,
// resume and the stop's Close (with fades, the queue is cancelled and the faded stretch written
// again).
struct HostCalls {
    std::vector<CallMark> seeks, others;
};

// Dry spells of the device: while audio remained, inside a Flush, inside a Pause or Close.
struct DrySpells {
    int starved = 0, atSeeks = 0, inCalls = 0;
    double starvedMs = 0, inCallsMs = 0;
};

bool Inside(const std::vector<CallMark>& calls, LONGLONG us) {
    for (const CallMark& m : calls)
        if (m.made && us >= m.calledUs && us <= m.returnedUs)
            return true;
    return false;
}

// Starvation intervals that began before the stream's last packet was submitted: the device
// ran dry while audio was still to come. Those that began inside a Flush (the device's queue
// cancelled, the new place not yet written) are counted apart: a seek's own gap; so are those
// inside a Pause(1), a Pause(0) or the stop's Close.
void MidStreamStarvation(int stream, const HostCalls& calls, DrySpells& dry) {
    int packets = SimKs_PacketCount(stream);
    SimKsPacketInfo last;
    if (packets == 0 || !SimKs_GetPacket(stream, packets - 1, &last))
        return;
    for (int i = 0; i < SimKs_StarvationCount(stream); i++) {
        SimKsStarvation s;
        if (!SimKs_GetStarvation(stream, i, &s) || s.StartUs >= last.SubmitUs)
            continue;
        double ms = (s.EndUs ? s.EndUs - s.StartUs : 0) / 1000.0;
        if (Inside(calls.seeks, s.StartUs)) {
            dry.atSeeks++;
        } else if (Inside(calls.others, s.StartUs)) {
            dry.inCalls++;
            dry.inCallsMs += ms;
        } else {
            dry.starved++;
            dry.starvedMs += ms;
        }
    }
}

// The silence a WaveRT stream played, counted: gaps while audio remained, and a seek's own.
struct RtGaps {
    int starved = 0, atSeeks = 0;
    double starvedMs = 0, atSeeksMs = 0;
};

// What one stream played, as comparable with what was sent to it: on a WaveRT device without the
// silence the plug-in added, whose gaps count as starvation unless a seek made them (seeks: the
// spans of the first track's seeks, on its stream).
std::vector<char> Received(int stream, const std::vector<char>& sent,
                           const std::vector<DeviceSpan>& seeks, int fadeMs, RtGaps& gaps) {
    std::vector<char> got = DeviceBytes(stream);
    SimKsWaveRtInfo rt;
    SimKsStreamInfo info;
    if (!SimKs_GetWaveRt(stream, &rt) || !SimKs_GetStream(stream, &info))
        return got;
    const WAVEFORMATEX& f = info.Format.Format;
    RtShape shape;
    shape.silence = f.wBitsPerSample == 8 ? (char)0x80 : 0;
    shape.block = f.nBlockAlign ? f.nBlockAlign : 1;
    shape.seeks = seeks;
    shape.fadeQuiet = fadeMs > 0 ? f.nSamplesPerSec / 1000 * shape.block : 0;
    shape.fadeBytes = fadeMs > 0 ? f.nSamplesPerSec * (DWORD)fadeMs / 1000 * shape.block : 0;
    RtPlayed played = TakeOutSilence(got, sent, shape);
    double perMs = f.nAvgBytesPerSec / 1000.0;
    gaps.starved += played.gaps;
    gaps.starvedMs += perMs > 0 ? played.gapBytes / perMs : 0;
    gaps.atSeeks += played.seekGaps;
    gaps.atSeeksMs += perMs > 0 ? played.seekGapBytes / perMs : 0;
    return played.audio;
}

// An adapted stream is judged by bit-transparency: each sample shifted back down is the one
// sent.
void Report(size_t sent, size_t received, bool compared, bool exact, size_t firstDiff,
            bool adapted) {
    const char* what = adapted ? "bit-transparent" : "bit-exact";
    printf("  bytes sent (as the device takes them): %zu, received: %zu\n", sent, received);
    if (!compared)
        printf("  %s: not compared (volume scaling on)\n", what);
    else if (exact)
        printf("  %s: yes\n", what);
    else
        printf("  %s: NO (first difference at byte %zu)\n", what, firstDiff);
}

// What the verdict counts over all streams, in the order the tracks played.
struct Tally {
    std::vector<char> expected, received;
    int boundaryGaps = 0, stale = 0, adapted = 0;
    DrySpells dry;   // the packet streams' (those a host's call began not held against the run)
    HostCalls calls; // the first track's
    int firstStream = -1;              // the first track's stream
    std::vector<DeviceSpan> seekSpans; // there: each Flush to its new place, each Pause(1)
    int fadeMs = 0;
    RtGaps rt;            // a WaveRT stream's silence
    int reopens = 0;      // pins opened again after their device was lost
    size_t lostBytes = 0; // what the lost devices had taken and not played
    double lostMs = 0;
    size_t repeatedBytes = 0; // what a reopened pin played again
};

// A pin opened again on a WaveRT device plays silence before the audio it was given and after it:
// its slice is the audio between. Silent frames that the audio itself begins with go with that
// silence and count as lost; the comparison still judges every byte.
bool RtSlice(int stream, std::vector<char>* part, size_t* block, char* silence) {
    SimKsWaveRtInfo rt;
    SimKsStreamInfo info;
    if (!SimKs_GetWaveRt(stream, &rt) || !SimKs_GetStream(stream, &info))
        return false;
    const WAVEFORMATEX& f = info.Format.Format;
    *block = f.nBlockAlign ? f.nBlockAlign : 1;
    *silence = f.wBitsPerSample == 8 ? (char)0x80 : 0;
    std::vector<char> got = DeviceBytes(stream);
    size_t lead = SilentFrames(got, *block, *silence, false);
    size_t tail = lead < got.size() ? SilentFrames(got, *block, *silence, true) : 0;
    part->assign(got.begin() + (ptrdiff_t)lead, got.end() - (ptrdiff_t)tail);
    return true;
}

// Where part lies in sent at or after from: the last pin's part ends the stream; a pin between
// lies at its first match.
size_t PlaceOf(const std::vector<char>& part, const std::vector<char>& sent, size_t from,
               bool last) {
    if (last)
        return part.size() <= sent.size() ? sent.size() - part.size() : 0;
    for (size_t at = from; at + part.size() <= sent.size(); at++)
        if (!memcmp(&sent[at], part.data(), part.size()))
            return at;
    return from;
}

// A stream whose device was lost and whose pin was opened again: each pin played a slice of
// what was sent. The slices are joined with what the lost device took and never played (counted,
// and taken from sent so that the comparison judges the rest); a slice that starts before the end
// of the one before it repeats audio.
std::vector<char> JoinSlices(Tally& t, const std::vector<int>& streams,
                             const std::vector<char>& sent) {
    std::vector<char> joined;
    size_t block = 1, end = sent.size();
    char silence = 0;
    for (size_t i = 0; i < streams.size(); i++) {
        std::vector<char> part;
        if (i && RtSlice(streams[i], &part, &block, &silence))
            end = sent.size() - SilentFrames(sent, block, silence, true);
        else
            part = Received(streams[i], sent,
                            streams[i] == t.firstStream ? t.seekSpans : std::vector<DeviceSpan>(),
                            t.fadeMs, t.rt);
        std::vector<char> upTo(sent.begin(), sent.begin() + (ptrdiff_t)end);
        size_t at = i ? PlaceOf(part, upTo, joined.size(), i + 1 == streams.size()) : 0;
        if (at < joined.size()) {
            t.repeatedBytes += joined.size() - at;
        } else if (at > joined.size()) {
            SimKsStreamInfo info;
            SimKs_GetStream(streams[i], &info);
            DWORD rate = info.Format.Format.nAvgBytesPerSec;
            t.lostBytes += at - joined.size();
            t.lostMs += rate ? (at - joined.size()) * 1000.0 / rate : 0;
            joined.insert(joined.end(), sent.begin() + (ptrdiff_t)joined.size(),
                          sent.begin() + (ptrdiff_t)at);
        }
        joined.insert(joined.end(), part.begin(), part.end());
        t.stale += SimKs_StaleCount(streams[i]);
        MidStreamStarvation(streams[i], t.calls, t.dry);
    }
    if (joined.size() < sent.size() && end < sent.size()) // the track's own closing silence
        joined.insert(joined.end(), sent.begin() + (ptrdiff_t)joined.size(), sent.end());
    t.reopens += (int)streams.size() - 1;
    return joined;
}

// The streams first .. last played sent, one after another (more than one: the device was lost).
void AddStreams(Tally& t, int first, int last, const std::vector<char>& sent) {
    std::vector<int> streams;
    for (int s = first; s <= last; s++)
        streams.push_back(s);
    std::vector<char> r = JoinSlices(t, streams, sent);
    t.received.insert(t.received.end(), r.begin(), r.end());
    t.expected.insert(t.expected.end(), sent.begin(), sent.end());
}

// Tracks follow each other on a pin until a track opens a new one; the streams between are the
// pins opened again after a loss. A pin's stream is added once all its tracks are known.
Tally Collect(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
              bool gapless, const RunEvents& events) {
    Tally t;
    t.calls.seeks = events.moved.seeks;
    for (const PauseMark& m : events.moved.pauses) {
        t.calls.others.push_back(m.pause);
        t.calls.others.push_back(m.resume);
    }
    t.calls.others.push_back(events.moved.stop);
    t.fadeMs = events.fadeMs;
    if (!tracks.empty() && !outcomes.empty() && events.seekPlan.Any()) {
        t.firstStream = outcomes[0].stream;
        t.seekSpans = SeekSpans(tracks[0], events.seekPlan, events.moved, events.fadeMs);
    }
    std::vector<char> sent;
    int first = -1;
    for (size_t i = 0; i < tracks.size(); i++) {
        const TrackOutcome& o = outcomes[i];
        if (!o.opened || o.stream < 0)
            continue;
        if (o.newPin && first >= 0) {
            AddStreams(t, first, o.stream - 1, sent);
            sent.clear();
            t.boundaryGaps += gapless;
        }
        if (o.newPin)
            first = o.stream;
        SimKsStreamInfo info;
        SimKs_GetStream(o.stream, &info);
        if (Adapted(tracks[i], info.Format)) {
            ReportAdaptation(tracks[i], info.Format);
            t.adapted++;
        }
        std::vector<char> e = ExpectedBytes(
            tracks[i],
            i == 0 && events.seekPlan.Any()
                ? HeardRanges(tracks[i], o, events.seekPlan, events.moved, events.fadeMs)
                : o.written,
            info.Format);
        sent.insert(sent.end(), e.begin(), e.end());
    }
    if (first >= 0)
        AddStreams(t, first, SimKs_StreamCount() - 1, sent);
    return t;
}

// The first stream's bytes per millisecond: the faded stretches are told in them.
double BytesPerMs(const Tally& t) {
    SimKsStreamInfo info;
    bool known = SimKs_GetStream(t.firstStream >= 0 ? t.firstStream : 0, &info) &&
                 info.Format.Format.nAvgBytesPerSec;
    return known ? info.Format.Format.nAvgBytesPerSec / 1000.0 : 1;
}

// How far a faded stretch may reach: a fade out and a fade in, and a little more for the
// samples at their ends that rounding leaves unchanged. 0 without fades.
size_t FadeReach(const Tally& t, int fadeMs) {
    return fadeMs > 0 ? (size_t)(BytesPerMs(t) * (2 * fadeMs + 2)) : 0;
}

// The device taken out mid-track: when, for how long, and what the stream lost and kept.
bool ReportUnplug(const Tally& t, const UnplugPlan& plan, const UnplugOutcome& u, bool whole,
                  DWORD endedMs) {
    if (!u.unplugged) {
        printf("  unplugged: no (the first stream ended before %d ms had played)\n", plan.atMs);
        return true;
    }
    if (plan.backAfterMs < 0) {
        printf("  unplugged at %d ms for good: the track ended %lu ms after the unplug\n",
               plan.atMs, endedMs - u.atTick);
        printf("  before the unplug: %s\n", whole ? "every byte played, in order" : "NOT in order");
        return whole;
    }
    printf("  unplugged at %d ms, back %s: pin opened again %d time(s)\n", plan.atMs,
           u.back ? ("after " + std::to_string(plan.backAfterMs) + " ms").c_str()
                  : "only after playing ended",
           t.reopens);
    printf("  lost in flight at the unplug: %zu bytes (%.1f ms)\n", t.lostBytes, t.lostMs);
    printf("  after the gap: %s; played twice: %zu bytes\n",
           whole ? "every byte played, in order" : "NOT every byte played", t.repeatedBytes);
    return whole && t.repeatedBytes == 0;
}

} // namespace

bool PrintVerdict(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
                  bool compareBits, bool gapless, const RunEvents& events) {
    printf("Verdict (simulated devices):\n");
    const UnplugPlan& plan = events.unplugPlan;
    const UnplugOutcome& unplug = events.unplug;
    Tally t = Collect(tracks, outcomes, gapless, events);
    int starved = t.dry.starved + t.rt.starved;
    double starvedMs = t.dry.starvedMs + t.rt.starvedMs;
    Faded faded = CompareOutsideFades(t.expected, t.received, FadeReach(t, events.fadeMs));
    size_t diff = faded.firstDiff;
    bool exact = t.expected.size() == t.received.size() && diff == t.expected.size();
    // A device unplugged for good played the start of what was sent.
    bool prefix = diff == t.received.size();
    Report(t.expected.size(), t.received.size(), compareBits, exact, diff, t.adapted > 0);
    if (events.fadeMs > 0)
        printf("  faded stretches (fade_ms %d), not compared: %d, %.1f ms in all\n", events.fadeMs,
               faded.stretches, faded.bytes / BytesPerMs(t));
    printf("  starvation while audio remained: %d interval(s), %.1f ms\n", starved, starvedMs);
    if (t.dry.atSeeks)
        printf("  dry from a Flush to the new place's first packet: %d time(s)\n", t.dry.atSeeks);
    if (t.dry.inCalls)
        printf("  dry inside Pause or Close (the queue cancelled, the rest not yet queued): %d "
               "time(s), %.1f ms\n",
               t.dry.inCalls, t.dry.inCallsMs);
    if (t.rt.atSeeks)
        printf(
            "  silent from a Flush to the new place, or inside a Pause (WaveRT): %d time(s), %.1f "
            "ms\n",
            t.rt.atSeeks, t.rt.atSeeksMs);
    printf("  stale replays (a WaveRT half played again without being rewritten): %d\n", t.stale);
    if (gapless)
        printf("  gaps at track boundaries (pin closed and opened again): %d\n", t.boundaryGaps);
    for (int i = 0; i < SimKs_MessageBoxCount(); i++) {
        SimKsMessageBox box;
        if (SimKs_GetMessageBox(i, &box))
            printf("  message box \"%s\": %s\n", box.Caption, box.Text);
    }
    bool forGood = plan.atMs >= 0 && plan.backAfterMs < 0 && unplug.unplugged;
    DWORD endedMs = outcomes.empty() ? 0 : outcomes[0].endedMs;
    bool kept =
        plan.atMs < 0 ||
        ReportUnplug(t, plan, unplug, exact || !compareBits || (forGood && prefix), endedMs);
    bool moved = !events.seekPlan.Any() || outcomes.empty() ||
                 ReportSeeks(tracks[0], outcomes[0], events.seekPlan, events.moved, events.fadeMs);
    if (events.clockFigures)
        ReportClock(tracks, outcomes);
    bool clean = (!compareBits || exact || (forGood && prefix)) && starved == 0 && t.stale == 0 &&
                 t.boundaryGaps == 0 && kept && moved;
    printf("  result: %s\n", clean ? "clean" : "NOT CLEAN");
    return clean;
}
