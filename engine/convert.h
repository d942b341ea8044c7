// The conversion step between the ring and the device, which the stream buffer applies as either
// output reads an adapted stream: a sample widened into a larger container sits at its top with
// zeros below, 8-bit unsigned samples become signed when widened, a mono channel is copied onto
// two, added channels are silent, and the volume scales the widened sample (no bit lost to
// rounding).
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

constexpr int kMaxConvertChannels = 8;
// The volume at which samples pass unscaled.
constexpr int kUnityVolume = 256;

struct KSConversion {
    bool active;     // the device's format differs from the ring's: every byte is converted
    int srcBytes;    // bytes per ring sample: 1 (unsigned), 2, 3 or 4
    int srcChannels; // channels in a ring frame
    int dstBytes;    // bytes per device sample: 1 (unsigned), 2, 3 or 4
    int dstChannels; // channels in a device frame
    DWORD dstKeep;   // the device's valid bits, left-justified in 32 bits
    // The ring channel each device channel carries, -1 for silence.
    signed char map[kMaxConvertChannels];
};

// The valid bits of a format: the extensible record's, else the container's.
int ValidBits(const WAVEFORMATEXTENSIBLE& wfx);
// The speakers of a format: the extensible record's mask, else the count's usual one.
DWORD SpeakerMask(const WAVEFORMATEXTENSIBLE& wfx);
// The speakers of `channels` channels that carry a stream with the speakers `mask`: the usual
// layout of that count where it holds every speaker of the stream, else the stream's speakers
// and the lowest missing ones. Mono is carried on front left and front right.
DWORD RaisedMask(DWORD mask, int streamChannels, int channels);

// The step from the ring's format to the device's; inactive (a copy) when they are the same.
// False for a pair it cannot convert losslessly.
bool PlanConversion(KSConversion* c, const WAVEFORMATEXTENSIBLE& ring,
                    const WAVEFORMATEXTENSIBLE& device);

// Converts whole frames from src (ring frames) into dst (device frames); volume 0..256, where
// kUnityVolume passes every sample unchanged.
void ConvertFrames(BYTE* dst, const BYTE* src, DWORD frames, const KSConversion& c, int volume);
