/*
 * simks.h: the C API of simks.dll, the simulated KS audio platform that tests, qhost --sim and
 * the benchmarks put behind the product's Win32 calls (see redirect.h for how they get there).
 *
 * Overview of operation
 *   - Devices: SimKs_AddDevice creates a device interface (device path, categories with their
 *     alias Flags, an optional "FriendlyName" registry value) with an empty KS filter; SimKs_AddPin
 *     adds pin factories (pin ids 0, 1, 2 ... in call order) described by a SimKsPinDesc, and
 *     SimKs_AddNode adds topology nodes. SimKs_AddDefaultDevices builds the standard set.
 *   - Requests are answered as a KS audio driver answers them: KS properties of KSPROPSETID_Pin
 *     and KSPROPSETID_Topology on a filter handle, KSPROPSETID_Connection STATE on a pin handle,
 *     size probes (output size 0: ERROR_MORE_DATA and the size), KsCreatePin checks, stream
 *     writes. Every simulated handle must be given an OVERLAPPED, as a KS handle opened with
 *     FILE_FLAG_OVERLAPPED requires.
 *   - Streams: every successful KsCreatePin opens a stream, numbered 0, 1, 2 ... in creation
 *     order. A stream's record stays readable after its handle is closed, until SimKs_Reset.
 *   - Clock: one render clock mode for all streams (SimKs_SetClock), applied at once.
 *       SIMKS_CLOCK_MANUAL   the test completes packets with SimKs_CompletePackets;
 *       SIMKS_CLOCK_REALTIME a thread of the bed consumes nAvgBytesPerSec x factor of the
 *                            connected format; packets complete when their bytes have played;
 *       SIMKS_CLOCK_UNPACED  a packet completes inside the DeviceIoControl that submits it.
 *     Only a stream in KSSTATE_RUN consumes. PAUSE (and ACQUIRE) hold the clock; STOP and
 *     CloseHandle complete every queued packet with STATUS_CANCELLED, unconsumed.
 *   - Observation: consumed bytes in order, packets, state changes, starvation, message boxes,
 *     debugger lines and request counts. Times are microseconds of SimKs_Now().
 *   - Faults: property faults, format quirks, pin creation, ksuser.dll, stream writes, state
 *     requests, held packets, device removal, failed allocations (the last one only works
 *     through the redirection).
 *   - WaveRT devices (SimKs_AddWaveRtDevice; the default set has one): render pins that take no
 *     stream writes; a DMA engine reads the client's cyclic buffer. See the WaveRT section.
 *
 * Threading: every function may be called from any thread; the bed serialises itself with one
 * lock of its own, which it never holds while calling into the product. SimKs_Reset must not run
 * while another thread of the test is inside a simulated call.
 *
 * Completion details: a completed write sets OVERLAPPED.Internal to its NTSTATUS (0 when
 * consumed), InternalHigh to the size of the stream header buffer (as KS reports a write) and
 * then sets the event. A request answered later (ERROR_IO_PENDING) sets the event of
 * OVERLAPPED.hEvent with its low bit cleared. A synchronous success sets the event too, as the
 * I/O manager does.
 */
#pragma once

#include <windows.h>
#include <mmreg.h>

#ifdef SIMKS_BUILD
#define SIMKS_API __declspec(dllexport)
#else
#define SIMKS_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- platform lifetime ------------------------------------------------------------------- */

/* Removes every device, stream and fault, clears every observation, sets the manual clock and
 * memory capture, cancels queued packets (their events are set) and invalidates every simulated
 * handle: a handle still held afterwards is a plain event handle that CloseHandle closes.
 * Installed redirections stay installed. */
SIMKS_API void SimKs_Reset(void);

/* Microseconds since the bed was loaded (QueryPerformanceCounter). */
SIMKS_API LONGLONG SimKs_Now(void);

/* ---- devices ------------------------------------------------------------------------------- */

/* Adds a device interface with the given path (compared case-insensitively by CreateFileA) and
 * friendly name (NULL: the registry key exists but has no "FriendlyName" value). It starts with
 * no category and no pin. Returns the device index (0, 1, 2 ...) or -1 when path is NULL, empty,
 * 260 bytes or longer, or already used. */
SIMKS_API int SimKs_AddDevice(const char* path, const char* friendlyName);

/* Puts the device's interface in a category. The first category added is the interface's own
 * class; later ones are its aliases. flags is what SetupAPI reports: SPINT_ACTIVE, SPINT_DEFAULT,
 * SPINT_REMOVED or 0. Adding a category again replaces its flags. Returns FALSE for a bad
 * device. */
SIMKS_API BOOL SimKs_AddCategory(int device, const GUID* category, DWORD flags);

/* Registry quirks of a device (flags may be combined). */
#define SIMKS_REG_NO_KEY 0x1       /* SetupDiOpenDeviceInterfaceRegKey fails */
#define SIMKS_REG_UNTERMINATED 0x2 /* "FriendlyName" stored without its terminating zero */
SIMKS_API BOOL SimKs_SetRegistryQuirks(int device, DWORD flags);

/* One identifier of a pin's interface or medium list (the layout of KSIDENTIFIER). */
typedef struct SimKsIdent {
    GUID Set;
    ULONG Id;
    ULONG Flags;
} SimKsIdent;

/* One audio data range: answered as a KSDATARANGE_AUDIO (FormatSize 88, Flags 0, SampleSize 0,
 * unless SimKs_SetRangeLayout says otherwise). */
typedef struct SimKsRange {
    GUID MajorFormat; /* KSDATAFORMAT_TYPE_AUDIO, or GUID_NULL as wildcard */
    GUID SubFormat;   /* KSDATAFORMAT_SUBTYPE_PCM, a wave-format-tag GUID, or GUID_NULL */
    GUID Specifier;   /* KSDATAFORMAT_SPECIFIER_WAVEFORMATEX, or GUID_NULL */
    ULONG MaximumChannels;
    ULONG MinimumBitsPerSample;
    ULONG MaximumBitsPerSample;
    ULONG MinimumSampleFrequency;
    ULONG MaximumSampleFrequency;
} SimKsRange;

#define SIMKS_MAX_IDENTS 4
#define SIMKS_MAX_RANGES 8
#define SIMKS_MAX_PIN_NAME 64

