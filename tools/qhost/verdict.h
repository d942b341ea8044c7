// qhost's report after a run on the simulated devices: what was sent against what the devices
// consumed.
#pragma once

#include "tools/qhost/plugin.h"

#include <vector>

// Prints the verdict and returns true when the run was clean: every opened track reached the
// device bit for bit (when compared; a WaveRT device's added silence taken out), nothing starved
// while audio remained, no WaveRT half was played again stale, and gapless boundaries kept their
// pin. compareBits is false when the volume scaled the samples.
bool PrintVerdict(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes,
                  bool compareBits, bool gapless);
