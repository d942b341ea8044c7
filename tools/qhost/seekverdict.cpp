// The seeks, the stop and the clock figures, from the device's bytes attributed to the track.
#include "tools/qhost/seekverdict.h"

#include "testbed/simks.h"
#include "tools/common/asdevice.h"
#include "tools/qhost/attribution.h"
#include "tools/qhost/clock.h"
#include "tools/qhost/heard.h"
#include "tools/qhost/pauseverdict.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Where the audio from `start` on stops going on from itself: the track's place reached before
// the next jump (or the end).
size_t RunsTo(const Attribution& a, const PlayedPiece* start, unsigned long long before) {
    size_t end = start->track + start->bytes;
    for (const PlayedPiece& p : a.Pieces())
        if (p.kind == PlayedPiece::kAudio && p.device > start->device && p.device < before) {
            if (p.track != end)
                break;
            end = p.track + p.bytes;
        }
    return end;
}

void PrintSplit(const Heard& h, const PlayedSplit& s) {
    printf("%.1f ms (audio of the track %.1f ms, silence %.1f ms, not attributed %.1f ms)\n",
           h.Ms(s.audio + s.silence + s.other), h.Ms(s.audio), h.Ms(s.silence), h.Ms(s.other));
}

// One seek: what played during and after its Flush until the new place, and the new place.
void ReportSeek(const Heard& h, const SeekStep& step, const CallMark& mark, const CallMark* next,
                size_t writtenEnd, bool stopped, bool* whole) {
    const Attribution& a = *h.pieces;
    unsigned long long end = h.got.size() - h.base;
    SeekPlace place = PlaceOfSeek(h, mark, step.toMs);
    printf("  seek at %d ms to %d ms: the device played during Flush ", step.atMs, step.toMs);
    PrintSplit(h, a.Split(mark.called, mark.returned));
    printf("    after Flush returned, of the old place: ");
    PrintSplit(h, a.Split(mark.returned, place.heard ? place.newStart : end));
    if (!place.heard) {
        printf("    the new place: NOT heard\n");
        *whole = false;
        return;
    }
    const PlayedPiece* after = next && next->made ? NewPlace(a, next->called) : nullptr;
    size_t reached = RunsTo(a, place.piece, after ? after->device : end);
    bool exact =
        place.newTrack == h.DeviceBytesAt(step.toMs) && (after || stopped || reached == writtenEnd);
    printf("    the new place: from %.1f ms%s, %s\n", h.Ms(place.newTrack),
           place.newStart < place.piece->device ? " (faded in)" : "",
           exact ? "played whole from its first byte" : "NOT played whole from its first byte");
    *whole = *whole && exact;
}

// The written ranges line up with the seeks: one before the first and one after each.
bool Aligned(const TrackOutcome& outcome, const SeekOutcome& moved) {
    size_t made = 0;
    for (const CallMark& m : moved.seeks)
        made += m.made;
    return outcome.written.size() == made + 1;
}

void Trim(const Heard& h, WrittenRange& r, size_t deviceEnd) {
    size_t end = h.TrackBytes(deviceEnd);
    if (end >= r.from && end < r.to)
        r.to = end;
}

} // namespace

std::vector<WrittenRange> HeardRanges(const Track& track, const TrackOutcome& outcome,
                                      const SeekPlan& plan, const SeekOutcome& moved, int fadeMs) {
    std::vector<WrittenRange> ranges = outcome.written;
    Heard h;
    if (moved.stream < 0 || !Aligned(outcome, moved) || !Listen(track, moved.stream, 0, fadeMs, h))
        return ranges;
    size_t range = 0;
    for (size_t k = 0; k < moved.seeks.size(); k++) {
        if (!moved.seeks[k].made)
            continue;
        SeekPlace place = PlaceOfSeek(h, moved.seeks[k], plan.seeks[k].toMs);
        Trim(h, ranges[range++], place.heard ? place.oldTrackEnd : h.pieces->TrackAt(h.got.size()));
    }
    if (moved.stop.made) {
        unsigned long long last = 0;
        for (const PlayedPiece& p : h.pieces->Pieces())
            if (p.kind == PlayedPiece::kAudio)
                last = p.device + p.bytes;
        unsigned long long end = h.fadeBytes ? SoundEnd(h, last, h.got.size()) : last;
        Trim(h, ranges.back(), h.pieces->TrackAt(last) + (size_t)(end - last));
    }
    return ranges;
}

std::vector<DeviceSpan> SeekSpans(const Track& track, const SeekPlan& plan,
                                  const SeekOutcome& moved, int fadeMs) {
    std::vector<DeviceSpan> spans;
    Heard h;
    if (moved.stream < 0 || !Listen(track, moved.stream, 0, fadeMs, h))
        return spans;
    for (size_t k = 0; k < moved.seeks.size(); k++) {
        if (!moved.seeks[k].made)
            continue;
        SeekPlace place = PlaceOfSeek(h, moved.seeks[k], plan.seeks[k].toMs);
        spans.push_back(
            DeviceSpan{moved.seeks[k].called, place.heard ? place.newStart : h.got.size()});
    }
    // A WaveRT buffer plays silence after a pause's fade until the pin pauses, and at the resume
    // until the kept audio: the silence begins inside Pause(1).
    for (const PauseMark& m : moved.pauses)
        if (m.pause.made)
            spans.push_back(DeviceSpan{m.pause.called, m.pause.returned});
    return spans;
}