/* Everything a pin factory answers. */
typedef struct SimKsPinDesc {
    ULONG DataFlow;      /* KSPIN_DATAFLOW_IN (render) or KSPIN_DATAFLOW_OUT */
    ULONG Communication; /* KSPIN_COMMUNICATION_NONE .. _BRIDGE, or any other value */
    ULONG cInterfaces;
    SimKsIdent Interfaces[SIMKS_MAX_IDENTS];
    ULONG cMediums;
    SimKsIdent Mediums[SIMKS_MAX_IDENTS];
    ULONG cRanges;
    SimKsRange Ranges[SIMKS_MAX_RANGES];
    ULONG PossibleInstances;        /* KSPROPERTY_PIN_CINSTANCES.PossibleCount */
    ULONG GlobalPossibleInstances;  /* KSPROPERTY_PIN_GLOBALCINSTANCES.PossibleCount */
    GUID Category;                  /* KSPROPERTY_PIN_CATEGORY */
    WCHAR Name[SIMKS_MAX_PIN_NAME]; /* KSPROPERTY_PIN_NAME; an empty name fails with ERROR_NOT_FOUND
                                     */
} SimKsPinDesc;

/* Fills desc as a render sink pin (data flow IN, communication SINK, standard streaming
 * interface and any-instance medium, one instance, category KSCATEGORY_AUDIO, name "Playback")
 * with one PCM range for up to maxChannels channels, minBits..maxBits, minRate..maxRate Hz. */
SIMKS_API void SimKs_InitRenderPin(SimKsPinDesc* desc, ULONG maxChannels, ULONG minBits,
                                   ULONG maxBits, ULONG minRate, ULONG maxRate);

/* Adds a pin factory to the device's filter; returns its pin id, or -1 for a bad device or a
 * descriptor whose counts exceed the arrays. */
SIMKS_API int SimKs_AddPin(int device, const SimKsPinDesc* desc);

/* Adds a topology node of the given type; returns its node index or -1. */
SIMKS_API int SimKs_AddNode(int device, const GUID* type);

/* Device path of a device (valid until SimKs_Reset), or NULL. */
SIMKS_API const char* SimKs_DevicePath(int device);

/* The default set, devices 0 to 3 in this order:
 *   0  "Speakers (High Definition Audio Device)": render, 1-8 channels, 8-32 bit containers,
 *      8000-192000 Hz, extensible or plain; three topology nodes.
 *   1  "AC'97 Audio Device": an older render device that refuses
 *      WAVE_FORMAT_EXTENSIBLE at pin creation; 1-2 channels, 8-16 bits, 8000-48000 Hz.
 *   2  "Microphone (USB Audio Device)": capture only (audio and capture categories, no render
 *      alias): enumeration of render devices must skip it.
 *   3  "Speakers (Realtek(R) Audio)": a WaveRT render device with all options zero (see the
 *      WaveRT section), listed after the others so that "the first render device" stays 0.
 * Each filter also has a bridge pin. Returns the number of devices added (4). */
#define SIMKS_DEFAULT_VERSATILE 0
#define SIMKS_DEFAULT_LEGACY 1
#define SIMKS_DEFAULT_CAPTURE 2
#define SIMKS_DEFAULT_WAVERT 3
#define SIMKS_DEFAULT_COUNT 4
SIMKS_API int SimKs_AddDefaultDevices(void);

/* ---- render clock ------------------------------------------------------------------------ */

#define SIMKS_CLOCK_MANUAL 0
#define SIMKS_CLOCK_REALTIME 1
#define SIMKS_CLOCK_UNPACED 2

/* Chooses the clock; factor scales the real-time rate (1.0 = real time) and is ignored by the
 * other modes. Returns FALSE for an unknown mode or a factor that is not positive. */
SIMKS_API BOOL SimKs_SetClock(int mode, double factor);

/* The system timer of the redirected modules: with the coarse timer on (off after SimKs_Reset),
 * their timed waits (WaitForMultipleObjects, WaitForSingleObject, Sleep) end on 15.625 ms ticks
 * unless they asked for a 1 ms period with timeBeginPeriod and have not ended it; the periods
 * counts those 1 ms periods now asked. */
SIMKS_API void SimKs_SetCoarseTimer(BOOL on);
SIMKS_API LONG SimKs_TimerPeriods(void);
/* With refuse, timeBeginPeriod of 1 ms or less answers TIMERR_NOCANDO in the redirected modules
 * (off after SimKs_Reset): a process whose timer request fails, for the benchmarks. */
SIMKS_API void SimKs_RefuseTimerPeriod(BOOL refuse);

/* Moves the millisecond clock of the redirected modules (GetTickCount) forward by ms; their timed
 * waits end by that clock. It never goes back, SimKs_Reset included. */
SIMKS_API void SimKs_AdvanceTicks(DWORD ms);

/* Manual clock: plays up to bytes more of the head packet of the stream without completing it,
 * if the stream is in KSSTATE_RUN: they count as consumed, and its position includes them.
 * Returns the bytes played. */
SIMKS_API ULONG SimKs_PlayPart(int stream, ULONG bytes);

/* The bytes the stream's device has played: on a standard pin, what KSPROPERTY_AUDIO_POSITION's
 * PlayOffset answers before any reset took it back to 0 (the consumed bytes, and the part of the
 * head packet played: by SimKs_PlayPart, or by the real-time clock since the packet began);
 * on a WaveRT pin, the bytes its DMA engine has read since the last STOP. 0 for no stream. A reset
 * (IOCTL_KS_RESET_STATE with KSRESET_BEGIN) completes the queued packets as cancelled, consumes
 * nothing of them, and refuses writes until KSRESET_END. */
SIMKS_API ULONGLONG SimKs_PlayedBytes(int stream);

/* Manual clock: consumes and completes up to count queued packets of the stream, oldest first,
 * if the stream is in KSSTATE_RUN. Returns the number completed. */
SIMKS_API int SimKs_CompletePackets(int stream, int count);

/* Waits until the stream has at least count packets queued (not yet completed). Returns FALSE
 * when timeoutMs passes first or the stream does not exist. */
SIMKS_API BOOL SimKs_WaitQueued(int stream, ULONG count, DWORD timeoutMs);

