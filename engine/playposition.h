// Where the hardware plays in a WaveRT cyclic buffer, as a count of the bytes it has played since
// RUN: from the play offsets read in the buffer, or from the driver's notifications where no
// offset can be read. A unit of its own, so that tests drive it with offsets, without a clock.
#pragma once

#include <windows.h>

class RtPlayPosition {
  public:
    RtPlayPosition(DWORD size, DWORD half) : m_size(size), m_half(half) {}

    // An offset read in the buffer: the bytes since the last one. Between two looks the
    // hardware moves less than the buffer, so a smaller offset means one wrap, unless it lies
    // at most a quarter of the buffer behind: a position that went back (jitter) holds the
    // count where it was. Returns the bytes it went back, 0 when it did not.
    DWORD Offset(DWORD offset) {
        DWORD ahead = offset >= m_last ? offset - m_last : offset + m_size - m_last;
        if (ahead && m_size - ahead <= m_size / 4)
            return m_size - ahead;
        m_played += ahead;
        m_last = offset;
        return 0;
    }
    // A notification where no offset could be read: the hardware finished the half it was in.
    void HalfDone() {
        m_played = (m_played / m_half + 1) * m_half;
        m_last = (DWORD)(m_played % m_size);
    }
    ULONGLONG Played() const { return m_played; }
    DWORD LastOffset() const { return m_last; }

  private:
    DWORD m_size; // bytes of the buffer
    DWORD m_half; // bytes per half
    ULONGLONG m_played = 0;
    DWORD m_last = 0; // the offset at the last look
};
