// The import redirection: what is not simulated still reaches the real functions, removal puts
// the import table back as it was, and allocations of the module can be made to fail.
#include "ks/ksplatform.h"
#include "testbed/client.h"
#include "testbed/simfixture.h"
#include "tests/waits.h"

#include <cstdlib>
#include <cstring>

using namespace bedtest;

namespace {

typedef SimKsFixture BedRedirect;

TEST_F(BedRedirect, CallsAboutRealObjectsReachTheRealFunctions) {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    strcat(path, "simks_redirect.tmp");
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, NULL));
    EXPECT_EQ(3u, GetFileSize(file, NULL));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path));

    // DeviceIoControl on a real handle answers as the real function does.
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD n = 0;
    EXPECT_FALSE(DeviceIoControl(event, IOCTL_KS_PROPERTY, NULL, 0, NULL, 0, &n, NULL));
    EXPECT_NE((DWORD)ERROR_MORE_DATA, GetLastError());
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));

    HMODULE kernel = LoadLibraryA("kernel32.dll");
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), kernel);
    FARPROC tick = GetProcAddress(kernel, "GetTickCount");
    ASSERT_NE(nullptr, tick);
    EXPECT_NE(0u, reinterpret_cast<DWORD(WINAPI*)()>(reinterpret_cast<void (*)()>(tick))());

    char real[MAX_PATH], seen[MAX_PATH];
    GetModuleFileNameA(kernel, real, sizeof real);
    SimKs_SetProcessPath("C:\\Player\\winamp.exe");
    GetModuleFileNameA(NULL, seen, sizeof seen);
    EXPECT_STREQ("C:\\Player\\winamp.exe", seen);
    GetModuleFileNameA(kernel, seen, sizeof seen);
    EXPECT_STREQ(real, seen);

    EXPECT_EQ(IDOK, MessageBoxA(NULL, "text", "Error!", MB_OK | MB_ICONERROR));
    SimKsMessageBox box;
    ASSERT_TRUE(SimKs_GetMessageBox(0, &box));
    EXPECT_STREQ("Error!", box.Caption);
    OutputDebugStringA("one line");
    EXPECT_EQ(0, SimKs_FindDebugLine("one line", 0));
}

volatile void* g_blocks[4];

TEST_F(BedRedirect, TheNthAllocationFailsWhileArmed) {
    SimKs_ArmAllocations(3);
    for (int i = 0; i < 4; ++i)
        g_blocks[i] = malloc(16);
    EXPECT_EQ(4u, SimKs_DisarmAllocations());
    EXPECT_NE(nullptr, g_blocks[1]);
    EXPECT_EQ(nullptr, g_blocks[2]);
    EXPECT_NE(nullptr, g_blocks[3]);
    for (volatile void*& b : g_blocks)
        free(const_cast<void*>(b));
    g_blocks[0] = malloc(16);
    EXPECT_EQ(4u, SimKs_AllocationCount());
    free(const_cast<void*>(g_blocks[0]));
}

// Every import slot of a module, in import-table order.
std::vector<void*> ImportSlots(HMODULE module) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    DWORD rva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    std::vector<void*> slots;
    for (IMAGE_IMPORT_DESCRIPTOR* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + rva);
         d->Name; ++d)
        for (void** s = reinterpret_cast<void**>(base + d->FirstThunk); *s; ++s)
            slots.push_back(*s);
    return slots;
}

TEST(BedRedirection, RemovalRestoresTheImportTable) {
    HMODULE self = GetModuleHandleA(NULL);
    std::vector<void*> before = ImportSlots(self);
    int redirected = SimKs_Install(self);
    ASSERT_GE(redirected, 16);
    EXPECT_EQ(redirected, SimKs_Install(self));
    std::vector<void*> during = ImportSlots(self);
    ASSERT_EQ(before.size(), during.size());
    HMODULE bed = GetModuleHandleA("simks.dll");
    int changed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == during[i])
            continue;
        ++changed;
        HMODULE owner = NULL;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(during[i]), &owner);
        EXPECT_EQ(bed, owner);
    }
    EXPECT_EQ(redirected, changed);
    EXPECT_EQ(redirected, SimKs_Remove(self));
    EXPECT_EQ(before, ImportSlots(self));
    EXPECT_EQ(0, SimKs_Remove(self));
    EXPECT_EQ(-1, SimKs_Install(NULL));
}

} // namespace
