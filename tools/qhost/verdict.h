// qhost's report after a run on the simulated devices: what was sent against what the devices
// consumed.
#pragma once

#include "tools/qhost/plugin.h"
#include "tools/qhost/seek.h"
#include "tools/qhost/unplug.h"

#include <vector>

// What the run was asked to do besides playing, and what came of it.
struct RunEvents {
    UnplugPlan unplugPlan;
    UnplugOutcome unplug;
    SeekPlan seekPlan;
    SeekOutcome moved;
    bool clockFigures = false;
    int fadeMs = 0; // the plug-in's fade_ms: samples next to a stop or a start may be faded
};

// Prints the verdict and returns true when the run was clean: every opened track reached the
// device bit for bit (when compared; a WaveRT device's added silence taken out), nothing starved
// while audio remained, no WaveRT half was played again stale, and gapless boundaries kept their
// pin. compareBits is false when the volume scaled the samples. After an unplugging (unplugPlan
// .atMs >= 0) the audio the lost device took and never played is shown and not held against the
// run; what follows it must be whole and nothing may be played twice. After seeks and a stop the
// first track is compared with what was written less what they discarded, and each seek's new
// place must play whole from its first byte. With fades the samples of the stretches around
// each place where the sound stopped and started may differ; every byte outside them is judged.
// The clock figures are printed, never judged.
bool PrintVerdict(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
                  bool compareBits, bool gapless, const RunEvents& events);