/* ---- observation ------------------------------------------------------------------------- */

/* Number of streams opened since SimKs_Reset; the newest one is this minus 1. */
SIMKS_API int SimKs_StreamCount(void);

typedef struct SimKsStreamInfo {
    int Device;
    ULONG PinId;
    BOOL Open;                   /* FALSE once its handle is closed */
    ULONG State;                 /* current KSSTATE */
    ULONG InterfaceId;           /* Interface.Id of the connect request */
    ULONG FormatSize;            /* DataFormat.FormatSize of the connect request */
    ULONG SampleSize;            /* DataFormat.SampleSize of the connect request */
    WAVEFORMATEXTENSIBLE Format; /* the wave format as connected; plain form: cbSize 0, rest 0 */
    ULONG Queued;                /* packets submitted and not completed */
    ULONG Submitted;             /* packets accepted since the stream opened */
    ULONGLONG ConsumedBytes;     /* bytes consumed by the clock, in total */
} SimKsStreamInfo;
SIMKS_API BOOL SimKs_GetStream(int stream, SimKsStreamInfo* info);

/* Capture of consumed bytes for streams opened afterwards: toMemory keeps them for
 * SimKs_CopyConsumed (on by default); wavPath (NULL: none) writes them to a WAV file, with "%d"
 * in the path replaced by the stream number. */
SIMKS_API BOOL SimKs_SetCapture(BOOL toMemory, const char* wavPath);

/* Copies consumed bytes from offset; returns the number copied (0 past the end or when the
 * stream keeps no memory capture). */
SIMKS_API ULONG SimKs_CopyConsumed(int stream, ULONGLONG offset, void* buffer, ULONG size);

#define SIMKS_PACKET_CONSUMED 0  /* played by the clock */
#define SIMKS_PACKET_CANCELLED 1 /* completed unplayed by STOP, close, removal or reset */
#define SIMKS_PACKET_FAILED 2    /* failed by an injected write fault after pending */
#define SIMKS_PACKET_QUEUED 3    /* not yet completed */
typedef struct SimKsPacketInfo {
    ULONG FrameExtent;
    ULONG DataUsed;
    ULONG OptionsFlags;
    ULONG Outcome; /* SIMKS_PACKET_* */
    LONG Status;   /* NTSTATUS stored in OVERLAPPED.Internal */
    LONGLONG SubmitUs;
    LONGLONG CompleteUs;    /* 0 while queued */
    ULONGLONG StreamOffset; /* offset of its first byte in the consumed bytes, if consumed */
} SimKsPacketInfo;
/* Packets accepted by the stream, in submission order. */
SIMKS_API int SimKs_PacketCount(int stream);
SIMKS_API BOOL SimKs_GetPacket(int stream, int index, SimKsPacketInfo* info);

/* State changes accepted by the stream's pin, in order (the initial STOP is not one). */
typedef struct SimKsStateChange {
    ULONG State;
    LONGLONG TimeUs;
} SimKsStateChange;
SIMKS_API int SimKs_StateChangeCount(int stream);
SIMKS_API BOOL SimKs_GetStateChange(int stream, int index, SimKsStateChange* change);

/* Starvation: intervals in which the stream was in RUN with nothing queued, after its first
 * packet. Measured by the manual and real-time clocks only (the unpaced clock is starved by
 * design). EndUs is 0 while the interval lasts. */
typedef struct SimKsStarvation {
    LONGLONG StartUs;
    LONGLONG EndUs;
} SimKsStarvation;
SIMKS_API int SimKs_StarvationCount(int stream);
SIMKS_API BOOL SimKs_GetStarvation(int stream, int index, SimKsStarvation* interval);

/* Message boxes asked for through MessageBoxA, in order; each was answered IDOK, none shown. */
typedef struct SimKsMessageBox {
    HWND Owner;
    UINT Type;
    char Text[512]; /* cut to fit */
    char Caption[128];
} SimKsMessageBox;
SIMKS_API int SimKs_MessageBoxCount(void);
SIMKS_API BOOL SimKs_GetMessageBox(int index, SimKsMessageBox* box);

/* OutputDebugStringA lines, in order; they are recorded, not passed on. */
SIMKS_API int SimKs_DebugLineCount(void);
/* Copies line index into buffer (cut to size, always terminated); FALSE for a bad index. */
SIMKS_API BOOL SimKs_GetDebugLine(int index, char* buffer, ULONG size);
/* Index of the first line at or after index that contains text, or -1. */
SIMKS_API int SimKs_FindDebugLine(const char* text, int index);
SIMKS_API void SimKs_ClearDebugLines(void);

/* Requests counted by kind since SimKs_Reset. */
#define SIMKS_REQ_CLASS_DEVS 0   /* simulated SetupDiGetClassDevsA */
#define SIMKS_REQ_OPEN 1         /* CreateFileA of a simulated device path */
#define SIMKS_REQ_PROPERTY 2     /* IOCTL_KS_PROPERTY on a simulated handle, probes included */
#define SIMKS_REQ_SIZE_PROBE 3   /* property requests with output size 0 */
#define SIMKS_REQ_SET_STATE 4    /* KSPROPERTY_CONNECTION_STATE sets */
#define SIMKS_REQ_CREATE_PIN 5   /* calls of the simulated KsCreatePin */
#define SIMKS_REQ_WRITE 6        /* IOCTL_KS_WRITE_STREAM */
#define SIMKS_REQ_CLOSE 7        /* CloseHandle of a simulated handle */
#define SIMKS_REQ_REG_QUERY 8    /* RegQueryValueExA on a simulated key */
#define SIMKS_REQ_LOAD_KSUSER 9  /* LoadLibraryA("ksuser.dll") */
#define SIMKS_REQ_MESSAGE_BOX 10 /* MessageBoxA */
#define SIMKS_REQ_CANCEL 11      /* CancelIoEx on a simulated handle */
#define SIMKS_REQ_RESET 12       /* IOCTL_KS_RESET_STATE on a simulated pin, refused ones too */
#define SIMKS_REQ_KINDS 13
SIMKS_API LONG SimKs_RequestCount(int kind);

/* ---- faults ------------------------------------------------------------------------------ */

