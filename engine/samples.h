// Sample conversions on the way through the engine: widening packed 24-bit samples into
// 32-bit containers, and copying with the software volume applied.
#pragma once

#include <windows.h>

// Stores each of the ceil(n / 3) packed 3-byte samples of src as the bytes 0, b0, b1, b2.
// Returns the bytes stored.
DWORD Convert24To32(BYTE* dst, const BYTE* src, DWORD n);

// Copies count bytes of samples of the given width, scaled by volume / 256 (volume 0..254).
// 8-bit samples are unsigned around 128; 16- and 32-bit samples are signed. Other widths, and
// trailing bytes that do not make a whole sample, are copied unchanged.
void CopyScaled(BYTE* dst, const BYTE* src, DWORD count, int bitsPerSample, DWORD volume);
