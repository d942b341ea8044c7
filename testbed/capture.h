// WAV files of the consumed bytes of a stream.
#pragma once

#include "testbed/state.h"

namespace simks {

// Creates the file (path with "%d" replaced by the stream number) with the stream's format.
void WavOpen(Stream& s, int number, const std::string& pattern);
void WavAppend(Stream& s, const void* data, ULONG size);
// Writes the final chunk sizes and closes the file.
void WavClose(Stream& s);

} // namespace simks
