// The position of a standard-streaming pin and the manual clock's partial play: the pin answers
// KSPROPERTY_AUDIO_POSITION with the bytes its device has played of the stream, the part of the
// packet under way that SimKs_PlayPart played included.
#include "testbed/props.h"
#include "testbed/stream.h"

#include <cstring>

namespace simks {

bool IsPositionRequest(const KsIdentifier* req) {
    return IsEqualGUID(req->Set, kSetAudio) && req->Id == kAudioPosition;
}

// Stream-relative offsets: what was played, and what was handed to the pin.
Answer StandardPosition(int stream, const KsIdentifier* req, ULONG outputSize) {
    Answer a{};
    if (req->Flags != kPropGet) {
        a.error = ERROR_INVALID_FUNCTION;
        return a;
    }
    a.data.assign(sizeof(KsAudioPosition), 0);
    if (outputSize < sizeof(KsAudioPosition))
        return a;
    const Stream& s = *FindStream(stream);
    KsAudioPosition p{s.info.ConsumedBytes, s.info.ConsumedBytes};
    for (size_t index : s.queue)
        p.WriteOffset += s.packets[index].info.DataUsed;
    p.WriteOffset -= s.headPart;
    memcpy(a.data.data(), &p, sizeof p);
    return a;
}

} // namespace simks

extern "C" ULONG SimKs_PlayPart(int stream, ULONG bytes) {
    using namespace simks;
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || s->queue.empty() || s->info.State != kStateRun)
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