/* Property faults. A request on the device (filter or pin handle) that matches pin (-1: any;
 * requests without a pin id match only -1), set (NULL: any) and id (SIMKS_ANY_ID: any) gets the
 * fault of the first matching entry, in the order added:
 *   SIMKS_PROP_FAIL          fails at once with the Win32 error param;
 *   SIMKS_PROP_LATE          answered correctly, but pending, param milliseconds later (0: as
 *                            soon as the bed's thread runs);
 *   SIMKS_PROP_SHORT         a multi-item answer of param bytes, fewer than a KSMULTIPLE_ITEM;
 *   SIMKS_PROP_COUNT_PAST    a KSMULTIPLE_ITEM whose Count is param items more than the block;
 *   SIMKS_PROP_RANGE_SMALL   the first data range has FormatSize param (< 88);
 *   SIMKS_PROP_RANGE_PAST    the last data range's FormatSize runs param bytes past the block.
 * The malformed answers are also what the size probe reports. */
#define SIMKS_ANY_ID 0xFFFFFFFFu
#define SIMKS_PROP_FAIL 1
#define SIMKS_PROP_LATE 2
#define SIMKS_PROP_SHORT 3
#define SIMKS_PROP_COUNT_PAST 4
#define SIMKS_PROP_RANGE_SMALL 5
#define SIMKS_PROP_RANGE_PAST 6
SIMKS_API BOOL SimKs_AddPropertyFault(int device, int pin, const GUID* set, ULONG id, int fault,
                                      ULONG param);
SIMKS_API void SimKs_ClearPropertyFaults(int device);

/* Format quirks checked by KsCreatePin after the data ranges. */
#define SIMKS_QUIRK_NO_EXTENSIBLE 0x1 /* WAVE_FORMAT_EXTENSIBLE refused, plain form taken */
#define SIMKS_QUIRK_NO_PLAIN 0x2      /* only WAVE_FORMAT_EXTENSIBLE taken */
/* The stream's quirks, of the pins created afterwards and at once of open ones: */
#define SIMKS_QUIRK_RESET_KEEPS_POSITION 0x4 /* a reset leaves the position where it was (else 0)  \
                                              */
#define SIMKS_QUIRK_NO_RESET 0x8 /* IOCTL_KS_RESET_STATE refused (ERROR_INVALID_FUNCTION) */
typedef struct SimKsQuirks {
    DWORD Flags;   /* SIMKS_QUIRK_* */
    ULONG cWidths; /* 0: any container width the ranges allow */
    WORD Widths[8];
    ULONG cRates; /* 0: any rate the ranges allow */
    DWORD Rates[16];
} SimKsQuirks;
SIMKS_API BOOL SimKs_SetQuirks(int device, const SimKsQuirks* quirks);

/* A driver's own list, as real drivers keep one: with a list set, KsCreatePin takes exactly the
 * formats on it at the rates given, whatever the ranges say (the ranges are then only what the
 * driver publishes), and answers ERROR_NO_MATCH to anything else. */
#define SIMKS_ACCEPT_EXTENSIBLE 0x1 /* the extensible spelling is taken */
#define SIMKS_ACCEPT_PLAIN 0x2      /* the plain spelling is taken (full containers only) */
typedef struct SimKsAccept {
    DWORD Spellings; /* SIMKS_ACCEPT_* */
    WORD Channels;
    WORD Container;    /* wBitsPerSample */
    WORD Valid;        /* valid bits of the extensible spelling */
    DWORD ChannelMask; /* of the extensible spelling */
} SimKsAccept;
#define SIMKS_MAX_ACCEPT 8
SIMKS_API BOOL SimKs_SetAccepted(int device, const SimKsAccept* formats, ULONG cFormats,
                                 const DWORD* rates, ULONG cRates);
/* Replaces the data ranges of a pin (count up to SIMKS_MAX_RANGES). */
SIMKS_API BOOL SimKs_SetRanges(int device, int pin, const SimKsRange* ranges, ULONG count);

/* How the device lays out its data ranges (flags may be combined; 0 after SimKs_AddDevice). Every
 * item of the answer starts on an 8-byte boundary, as the platform defines it.
 *   SIMKS_RANGES_ATTRIBUTES  each range has KSDATARANGE_ATTRIBUTES in its Flags and is followed by
 *                            an attribute list (a KSMULTIPLE_ITEM of one KSATTRIBUTE naming the
 *                            default signal-processing mode, 48 bytes), as Windows 10 drivers add;
 *   SIMKS_RANGES_TIGHT       each range's FormatSize is 84, its fields without the record's tail
 *                            padding: 4 bytes of padding follow it.
 * The fault SIMKS_PROP_RANGE_PAST expects neither. FALSE for a bad device or unknown flags. */
#define SIMKS_RANGES_ATTRIBUTES 0x1
#define SIMKS_RANGES_TIGHT 0x2
SIMKS_API BOOL SimKs_SetRangeLayout(int device, DWORD flags);

/* The zoo: device classes as their drivers publish ranges and accept formats.
 *   0  HDA codec (WaveRT): stereo; 16 and 24-in-32 bit; 44.1 to 192 kHz, one range per rate
 *   1  HDA six-channel line-out (WaveRT): as 0 with 6 channels only
 *   2  USB Audio 1.0 DAC (packets): stereo; 16 bit, and 24 bit packed as extensible only;
 *      44.1 and 48 kHz
 *   3  USB Audio 2.0 DAC (WaveRT): stereo, 32-bit containers only, 24 or 32 valid bits; 44.1 to
 *      384 kHz, one range per rate
 *   4  Onboard codec (packets): 48 kHz 16-bit stereo only
 *   5  Extensible-only device (packets): 1 to 8 channels, 16, 24-in-32 and 32 bit, extensible
 *      only; 44.1, 48 and 96 kHz in one wide range
 *   6  Plain-only device (packets): 1 or 2 channels of 8 or 16 bits, plain PCM only; 8 to
 *      48 kHz in one wide range
 * The HDA classes (0, 1) publish each range with an attribute list, the USB Audio 1.0 DAC (2)
 * without the records' tail padding, the USB Audio 2.0 DAC (3) both (SimKs_SetRangeLayout).
 * SimKs_AddZooDevice adds one (its index, or -1); SimKs_ZooName gives a class's name (NULL past
 * the last). */
