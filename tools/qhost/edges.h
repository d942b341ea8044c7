// qhost's report of where the sound stopped and started on each simulated stream: the largest
// sample next to each edge of a stretch of silence (a pause, a seek, a stop, a track's end).
#pragma once

// Prints, for every stream the simulated devices opened, each place where at least a millisecond
// of silence begins or ends in what the device consumed, with the largest sample (of any
// channel) in the frame next to it, against full scale.
void PrintEdges();
