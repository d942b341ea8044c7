// Following the device's bytes through the track. A run of the track goes on frame by frame; a
// new run starts only where a window of frames matches the track, found through an index of the
// track's windows (made before the track plays), so that silence and a frame that happens to match
// do not start one.
#include "tools/qhost/attribution.h"

#include <cstring>

namespace {

// Frames that must match before bytes count as a place in the track.
const size_t kWindowFrames = 32;

unsigned long long Hash(const char* p, size_t n) {
    unsigned long long h = 14695981039346656037ull;
    for (size_t i = 0; i < n; i++)
        h = (h ^ (unsigned char)p[i]) * 1099511628211ull;
    return h;
}

} // namespace

Attribution::Attribution(const std::vector<char>& expected, size_t block, char silence)
    : m_expected(expected), m_block(block ? block : 1), m_silence(silence) {
    size_t window = kWindowFrames * m_block;
    for (size_t t = 0; t + window <= m_expected.size(); t += m_block)
        m_index.emplace(Hash(&m_expected[t], window), t);
}

void Attribution::Feed(const char* bytes, size_t size) {
    m_got.insert(m_got.end(), bytes, bytes + size);
    Step(kWindowFrames * m_block);
}

void Attribution::Finish() {
    Step(m_block);
}

// The frame at `at` is the next one of the run before it.
bool Attribution::Continues(size_t at) const {
    if (m_pieces.empty() || m_pieces.back().kind != PlayedPiece::kAudio)
        return false;
    size_t t = m_pieces.back().track + m_pieces.back().bytes;
    return t + m_block <= m_expected.size() && !memcmp(&m_got[at], &m_expected[t], m_block);
}

bool Attribution::Silent(size_t at) const {
    for (size_t i = 0; i < m_block; i++)
        if (m_got[at + i] != m_silence)
            return false;
    return true;
}

// The track's offset where the window of frames at `at` lies, or -1.
long long Attribution::Find(size_t at) const {
    size_t window = kWindowFrames * m_block;
    if (at + window > m_got.size())
        return -1;
    auto hit = m_index.find(Hash(&m_got[at], window));
    if (hit == m_index.end() || memcmp(&m_got[at], &m_expected[hit->second], window))
        return -1;
    return (long long)hit->second;
}

void Attribution::Add(PlayedPiece::Kind kind, size_t at, size_t track) {
    if (!m_pieces.empty() && kind != PlayedPiece::kAudio && m_pieces.back().kind == kind) {
        m_pieces.back().bytes += m_block;
        return;
    }
    m_pieces.push_back(PlayedPiece{kind, at, m_block, track});
}

// Settles every frame that has `window` bytes known from its start.
void Attribution::Step(size_t window) {
    while (m_done + window <= m_got.size() && m_done + m_block <= m_got.size()) {
        if (Continues(m_done)) {
            m_pieces.back().bytes += m_block;
        } else {
            long long t = Find(m_done);
            if (t >= 0)
                Add(PlayedPiece::kAudio, m_done, (size_t)t);
            else
                Add(Silent(m_done) ? PlayedPiece::kSilence : PlayedPiece::kOther, m_done, 0);
        }
        m_done += m_block;
    }
}

size_t Attribution::TrackAt(unsigned long long played) const {
    for (size_t i = m_pieces.size(); i-- > 0;) {
        const PlayedPiece& p = m_pieces[i];
        if (p.kind != PlayedPiece::kAudio || p.device >= played)
            continue;
        bool last = i + 1 == m_pieces.size();
        unsigned long long in = played - p.device;
        return p.track + (size_t)(in < p.bytes || last ? in : p.bytes);
    }
    return 0;
}

PlayedSplit Attribution::Split(unsigned long long from, unsigned long long to) const {
    PlayedSplit s;
    for (const PlayedPiece& p : m_pieces) {
        unsigned long long a = p.device > from ? p.device : from;
        unsigned long long b = p.device + p.bytes < to ? p.device + p.bytes : to;
        if (a >= b)
            continue;
        size_t n = (size_t)(b - a);
        (p.kind == PlayedPiece::kAudio     ? s.audio
         : p.kind == PlayedPiece::kSilence ? s.silence
                                           : s.other) += n;
    }
    return s;
}
