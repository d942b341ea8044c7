// qhost: a stand-in for the player. It loads the output plug-in as the player does and plays
// WAV files and test signals through it, on the machine's KS devices or, with --sim, on the
// simulated ones, and then says whether the devices received what was sent. It also shows the
// plug-in's settings dialog, status window and About box as the player's Preferences do.
#include "host/settings.h"
#include "testbed/redirect.h"
#include "tools/common/hostenv.h"
#include "tools/qhost/devices.h"
#include "tools/qhost/edges.h"
#include "tools/qhost/plugin.h"
#include "tools/qhost/prefs.h"
#include "tools/qhost/seek.h"
#include "tools/qhost/unplug.h"
#include "tools/qhost/verdict.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: qhost play [options] SOURCE...   play WAV files or signals (tone:RATE:CH:BITS:SECS,\n"
    "                                        or sweep:RATE:CH:BITS:SECS: full scale, gliding\n"
    "                                        from 211 Hz to 1987 Hz, no window repeats)\n"
    "       qhost devices [--sim]            list the render devices as the plug-in sees them,\n"
    "                                        with their data ranges (--sim: the zoo too)\n"
    "       qhost config [options]           the plug-in's settings dialog, as Preferences shows "
    "it\n"
    "       qhost about [options]            the plug-in's About box\n"
    "options:\n"
    "  --sim                 use the simulated devices and print a verdict at the end\n"
    "  --clock realtime:F    simulated render clock at F times real time (default realtime:1)\n"
    "  --clock unpaced       simulated packets complete as soon as they are submitted\n"
    "  --wavert event|polled[,VARIANT...]\n"
    "                        with --sim, play on the simulated WaveRT device, event-driven or\n"
    "                        polled (for this run; the chosen device is put back after it), as\n"
    "                        drivers behave: frames, pages, count (sizes rounded down to frames,\n"
    "                        up to pages, divided by the notifications), noregister, latency,\n"
    "                        jitter, early, late, doubled, missed (events), packed (6-byte "
    "frames),\n"
    "                        constraints (a published 1024-byte packet alignment), packets\n"
    "                        (packet mode offered)\n"
    "  --device NAME         with --sim, play on the zoo's device class whose name holds NAME\n"
    "                        (any letter case; qhost devices --sim lists them)\n"
    "  --topology LAYOUT     with --sim, give the device played a topology filter of the test\n"
    "                        bed's: volume-mute (volume and mute nodes on the topology filter),\n"
    "                        wave-volume (a volume node on the wave filter's path) or none (no\n"
    "                        volume node); the device's own volume control is looked for there\n"
    "  --unplug AT_MS[,BACK_AFTER_MS]\n"
    "                        with --sim, unplug the device once the first stream has played\n"
    "                        AT_MS of audio and plug it back BACK_AFTER_MS later (default 1000);\n"
    "                        the verdict shows what the device lost in flight and that the rest\n"
    "                        played whole and once; with \"never\" for BACK_AFTER_MS the device\n"
    "                        stays out and the verdict shows when the track ended\n"
    "  --seek AT_MS:TO_MS    with --sim, seek as the player does (Flush, then the track from "
    "TO_MS)\n"
    "                        once the device has played AT_MS of the first track (repeatable:\n"
    "                        in order, each after the one before has been heard); the verdict\n"
    "                        shows how much of the old place the device played after Flush\n"
    "                        returned and whether the new place played whole from its first byte\n"
    "  --pause AT_MS:RESUME_MS\n"
    "                        with --sim, pause as the player does (Pause(1)) once the device has\n"
    "                        played AT_MS of the first track, and resume (Pause(0)) once it has\n"
    "                        stood paused for RESUME_MS - AT_MS ms (repeatable, in order); the\n"
    "                        verdict shows how much the device played after Pause(1) returned\n"
    "                        and whether the stream went on with nothing lost or played twice\n"
    "  --stop AT_MS          with --sim, stop as the user does (Close) once the device has played\n"
    "                        AT_MS of the first track, and end; the verdict shows what the device\n"
    "                        played after Close returned\n"
    "  --clock-figures       with --sim, read the output and written times every 20 ms and print,\n"
    "                        for each track, Open's result, GetOutputTime against what the device\n"
    "                        had played (median, 90th percentile) on each stream it played on (a\n"
    "                        lost device's pin opened again is a new one) and GetWrittenTime at\n"
    "                        the end\n"
    "  --wav-out PATTERN     with --sim, write what each stream consumed to WAV (%d: stream)\n"
    "  --plugin PATH         the plug-in DLL (default: ..\\plugin\\out_quellor3.dll)\n"
    "  --volume N            host volume 0..255 (default 255)\n"
    "  --gapless             shorthand for --set gapless_enabled=1\n"
    "  --set KEY=VALUE       write a plug-in setting into qhost's INI file before starting\n"
    "  --quiet               no progress line\n"
    "  --edges               with --sim, list where the sound stopped and started, with the\n"
    "                        largest sample next to each: at each pause and its resume, each\n"
    "                        seek's old and new place, the stop, and every edge of silence\n"
    "  --status              play with the settings dialog open and its Open Status pressed;\n"
    "                        the dialog is cancelled when the last track has ended\n"
    "  --close-after SECS    config: cancel the dialog after SECS seconds\n";

