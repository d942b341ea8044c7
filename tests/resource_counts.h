// What the process holds, counted for the tests that look for leaks: kernel handles and the busy
// blocks of every heap (the C runtime's included).
#pragma once

#include <windows.h>

// GetProcessHandleCount, or, where it answers 0 (Wine 8), the handle values up to 0x10000 that
// name an open handle.
inline DWORD ProcessHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)value, &flags))
            count++;
    }
    return count;
}

inline size_t HeapBlocks() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    size_t blocks = 0;
    for (DWORD i = 0; i < count && i < 64; i++) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                blocks++;
        HeapUnlock(heaps[i]);
    }
    return blocks;
}

// The handles and heap blocks held at one moment.
struct ResourceCounts {
    DWORD handles = ProcessHandles();
    size_t blocks = HeapBlocks();
};
