// The short fades at a pause, a seek and a stop: a raised cosine over a stretch of frames, applied
// in place to samples in the device's format (8-bit unsigned around 0x80; 16-, 24- and 32-bit
// signed, 24-bit packed or in the top of a 32-bit container). Nothing here knows a stream.
#pragma once

#include <windows.h>
#include <mmreg.h>

// What the fade needs of a format: bytes per sample, significant bits (the bits below them stay
// zero), channels.
struct KSFadeFormat {
    WORD bytes;
    WORD validBits;
    WORD channels;
};

// The device format's figures; bytes 0 for a format the fade does not know (left untouched).
KSFadeFormat FadeFormatOf(const WAVEFORMATEXTENSIBLE& wfx);

// Frames in ms of audio at the format's rate, at least 1 when ms is not 0.
DWORD FadeFrames(const WAVEFORMATEX& format, DWORD ms);

// The gain of frame at (0 .. frames - 1) of a fade-in over frames: a raised cosine from just
// above 0 to just below 1, so that neither end steps. A fade-out is the same read backwards.
double FadeInGain(DWORD at, DWORD frames);

// Scales the count whole frames at data, which are frames at .. at + count - 1 of a fade over
// frames (in: rising, else falling); frames past the fade are left as they are.
void ApplyFade(BYTE* data, DWORD count, const KSFadeFormat& f, DWORD at, DWORD frames, bool in);

// A fade-in over a stream read in pieces that may cut frames and samples: each piece is scaled
// in place as it comes. A sample cut between two pieces is scaled once its last byte comes; the
// bytes that went before stay as they were (its low-order bytes: within 1/128 of full scale).
class KSFadeIn {
  public:
    // A new fade over frames frames of the format (0: none).
    void Start(const KSFadeFormat& f, DWORD frames);
    bool Active() const { return m_frames != 0; }
    void Apply(BYTE* data, DWORD n);

  private:
    KSFadeFormat m_f{};
    DWORD m_frames = 0;
    DWORD m_at = 0; // bytes of the fade done
    BYTE m_sample[4] = {};
};