struct Options {
    std::string command;
    bool sim = false;
    int clock = SIMKS_CLOCK_REALTIME;
    double factor = 1.0;
    std::string wavert; // "": the chosen device; else how the simulated WaveRT device behaves
    std::string device; // a zoo class's name, or part of it
    int topology = -1;  // SIMKS_TOPO_*, or -1: none added
    std::string wavOut;
    UnplugPlan unplug;
    SeekPlan seeks;
    bool clockFigures = false;
    std::string plugin;
    int volume = 255;
    bool quiet = false;
    bool edges = false; // list where the sound stopped and started
    bool status = false;
    double closeAfter = 0;             // seconds
    std::vector<std::string> settings; // KEY=VALUE
    std::vector<std::string> sources;
};

bool ParseClock(const char* text, Options& o) {
    if (!strcmp(text, "unpaced")) {
        o.clock = SIMKS_CLOCK_UNPACED;
        return true;
    }
    o.clock = SIMKS_CLOCK_REALTIME;
    return sscanf(text, "realtime:%lf", &o.factor) == 1 && o.factor > 0;
}

// A topology layout by its name on the command line; -1 for a name it does not know.
int ParseTopology(const char* text) {
    const struct {
        const char* name;
        int layout;
    } layouts[] = {{"volume-mute", SIMKS_TOPO_VOLUME_MUTE},
                   {"wave-volume", SIMKS_TOPO_WAVE_VOLUME},
                   {"none", SIMKS_TOPO_NONE}};
    for (const auto& l : layouts)
        if (!strcmp(text, l.name))
            return l.layout;
    return -1;
}