#define SIMKS_ZOO_COUNT 7
SIMKS_API int SimKs_AddZooDevice(int zooClass);
SIMKS_API const char* SimKs_ZooName(int zooClass);

/* KsCreatePin on the device returns error (0: checks as usual). */
SIMKS_API BOOL SimKs_SetCreatePinError(int device, DWORD error);

/* Another program holds instances of every pin of the device: the instance counts include them,
 * and KsCreatePin past the limit fails with ERROR_BUSY (0: none). */
SIMKS_API BOOL SimKs_SetHeldElsewhere(int device, ULONG instances);

/* CreateFileA of the device path fails with error (0: opens as usual). */
SIMKS_API BOOL SimKs_SetOpenError(int device, DWORD error);

/* "ksuser.dll": */
#define SIMKS_KSUSER_OK 0
#define SIMKS_KSUSER_NO_LIBRARY 1 /* LoadLibraryA fails, ERROR_MOD_NOT_FOUND */
#define SIMKS_KSUSER_NO_EXPORT 2  /* GetProcAddress("KsCreatePin") fails, ERROR_PROC_NOT_FOUND */
SIMKS_API void SimKs_SetKsUser(int mode);

/* Stream write faults on the device's pins: writes number first, first + 1, ... first + count - 1
 * (counted from 1 since this call; count 0: every write from first on) fail:
 *   SIMKS_WRITE_IMMEDIATE  DeviceIoControl fails at once with the Win32 error code;
 *   SIMKS_WRITE_PENDING    answered ERROR_IO_PENDING, then completed (out of order, by the
 *                          bed's thread) with the NTSTATUS code in OVERLAPPED.Internal.
 * SIMKS_WRITE_OK clears the fault. */
#define SIMKS_WRITE_OK 0
#define SIMKS_WRITE_IMMEDIATE 1
#define SIMKS_WRITE_PENDING 2
SIMKS_API BOOL SimKs_SetWriteFault(int device, int mode, ULONG first, ULONG count, DWORD code);

/* State request faults on the device's pins: the requests that set state (SIMKS_ANY_STATE: any
 * state), numbered first, first + 1, ... first + count - 1 (counted from 1 since this call;
 * count 0: every one from first on), are
 *   SIMKS_STATE_FAIL    failed at once with the Win32 error code;
 *   SIMKS_STATE_IGNORE  answered with success while the pin stays in its state (a driver that
 *                       drops the request).
 * SIMKS_STATE_OK clears the fault. */
#define SIMKS_ANY_STATE 0xFFFFFFFFu
#define SIMKS_STATE_OK 0
#define SIMKS_STATE_FAIL 1
#define SIMKS_STATE_IGNORE 2
SIMKS_API BOOL SimKs_SetStateFault(int device, ULONG state, int mode, ULONG first, ULONG count,
                                   DWORD code);

/* A device that stops giving packets back, whatever the clock:
 *   SIMKS_HOLD_CLOCK  its pins consume nothing, even in KSSTATE_RUN; KSSTATE_STOP and closing a
 *                     pin still give back what is queued (cancelled);
 *   SIMKS_HOLD_ALL    as SIMKS_HOLD_CLOCK, and neither KSSTATE_STOP nor closing gives anything
 *                     back: the packets stay with the device until SimKs_Reset, or until
 *                     SIMKS_HOLD_NONE, which gives back (cancelled) what closed pins kept.
 * SIMKS_HOLD_NONE lets the device go on as the clock says. */
#define SIMKS_HOLD_NONE 0
#define SIMKS_HOLD_CLOCK 1
#define SIMKS_HOLD_ALL 2
SIMKS_API BOOL SimKs_SetHold(int device, int mode);

/* Surprise removal: the device leaves enumeration, opens fail with ERROR_FILE_NOT_FOUND,
 * queued packets complete with STATUS_DEVICE_REMOVED, and every later request on its handles
 * fails with ERROR_DEVICE_REMOVED (closing still works). A WaveRT stream's DMA engine stops: its
 * position freezes and its events no longer fire. */
SIMKS_API BOOL SimKs_RemoveDevice(int device);

/* Device notifications: redirected modules find "cfgmgr32.dll" with CM_Register_Notification and
 * CM_Unregister_Notification. SimKs_RemoveDevice notifies the removal of the device's interfaces,
 * SimKs_RestoreDevice takes a removed device back (same path, present again) and notifies its
 * arrival, SimKs_AnnounceDevice notifies the arrival of a device as it is (one added mid-stream).
 * The callbacks run on the calling thread before these return; an unregistration waits for a
 * callback in progress. SimKs_SetNotifications(FALSE) makes CM_Register_Notification missing
 * (clients must poll); it is not reset by SimKs_Reset. */
SIMKS_API BOOL SimKs_RestoreDevice(int device);
SIMKS_API BOOL SimKs_AnnounceDevice(int device);
SIMKS_API void SimKs_SetNotifications(BOOL available);

/* Sleep and wake in which the device's pins do not survive: every request queued on its open
 * pins completes failed (SIMKS_PACKET_FAILED, STATUS_DEVICE_POWERED_OFF), later stream writes on
 * them fail with ERROR_NOT_READY and their WaveRT DMA engines stand still; the device stays
 * present and new pins on it work. */
SIMKS_API BOOL SimKs_SleepDevice(int device);

/* Allocation failure in redirected modules. Arming starts counting the allocation calls
 * (malloc, calloc, realloc with a size) the modules make, from any thread; failAt > 0 makes the
 * failAt-th of them return NULL (that one only); failAt 0 only counts. */
SIMKS_API void SimKs_ArmAllocations(ULONG failAt);
/* Stops counting; returns the number of allocation calls counted while armed. */
SIMKS_API ULONG SimKs_DisarmAllocations(void);
SIMKS_API ULONG SimKs_AllocationCount(void);

/* GetModuleFileNameA of the process module (NULL or the executable's handle) in redirected
 * modules answers path instead (NULL: the real path again). */
SIMKS_API BOOL SimKs_SetProcessPath(const char* path);

/* ---- topology and the device's own volume ------------------------------------------------ */

