// qhost's report on the pauses, the seeks, the stop and the clock: for each seek, what the device
// played of the old place after Flush returned and whether the new place then played whole from
// its first byte (its fade-in taken as its start); for each pause, what the device played after
// Pause(1) returned and whether the stream went on across it; for the stop, what it played after
// Close returned; and, with --clock-figures, the output time against what the device had played,
// the written time against what was written, and Open's result, for each track.
#pragma once

#include "tools/qhost/plugin.h"
#include "tools/qhost/rtverdict.h"
#include "tools/qhost/seek.h"

#include <vector>

// The ranges of the first track the device should have played: what was written less what the
// seeks and the stop discarded (the old place's audio after the device's last byte of it, its
// fade-out counted as played; fadeMs: the plug-in's fade_ms).
std::vector<WrittenRange> HeardRanges(const Track& track, const TrackOutcome& outcome,
                                      const SeekPlan& plan, const SeekOutcome& moved, int fadeMs);

// Where each seek and pause made may leave the first track's device silent: from a Flush to the
// new place's first byte, and inside Pause(1).
std::vector<DeviceSpan> SeekSpans(const Track& track, const SeekPlan& plan,
                                  const SeekOutcome& moved, int fadeMs);

// Prints the pauses, the seeks and the stop of the first track; false when a seek's new place did
// not play whole from its first byte or a pause lost or repeated audio.
bool ReportSeeks(const Track& track, const TrackOutcome& outcome, const SeekPlan& plan,
                 const SeekOutcome& moved, int fadeMs);

void ReportClock(const std::vector<Track>& tracks, const std::vector<TrackOutcome>& outcomes);
