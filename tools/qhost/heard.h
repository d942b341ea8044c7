// A track's stream as its simulated device played it, attributed to the track, and the places in
// it where the host's calls moved the sound: a seek's old place ending and its new place
// beginning, each with the fades the plug-in may have put there. The seek verdict, the pause
// verdict and the edges read the device's stream through it.
#pragma once

#include "tools/qhost/attribution.h"
#include "tools/qhost/audio.h"
#include "tools/qhost/seek.h"

#include <memory>
#include <vector>

struct Heard {
    std::vector<char> expected, got;
    std::unique_ptr<Attribution> pieces;
    unsigned long long base = 0;
    size_t deviceFrame = 1, trackFrame = 1;
    double bytesPerMs = 1;
    unsigned long bytesPerSec = 0;
    size_t fadeBytes = 0; // what a fade spans (fade_ms), whole frames

    double Ms(size_t bytes) const { return bytes / bytesPerMs; }
    size_t TrackBytes(size_t device) const { return device / deviceFrame * trackFrame; }
    size_t DeviceBytesAt(int ms) const {
        return (size_t)((unsigned long long)ms * bytesPerSec / 1000 / deviceFrame * deviceFrame);
    }
};

// The track's stream on the simulated stream from `base` on, attributed; fadeMs: the plug-in's
// fade_ms. False when the stream is unknown or memory ran out.
bool Listen(const Track& t, int stream, unsigned long long base, int fadeMs, Heard& h);

// The first audio that starts at or after `from` and does not go on from the audio before it: the
// new place of a seek made at `from`. Null when there is none.
const PlayedPiece* NewPlace(const Attribution& a, unsigned long long from);

// Where a seek moved the sound on the device (offsets in what the device played from the base).
struct SeekPlace {
    bool heard = false;
    unsigned long long oldEnd = 0;   // just past the old place's last byte, its fade-out included
    unsigned long long newStart = 0; // the new place's first byte, its fade-in included
    size_t oldTrackEnd = 0;          // the old place's end in the track (device form)
    size_t newTrack = 0;             // the new place's start in the track (device form)
    const PlayedPiece* piece = nullptr; // the new place's first run of untouched audio
};

// The places of the seek made at mark.called to toMs.
SeekPlace PlaceOfSeek(const Heard& h, const CallMark& mark, int toMs);

// Just past the sound that goes on from the audio ending at `from`: the bytes of no place (a
// fade) up to `limit`, silence shorter than a millisecond among them.
unsigned long long SoundEnd(const Heard& h, unsigned long long from, unsigned long long limit);
