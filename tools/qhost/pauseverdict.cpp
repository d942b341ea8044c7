// A pause judged on the device's stream: around the place where the device stood, every run of the
// track's audio must go on from the run before it by as many bytes of the track as the device
// played between them (a fade's samples stand for the track's, one for one).
#include "tools/qhost/pauseverdict.h"

#include <cstdio>

namespace {

// The frames a run of audio must match before it counts (as the attribution's window).
const size_t kWindowFrames = 32;

// The runs of audio near `at` follow one another without a jump in the track.
bool GoesOn(const Heard& h, unsigned long long at) {
    unsigned long long reach = 2 * (h.fadeBytes + kWindowFrames * h.deviceFrame);
    unsigned long long from = at > reach ? at - reach : 0, to = at + reach;
    const PlayedPiece* before = nullptr;
    bool across = false;
    for (const PlayedPiece& p : h.pieces->Pieces()) {
        if (p.kind != PlayedPiece::kAudio || p.device + p.bytes < from)
            continue;
        if (p.device > to)
            break;
        if (before && p.track - (before->track + before->bytes) !=
                          p.device - (before->device + before->bytes))
            return false;
        across |= p.device + p.bytes >= at;
        before = &p;
    }
    return before && across;
}

} // namespace

void ReportPause(const Heard& h, const PauseStep& step, const PauseMark& mark, bool* whole) {
    if (!mark.pause.made) {
        printf("  pause at %d ms: not made (the track ended first)\n", step.atMs);
        return;
    }
    unsigned long long stood = mark.resume.made ? mark.resume.called : mark.pause.returned;
    printf("  pause at %d ms, resumed %d ms later: the device played during Pause(1) %.1f ms, "
           "after it returned %.1f ms\n",
           step.atMs, step.resumeMs - step.atMs, h.Ms(mark.pause.returned - mark.pause.called),
           h.Ms(stood - mark.pause.returned));
    bool on = mark.resume.made && GoesOn(h, stood - h.base);
    printf("    across the pause: %s\n",
           on ? "nothing lost, nothing played twice" : "NOT the track's stream (lost or repeated)");
    *whole = *whole && on;
}