/* A filter's topology as drivers publish it: KSPROPERTY_TOPOLOGY_CONNECTIONS lists the
 * connections added (KSTOPOLOGY_CONNECTION; node KSFILTER_NODE is a filter pin; nothing checks
 * them, so loops and ids outside the node list can be built), and a pin's
 * KSPROPERTY_PIN_PHYSICALCONNECTION answers {Size, Pin, SymbolicLinkName} with the link name as
 * given (the kernel's form starts with "\??\"); a pin without one answers ERROR_NOT_FOUND.
 * Volume and mute nodes answer KSPROPSETID_Audio with KSPROPERTY_TYPE_TOPOLOGY on the filter's
 * handle, descriptor KSNODEPROPERTY_AUDIO_CHANNEL (Channel 0 .. channels - 1):
 *   KSPROPERTY_AUDIO_VOLUMELEVEL  GET and SET a LONG in 1/65536 dB; a SET outside the range
 *                                 succeeds and applies the nearest step inside it (the range's
 *                                 minimum plus a whole number of steps, at most its maximum);
 *                                 BASICSUPPORT answers KSPROPERTY_DESCRIPTION,
 *                                 KSPROPERTY_MEMBERSHEADER (stepped ranges; flag
 *                                 BASICSUPPORT_MULTICHANNEL with one range per channel, else one
 *                                 for all) and the KSPROPERTY_STEPPING_LONG ranges, as given; a
 *                                 buffer too small for all of it but large enough for the
 *                                 description gets the description alone;
 *   KSPROPERTY_AUDIO_MUTE         GET and SET a BOOL.
 * Other nodes, properties and channels answer ERROR_NOT_FOUND or ERROR_INVALID_PARAMETER. Every
 * SET is recorded (SimKs_GetLevelSet). */
SIMKS_API BOOL SimKs_AddConnection(int device, ULONG fromNode, ULONG fromPin, ULONG toNode,
                                   ULONG toPin);
SIMKS_API BOOL SimKs_SetPhysicalConnection(int device, int pin, const char* linkName, ULONG toPin);

typedef struct SimKsLevelRange {
    LONG Minimum; /* 1/65536 dB */
    LONG Maximum;
    ULONG Step;
} SimKsLevelRange;
/* Gives node (a volume or mute node) its channels; a volume node's levels start at start, each
 * channel with range, a mute node's flags at FALSE. Replaces an earlier call's. */
SIMKS_API BOOL SimKs_SetNodeChannels(int device, int node, ULONG channels,
                                     const SimKsLevelRange* range, BOOL multichannel, LONG start);
/* A channel's level or mute flag now; setting it is what another program's change does (not
 * recorded). */
SIMKS_API BOOL SimKs_GetNodeValue(int device, int node, ULONG channel, LONG* value);
SIMKS_API BOOL SimKs_SetNodeValue(int device, int node, ULONG channel, LONG value);

typedef struct SimKsLevelSet {
    int Device;
    ULONG Node;
    ULONG Channel;
    ULONG Property; /* KSPROPERTY_AUDIO_VOLUMELEVEL or KSPROPERTY_AUDIO_MUTE */
    LONG Asked;
    LONG Applied;
} SimKsLevelSet;
SIMKS_API int SimKs_LevelSetCount(void);
SIMKS_API BOOL SimKs_GetLevelSet(int index, SimKsLevelSet* set);

/* A render device's topology as drivers lay it out. The render device's wave filter gets a DAC
 * node between its render pin (the first render sink pin) and its bridge pin (added when it has
 * none), whose physical connection leads to a new topology filter (KSCATEGORY_AUDIO and
 * KSCATEGORY_TOPOLOGY, not a render device) with a bridge pin in (0) and a line-out pin (1):
 *   SIMKS_TOPO_VOLUME_MUTE  topology filter: pin 0 -> volume -> mute -> pin 1
 *   SIMKS_TOPO_WAVE_VOLUME  wave filter: render pin -> volume -> DAC -> bridge; topology filter:
 *                           pin 0 -> pin 1
 *   SIMKS_TOPO_NONE         no volume node on either
 * Volume nodes: 2 channels, -96 dB to 0 dB in 0.5 dB steps (one range per channel), starting at
 * -10 dB. Returns FALSE for a bad device or layout. */
#define SIMKS_TOPO_VOLUME_MUTE 0
#define SIMKS_TOPO_WAVE_VOLUME 1
#define SIMKS_TOPO_NONE 2
typedef struct SimKsTopology {
    int TopologyDevice; /* the topology filter's device */
    int VolumeDevice;   /* the device whose filter holds the volume node; -1: none */
    int VolumeNode;     /* -1: none */
    int MuteNode;       /* on VolumeDevice; -1: none */
} SimKsTopology;
#define SIMKS_TOPO_START_LEVEL (-10 * 65536)
SIMKS_API BOOL SimKs_AddTopology(int renderDevice, int layout, SimKsTopology* topology);

/* ---- WaveRT devices ---------------------------------------------------------------------- */

