// What the engine keeps of an open WaveRT stream: the driver's cyclic buffer, how the player thread
// learns where the hardware is, and the byte counts of the hardware's stream since RUN that say
// which half is due, which half may still take more audio, and when the last real sample has
// played. The stream's bytes are numbered from the start of the buffer at RUN: half k of the
// stream is the bytes k x half .. (k + 1) x half - 1, and lies in half k % 2 of the buffer.
#pragma once

#include <windows.h>

class CKsRtPin;

// What wakes the player thread for the stream.
enum RtKind {
    RT_NONE = 0,   // no WaveRT stream is open
    RT_EVENT = 1,  // the driver's notification event, at each half
    RT_POLLED = 2, // a wait of about a quarter of a half between two looks at the position
};

// Where the play position comes from.
enum RtPosition {
    RT_POSITION_NONE = 0,     // nowhere: the notifications are counted, one per half
    RT_POSITION_REGISTER = 1, // the position register mapped into the process
    RT_POSITION_PROPERTY = 2, // KSPROPERTY_AUDIO_POSITION, one request per look
};

struct RtStream {
    RtStream() { Reset(); }

    // Set by the open (under m_csControl) before pin is published, cleared by the close while
    // the player thread is held off; read by the player thread once pin is set.
    CKsRtPin* volatile pin; // the render pin as a WaveRT pin; null: no WaveRT stream
    BYTE* buffer;           // the driver's cyclic buffer, valid until the pin closes
    DWORD asked;            // bytes requested: two halves of whole frames from the settings
    DWORD half;             // bytes per half of the actual buffer (whole frames)
    DWORD block;            // bytes per frame
    BYTE silence;           // 0x80 for 8-bit samples, else 0
    bool barrier;           // the driver asks for a memory barrier after each write
    int position;           // RtPosition
    DWORD pollMs;           // polled: the wait between two looks
    DWORD eventWaitMs;      // event-driven: the longest wait for a notification

    // The player thread's own.
    ULONGLONG played;     // bytes the hardware has read since RUN
    ULONGLONG written;    // bytes written since RUN (whole halves, the silence at RUN included)
    ULONGLONG audioEnd;   // just past the last real byte written; 0 before the first
    ULONGLONG notifiedAt; // played at the last notification (event-driven)
    DWORD lastOffset;     // the play offset at the last look
    bool notified;        // the last wait ended with the notification event
    bool loggedPosition;  // a position that could not be used has been logged
    bool loggedLate;      // halves the hardware reached before they were rewritten were logged

    // Shared with the host's threads and the status window.
    volatile LONG kind;          // RtKind
    volatile DWORD size;         // bytes of the actual buffer
    volatile LONG playedOut;     // the hardware has passed every real byte written
    volatile LONG wantAudio;     // the last half written ends in silence that audio may replace
    volatile DWORD playOffset;   // the play offset at the last look
    volatile DWORD playedLow;    // the low 32 bits of played: progress, for the end's watch
    volatile DWORD starvedBytes; // silence written for lack of audio and followed by audio
    volatile LONG gaps;          // stretches of such silence

    // Counts the opens; not reset. A wait that began for one stream leaves no mark on the next.
    volatile LONG generation = 0;

    // Everything back to "no WaveRT stream", the counts to zero.
    void Reset() {
        pin = nullptr;
        buffer = nullptr;
        asked = half = block = pollMs = eventWaitMs = lastOffset = 0;
        silence = 0;
        barrier = notified = loggedPosition = loggedLate = false;
        position = RT_POSITION_NONE;
        played = written = audioEnd = notifiedAt = 0;
        kind = RT_NONE;
        size = playOffset = playedLow = starvedBytes = 0;
        playedOut = 1;
        wantAudio = gaps = 0;
    }
};