bool ParseArgs(int argc, char** argv, Options& o) {
    if (argc < 2)
        return false;
    o.command = argv[1];
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--sim")
            o.sim = true;
        else if (a == "--quiet")
            o.quiet = true;
        else if (a == "--edges")
            o.edges = true;
        else if (a == "--status")
            o.status = true;
        else if (a == "--close-after" && hasValue)
            o.closeAfter = atof(argv[++i]);
        else if (a == "--gapless")
            o.settings.push_back("gapless_enabled=1");
        else if (a == "--clock" && hasValue) {
            if (!ParseClock(argv[++i], o))
                return false;
        } else if (a == "--wavert" && hasValue) {
            o.wavert = argv[++i];
            if (!SimDeviceChoice::ValidWaveRt(o.wavert))
                return false;
        } else if (a == "--device" && hasValue)
            o.device = argv[++i];
        else if (a == "--topology" && hasValue) {
            o.topology = ParseTopology(argv[++i]);
            if (o.topology < 0)
                return false;
        } else if (a == "--unplug" && hasValue) {
            if (!ParseUnplug(argv[++i], o.unplug))
                return false;
        } else if (a == "--seek" && hasValue) {
            if (!ParseSeek(argv[++i], o.seeks))
                return false;
        } else if (a == "--pause" && hasValue) {
            if (!ParsePause(argv[++i], o.seeks))
                return false;
        } else if (a == "--stop" && hasValue) {
            if (!ParseStop(argv[++i], o.seeks))
                return false;
        } else if (a == "--clock-figures")
            o.clockFigures = true;
        else if (a == "--wav-out" && hasValue)
            o.wavOut = argv[++i];
        else if (a == "--plugin" && hasValue)
            o.plugin = argv[++i];
        else if (a == "--volume" && hasValue)
            o.volume = atoi(argv[++i]);
        else if (a == "--set" && hasValue && strchr(argv[i + 1], '='))
            o.settings.push_back(argv[++i]);
        else if (a.compare(0, 2, "--") == 0)
            return false;
        else
            o.sources.push_back(a);
    }
    if (o.command == "devices" || o.command == "config" || o.command == "about")
        return o.sources.empty();
    return o.command == "play" && !o.sources.empty() &&
           (o.sim || (o.wavert.empty() && o.device.empty() && o.topology < 0 && o.unplug.atMs < 0 &&
                      !o.seeks.Any() && !o.clockFigures));
}

// Writes the --set values into the section the plug-in reads, in the INI file it will use.
void ApplySettings(const Options& o) {
    KSSettings where{};
    ReadSettings(where);
    hostenv::WriteSettings(where.ini_file, o.settings);
}

void StartSimulation(const Options& o) {
    SimKs_Reset();
    SimKs_AddDefaultDevices();
    SimKs_SetCapture(TRUE, o.wavOut.empty() ? NULL : o.wavOut.c_str());
    SimKs_SetClock(o.clock, o.factor);
}

int NewestStream() {
    return SimKs_StreamCount() - 1;
}

int ListDevices(const Options& o) {
    if (o.sim) {
        StartSimulation(o);
        for (int i = 0; i < SIMKS_ZOO_COUNT; i++)
            SimKs_AddZooDevice(i);
        SimKs_Install(GetModuleHandleA(NULL));
    }
    int n = PrintRenderDevices();
    if (o.sim)
        SimKs_Remove(GetModuleHandleA(NULL));
    return n > 0 ? 0 : 1;
}

// The player's start-up: settings into the INI file, a main window, the DLL loaded, the
// simulated devices put behind it when asked for, Init.
struct Session {
    HWND main = NULL;
    HMODULE dll = NULL;
    Out_Module* mod = nullptr;
    SimDeviceChoice choice;
};

bool StartSession(const Options& o, Session& s) {
    ApplySettings(o);
    RegisterCommonControls();
    std::string path =
        o.plugin.empty() ? hostenv::ExeFolder() + "\\..\\plugin\\out_quellor3.dll" : o.plugin;
    s.main = CreateMainWindow();
    std::string error;
    s.mod = LoadPlugin(path, s.main, &s.dll, error);
    if (!s.mod) {
        fprintf(stderr, "qhost: %s\n", error.c_str());
        return false;
    }
    if (o.sim) {
        StartSimulation(o);
        SimKs_Install(s.dll);
        if (!o.wavert.empty())
            s.choice.ChooseWaveRt(o.wavert);
        if (!o.device.empty() && !s.choice.ChooseZoo(o.device)) {
            fprintf(stderr, "qhost: no simulated device is named like \"%s\"\n", o.device.c_str());
            return false;
        }
        if (o.topology >= 0 && !s.choice.AddTopology(o.topology)) {
            fprintf(stderr, "qhost: the simulated device cannot have that topology\n");
            return false;
        }
    }
    printf("%s\n", s.mod->description);
    s.mod->Init();
    return true;
}

