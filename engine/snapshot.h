// One look at the engine's state, taken under its state lock (KSCore::Snapshot): what the status
// window paints, and what the host, the benchmark and the tests read of the engine.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <ks.h>

#include "engine/hwvolume.h"

// The most packets a packet output has (the settings allow 2..8).
constexpr int kMaxPackets = 8;

// What drains the ring of the open stream.
enum class KSOutputKind {
    kNone,         // no stream is open
    kPackets,      // standard streaming: packets as KS stream writes
    kCyclicEvent,  // WaveRT, woken by the driver's notification at each half
    kCyclicPolled, // WaveRT, the play position looked at about four times a half
};

struct KSSnapshot {
    // The engine.
    LONG mode;                         // kModeClosed, kModeOpen or kModeEnding
    bool started;                      // from a successful Start until the host's End()
    bool paused;                       // the host paused playback
    bool sleeping;                     // the player thread sleeps on its wake event
    bool inDeviceWait;                 // the player thread waits for the device (a packet, a half)
    LONG passes;                       // passes of the player loop since construction
    DWORD inputSize;                   // ring bytes
    DWORD inputUsed;                   // bytes held in the ring
    DWORD packetSize;                  // bytes per packet
    int packetCount;                   // packets, fixed for the engine's life
    DWORD volume;                      // 0..kMaxVolume
    DWORD bytesWritten;                // bytes handed to the device since the stream started
    int bufferedMs;                    // written by the host and not yet heard
    LONG lostPackets;                  // packets the device kept after its pin was closed
    WAVEFORMATEXTENSIBLE format;       // the format of the pin (the last one opened)
    WAVEFORMATEXTENSIBLE streamFormat; // the format the ring holds: the stream's own
    bool adapted;                      // the pin's format was adapted from the stream's
    bool deviceVolumeAllowed;          // the setting hardware_volume_enabled
    KSVolumeKind volumeKind;           // where the player's volume goes now
    LONG deviceLevel;                  // the device's control: its level in 1/65536 dB
    bool deviceMuted;                  // the device's control: muted by the slider's bottom
    LONG device;                       // kDeviceHeld .. kDeviceGone (kscore.h)
    DWORD waitLeftMs;                  // waiting for a lost device: the time the wait has left
    const char* dropWhy;               // without a device for good: why (a constant string)
    int fadeMs;                        // the setting fade_ms: fades at pause, seek and stop

    // The open stream's output.
    KSOutputKind kind;
    bool packetFree[kMaxPackets]; // packets: free (not with the device)
    LONG currentPacket;           // packets: the one being filled, -1 for none
    DWORD currentUsed;            // packets: bytes in it
    DWORD cyclicSize;             // WaveRT: bytes of the cyclic buffer
    DWORD playOffset;             // WaveRT: the play offset at the last look
    DWORD starvedBytes;           // WaveRT: silence written for lack of audio, followed by audio
    LONG gaps;                    // WaveRT: stretches of such silence
    DWORD cyclicHalfFrames;       // WaveRT: frames per half
    DWORD cyclicAlign;            // WaveRT: bytes each half asked for is a multiple of
    DWORD latencyMs;              // WaveRT: the hardware's latency, 0 where unknown
    bool packetModeOffered;       // WaveRT: the driver offers packet mode (never used)
};
