// The places where the sound stopped and started in what each simulated stream consumed, and the
// samples next to them.
#include "tools/qhost/edges.h"

#include "testbed/simks.h"
#include "tools/qhost/clock.h"
#include "tools/qhost/heard.h"

#include <cstdio>
#include <cstring>

namespace {

bool Silent(const char* frame, int block, int bytes) {
    for (int i = 0; i < block; i++)
        if (frame[i] != (bytes == 1 ? (char)0x80 : 0))
            return false;
    return true;
}

// The format's figures: false where qhost cannot read its frames.
bool Frames(const WAVEFORMATEX& f, int& bytes, int& block) {
    bytes = f.wBitsPerSample / 8;
    block = f.nBlockAlign;
    return bytes && block && block == bytes * f.nChannels;
}

void PrintPlace(const char* what, double ms, double peak, int bits) {
    double full = (double)((1LL << (bits - 1)) - 1);
    printf("    %s at %.1f ms: largest sample next to it %.0f of %.0f\n", what, ms, peak * full,
           full);
}

// The host's calls on the first track's stream.
void PrintCallPlaces(const Track& t, const SeekPlan& plan, const SeekOutcome& moved, int fadeMs) {
    Heard h;
    SimKsStreamInfo info;
    if (moved.stream < 0 || !SimKs_GetStream(moved.stream, &info) ||
        !Listen(t, moved.stream, 0, fadeMs, h))
        return;
    const WAVEFORMATEX& f = info.Format.Format;
    int bits = f.wBitsPerSample;
    char what[96];
    printf("  where the host's calls stopped and started the sound on stream %d:\n", moved.stream);
    for (size_t k = 0; k < moved.pauses.size(); k++) {
        const PauseMark& m = moved.pauses[k];
        if (!m.resume.made)
            continue;
        size_t at = (size_t)m.resume.called;
        snprintf(what, sizeof what, "pause at %d ms, the sound stopped", plan.pauses[k].atMs);
        PrintPlace(what, h.Ms(at), PeakNext(h.got, at, true, f), bits);
        snprintf(what, sizeof what, "pause at %d ms, the resume started it", plan.pauses[k].atMs);
        PrintPlace(what, h.Ms(at), PeakNext(h.got, at, false, f), bits);
    }
    for (size_t k = 0; k < moved.seeks.size(); k++) {
        SeekPlace p =
            moved.seeks[k].made ? PlaceOfSeek(h, moved.seeks[k], plan.seeks[k].toMs) : SeekPlace();
        if (!p.heard)
            continue;
        snprintf(what, sizeof what, "seek at %d ms, the old place's end", plan.seeks[k].atMs);
        PrintPlace(what, h.Ms(p.oldEnd), PeakNext(h.got, p.oldEnd, true, f), bits);
        snprintf(what, sizeof what, "seek at %d ms, the new place's start", plan.seeks[k].atMs);
        PrintPlace(what, h.Ms(p.newStart), PeakNext(h.got, p.newStart, false, f), bits);
    }
    if (moved.stop.made) {
        int bytes, block;
        size_t end = h.got.size() / h.deviceFrame * h.deviceFrame;
        while (Frames(f, bytes, block) && end >= h.deviceFrame &&
               Silent(&h.got[end - h.deviceFrame], block, bytes))
            end -= h.deviceFrame;
        snprintf(what, sizeof what, "stop at %d ms, the sound's end", plan.stopAtMs);
        PrintPlace(what, h.Ms(end), PeakNext(h.got, end, true, f), bits);
    }
}

void PrintStreamEdges(int stream) {
    SimKsStreamInfo info;
    if (!SimKs_GetStream(stream, &info) || !info.ConsumedBytes)
        return;
    const WAVEFORMATEX& f = info.Format.Format;
    std::vector<char> data = DeviceBytes(stream);
    std::vector<SilenceEdge> edges = SilenceEdges(data, f, f.nSamplesPerSec / 1000);
    if (edges.empty())
        return;
    printf("  edges of stream %d's sound:\n", stream);
    for (const SilenceEdge& e : edges)
        PrintPlace(e.started ? "sound started" : "sound stopped",
                   e.frame * 1000.0 / f.nSamplesPerSec, e.peak, f.wBitsPerSample);
}

} // namespace

double PeakNext(const std::vector<char>& bytes, size_t at, bool before, const WAVEFORMATEX& f) {
    int size, block;
    if (!Frames(f, size, block) || (before && at < (size_t)block))
        return 0;
    size_t frame = before ? at - block : at;
    if (frame + block > bytes.size())
        return 0;
    double peak = 0;
    for (int c = 0; c < f.nChannels; c++) {
        const char* p = &bytes[frame + (size_t)c * size];
        double v;
        if (size == 1) {
            v = ((unsigned char)p[0] - 128) / 128.0;
        } else {
            LONG s = 0;
            memcpy((char*)&s + 4 - size, p, size);
            v = s / 2147483648.0;
        }
        v = v < 0 ? -v : v;
        peak = v > peak ? v : peak;
    }
    return peak;
}

std::vector<SilenceEdge> SilenceEdges(const std::vector<char>& bytes, const WAVEFORMATEX& f,
                                      size_t least) {
    std::vector<SilenceEdge> edges;
    int size, block;
    if (!Frames(f, size, block))
        return edges;
    size_t frames = bytes.size() / block, run = 0;
    bool sound = false; // a stretch of sound has begun
    for (size_t i = 0; i <= frames; i++) {
        bool silent = i < frames && Silent(&bytes[i * block], block, size);
        if (silent) {
            run++;
            continue;
        }
        if (sound && (run >= least || i == frames))
            edges.push_back(
                SilenceEdge{false, i - run, PeakNext(bytes, (i - run) * block, true, f)});
        if (i < frames && (!sound || run >= least))
            edges.push_back(SilenceEdge{true, i, PeakNext(bytes, i * block, false, f)});
        sound = sound || i < frames;
        run = 0;
    }
    return edges;
}

void PrintEdges(const Track* first, const SeekPlan& plan, const SeekOutcome& moved, int fadeMs) {
    if (first && plan.Any())
        PrintCallPlaces(*first, plan, moved, fadeMs);
    for (int stream = 0; stream < SimKs_StreamCount(); stream++)
        PrintStreamEdges(stream);
}
