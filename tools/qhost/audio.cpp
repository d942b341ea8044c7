// WAV reading and test signal generation for qhost.
#include "tools/qhost/audio.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const unsigned short kFormatPcm = 1;
const unsigned short kFormatExtensible = 0xFFFE;

unsigned Le16(const unsigned char* p) {
    return p[0] | p[1] << 8;
}
unsigned Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | (unsigned)p[3] << 24;
}

bool ReadFile(const std::string& path, std::vector<unsigned char>& bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return true;
}

// Reads the "fmt " chunk into track; false when it is not PCM qhost can play.
bool ParseFormat(const unsigned char* p, unsigned size, Track& track, std::string& error) {
    if (size < 16) {
        error = "format chunk too short";
        return false;
    }
    unsigned tag = Le16(p);
    track.channels = (int)Le16(p + 2);
    track.rate = (int)Le32(p + 4);
    track.bits = (int)Le16(p + 14);
    if (tag == kFormatExtensible && size >= 40) {
        unsigned valid = Le16(p + 18);
        if (valid)
            track.bits = (int)valid;
        tag = Le16(p + 24); // first two bytes of the sub-format GUID: the format tag
    }
    if (tag != kFormatPcm) {
        error = "not PCM";
        return false;
    }
    if (track.bits < 8 || track.bits > 32 || track.channels < 1) {
        error = "unsupported sample format";
        return false;
    }
    return true;
}

} // namespace

bool ReadWavFile(const std::string& path, Track& track, std::string& error) {
    std::vector<unsigned char> b;
    if (!ReadFile(path, b)) {
        error = "cannot read " + path;
        return false;
    }
    if (b.size() < 12 || memcmp(b.data(), "RIFF", 4) || memcmp(b.data() + 8, "WAVE", 4)) {
        error = "not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    for (size_t pos = 12; pos + 8 <= b.size();) {
        unsigned size = Le32(&b[pos + 4]);
        size_t body = pos + 8;
        size_t avail = b.size() - body < size ? b.size() - body : size;
        if (!memcmp(&b[pos], "fmt ", 4)) {
            if (!ParseFormat(&b[body], (unsigned)avail, track, error))
                return false;
            haveFormat = true;
        } else if (!memcmp(&b[pos], "data", 4) && haveFormat) {
            track.data.assign(b.begin() + body, b.begin() + body + avail);
            track.name = path;
            return true;
        }
        pos = body + size + (size & 1);
    }
    error = haveFormat ? "no data chunk" : "no format chunk";
    return false;
}

namespace {

struct SignalShape {
    int rate = 0, channels = 0, bits = 0;
    double seconds = 0;
};

bool ParseShape(const char* text, const char* kind, SignalShape& s) {
    std::string format = std::string(kind) + ":%d:%d:%d:%lf";
    return sscanf(text, format.c_str(), &s.rate, &s.channels, &s.bits, &s.seconds) == 4 &&
           s.rate > 0 && s.channels > 0 && s.channels <= 8 && s.bits >= 8 && s.bits <= 32 &&
           s.bits % 8 == 0 && s.seconds > 0 && s.seconds <= 600;
}

// A sample's value scaled to bits (signed), packed little-endian; 8-bit unsigned around 0x80.
char* PutSample(char* out, long long v, int bits) {
    if (bits == 8)
        v += 128;
    for (int k = 0; k < bits / 8; k++)
        *out++ = (char)(v >> (8 * k));
    return out;
}

// The sweep's frequency glides from kSweepFrom to kSweepTo over the track; neither is a round
// figure, so that no round time of the track finds the sine at its zero.
const double kSweepFrom = 211.1, kSweepTo = 1987.3;
const double kPi = 3.14159265358979;

// A full-scale sine gliding in frequency, each sample's lowest bit drawn at random and never 0
// (no frame is ever silent): no window of frames comes twice, so a place in the track is told by
// its window.
void MakeSweep(const SignalShape& s, Track& track) {
    long frames = (long)(s.rate * s.seconds);
    track.data.resize((size_t)frames * s.channels * (s.bits / 8));
    long long full = (1LL << (s.bits - 1)) - 1;
    unsigned noise = 2463534242u; // xorshift32
    char* out = track.data.data();
    double glide = (kSweepTo - kSweepFrom) / (2.0 * frames);
    for (long i = 0; i < frames; i++) {
        double cycles = (kSweepFrom + glide * i) * i / s.rate;
        double x = sin(2 * kPi * (cycles - floor(cycles)));
        for (int c = 0; c < s.channels; c++) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            long long v = llround(x * full) ^ (long long)(noise >> 31);
            out = PutSample(out, v ? v : 1, s.bits);
        }
    }
}

// A 997 Hz sine a little below full scale with a pseudo-random low bit.
void MakeTone(const SignalShape& s, Track& track) {
    long frames = (long)(s.rate * s.seconds);
    track.data.resize((size_t)frames * s.channels * (s.bits / 8));
    unsigned noise = 12345;
    char* out = track.data.data();
    for (long i = 0; i < frames; i++) {
        double x = 0.7 * sin(2 * kPi * 997.0 * i / s.rate);
        for (int c = 0; c < s.channels; c++) {
            noise = noise * 1103515245u + 12345u;
            long long v = (long long)(x * ((1LL << (s.bits - 1)) - 1)) ^ ((noise >> 16) & 1);
            out = PutSample(out, v, s.bits);
        }
    }
}

} // namespace

bool MakeSignal(const std::string& description, Track& track, std::string& error) {
    SignalShape s;
    bool sweep = description.compare(0, 6, "sweep:") == 0;
    if (!ParseShape(description.c_str(), sweep ? "sweep" : "tone", s)) {
        error =
            "signal must be tone:RATE:CHANNELS:BITS:SECONDS or sweep:RATE:CHANNELS:BITS:SECONDS "
            "(bits 8, 16, 24 or 32)";
        return false;
    }
    track.name = description;
    track.rate = s.rate;
    track.channels = s.channels;
    track.bits = s.bits;
    if (sweep)
        MakeSweep(s, track);
    else
        MakeTone(s, track);
    return true;
}

bool LoadTrack(const std::string& source, Track& track, std::string& error) {
    if (source.compare(0, 5, "tone:") == 0 || source.compare(0, 6, "sweep:") == 0)
        return MakeSignal(source, track, error);
    return ReadWavFile(source, track, error);
}
