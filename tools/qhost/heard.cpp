// Reading a device's stream against the track: the attribution, and the places of a seek with
// the fades around them.
#include "tools/qhost/heard.h"

#include "testbed/simks.h"
#include "tools/common/asdevice.h"
#include "tools/qhost/clock.h"

#include <new>

namespace {

// The frames a run of audio must match before it counts (as the attribution's window).
const size_t kWindowFrames = 32;

// The end of the last audio that starts before `before`, or `floor` when there is none.
unsigned long long AudioEndBefore(const Attribution& a, unsigned long long before,
                                  unsigned long long floor) {
    unsigned long long end = floor;
    for (const PlayedPiece& p : a.Pieces())
        if (p.kind == PlayedPiece::kAudio && p.device < before)
            end = p.device + p.bytes;
    return end;
}

} // namespace

bool Listen(const Track& t, int stream, unsigned long long base, int fadeMs, Heard& h) {
    SimKsStreamInfo info;
    if (!SimKs_GetStream(stream, &info) || !info.Format.Format.nAvgBytesPerSec)
        return false;
    const WAVEFORMATEX& f = info.Format.Format;
    h.expected = asdevice::Bytes(t.data.data(), t.data.size(), t.channels, t.bits, f);
    h.got = DeviceBytes(stream);
    h.base = base < h.got.size() ? base : h.got.size();
    h.deviceFrame = f.nBlockAlign ? f.nBlockAlign : 1;
    h.trackFrame = (size_t)t.channels * ((t.bits + 7) / 8);
    h.bytesPerMs = f.nAvgBytesPerSec / 1000.0;
    h.bytesPerSec = f.nAvgBytesPerSec;
    h.fadeBytes = h.DeviceBytesAt(fadeMs > 0 ? fadeMs : 0);
    h.pieces.reset(new (std::nothrow)
                       Attribution(h.expected, h.deviceFrame, f.wBitsPerSample == 8 ? '\x80' : 0));
    if (!h.pieces)
        return false;
    h.pieces->Feed(h.got.data() + h.base, h.got.size() - (size_t)h.base);
    h.pieces->Finish();
    return true;
}

const PlayedPiece* NewPlace(const Attribution& a, unsigned long long from) {
    size_t end = (size_t)-1;
    for (const PlayedPiece& p : a.Pieces()) {
        if (p.kind != PlayedPiece::kAudio)
            continue;
        if (p.device >= from && p.track != end)
            return &p;
        end = p.track + p.bytes;
    }
    return nullptr;
}

unsigned long long SoundEnd(const Heard& h, unsigned long long from, unsigned long long limit) {
    unsigned long long end = from;
    for (const PlayedPiece& p : h.pieces->Pieces()) {
        if (p.device + p.bytes <= end || p.device > end || end >= limit)
            continue;
        if (p.kind == PlayedPiece::kAudio ||
            (p.kind == PlayedPiece::kSilence && p.bytes >= h.bytesPerSec / 1000))
            break;
        end = p.device + p.bytes < limit ? p.device + p.bytes : limit;
    }
    return end;
}

// The new place begins at the seek's time; with fades its first frames are faded in and match
// no place, so its untouched audio is found up to a fade and a window later in the track.
SeekPlace PlaceOfSeek(const Heard& h, const CallMark& mark, int toMs) {
    SeekPlace s;
    const Attribution& a = *h.pieces;
    s.piece = NewPlace(a, mark.called);
    if (!s.piece)
        return s;
    s.heard = true;
    unsigned long long prevEnd = AudioEndBefore(a, s.piece->device, 0);
    size_t to = h.DeviceBytesAt(toMs), lead = s.piece->track - to;
    bool faded = h.fadeBytes && s.piece->track > to &&
                 lead <= h.fadeBytes + kWindowFrames * h.deviceFrame &&
                 s.piece->device >= prevEnd + lead;
    s.newStart = faded ? s.piece->device - lead : s.piece->device;
    s.newTrack = faded ? to : s.piece->track;
    s.oldEnd = h.fadeBytes ? SoundEnd(h, prevEnd, s.newStart) : prevEnd;
    s.oldTrackEnd = a.TrackAt(prevEnd) + (size_t)(s.oldEnd - prevEnd);
    return s;
}