struct PlayRun {
    Out_Module* mod;
    const std::vector<Track>* tracks;
    PlayOptions options;
    bool sim;
    std::vector<TrackOutcome> outcomes;
};

DWORD WINAPI PlayThread(LPVOID param) {
    PlayRun& run = *(PlayRun*)param;
    run.outcomes = PlayTracks(run.mod, *run.tracks, run.options, run.sim ? NewestStream : nullptr);
    return 0;
}

// With --status the tracks play from a second thread, as an input plug-in's thread drives the
// output, while this thread runs the settings dialog and the status window it opens.
void PlayWithStatus(const Session& s, PlayRun& run) {
    HANDLE thread = CreateThread(NULL, 0, PlayThread, &run, 0, NULL);
    if (!thread) {
        fprintf(stderr, "qhost: cannot start the playing thread\n");
        return;
    }
    ConfigScript script;
    script.openStatus = true;
    script.closeWhen = thread;
    RunConfigDialog(s.mod, s.main, script);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

int Play(const Options& o) {
    std::vector<Track> tracks(o.sources.size());
    for (size_t i = 0; i < tracks.size(); i++) {
        std::string error;
        if (!LoadTrack(o.sources[i], tracks[i], error)) {
            fprintf(stderr, "qhost: %s: %s\n", o.sources[i].c_str(), error.c_str());
            return 2;
        }
    }
    Session s;
    if (!StartSession(o, s))
        return 2;
    KSSettings settings{};
    ReadSettings(settings);
    PlayRun run = {s.mod, &tracks, PlayOptions(), o.sim, {}};
    run.options.volume = o.volume;
    run.options.progress = !o.quiet;
    run.options.inputBufferSize = settings.input_buffer_size;
    run.options.clockFigures = o.clockFigures;
    Jumper jumper(o.seeks);
    if (o.seeks.Any())
        run.options.jumper = &jumper;
    Unplugger unplugger(o.unplug);
    if (o.status)
        PlayWithStatus(s, run);
    else
        PlayThread(&run);
    RunEvents events;
    events.unplugPlan = o.unplug;
    events.unplug = unplugger.Finish();
    events.seekPlan = o.seeks;
    events.moved = jumper.Finish();
    events.clockFigures = o.clockFigures;
    events.fadeMs = settings.fade_ms;
    s.mod->Quit();
    s.choice.Restore();
    if (!o.sim)
        return 0;
    bool scaled = settings.volume_enabled && o.volume != 255;
    bool clean = PrintVerdict(tracks, run.outcomes, !scaled, settings.gapless_enabled != 0, events);
    if (o.edges)
        PrintEdges(tracks.empty() ? nullptr : &tracks[0], o.seeks, events.moved, settings.fade_ms);
    SimKs_Remove(s.dll);
    return clean ? 0 : 1;
}

int Config(const Options& o) {
    Session s;
    if (!StartSession(o, s))
        return 2;
    ConfigScript script;
    script.closeAfterMs = (DWORD)(o.closeAfter * 1000);
    RunConfigDialog(s.mod, s.main, script);
    s.mod->Quit();
    if (o.sim)
        SimKs_Remove(s.dll);
    return 0;
}

// With --sim the box is recorded by the simulated platform instead of shown; qhost prints it.
int About(const Options& o) {
    Session s;
    if (!StartSession(o, s))
        return 2;
    s.mod->About(s.main);
    SimKsMessageBox box;
    if (o.sim && SimKs_GetMessageBox(0, &box))
        printf("[%s]\n%s", box.Caption, box.Text);
    s.mod->Quit();
    if (o.sim)
        SimKs_Remove(s.dll);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        fputs(kUsage, stderr);
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    if (o.command == "devices")
        return ListDevices(o);
    if (o.command == "config")
        return Config(o);
    if (o.command == "about")
        return About(o);
    return Play(o);
}
