// WAV reading and test signal generation for qhost.
#include "tools/qhost/audio.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

bool MakeSignal(const std::string& description, Track& track, std::string& error) {
    int rate, channels, bits;
    double seconds;
    if (sscanf(description.c_str(), "tone:%d:%d:%d:%lf", &rate, &channels, &bits, &seconds) != 4 ||
        rate <= 0 || channels <= 0 || channels > 8 || bits < 8 || bits > 32 || bits % 8 ||
        seconds <= 0 || seconds > 600) {
        error = "signal must be tone:RATE:CHANNELS:BITS:SECONDS (bits 8, 16, 24 or 32)";
        return false;
    }
    track.name = description;
    track.rate = rate;
    track.channels = channels;
    track.bits = bits;
    int bytes = bits / 8;
    long frames = (long)(rate * seconds);
    track.data.resize((size_t)frames * channels * bytes);
    unsigned noise = 12345;
    char* out = track.data.data();
    for (long i = 0; i < frames; i++) {
        double s = 0.7 * sin(2 * 3.14159265358979 * 997.0 * i / rate);
        for (int c = 0; c < channels; c++) {
            noise = noise * 1103515245u + 12345u;
            long long v = (long long)(s * ((1LL << (bits - 1)) - 1)) ^ ((noise >> 16) & 1);
            if (bits == 8)
                v += 128; // unsigned around the mid line
            for (int k = 0; k < bytes; k++)
                *out++ = (char)(v >> (8 * k));
        }
    }
    return true;
}

bool LoadTrack(const std::string& source, Track& track, std::string& error) {
    if (source.compare(0, 5, "tone:") == 0)
        return MakeSignal(source, track, error);
    return ReadWavFile(source, track, error);
}
