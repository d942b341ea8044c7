// Tracks for qhost: PCM read from WAV files or made as test signals, held in memory.
#pragma once

#include <string>
#include <vector>

struct Track {
    std::string name;
    int rate = 0;
    int channels = 0;
    int bits = 0;           // valid bits per sample as the player would announce them
    std::vector<char> data; // packed PCM as the player hands it over
};

// Reads a RIFF WAVE file (PCM or extensible PCM, 8 to 32 bits). On failure returns false and
// says why in error.
bool ReadWavFile(const std::string& path, Track& track, std::string& error);

// Makes a test signal from "tone:RATE:CHANNELS:BITS:SECONDS": a 997 Hz sine a little below full
// scale with a pseudo-random low bit, so that any change to a sample shows; or from
// "sweep:RATE:CHANNELS:BITS:SECONDS": a full-scale sine gliding from 211 Hz to 1987 Hz over the
// track, its low bit pseudo-random and no sample 0, so that no 32-frame window comes twice and
// no frame is silent.
bool MakeSignal(const std::string& description, Track& track, std::string& error);

// A track from a file name or a signal description.
bool LoadTrack(const std::string& source, Track& track, std::string& error);