/* A WaveRT render device answers as a WaveRT port driver does:
 *   - Its interface is in KSCATEGORY_AUDIO, KSCATEGORY_RENDER and KSCATEGORY_REALTIME (all
 *     SPINT_ACTIVE). Pin 0 is a render sink pin that offers KSINTERFACE_STANDARD_LOOPED_STREAMING
 *     only (a pin created with standard streaming is refused with ERROR_NO_MATCH), one instance,
 *     1-8 channels, 8-32 bit containers, 8000-192000 Hz, extensible or plain; pin 1 is a bridge.
 *     Stream writes on its pins fail with ERROR_INVALID_FUNCTION.
 *   - KSPROPSETID_RtAudio on the pin (GET only): BUFFER, BUFFER_WITH_NOTIFICATION (1 or 2 per
 *     pass), REGISTER_/UNREGISTER_NOTIFICATION_EVENT (no value), POSITIONREGISTER; and
 *     KSPROPSETID_Audio POSITION (PlayOffset and WriteOffset both the DMA position). The buffer
 *     has exactly the requested size unless the options say otherwise; the register is 32 bits.
 *   - The DMA engine runs only in KSSTATE_RUN. It reads the buffer from the play position on and
 *     records what it plays as the stream's consumed bytes (SimKs_CopyConsumed, the WAV capture).
 *     At each half of the buffer it passes it sets every registered event (with 1 notification
 *     per pass: at the end of the buffer only). The position register and the position property
 *     give the byte offset in the buffer; STOP puts it back to 0, PAUSE holds it.
 *       SIMKS_CLOCK_MANUAL    the engine moves only by SimKs_AdvanceWaveRt;
 *       SIMKS_CLOCK_REALTIME  nAvgBytesPerSec x factor, in whole frames, the register updated
 *                             every millisecond and at least 8 times per half;
 *       SIMKS_CLOCK_UNPACED   the engine stands still (nothing paces a cyclic buffer).
 *   - Stale replay: the engine marks every byte it has read by writing a pattern over it (a
 *     client writes its buffer and never reads it). It judges the buffer in 8-byte words counted
 *     from its start, each as it reaches it: a word that still carries the mark, or was never
 *     written, was not rewritten in time. Its bytes play what played there the pass before (zeros
 *     at first), are recorded as consumed, and the half they lie in is noted as a stale replay
 *     (SimKs_GetStale).
 *   - Careful clients only: the device refuses, and records as a violation (SimKs_GetViolation),
 *     a state change that skips a state, a buffer or event or register asked out of order or a
 *     second time, an unregistration outside STOP, an unknown event; it records without refusing
 *     a pin closed outside STOP or with an event still registered (not after removal), and a
 *     first RUN with bytes of the buffer never written. Refusals answer ERROR_BAD_COMMAND (as
 *     STATUS_INVALID_DEVICE_STATE reaches a client; ERROR_INVALID_PARAMETER for an unknown
 *     event).
 * The buffer and the register are the bed's memory: they are freed when the pin closes. */

/* Variants (flags of SimKsWaveRtOptions):
 *   NO_NOTIFICATION      BUFFER_WITH_NOTIFICATION and the event requests fail, ERROR_NOT_SUPPORTED
 *   NO_POSITION_REGISTER POSITIONREGISTER fails, ERROR_NOT_SUPPORTED
 *   MEMORY_BARRIER       the buffer answer sets CallMemoryBarrier
 *   IN_USE               another client holds the render pin: KSPROPERTY_PIN_CINSTANCES counts it
 *                        and KsCreatePin fails with ERROR_BUSY
 *   RUN_REFUSED          the step PAUSE -> RUN fails with ERROR_NOT_READY
 *   ZERO_BUFFER          buffer answers give 0 bytes (at a valid address)
 *   POSITION_OUTSIDE     the register and the property give offsets past the buffer
 *   ROUND_DOWN_FRAMES    sizes rounded down to whole frames; less than a frame refused with
 *                        ERROR_GEN_FAILURE (as the sample driver's STATUS_UNSUCCESSFUL)
 *   COUNT_DIVIDES        with notifications, a size the notification count does not divide is
 *                        refused with ERROR_INVALID_PARAMETER
 *   ROUND_UP_PAGES       sizes rounded up to whole 4096-byte pages
 *   LATENCY              KSPROPERTY_RTAUDIO_HWLATENCY answers the Latency record (else it fails
 *                        with ERROR_NOT_FOUND, as for a driver without it)
 *   PACKET_MODE          packet mode (else both properties fail with ERROR_NOT_FOUND), with a
 *                        buffer allocated with notifications only (else ERROR_NOT_SUPPORTED):
 *                        PACKETCOUNT (GET, a ULONG) answers the packets (size / notification
 *                        count bytes, numbered from 0 since the last STOP) completely read;
 *                        SETWRITEPACKET (SET, {PacketNumber, Flags, EosPacketLength}) takes only
 *                        the expected next packet: not one the hardware has read or reads now
 *                        (before the first RUN, packet 0 on), not beyond the one after the last
 *                        taken. Refusals answer ERROR_IO_DEVICE (counted as late or overrun in
 *                        SimKsWaveRtInfo). A packet flagged 0x200 (end of stream) ends the audio
 *                        EosPacketLength bytes into it: the engine plays silence after that
 *                        until the next STOP, and judges nothing there stale.
 *   CONSTRAINTS          the device's KSCATEGORY_AUDIO interface publishes the packet-size
 *                        constraints (SetupDiGetDeviceInterfacePropertyW of
 *                        DEVPKEY_KsAudio_PacketSize_Constraints2, binary): packets of at least
 *                        10 ms on 1024-byte boundaries (PacketSizeFileAlignment 0x3FF), no
 *                        largest size, one constraint for the default processing mode. Read at
 *                        enumeration, so it applies to filters listed afterwards.
 * FixedBufferSize applies last. Position jitter (JitterFrames): the register and the property
 * report the position that many frames ahead in even passes and behind in odd ones. Event jitter
 * (Events, SIMKS_RT_EVENTS_*): a notification a JitterFrames before (EARLY) or after (LATE) the end
 * of its half, given twice (DOUBLED), or the stream's second one not given (MISSED_ONCE). */
#define SIMKS_RT_NO_NOTIFICATION 0x01
#define SIMKS_RT_NO_POSITION_REGISTER 0x02
#define SIMKS_RT_MEMORY_BARRIER 0x04
#define SIMKS_RT_IN_USE 0x08
#define SIMKS_RT_RUN_REFUSED 0x10
#define SIMKS_RT_ZERO_BUFFER 0x20
#define SIMKS_RT_POSITION_OUTSIDE 0x40
#define SIMKS_RT_ROUND_DOWN_FRAMES 0x80
#define SIMKS_RT_COUNT_DIVIDES 0x100
#define SIMKS_RT_ROUND_UP_PAGES 0x200
#define SIMKS_RT_LATENCY 0x400
#define SIMKS_RT_PACKET_MODE 0x800
#define SIMKS_RT_CONSTRAINTS 0x1000

#define SIMKS_RT_EVENTS_EXACT 0
#define SIMKS_RT_EVENTS_EARLY 1
#define SIMKS_RT_EVENTS_LATE 2
#define SIMKS_RT_EVENTS_DOUBLED 3
#define SIMKS_RT_EVENTS_MISSED_ONCE 4

/* KSRTAUDIO_HWLATENCY as the LATENCY variant answers it. */
typedef struct SimKsRtLatency {
    ULONG FifoSize;     /* bytes */
    ULONG ChipsetDelay; /* 100 ns units */
    ULONG CodecDelay;   /* 100 ns units */
} SimKsRtLatency;

