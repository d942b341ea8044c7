// The bed's shared state: devices, streams, simulated handles and observations, all guarded by
// one lock. Every function declared here expects the caller to hold Bed().cs unless it says so.
#pragma once

#include "testbed/ksplatform_doc.h"
#include "testbed/simks.h"

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

namespace simks {

// NTSTATUS values stored in OVERLAPPED.Internal.
const LONG kStatusSuccess = 0;
const LONG kStatusBufferOverflow = (LONG)0x80000005;
const LONG kStatusCancelled = (LONG)0xC0000120;
const LONG kStatusDeviceRemoved = (LONG)0xC00002B6;

struct Category {
    GUID guid;
    DWORD flags;
};

struct PropFault {
    int pin;
    bool anySet;
    GUID set;
    ULONG id;
    int kind;
    ULONG param;
};

struct WriteFault {
    int mode;
    ULONG first;
    ULONG count;
    DWORD code;
    ULONG seen; // writes counted since the fault was set
};

struct StateFault {
    int mode;    // SIMKS_STATE_*
    ULONG state; // the state whose requests it hits, or SIMKS_ANY_STATE
    ULONG first;
    ULONG count;
    DWORD code;
    ULONG seen; // matching requests counted since the fault was set
};

// A bridge pin's KSPROPERTY_PIN_PHYSICALCONNECTION.
struct Physical {
    int pin;
    std::wstring link; // as the kernel gives it
    ULONG toPin;
};

// The channels of a volume or mute node: levels (1/65536 dB) or mute flags, and the ranges.
struct NodeControl {
    int node;
    bool multichannel; // basic support: one range per channel, else one for all
    std::vector<SimKsLevelRange> ranges;
    std::vector<LONG> values;
};

struct Device {
    std::string path;
    bool hasName;
    std::string friendlyName;
    std::vector<Category> categories; // [0] is the interface's own class
    DWORD regQuirks;
    std::vector<SimKsPinDesc> pins;
    std::vector<ULONG> instances; // open pin instances per pin id
    std::vector<GUID> nodes;
    std::vector<KsTopologyConnection> connections;
    std::vector<Physical> physical;
    std::vector<NodeControl> controls;
    std::vector<PropFault> propFaults;
    SimKsQuirks quirks;
    std::vector<SimKsAccept> accepted; // the driver's own list; empty: ranges and quirks decide
    std::vector<DWORD> acceptedRates;
    DWORD createPinError;
    DWORD openError;
    WriteFault writeFault;
    StateFault stateFault;
    int hold; // SIMKS_HOLD_*
    bool removed;
    DWORD rangeLayout;     // SIMKS_RANGES_*: how its data ranges are laid out
    ULONG heldElsewhere;   // pin instances another program holds (every pin)
    bool wavert;           // a WaveRT render device (pin 0 streams over a cyclic buffer)
    SimKsWaveRtOptions rt; // its options
};

// A notification event registered on a WaveRT pin.
struct RtEvent {
    HANDLE client; // the value the client registered, matched at unregistration
    HANDLE own;    // the bed's duplicate, signalled and closed by the bed; owned
};

// The cyclic buffer, the DMA engine and the careful-client record of a WaveRT stream.
struct WaveRt {
    bool active;                 // the stream is a WaveRT stream
    bool hasBuffer;              // a buffer request was answered
    unsigned char* buffer;       // VirtualAlloc'ed; owned; NULL until answered and after close
    ULONG size;                  // as answered
    ULONG requested;             // as asked
    ULONG notifications;         // 0, 1 or 2
    std::vector<RtEvent> events; // registered now
    void* reg;                   // page holding the position register; owned; NULL if none
    ULONG regWidth;              // 32 or 64
    bool regMapped;              // a register was handed out
    ULONGLONG played;            // bytes read since the last STOP
    std::vector<unsigned char> shadow; // what was played at each offset the pass before
    ULONGLONG seed;                    // of the pattern that marks bytes read
    bool wordMarked;                   // the word being read was not rewritten
    bool staleOpen;                    // the last stale record belongs to the current half-pass
    bool ranOnce;                      // RUN was reached since the buffer was answered
    ULONG halves;                      // halves read to their end
    ULONG signalled;                   // notifications given
    ULONG due;                         // notifications the halves read called for
    ULONGLONG lateAt;                  // a late notification is given when played reaches it
    bool latePending;                  // one is
    ULONG positionRequests;            // KSPROPERTY_AUDIO_POSITION answers
    // Packet mode (SIMKS_RT_PACKET_MODE), from the last STOP: the last packet the client said it
    // wrote (-1: none), and where the audio ends when it marked one the last.
    LONGLONG lastPacket;
    bool eos;
    ULONGLONG eosAt;        // played bytes at the end of the last packet's audio
    ULONG packetsWritten;   // SETWRITEPACKET answers accepted, in total
    ULONG packetsLate;      // refused as behind, in total
    ULONG packetsOverrun;   // refused as ahead, in total
    LONGLONG anchorUs;      // real-time clock: when the engine last (re)started
    ULONGLONG anchorPlayed; // real-time clock: played at anchorUs
    std::vector<SimKsStale> stale;
    std::vector<SimKsViolation> violations;
};

struct Packet {
    KsStreamHeader* header; // the caller's header, untouched until completion
    OVERLAPPED* overlapped;
    ULONG headerBytes;
    SimKsPacketInfo info;
};

struct Stream {
    int device;
    ULONG pinId;
    SimKsStreamInfo info;
    std::vector<Packet> packets;
    std::deque<size_t> queue; // indices into packets, oldest first
    bool toMemory;
    std::vector<unsigned char> consumed;
    HANDLE wavFile; // INVALID_HANDLE_VALUE when not capturing to a file; owned
    ULONG wavDataBytes;
    std::vector<SimKsStateChange> states;
    std::vector<SimKsStarvation> starvation;
    LONGLONG headStartUs;  // real-time clock: when the head packet last started or resumed
    LONGLONG headPlayedUs; // real-time clock: head playing time before the last pause
    WaveRt rt;
    bool asleep;    // SimKs_SleepDevice: the pin takes nothing more
    ULONG headPart; // bytes of the head packet played ahead of its completion (SimKs_PlayPart)
    bool resetting; // between KSRESET_BEGIN and KSRESET_END: writes refused
    ULONGLONG positionZero; // played bytes where the position's PlayOffset reads 0
};

// A request answered later by the bed's thread.
struct Deferred {
    LONGLONG dueUs;
    OVERLAPPED* overlapped;
    void* output;
    std::vector<unsigned char> data; // copied to output at completion
    LONG status;
    ULONG information;
    int stream; // with packet: the failed write to record; -1 otherwise
    size_t packet;
};

enum class Kind { Filter, Pin, DevInfo, Key };

// One simulated handle. Its value is a real event handle owned by the bed, so it can never
// collide with a handle that the process owns.
struct Handle {
    HANDLE value; // owned; closed when the simulated handle is closed
    Kind kind;
    int index; // device (Filter, Key), stream (Pin) or set (DevInfo)
};

struct DevInfoSet {
    GUID cls;
    std::vector<int> devices;
};

struct State {
    CRITICAL_SECTION cs;
    CONDITION_VARIABLE changed; // signalled whenever a queue changes
    std::deque<Device> devices; // a deque: device paths handed out stay in place
    std::deque<Stream> streams;
    std::vector<Handle> handles;
    std::vector<DevInfoSet> sets;
    std::vector<Deferred> deferred;
    std::vector<SimKsMessageBox> boxes;
    std::vector<std::string> debugLines;
    std::vector<SimKsLevelSet> levelSets;
    LONG requests[SIMKS_REQ_KINDS];
    int clock;
    double factor;
    bool captureMemory;
    std::string capturePath;
    int ksuser;
    bool hasProcessPath;
    std::string processPath;
    HANDLE wake;   // auto-reset; set to make the bed's thread look at its work again
    HANDLE thread; // the bed's thread; created on first need, runs until the process ends
};

// The one state object; its lock and condition are ready before any other use.
State& Bed();

// RAII holder of Bed().cs.
class Lock {
  public:
    Lock() { EnterCriticalSection(&Bed().cs); }
    ~Lock() { LeaveCriticalSection(&Bed().cs); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

LONGLONG NowUs();
Device* FindDevice(int index);
Stream* FindStream(int index);

// Copies list[index] to *out; FALSE for a bad index or no out.
template <typename T> BOOL CopyItem(const std::vector<T>& list, int index, T* out) {
    if (!out || index < 0 || index >= (int)list.size())
        return FALSE;
    *out = list[index];
    return TRUE;
}

// Adds a bridge pin (the filter's connection to a jack; not a streaming pin) to a device.
void AddBridgePin(int device, ULONG dataFlow, const GUID& category);

// Applies change to the device under the bed's lock; FALSE when there is no such device.
template <typename Change> BOOL ChangeDevice(int index, Change change) {
    Lock lock;
    Device* d = FindDevice(index);
    if (!d)
        return FALSE;
    change(*d);
    return TRUE;
}
void Count(int kind);

// Simulated handles.
HANDLE NewHandle(Kind kind, int index); // NULL when no event could be created
Handle* FindHandle(HANDLE value);
void DropHandle(HANDLE value);

// The event of an OVERLAPPED, with the completion-port marker bit cleared.
HANDLE EventOf(const OVERLAPPED* overlapped);
// Stores status and information in the OVERLAPPED, then sets its event.
void Signal(OVERLAPPED* overlapped, LONG status, ULONG information);

// Makes sure the bed's thread runs, and wakes it.
void WakeWorker();

} // namespace simks
