// Loading the output plug-in the way the player does, and driving it through tracks.
#pragma once

#include "host/out_module.h"
#include "tools/qhost/audio.h"
#include "tools/qhost/clock.h"
#include "tools/qhost/seek.h"

#include <string>
#include <vector>

// Loads the DLL, checks the record's version, fills hDllInstance and hMainWindow and replaces
// id with a pointer of qhost's own, as the player does. Returns the record or null (error set).
Out_Module* LoadPlugin(const std::string& path, HWND mainWindow, HMODULE* dll, std::string& error);

// A hidden top-level window standing in for the player's main window.
HWND CreateMainWindow();

struct PlayOptions {
    int volume = 255;            // host volume given before each track
    bool progress = true;        // print a progress line while playing
    int inputBufferSize = 65536; // the plug-in's ring size, for the fill figure
    Jumper* jumper = nullptr;    // the first track's seeks and stop (with --sim), or null
    bool clockFigures = false;   // sample the times while each track plays (with --sim)
};

// A stretch of the track's bytes written one after another: [from, to).
struct WrittenRange {
    size_t from, to;
};

struct TrackOutcome {
    bool opened = false;
    int stream = -1;      // simulated stream that took the track (with --sim), or -1
    bool newPin = false;  // the track's Open created that stream (no gapless hand-over)
    size_t bytesSent = 0; // bytes accepted by Write
    bool endSeen = true;  // IsPlaying() reported the end of the track
    DWORD endedMs = 0;    // GetTickCount when the end-of-track poll ended
    int openResult = 0;   // what Open returned
    std::vector<WrittenRange> written; // what Write took, a new range after each seek
    bool stopped = false;              // ended by the stop (Close mid-track)
    int lastFlushMs = 0;               // the time of the last Flush (0: none)
    int writtenTimeAtEnd = 0;          // GetWrittenTime once the writing had ended
    std::vector<ClockSample> samples;  // with clockFigures
};

// Plays the tracks one after another as the player does: Open, a decode thread writing while
// CanWrite allows, the end-of-track poll, Close. newStream is asked for the simulated stream
// number right after each successful Open (may be null). A stop ends the programme: the tracks
// after it are not played.
std::vector<TrackOutcome> PlayTracks(Out_Module* mod, const std::vector<Track>& tracks,
                                     const PlayOptions& options, int (*newStream)());
