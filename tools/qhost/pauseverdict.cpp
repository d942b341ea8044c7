// A pause judged on the device's stream: around the place where the device stood, every run of the
// track's audio must go on from the run before it by as many bytes of the track as the device
// played between them (a fade's samples stand for the track's, one for one; the silence a WaveRT
// buffer plays around a pause stands for none).
#include "tools/qhost/pauseverdict.h"

#include <cstdio>

namespace {

// The frames a run of audio must match before it counts (as the attribution's window).
const size_t kWindowFrames = 32;

// The track's bytes that the device's gap bytes between two runs of audio stand for: all but the
// long silence in it, and never less than the fade-out and the fade-in that the gap holds (their
// samples nearest silence round to 0 and join it).
long long StandsFor(const Heard& h, long long gap, long long silence) {
    long long fades = 2 * (long long)h.fadeBytes, stands = gap - silence;
    if (stands < fades)
        stands = gap < fades ? gap : fades;
    return stands;
}

// How the runs of audio near `at` follow one another: the bytes of the track they skip (less those
// they play twice) beyond what the device played between them. False when no audio runs across
// `at`.
bool Across(const Heard& h, unsigned long long at, long long& skipped) {
    unsigned long long reach = 2 * (h.fadeBytes + kWindowFrames * h.deviceFrame);
    unsigned long long from = at > reach ? at - reach : 0, to = at + reach;
    const PlayedPiece* before = nullptr;
    bool across = false;
    long long silence = 0; // since `before`
    skipped = 0;
    for (const PlayedPiece& p : h.pieces->Pieces()) {
        if (p.device + p.bytes < from)
            continue;
        if (p.device > to)
            break;
        if (p.kind == PlayedPiece::kSilence && p.bytes >= kWindowFrames * h.deviceFrame)
            silence += (long long)p.bytes;
        if (p.kind != PlayedPiece::kAudio)
            continue;
        if (before)
            skipped +=
                (long long)(p.track - (before->track + before->bytes)) -
                StandsFor(h, (long long)(p.device - (before->device + before->bytes)), silence);
        across |= p.device + p.bytes >= at;
        before = &p;
        silence = 0;
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
    // Signed: a reset of a packet pin takes back what it had played of the packet under way.
    long long during = (long long)(mark.pause.returned - mark.pause.called),
              after = (long long)(stood - mark.pause.returned);
    printf("  pause at %d ms, resumed %d ms later: the device played during Pause(1) %.1f ms, "
           "after it returned %.1f ms\n",
           step.atMs, step.resumeMs - step.atMs, during / h.bytesPerMs, after / h.bytesPerMs);
    long long skipped = 0;
    bool on = mark.resume.made && Across(h, stood - h.base, skipped);
    if (on && !skipped)
        printf("    across the pause: nothing lost, nothing played twice\n");
    else if (on)
        printf("    across the pause: NOT the track's stream: %.1f ms %s\n",
               h.Ms((size_t)(skipped < 0 ? -skipped : skipped)),
               skipped > 0 ? "of it missing" : "of it played twice");
    else
        printf("    across the pause: NOT heard (no audio on both sides)\n");
    *whole = *whole && on && !skipped;
}
