// Where each byte a simulated device played came from: qhost follows the device's bytes through
// the track that was sent (in the device's own form, so adapted streams too) and splits them into
// pieces: runs of the track's bytes (each with the place in the track where it starts), silence,
// and bytes that match no place in the track. Seeks, pre-roll, a WaveRT device's added silence
// and audio played on after a flush all show as pieces.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

struct PlayedPiece {
    enum Kind { kAudio, kSilence, kOther };
    Kind kind;
    unsigned long long device; // offset of its first byte in what was fed
    size_t bytes;
    size_t track; // audio: offset of its first byte in the track (device form)
};

// How the bytes of a stretch of the device's stream divide.
struct PlayedSplit {
    size_t audio = 0, silence = 0, other = 0;
};

class Attribution {
  public:
    // expected: the whole track as the device takes it; block: the device's frame size.
    Attribution(const std::vector<char>& expected, size_t block, char silence);

    // Bytes the device played next. Pieces are known up to a few frames before the last fed
    // byte; Finish settles the rest.
    void Feed(const char* bytes, size_t size);
    void Finish();

    const std::vector<PlayedPiece>& Pieces() const { return m_pieces; }
    // The place in the track (bytes, device form) reached once the device has played `played`
    // bytes: the end of the audio heard last; past the bytes known, the last audio goes on.
    size_t TrackAt(unsigned long long played) const;
    PlayedSplit Split(unsigned long long from, unsigned long long to) const;

  private:
    bool Continues(size_t at) const;
    bool Silent(size_t at) const;
    long long Find(size_t at) const;
    void Add(PlayedPiece::Kind kind, size_t at, size_t track);
    void Step(size_t window);

    const std::vector<char>& m_expected;
    size_t m_block;
    char m_silence;
    std::vector<char> m_got;
    size_t m_done = 0;
    std::vector<PlayedPiece> m_pieces;
    std::unordered_map<unsigned long long, size_t> m_index; // window hash -> first track offset
};
