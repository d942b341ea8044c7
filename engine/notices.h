// What the user has been shown once: a small table of keys (hashed, letters' case ignored) whose
// oldest entry gives way when it is full. First may be called from one thread at a time; Forget
// from any.
#pragma once

#include <windows.h>

template <int N> class KSShownOnce {
  public:
    // True the first time for key.
    bool First(const char* key) {
        DWORD h = Hash(key);
        LONG count = m_nCount;
        for (LONG i = 0; i < count && i < N; i++)
            if (m_hashes[i] == h)
                return false;
        m_hashes[count % N] = h;
        InterlockedIncrement(&m_nCount);
        return true;
    }
    void Forget() { InterlockedExchange(&m_nCount, 0); }

  private:
    static DWORD Hash(const char* text) {
        DWORD h = 2166136261u;
        for (; *text; text++)
            h = (h ^ (BYTE)(*text >= 'A' && *text <= 'Z' ? *text + 32 : *text)) * 16777619u;
        return h;
    }

    DWORD m_hashes[N] = {};
    volatile LONG m_nCount = 0;
};