typedef struct SimKsWaveRtOptions {
    DWORD Flags;           /* SIMKS_RT_* */
    ULONG FixedBufferSize; /* non-zero: every buffer answer has this many bytes */
    ULONG RegisterWidth;   /* 32 or 64 (0: 32) */
    ULONG EventLimit;      /* non-zero: a stream's events stop firing after this many */
    ULONG JitterFrames;    /* position and event jitter, in frames */
    ULONG Events;          /* SIMKS_RT_EVENTS_* */
    SimKsRtLatency Latency;
} SimKsWaveRtOptions;

/* Adds a WaveRT render device (options NULL: all zero). path NULL gives a built-in device path
 * (a second device needs a path of its own), friendlyName NULL the name "Speakers (High
 * Definition Audio Device, WaveRT)". Returns the device index, or -1 as SimKs_AddDevice does or
 * for a RegisterWidth other than 0, 32 or 64. The default set holds one more, with a path and
 * name of its own (SIMKS_DEFAULT_WAVERT). */
SIMKS_API int SimKs_AddWaveRtDevice(const char* path, const char* friendlyName,
                                    const SimKsWaveRtOptions* options);
/* Replaces the options of a WaveRT device; they apply from the next request or DMA step on, also
 * to streams already open. FALSE for a device that is not WaveRT or bad options. */
SIMKS_API BOOL SimKs_SetWaveRtOptions(int device, const SimKsWaveRtOptions* options);

/* Manual clock: moves the DMA engine of a running WaveRT stream by frames (crossing half
 * boundaries signals as the real clock does). Returns the frames moved: 0 when the stream is not
 * WaveRT, not in RUN, has no buffer, its device is removed, or the clock is not manual. */
SIMKS_API ULONG SimKs_AdvanceWaveRt(int stream, ULONG frames);

typedef struct SimKsWaveRtInfo {
    void* BufferAddress;    /* as handed out; NULL before the buffer request and after close */
    ULONG RequestedSize;    /* of the buffer request */
    ULONG ActualSize;       /* as answered */
    ULONG Notifications;    /* 0 (no buffer or BUFFER), 1 or 2 */
    ULONG EventsRegistered; /* registered now */
    BOOL RegisterMapped;
    ULONG PlayOffset;       /* the DMA position in the buffer */
    ULONGLONG Pass;         /* passes completed since the last STOP */
    ULONG HalvesConsumed;   /* halves read to their end, in total */
    ULONG EventsSignalled;  /* notifications given, in total */
    ULONG PositionRequests; /* KSPROPERTY_AUDIO_POSITION answers */
    ULONG PacketsWritten;   /* packet mode: SETWRITEPACKET requests accepted */
    ULONG PacketsLate;      /* packet mode: refused as behind the hardware */
    ULONG PacketsOverrun;   /* packet mode: refused as ahead of the next packet */
    BOOL EndOfStream;       /* packet mode: a packet marked the end since the last STOP */
} SimKsWaveRtInfo;
SIMKS_API BOOL SimKs_GetWaveRt(int stream, SimKsWaveRtInfo* info);

/* TRUE when the client has rewritten the whole half that the play position is not in since the
 * engine last read it (or the engine never read it): the engine may move into it without a stale
 * replay. FALSE too for a stream that is not WaveRT or has no buffer. The wait polls every
 * millisecond; FALSE when timeoutMs passes first. */
SIMKS_API BOOL SimKs_WaveRtRewritten(int stream);
SIMKS_API BOOL SimKs_WaitWaveRtRewritten(int stream, DWORD timeoutMs);
/* TRUE when the client has rewritten, since the engine last read it, the half that the engine's
 * next byte starts, or else the half that the play position is not in: a step may go on without a
 * stale replay. Unlike SimKs_WaveRtRewritten it lets the position go past the start of a half
 * before the client must have rewritten the half left, as a client that waits for the position to
 * be some way past the end of a half needs. */
SIMKS_API BOOL SimKs_WaveRtNextReady(int stream);

/* Stale replays, one per half and pass in which any byte was replayed, in order. */
typedef struct SimKsStale {
    ULONG Half;             /* 0: the first half of the buffer, 1: the second */
    ULONGLONG Pass;         /* pass since the last STOP, from 0 */
    ULONGLONG StreamOffset; /* offset of its first replayed byte in the consumed bytes */
    ULONG Bytes;            /* bytes replayed in this half */
    LONGLONG TimeUs;
} SimKsStale;
SIMKS_API int SimKs_StaleCount(int stream);
SIMKS_API BOOL SimKs_GetStale(int stream, int index, SimKsStale* stale);

/* Kinds of violation:
 *   STATE_JUMP        a state change that skips a state
 *   OUT_OF_ORDER      an event before a buffer with notifications, a register or the position
 *                     before a buffer, leaving STOP without a buffer
 *   REPEATED          a second buffer or register mapping, the same event registered twice
 *   NOT_STOPPED       the buffer asked for, an event unregistered, or the pin closed outside STOP
 *   UNKNOWN_EVENT     an event unregistered that was never registered
 *   CLOSED_REGISTERED the pin closed with an event still registered
 *   RUN_UNFILLED      the first RUN with bytes of the buffer never written */
#define SIMKS_VIOLATION_STATE_JUMP 1
#define SIMKS_VIOLATION_OUT_OF_ORDER 2
#define SIMKS_VIOLATION_REPEATED 3
#define SIMKS_VIOLATION_NOT_STOPPED 4
#define SIMKS_VIOLATION_UNKNOWN_EVENT 5
#define SIMKS_VIOLATION_CLOSED_REGISTERED 6
#define SIMKS_VIOLATION_RUN_UNFILLED 7
typedef struct SimKsViolation {
    ULONG Kind; /* SIMKS_VIOLATION_* */
    LONGLONG TimeUs;
    char Text[96]; /* what happened, for test messages */
} SimKsViolation;
SIMKS_API int SimKs_ViolationCount(int stream);
SIMKS_API BOOL SimKs_GetViolation(int stream, int index, SimKsViolation* violation);

#ifdef __cplusplus
}
#endif
