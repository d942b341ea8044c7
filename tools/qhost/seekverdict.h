// qhost's report on the seeks, the stop and the clock: for each seek, what the device played of
// the old place after Flush returned and whether the new place then played whole from its first
// byte; for the stop, what it played after Close returned; and, with --clock-figures, the output
// time against what the device had played, the written time against what was written, and Open's
// result, for each track.
#pragma once

#include "tools/qhost/plugin.h"
#include "tools/qhost/seek.h"

#include <vector>

// The ranges of the first track the device should have played: what was written less what the
// seeks and the stop discarded (the old place's audio after the device's last byte of it).
std::vector<WrittenRange> HeardRanges(const Track& track, const TrackOutcome& outcome,
                                      const SeekOutcome& moved);

// Prints the seeks and the stop of the first track; false when a seek's new place did not play
// whole from its first byte.
bool ReportSeeks(const Track& track, const TrackOutcome& outcome, const SeekPlan& plan,
                 const SeekOutcome& moved);

void ReportClock(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes);
