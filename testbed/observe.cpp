// Reading what the bed observed: streams, consumed bytes, packets, states, starvation, message
// boxes, debugger lines and request counts.
#include "testbed/state.h"

#include <cstring>

using namespace simks;

extern "C" {

int SimKs_StreamCount(void) {
    Lock lock;
    return (int)Bed().streams.size();
}

BOOL SimKs_GetStream(int stream, SimKsStreamInfo* info) {
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || !info)
        return FALSE;
    *info = s->info;
    return TRUE;
}

ULONG SimKs_CopyConsumed(int stream, ULONGLONG offset, void* buffer, ULONG size) {
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || !buffer || offset >= s->consumed.size())
        return 0;
    ULONGLONG left = s->consumed.size() - offset;
    ULONG n = left < size ? (ULONG)left : size;
    memcpy(buffer, s->consumed.data() + offset, n);
    return n;
}

int SimKs_PacketCount(int stream) {
    Lock lock;
    Stream* s = FindStream(stream);
    return s ? (int)s->packets.size() : 0;
}

BOOL SimKs_GetPacket(int stream, int index, SimKsPacketInfo* info) {
    Lock lock;
    Stream* s = FindStream(stream);
    if (!s || !info || index < 0 || index >= (int)s->packets.size())
        return FALSE;
    *info = s->packets[index].info;
    return TRUE;
}

int SimKs_StateChangeCount(int stream) {
    Lock lock;
    Stream* s = FindStream(stream);
    return s ? (int)s->states.size() : 0;
}

BOOL SimKs_GetStateChange(int stream, int index, SimKsStateChange* change) {
    Lock lock;
    Stream* s = FindStream(stream);
    return s ? CopyItem(s->states, index, change) : FALSE;
}

int SimKs_StarvationCount(int stream) {
    Lock lock;
    Stream* s = FindStream(stream);
    return s ? (int)s->starvation.size() : 0;
}

BOOL SimKs_GetStarvation(int stream, int index, SimKsStarvation* interval) {
    Lock lock;
    Stream* s = FindStream(stream);
    return s ? CopyItem(s->starvation, index, interval) : FALSE;
}

int SimKs_MessageBoxCount(void) {
    Lock lock;
    return (int)Bed().boxes.size();
}

BOOL SimKs_GetMessageBox(int index, SimKsMessageBox* box) {
    Lock lock;
    return CopyItem(Bed().boxes, index, box);
}

int SimKs_DebugLineCount(void) {
    Lock lock;
    return (int)Bed().debugLines.size();
}

BOOL SimKs_GetDebugLine(int index, char* buffer, ULONG size) {
    Lock lock;
    const std::vector<std::string>& lines = Bed().debugLines;
    if (!buffer || size == 0 || index < 0 || index >= (int)lines.size())
        return FALSE;
    lstrcpynA(buffer, lines[index].c_str(), (int)size);
    return TRUE;
}

int SimKs_FindDebugLine(const char* text, int index) {
    Lock lock;
    const std::vector<std::string>& lines = Bed().debugLines;
    for (int i = index < 0 ? 0 : index; text && i < (int)lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos)
            return i;
    return -1;
}

void SimKs_ClearDebugLines(void) {
    Lock lock;
    Bed().debugLines.clear();
}

LONG SimKs_RequestCount(int kind) {
    if (kind < 0 || kind >= SIMKS_REQ_KINDS)
        return 0;
    return Bed().requests[kind];
}

} // extern "C"
