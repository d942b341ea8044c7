// The position of a standard-streaming pin and the manual clock's partial play: the pin answers
// KSPROPERTY_AUDIO_POSITION with the bytes its device has played of the stream, the part of the
// packet under way that SimKs_PlayPart played included.
#include "testbed/props.h"
#include "testbed/stream.h"

#include <cstring>

namespace simks {

namespace {

// KSPROPSETID_Audio and KSPROPERTY_AUDIO_POSITION, from the documentation of the audio property
// set ("KSPROPSETID_Audio", "KSPROPERTY_AUDIO_POSITION" in the Windows driver documentation):
// the set {45FFAAA0-6E1B-11D0-BCF2-444553540000}, the position its fifth property (after
// LATENCY 1, COPY_PROTECTION, CHANNEL_CONFIG and VOLUMELEVEL: id 5).
const GUID kSetAudio = {
    0x45FFAAA0, 0x6E1B, 0x11D0, {0xBC, 0xF2, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const ULONG kAudioPosition = 5;

// KSAUDIO_POSITION ("KSAUDIO_POSITION structure"): PlayOffset, then WriteOffset, 64 bits each.
struct AudioPosition {
    ULONGLONG playOffset;
    ULONGLONG writeOffset;
};

} // namespace

bool IsPositionRequest(const KSPROPERTY* req) {
    return IsEqualGUID(req->Set, kSetAudio) && req->Id == kAudioPosition;
}

// Stream-relative offsets: what was played, and what was handed to the pin.
Answer StandardPosition(int stream, const KSPROPERTY* req, ULONG outputSize) {
    Answer a{};
    if (req->Flags != KSPROPERTY_TYPE_GET) {
        a.error = ERROR_INVALID_FUNCTION;
        return a;
    }
    a.data.assign(sizeof(AudioPosition), 0);
    if (outputSize < sizeof(AudioPosition))
        return a;
    const Stream& s = *FindStream(stream);
    AudioPosition p{s.info.ConsumedBytes, s.info.ConsumedBytes};
    for (size_t index : s.queue)
        p.writeOffset += s.packets[index].info.DataUsed;
    p.writeOffset -= s.headPart;
    memcpy(a.data.data(), &p, sizeof p);
    return a;
}

} // namespace simks

extern "C" ULONG SimKs_PlayPart(int stream, ULONG bytes) {
    using namespace simks;
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || s->queue.empty() || s->info.State != KSSTATE_RUN)
        return 0;
    Packet& p = s->packets[s->queue.front()];
    ULONG left = p.info.DataUsed - s->headPart;
    ULONG n = bytes < left ? bytes : left;
    const unsigned char* data = static_cast<const unsigned char*>(p.header->Data) + s->headPart;
    if (s->toMemory)
        s->consumed.insert(s->consumed.end(), data, data + n);
    s->headPart += n;
    s->info.ConsumedBytes += n;
    return n;
}
