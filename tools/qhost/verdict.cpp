// Comparing what qhost sent with what the simulated devices consumed. A WaveRT device's silence
// is taken out first (rtverdict.h); its gaps count as starvation, and its stale replays too.
#include "tools/qhost/verdict.h"

#include "testbed/simks.h"
#include "tools/qhost/rtverdict.h"
#include "tools/common/asdevice.h"

#include <cstdio>
#include <cstring>

namespace {

// The bytes a device should receive for a track played on a pin of the given format: each
// sample at the top of the pin's container (packed 24-bit samples in 32-bit containers travel as
// 0, b0, b1, b2), mono on two channels, added channels silent.
std::vector<char> ExpectedBytes(const Track& t, size_t sent, const WAVEFORMATEXTENSIBLE& f) {
    return asdevice::Bytes(t.data.data(), sent, t.channels, t.bits, f.Format);
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

std::vector<char> Consumed(int stream) {
    SimKsStreamInfo info;
    std::vector<char> bytes;
    if (!SimKs_GetStream(stream, &info))
        return bytes;
    bytes.resize((size_t)info.ConsumedBytes);
    if (!bytes.empty())
        bytes.resize(SimKs_CopyConsumed(stream, 0, bytes.data(), (ULONG)bytes.size()));
    return bytes;
}

// Starvation intervals that began before the stream's last packet was submitted: the device
// ran dry while audio was still to come.
int MidStreamStarvation(int stream, double* totalMs) {
    int packets = SimKs_PacketCount(stream);
    SimKsPacketInfo last;
    if (packets == 0 || !SimKs_GetPacket(stream, packets - 1, &last))
        return 0;
    int count = 0;
    for (int i = 0; i < SimKs_StarvationCount(stream); i++) {
        SimKsStarvation s;
        if (SimKs_GetStarvation(stream, i, &s) && s.StartUs < last.SubmitUs) {
            count++;
            *totalMs += (s.EndUs ? s.EndUs - s.StartUs : 0) / 1000.0;
        }
    }
    return count;
}

// What one stream played, as comparable with what was sent to it: on a WaveRT device without the
// silence the plug-in added, whose gaps count as starvation.
std::vector<char> Received(int stream, const std::vector<char>& sent, int* gaps, double* gapMs) {
    std::vector<char> got = Consumed(stream);
    SimKsWaveRtInfo rt;
    SimKsStreamInfo info;
    if (!SimKs_GetWaveRt(stream, &rt) || !SimKs_GetStream(stream, &info))
        return got;
    const WAVEFORMATEX& f = info.Format.Format;
    RtPlayed played = TakeOutSilence(got, sent, f.wBitsPerSample == 8 ? (char)0x80 : 0,
                                     f.nBlockAlign ? f.nBlockAlign : 1);
    *gaps += played.gaps;
    *gapMs += f.nAvgBytesPerSec ? played.gapBytes * 1000.0 / f.nAvgBytesPerSec : 0;
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
    int boundaryGaps = 0, starved = 0, stale = 0, adapted = 0;
    double starvedMs = 0;
};

void AddStream(Tally& t, int stream, const std::vector<char>& sent) {
    std::vector<char> r = Received(stream, sent, &t.starved, &t.starvedMs);
    t.received.insert(t.received.end(), r.begin(), r.end());
    t.expected.insert(t.expected.end(), sent.begin(), sent.end());
    t.stale += SimKs_StaleCount(stream);
    t.starved += MidStreamStarvation(stream, &t.starvedMs);
}

// The tracks of one stream follow each other; a stream is added once all its tracks are known.
Tally Collect(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
              bool gapless) {
    Tally t;
    std::vector<char> sent;
    int last = -1;
    for (size_t i = 0; i < tracks.size(); i++) {
        const TrackOutcome& o = outcomes[i];
        if (!o.opened || o.stream < 0)
            continue;
        if (o.stream != last && last >= 0) {
            AddStream(t, last, sent);
            sent.clear();
            t.boundaryGaps += gapless;
        }
        SimKsStreamInfo info;
        SimKs_GetStream(o.stream, &info);
        if (Adapted(tracks[i], info.Format)) {
            ReportAdaptation(tracks[i], info.Format);
            t.adapted++;
        }
        std::vector<char> e = ExpectedBytes(tracks[i], o.bytesSent, info.Format);
        sent.insert(sent.end(), e.begin(), e.end());
        last = o.stream;
    }
    if (last >= 0)
        AddStream(t, last, sent);
    return t;
}

} // namespace

bool PrintVerdict(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
                  bool compareBits, bool gapless) {
    printf("Verdict (simulated devices):\n");
    Tally t = Collect(tracks, outcomes, gapless);
    size_t diff = 0;
    while (diff < t.expected.size() && diff < t.received.size() &&
           t.expected[diff] == t.received[diff])
        diff++;
    bool exact = t.expected.size() == t.received.size() && diff == t.expected.size();
    Report(t.expected.size(), t.received.size(), compareBits, exact, diff, t.adapted > 0);
    printf("  starvation while audio remained: %d interval(s), %.1f ms\n", t.starved, t.starvedMs);
    printf("  stale replays (a WaveRT half played again without being rewritten): %d\n", t.stale);
    if (gapless)
        printf("  gaps at track boundaries (pin closed and opened again): %d\n", t.boundaryGaps);
    for (int i = 0; i < SimKs_MessageBoxCount(); i++) {
        SimKsMessageBox box;
        if (SimKs_GetMessageBox(i, &box))
            printf("  message box \"%s\": %s\n", box.Caption, box.Text);
    }
    bool clean = (!compareBits || exact) && t.starved == 0 && t.stale == 0 && t.boundaryGaps == 0;
    printf("  result: %s\n", clean ? "clean" : "NOT CLEAN");
    return clean;
}
