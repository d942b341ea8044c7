// qhost's report on a pause: how long the device went on playing after Pause(1) returned, and
// whether the stream went on across the pause with nothing lost and nothing played twice (a fade
// out and back in, where the plug-in makes them, changes samples but neither adds nor drops any).
#pragma once

#include "tools/qhost/heard.h"
#include "tools/qhost/seek.h"

// Prints the pause's lines; *whole becomes false when the stream did not go on across it.
void ReportPause(const Heard& h, const PauseStep& step, const PauseMark& mark, bool* whole);
