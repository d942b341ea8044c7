// Allocation counting and failure injection for the C runtime allocations of redirected modules.
#include "testbed/hooks.h"
#include "testbed/simks.h"

#include <cerrno>

namespace simks {

MallocFn g_realMalloc;
CallocFn g_realCalloc;
ReallocFn g_realRealloc;

namespace {

volatile LONG g_armed;
volatile LONG g_count;
volatile LONG g_failAt;

// Counts one allocation call; true when it is the one that must fail.
bool Fails() {
    if (!g_armed)
        return false;
    LONG n = InterlockedIncrement(&g_count);
    if (n != g_failAt)
        return false;
    errno = ENOMEM;
    return true;
}

} // namespace

void* __cdecl HookMalloc(size_t size) {
    return Fails() ? nullptr : g_realMalloc(size);
}

void* __cdecl HookCalloc(size_t count, size_t size) {
    return Fails() ? nullptr : g_realCalloc(count, size);
}

// realloc to size 0 frees and is no allocation; a failed realloc leaves the block as it was.
void* __cdecl HookRealloc(void* block, size_t size) {
    if (size != 0 && Fails())
        return nullptr;
    return g_realRealloc(block, size);
}

} // namespace simks

extern "C" {

void SimKs_ArmAllocations(ULONG failAt) {
    using namespace simks;
    InterlockedExchange(&g_armed, 0);
    InterlockedExchange(&g_count, 0);
    InterlockedExchange(&g_failAt, (LONG)failAt);
    InterlockedExchange(&g_armed, 1);
}

ULONG SimKs_DisarmAllocations(void) {
    using namespace simks;
    InterlockedExchange(&g_armed, 0);
    return (ULONG)g_count;
}

ULONG SimKs_AllocationCount(void) {
    return (ULONG)simks::g_count;
}

} // extern "C"
