// The host operations' arithmetic, apart from the engine's state so that tests drive it directly:
// how much the host is invited to write, and the output time of the bytes handed to the device.
#pragma once

#include <windows.h>

// CanWrite's answer for free ring bytes: 0 below a packet's worth (for 24-bit audio widened into
// 32-bit containers, below a packet's worth of packed samples), else the free space in the host's
// bytes.
inline int CanWriteBytes(DWORD free, DWORD packetSize, bool widened24) {
    if (widened24)
        return free < packetSize / 3 * 4 ? 0 : (int)(free / 4 * 3);
    return free < packetSize ? 0 : (int)free;
}

// (B / R) x 1000 + ((B mod R) x 1000) / R with the second product in 64 bits: at more than
// 4,294,967 bytes a second it would not fit 32. 0 before any format (rate 0).
inline int OutputTimeMs(DWORD bytes, DWORD rate) {
    if (rate == 0)
        return 0;
    return (int)((bytes / rate) * 1000 + (DWORD)((ULONGLONG)(bytes % rate) * 1000 / rate));
}
