// qhost's playing of tracks, following the player's threads: the UI thread opens and closes,
// a decode thread writes and waits for the end of the track, and a visualisation thread reads
// the time about every 16 ms. With a seek and stop watch the decode thread makes the seeks (Flush
// and the source from the new place) and the stop (it ends, and Close follows) the watch asks for.
#include "tools/qhost/plugin.h"

#include "testbed/simks.h"
#include "tools/qhost/clock.h"

#include <cstdio>
#include <io.h>

namespace {

// How long IsPlaying() may keep reporting 1 beyond the latency Open returned (what the plug-in
// holds when the writing ends) before qhost takes the track as ended anyway.
const DWORD kEndPollLimitMs = 2000;

struct TrackRun {
    Out_Module* mod;
    const Track* track;
    const PlayOptions* options;
    TrackOutcome* outcome;
    Jumper* jumper; // the track's seeks and stop, or null
    int stream;     // the simulated stream, or -1
    volatile LONG done;
};

// What the decode thread does after a look at the seek and stop watch.
enum class Next { kGoOn, kSeeked, kStop };

bool IsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

int FrameBytes(const Track& t) {
    return t.channels * ((t.bits + 7) / 8);
}

void NoteWritten(TrackRun& run, size_t pos, size_t chunk) {
    std::vector<WrittenRange>& w = run.outcome->written;
    if (w.empty() || w.back().to != pos)
        w.push_back(WrittenRange{pos, pos});
    w.back().to = pos + chunk;
}

// A seek as the player makes it: Flush with the new time, then the source from there on.
Next Obey(TrackRun& run, size_t& pos) {
    int step = run.jumper ? run.jumper->Due() : Jumper::kNothing;
    if (step == Jumper::kStop)
        run.outcome->writtenTimeAtEnd = run.mod->GetWrittenTime();
    if (step < 0)
        return step == Jumper::kStop ? Next::kStop : Next::kGoOn;
    const Track& t = *run.track;
    int to = run.jumper->Plan().seeks[(size_t)step].toMs;
    CallMark mark;
    mark.made = true;
    mark.calledUs = SimKs_Now();
    mark.called = DevicePlayed(run.stream);
    run.mod->Flush(to);
    mark.returned = DevicePlayed(run.stream);
    mark.returnedUs = SimKs_Now();
    run.jumper->Made(step, mark);
    size_t frame = (size_t)FrameBytes(t), whole = t.data.size() / frame * frame;
    size_t at = (size_t)((unsigned long long)to * (unsigned)t.rate / 1000) * frame;
    pos = at < whole ? at : whole;
    run.outcome->lastFlushMs = to;
    run.outcome->written.push_back(WrittenRange{pos, pos});
    return Next::kSeeked;
}

Next WriteTrack(TrackRun& run, size_t& pos) {
    const Track& t = *run.track;
    size_t frame = (size_t)FrameBytes(t);
    while (pos < t.data.size()) {
        Next next = Obey(run, pos);
        if (next == Next::kStop)
            return next;
        if (next == Next::kSeeked)
            continue;
        size_t can = (size_t)run.mod->CanWrite();
        if (can < 576 * frame) {
            Sleep(20);
            continue;
        }
        size_t chunk = t.data.size() - pos;
        chunk = chunk < 8192 ? chunk : 8192;
        chunk = chunk < can ? chunk : can;
        chunk = chunk / frame * frame;
        if (run.mod->Write((char*)t.data.data() + pos, (int)chunk) == 0) {
            run.outcome->bytesSent += chunk;
            NoteWritten(run, pos, chunk);
        }
        pos += chunk;
    }
    return Next::kGoOn;
}

// The end of a track: the player writes nothing, then polls until IsPlaying() says 0. A seek
// meanwhile sends the decode thread back to writing.
Next WaitForEnd(TrackRun& run, size_t& pos) {
    run.outcome->writtenTimeAtEnd = run.mod->GetWrittenTime();
    run.mod->Write(nullptr, 0);
    DWORD start = GetTickCount();
    for (;;) {
        Next next = Obey(run, pos);
        if (next != Next::kGoOn)
            return next;
        run.mod->CanWrite();
        if (!run.mod->IsPlaying())
            return next;
        if (run.jumper && run.jumper->Pausing())
            start = GetTickCount(); // a paused device plays nothing: the wait begins again
        DWORD held = run.outcome->openResult > 0 ? (DWORD)run.outcome->openResult : 0;
        if (GetTickCount() - start > kEndPollLimitMs + held) {
            run.outcome->endSeen = false;
            return next;
        }
        Sleep(10);
    }
}

DWORD WINAPI DecodeThread(LPVOID param) {
    TrackRun& run = *(TrackRun*)param;
    size_t pos = 0;
    Next next;
    do {
        next = WriteTrack(run, pos);
        if (next == Next::kGoOn)
            next = WaitForEnd(run, pos);
    } while (next == Next::kSeeked);
    run.outcome->stopped = next == Next::kStop;
    run.outcome->endedMs = GetTickCount();
    InterlockedExchange(&run.done, 1);
    return 0;
}

DWORD WINAPI VisThread(LPVOID param) {
    TrackRun& run = *(TrackRun*)param;
    const Track& t = *run.track;
    double total = (double)t.data.size() / (t.rate * FrameBytes(t));
    // On a terminal the line is redrawn in place four times a second; into a pipe or a file a
    // new line is written every second.
    bool tty = IsTerminal();
    int every = tty ? 16 : 64;
    const char* format =
        tty ? "\r  %7.2f s / %6.2f s   ring %3d%%" : "  %7.2f s / %6.2f s   ring %3d%%\n";
    int tick = 0;
    while (!run.done) {
        int out = run.mod->GetOutputTime();
        run.mod->GetWrittenTime();
        if (run.options->progress && ++tick % every == 0) {
            int free = run.mod->CanWrite();
            int ring = run.options->inputBufferSize;
            int fill = free > 0 && ring > 0 ? 100 - (int)(100.0 * free / ring) : 100;
            printf(format, out / 1000.0, total, fill);
            fflush(stdout);
        }
        Sleep(16);
    }
    return 0;
}

// Waits for the thread while dispatching the messages of this thread's windows.
void WaitPumping(HANDLE thread) {
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

// The user's Stop, or the track's end: Close, with the device's position around it for the stop.
void CloseTrack(Out_Module* mod, Jumper* jumper, const TrackOutcome& outcome) {
    CallMark mark;
    mark.made = true;
    mark.calledUs = SimKs_Now();
    mark.called = DevicePlayed(outcome.stream);
    mod->Close();
    mark.returned = DevicePlayed(outcome.stream);
    mark.returnedUs = SimKs_Now();
    if (jumper && outcome.stopped) {
        jumper->Made(Jumper::kStop, mark);
        jumper->WaitForQuiet();
    }
}

void PlayOne(Out_Module* mod, const Track& t, const PlayOptions& o, TrackOutcome& outcome,
             Jumper* jumper, int (*newStream)()) {
    printf("%s: %d Hz, %d channels, %d bits\n", t.name.c_str(), t.rate, t.channels, t.bits);
    mod->SetVolume(o.volume);
    mod->SetPan(0);
    int before = newStream ? newStream() : -1;
    outcome.openResult = mod->Open(t.rate, t.channels, t.bits, -1, -1);
    if (outcome.openResult < 0) {
        printf("  the plug-in could not open this stream; skipped\n");
        return;
    }
    outcome.opened = true;
    outcome.stream = newStream ? newStream() : -1;
    outcome.newPin = outcome.stream > before;
    mod->SetVolume(-666);
    if (jumper)
        jumper->Begin(outcome.stream, t, mod);
    ClockSampler sampler(mod, outcome.stream, newStream,
                         o.clockFigures && outcome.stream >= 0 ? &outcome.samples : nullptr);
    TrackRun run = {mod, &t, &o, &outcome, jumper, outcome.stream, 0};
    HANDLE decode = CreateThread(NULL, 0, DecodeThread, &run, 0, NULL);
    HANDLE vis = decode ? CreateThread(NULL, 0, VisThread, &run, 0, NULL) : NULL;
    if (!decode) {
        printf("  cannot start the decode thread\n");
    } else {
        WaitPumping(decode);
        CloseHandle(decode);
    }
    InterlockedExchange(&run.done, 1);
    if (vis) {
        WaitForSingleObject(vis, INFINITE);
        CloseHandle(vis);
    }
    sampler.Stop();
    if (jumper)
        jumper->Settle();
    CloseTrack(mod, jumper, outcome);
    if (o.progress)
        printf("%s  %7.2f s played, %zu bytes sent%s\n", IsTerminal() ? "\r" : "",
               mod->GetOutputTime() / 1000.0, outcome.bytesSent,
               outcome.endSeen ? "" : " (end not reported by IsPlaying)");
}

} // namespace

std::vector<TrackOutcome> PlayTracks(Out_Module* mod, const std::vector<Track>& tracks,
                                     const PlayOptions& options, int (*newStream)()) {
    std::vector<TrackOutcome> outcomes(tracks.size());
    for (size_t i = 0; i < tracks.size(); i++) {
        PlayOne(mod, tracks[i], options, outcomes[i], i == 0 ? options.jumper : nullptr, newStream);
        if (outcomes[i].stopped)
            break;
    }
    return outcomes;
}
