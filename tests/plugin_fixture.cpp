// The plug-in fixture: loading the DLL behind the simulated platform, per-test settings folder,
// and the player's write loop.
#include "tests/plugin_fixture.h"

#include "tools/common/hostenv.h"

#include <ks.h>
#include <ksmedia.h>
#include <setupapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>

HMODULE PluginFixture::s_dll = nullptr;
Out_Module* PluginFixture::s_mod = nullptr;

using hostenv::ExeFolder;

void PluginFixture::SetUpTestSuite() {
    std::string path = ExeFolder() + "\\..\\plugin\\out_quellor3.dll";
    s_dll = LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, s_dll) << path;
    ASSERT_GT(SimKs_Install(s_dll), 0);
    typedef Out_Module*(__cdecl * GetModule)();
    GetModule get = (GetModule)(void*)GetProcAddress(s_dll, "winampGetOutModule");
    ASSERT_NE(nullptr, get);
    s_mod = get();
}

void PluginFixture::TearDownTestSuite() {
    if (s_dll)
        SimKs_Remove(s_dll);
}

std::string PluginFixture::FolderName() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "_" + test->name();
    for (char& c : name)
        c = c == '/' ? '_' : c;
    return name;
}

void PluginFixture::SetUp() {
    Prepare();
    mod->Init();
    initDone = true;
}

void PluginFixture::Prepare() {
    ASSERT_NE(nullptr, s_mod);
    mod = s_mod;
    SimKs_Reset();
    AddDevices();
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    folder = ExeFolder() + "\\plugin_" + FolderName();
    CreateDirectoryA(folder.c_str(), NULL);
    std::string ini = folder + "\\player.ini";
    DeleteFileA(ini.c_str());
    hostenv::WriteSettings(ini, Settings());
    SimKs_SetProcessPath((folder + "\\player.exe").c_str());
    mod->hDllInstance = s_dll;
    mod->hMainWindow = NULL;
}

void PluginFixture::TearDown() {
    if (initDone)
        mod->Quit();
    SimKs_SetProcessPath(NULL);
    SimKs_Reset();
    if (HasFailure())
        printf("the test's INI file and log are kept in %s\n", folder.c_str());
    else
        RemoveFolder(folder);
}

void RemoveFolder(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((path + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

bool PluginFixture::WriteAll(const std::vector<char>& data) {
    size_t pos = 0;
    DWORD start = GetTickCount();
    while (pos < data.size()) {
        if (GetTickCount() - start > kHangMs)
            return false;
        size_t chunk = data.size() - pos < 4080 ? data.size() - pos : 4080; // whole frames
        if ((size_t)mod->CanWrite() < chunk) {
            Sleep(1);
            continue;
        }
        if (mod->Write((char*)data.data() + pos, (int)chunk) != 0)
            return false;
        pos += chunk;
    }
    return true;
}

bool PluginFixture::EndTrack() {
    bool ended = WaitUntil([this] { return mod->IsPlaying() == 0; });
    mod->Close();
    return ended;
}

bool PluginFixture::WaitConsumed(int stream, ULONGLONG count, DWORD timeoutMs) {
    SimKsStreamInfo info;
    return WaitUntil([&] { return !SimKs_GetStream(stream, &info) || info.ConsumedBytes >= count; },
                     timeoutMs);
}

std::vector<char> PluginFixture::Consumed(int stream) {
    SimKsStreamInfo info;
    std::vector<char> bytes;
    if (!SimKs_GetStream(stream, &info) || info.ConsumedBytes == 0)
        return bytes;
    bytes.resize((size_t)info.ConsumedBytes);
    bytes.resize(SimKs_CopyConsumed(stream, 0, bytes.data(), (ULONG)bytes.size()));
    return bytes;
}

std::string PluginFixture::Log() {
    std::ifstream in(folder + "\\quellor log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string PluginFixture::MessageBoxText(int index) {
    SimKsMessageBox box;
    return SimKs_GetMessageBox(index, &box) ? std::string(box.Text) : std::string();
}

std::vector<char> Pcm16(size_t samples, unsigned seed) {
    std::vector<char> data(samples * 2);
    unsigned x = seed;
    for (size_t i = 0; i < data.size(); i++) {
        x = x * 1664525u + 1013904223u;
        data[i] = (char)(x >> 24);
    }
    return data;
}

std::vector<char> Pcm24(size_t samples, unsigned seed) {
    std::vector<char> data = Pcm16(samples * 3 / 2 + 1, seed);
    data.resize(samples * 3);
    return data;
}

std::vector<char> Widen24(const std::vector<char>& packed) {
    std::vector<char> out;
    for (size_t i = 0; i + 3 <= packed.size(); i += 3) {
        out.push_back(0);
        out.insert(out.end(), packed.begin() + i, packed.begin() + i + 3);
    }
    return out;
}

int AnnounceStranger() {
    int other = SimKs_AddDevice("\\\\?\\sim#stranger", "Stranger");
    SimKs_AddCategory(other, &KSCATEGORY_AUDIO, SPINT_ACTIVE);
    SimKs_AddCategory(other, &KSCATEGORY_RENDER, SPINT_ACTIVE);
    SimKsPinDesc pin;
    SimKs_InitRenderPin(&pin, 2, 16, 16, 44100, 44100);
    SimKs_AddPin(other, &pin);
    return SimKs_AnnounceDevice(other) ? other : -1;
}