bool ReportSeeks(const Track& track, const TrackOutcome& outcome, const SeekPlan& plan,
                 const SeekOutcome& moved, int fadeMs) {
    Heard h;
    bool whole = true;
    if (moved.stream < 0 || !Listen(track, moved.stream, 0, fadeMs, h)) {
        printf("  seeks and stop: the first track did not play\n");
        return false;
    }
    for (size_t k = 0; k < moved.pauses.size(); k++)
        ReportPause(h, plan.pauses[k], moved.pauses[k], &whole);
    bool aligned = Aligned(outcome, moved);
    size_t range = 0;
    for (size_t k = 0; k < moved.seeks.size(); k++) {
        if (!moved.seeks[k].made) {
            printf("  seek at %d ms: not made (the track ended first)\n", plan.seeks[k].atMs);
            continue;
        }
        range++;
        const CallMark* next = k + 1 < moved.seeks.size() ? &moved.seeks[k + 1] : nullptr;
        size_t end = aligned ? outcome.written[range].to / h.trackFrame * h.deviceFrame : 0;
        ReportSeek(h, plan.seeks[k], moved.seeks[k], next, end, moved.stop.made, &whole);
    }
    if (plan.stopAtMs >= 0 && !moved.stop.made)
        printf("  stop at %d ms: not made (the track ended first)\n", plan.stopAtMs);
    if (moved.stop.made) {
        const Attribution& a = *h.pieces;
        printf("  stop at %d ms: the device played during Close ", plan.stopAtMs);
        PrintSplit(h, a.Split(moved.stop.called, moved.stop.returned));
        printf("    after Close returned: ");
        PrintSplit(h, a.Split(moved.stop.returned, h.got.size()));
    }
    printf("  (device position: %s)\n", kDevicePlayedNote);
    return whole;
}

namespace {

// The signed figure at fraction q of the sorted values.
double Quantile(const std::vector<double>& sorted, double q) {
    size_t i = (size_t)(q * (double)sorted.size() + 0.5);
    return sorted[i > 0 ? (i < sorted.size() ? i - 1 : sorted.size() - 1) : 0];
}

// GetOutputTime against the track's place the device had played, over the samples taken on one
// stream.
void ReportTimes(const Heard& h, const TrackOutcome& o, int stream) {
    std::vector<double> ahead;
    for (const ClockSample& s : o.samples) {
        if (s.stream != stream)
            continue;
        unsigned long long played = s.played > h.base ? s.played - h.base : 0;
        ahead.push_back(s.output - h.Ms(h.pieces->TrackAt(played)));
    }
    if (ahead.empty()) {
        printf(" no samples\n");
        return;
    }
    std::sort(ahead.begin(), ahead.end());
    printf(" GetOutputTime - device: median %+.0f ms, 90th percentile %+.0f ms (%zu samples)\n",
           Quantile(ahead, 0.5), Quantile(ahead, 0.9), ahead.size());
}

// The streams the track's samples were taken on, in order.
std::vector<int> SampledStreams(const TrackOutcome& o) {
    std::vector<int> streams;
    for (const ClockSample& s : o.samples)
        if (streams.empty() || streams.back() != s.stream)
            streams.push_back(s.stream);
    return streams;
}

// The track's figures stream by stream: its own pin from `base` on (a gapless track follows the
// one before on it), a pin opened again after a loss from its start. Returns where the track's
// audio ended on its own pin, for the next track's base.
unsigned long long ReportStreams(const Track& t, const TrackOutcome& o, unsigned long long base) {
    unsigned long long end = base;
    std::vector<int> streams = SampledStreams(o);
    if (streams.empty())
        streams.push_back(o.stream);
    for (int stream : streams) {
        Heard h;
        printf("      stream %d%s:", stream, stream == o.stream ? "" : " (opened again)");
        if (!Listen(t, stream, stream == o.stream ? base : 0, 0, h)) {
            printf(" not played\n");
            continue;
        }
        ReportTimes(h, o, stream);
        const std::vector<PlayedPiece>& p = h.pieces->Pieces();
        for (size_t k = p.size(); stream == o.stream && k-- > 0;)
            if (p[k].kind == PlayedPiece::kAudio) {
                end = h.base + p[k].device + p[k].bytes;
                break;
            }
    }
    return end;
}

// The written time at the end of the writing against the time of what was written since the
// last Flush (or the Open).
void ReportWritten(const Track& t, const TrackOutcome& o) {
    size_t bytes = o.bytesSent;
    if (o.lastFlushMs > 0 && !o.written.empty())
        bytes = o.written.back().to - o.written.back().from;
    double frame = (double)t.channels * ((t.bits + 7) / 8);
    double ms = o.lastFlushMs + bytes * 1000.0 / (t.rate * frame);
    printf("    GetWrittenTime at the end of the writing: %d ms; written: %.1f ms\n",
           o.writtenTimeAtEnd, ms);
}

} // namespace

void ReportClock(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes) {
    printf("  clock figures (sampled every 20 ms, from each Open, stream by stream; device "
           "position: %s):\n",
           kClockPositionNote);
    unsigned long long base = 0;
    for (size_t i = 0; i < tracks.size() && i < outcomes.size(); i++) {
        const TrackOutcome& o = outcomes[i];
        if (i > 0 && outcomes[i - 1].stopped)
            break;
        printf("    %s: Open returned %d%s\n", tracks[i].name.c_str(), o.openResult,
               o.opened ? "" : "; not played");
        if (!o.opened)
            continue;
        if (o.newPin)
            base = 0;
        base = ReportStreams(tracks[i], o, base);
        ReportWritten(tracks[i], o);
    }
}
