// Comparing what qhost sent with what the simulated devices consumed.
#include "tools/qhost/verdict.h"

#include "testbed/simks.h"

#include <cstdio>
#include <cstring>

namespace {

// The bytes a device should receive for a track played on a pin of the given format: packed
// 24-bit samples travel as 0, b0, b1, b2 when the pin takes 32-bit containers.
std::vector<char> ExpectedBytes(const Track& t, size_t sent, const WAVEFORMATEXTENSIBLE& f) {
    if (!(t.bits == 24 && f.Format.wBitsPerSample == 32))
        return std::vector<char>(t.data.begin(), t.data.begin() + sent);
    std::vector<char> out;
    out.reserve(sent / 3 * 4);
    for (size_t i = 0; i + 3 <= sent; i += 3) {
        out.push_back(0);
        out.insert(out.end(), t.data.begin() + i, t.data.begin() + i + 3);
    }
    return out;
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

void Report(size_t sent, size_t received, bool compared, bool exact, size_t firstDiff) {
    printf("  bytes sent (as the device takes them): %zu, received: %zu\n", sent, received);
    if (!compared)
        printf("  bit-exact: not compared (volume scaling on)\n");
    else if (exact)
        printf("  bit-exact: yes\n");
    else
        printf("  bit-exact: NO (first difference at byte %zu)\n", firstDiff);
}

} // namespace

bool PrintVerdict(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
                  bool compareBits, bool gapless) {
    std::vector<char> expected, received;
    int lastStream = -1, boundaryGaps = 0;
    for (size_t i = 0; i < tracks.size(); i++) {
        const TrackOutcome& o = outcomes[i];
        if (!o.opened || o.stream < 0)
            continue;
        SimKsStreamInfo info;
        SimKs_GetStream(o.stream, &info);
        std::vector<char> e = ExpectedBytes(tracks[i], o.bytesSent, info.Format);
        expected.insert(expected.end(), e.begin(), e.end());
        if (o.stream != lastStream) {
            std::vector<char> r = Consumed(o.stream);
            received.insert(received.end(), r.begin(), r.end());
            if (gapless && lastStream >= 0)
                boundaryGaps++;
        }
        lastStream = o.stream;
    }
    size_t diff = 0;
    while (diff < expected.size() && diff < received.size() && expected[diff] == received[diff])
        diff++;
    bool exact = expected.size() == received.size() && diff == expected.size();

    printf("Verdict (simulated devices):\n");
    Report(expected.size(), received.size(), compareBits, exact, diff);
    int starved = 0;
    double starvedMs = 0;
    for (int s = 0; s < SimKs_StreamCount(); s++)
        starved += MidStreamStarvation(s, &starvedMs);
    printf("  starvation while audio remained: %d interval(s), %.1f ms\n", starved, starvedMs);
    if (gapless)
        printf("  gaps at track boundaries (pin closed and opened again): %d\n", boundaryGaps);
    for (int i = 0; i < SimKs_MessageBoxCount(); i++) {
        SimKsMessageBox box;
        if (SimKs_GetMessageBox(i, &box))
            printf("  message box \"%s\": %s\n", box.Caption, box.Text);
    }
    bool clean = (!compareBits || exact) && starved == 0 && boundaryGaps == 0;
    printf("  result: %s\n", clean ? "clean" : "NOT CLEAN");
    return clean;
}
