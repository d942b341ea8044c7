// CKsEnumFilters: the walk over the simulated device interfaces, which devices it keeps, their
// names, and repeated and failing runs.
#include "ks_fixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

const GUID kRenderCategories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};

// The diagnostic log, emptied before each test and read back after.
struct KsEnum : KsFixture {
    CKsEnumFilters* pEnum = NULL;
    void SetUp() override {
        KsFixture::SetUp();
        FILE* f = fopen(g_szLogFile, "wb");
        if (f)
            fclose(f);
        LogEnable(1);
        HRESULT hr = E_FAIL;
        pEnum = new CKsEnumFilters(hr);
        EXPECT_EQ(S_OK, hr);
    }
    void TearDown() override {
        delete pEnum;
        LogEnable(0);
        KsFixture::TearDown();
    }
    HRESULT EnumRender(ULONG cCategories = 2) {
        return pEnum->EnumFilters(kFilterTypeRender, kRenderCategories, cCategories, TRUE, FALSE,
                                  TRUE);
    }
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        for (auto* n = pEnum->m_listFilters.m_pHead; n; n = n->pNext)
            paths.push_back(n->pData->m_szFilterName);
        return paths;
    }
    static std::string Log() {
        std::ifstream in(g_szLogFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static int Occurrences(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }
};

TEST_F(KsEnum, RenderDevicesAreListedInPlatformOrder) {
    EXPECT_EQ(S_OK, EnumRender());
    EXPECT_EQ((std::vector<std::string>{SimKs_DevicePath(SIMKS_DEFAULT_VERSATILE),
                                        SimKs_DevicePath(SIMKS_DEFAULT_LEGACY),
                                        SimKs_DevicePath(SIMKS_DEFAULT_WAVERT)}),
              Paths());
    for (auto* n = pEnum->m_listFilters.m_pHead; n; n = n->pNext) {
        EXPECT_EQ(kFilterTypeRender, n->pData->m_FilterType);
        EXPECT_NE(nullptr, dynamic_cast<CKsAudRenFilter*>(n->pData));
        EXPECT_TRUE(CKsIrpTarget::IsValidHandle(n->pData->m_handle));
        EXPECT_GT(n->pData->m_listRenderSinkPins.m_lCount, 0);
    }
    EXPECT_STREQ("Speakers (High Definition Audio Device)",
                 pEnum->m_listFilters.m_pHead->pData->m_szFriendlyName);
    EXPECT_TRUE(Traced("Failed to get requested DeviceInterfaceAlias")); // the microphone
    std::string log = Log();
    EXPECT_EQ(3, Occurrences(log, "Enumerated Filter:\n  Friendly Name:\n  "));
    EXPECT_EQ(3, Occurrences(log, "  Filter Type = 1\n\n\r\n"));
}

TEST_F(KsEnum, SecondRunReplacesTheFirst) {
    EXPECT_EQ(S_OK, EnumRender());
    LONG closes = SimKs_RequestCount(SIMKS_REQ_CLOSE);
    EXPECT_EQ(S_OK, EnumRender());
    EXPECT_EQ(3, pEnum->m_listFilters.m_lCount);
    EXPECT_EQ(closes + 3, SimKs_RequestCount(SIMKS_REQ_CLOSE));
}

TEST_F(KsEnum, OneCategoryTakesEveryInterfaceWithoutAliases) {
    EXPECT_EQ(S_OK, EnumRender(1));
    EXPECT_EQ(4, pEnum->m_listFilters.m_lCount);
    EXPECT_FALSE(Traced("DeviceInterfaceAlias"));
}

TEST_F(KsEnum, FilterTypeChoosesTheClass) {
    EXPECT_EQ(S_OK,
              pEnum->EnumFilters(kFilterTypeCapture, kRenderCategories, 1, TRUE, FALSE, TRUE));
    EXPECT_NE(nullptr, dynamic_cast<CKsAudCapFilter*>(pEnum->m_listFilters.m_pHead->pData));
    EXPECT_EQ(S_OK, pEnum->EnumFilters(7, kRenderCategories, 2, FALSE, FALSE, FALSE));
    CKsFilter* plain = pEnum->m_listFilters.m_pHead->pData;
    EXPECT_EQ(nullptr, dynamic_cast<CKsAudFilter*>(plain));
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(plain->m_handle)); // not instantiated
}

TEST_F(KsEnum, NoCategoryEnumeratesNothing) {
    EXPECT_EQ(E_FAIL, pEnum->EnumFilters(kFilterTypeRender, NULL, 2, TRUE, FALSE, TRUE));
    const GUID none[1] = {GUID_NULL};
    EXPECT_EQ(E_FAIL, pEnum->EnumFilters(kFilterTypeRender, none, 1, TRUE, FALSE, TRUE));
    EXPECT_EQ(0, SimKs_RequestCount(SIMKS_REQ_CLASS_DEVS));
    EXPECT_EQ(0, pEnum->m_listFilters.m_lCount);
}

TEST_F(KsEnum, NoMemoryAtAnyPointNeverBreaksTheWalk) {
    SimKs_ArmAllocations(0);
    ASSERT_EQ(S_OK, EnumRender());
    ULONG cAllocations = SimKs_DisarmAllocations();
    bool sawOutOfMemory = false;
    for (ULONG failAt = 1; failAt <= cAllocations; failAt++) {
        SimKs_ArmAllocations(failAt);
        HRESULT hr = EnumRender();
        SimKs_DisarmAllocations();
        sawOutOfMemory = sawOutOfMemory || E_OUTOFMEMORY == hr;
        EXPECT_TRUE(S_OK == hr || E_FAIL == hr || E_OUTOFMEMORY == hr) << failAt;
        if (E_OUTOFMEMORY != hr) {
            EXPECT_EQ(S_OK == hr, pEnum->m_listFilters.m_lCount > 0) << failAt;
        }
    }
    EXPECT_TRUE(sawOutOfMemory);
}

// Devices set up by each test, each with one render sink pin unless said otherwise.
struct KsEnumOwn : KsEnum {
    SimKsPinDesc desc = RenderPin();
    void AddDevices() override {}
    void AddNamed(const char* path, const char* name, DWORD renderFlags = SPINT_ACTIVE) {
        SimKs_AddPin(AddAudioDevice(path, name, renderFlags), &desc);
    }
};

TEST_F(KsEnumOwn, InactiveAliasesAreSkipped) {
    AddNamed("\\\\?\\sim#one", "o");
    AddNamed("\\\\?\\sim#disabled", "d", 0);
    AddNamed("\\\\?\\sim#removed", "r", SPINT_REMOVED | SPINT_ACTIVE);
    AddNamed("\\\\?\\sim#default", "f", SPINT_DEFAULT);
    EXPECT_EQ(S_OK, EnumRender());
    EXPECT_EQ((std::vector<std::string>{"\\\\?\\sim#one", "\\\\?\\sim#default"}), Paths());
    EXPECT_EQ(2, TraceCount("DeviceInterfaceAlias disabled."));
}

TEST_F(KsEnumOwn, FailingDevicesAreDroppedAndTheWalkGoesOn) {
    int locked = AddRenderDevice("\\\\?\\sim#locked");
    SimKs_SetOpenError(locked, ERROR_ACCESS_DENIED);
    AddAudioDevice("\\\\?\\sim#nopins", "n");
    AddRenderDevice("\\\\?\\sim#good");
    EXPECT_EQ(S_OK, EnumRender());
    EXPECT_EQ((std::vector<std::string>{"\\\\?\\sim#good"}), Paths());
    EXPECT_TRUE(Traced("Failed to create filter for \\\\?\\sim#locked"));
    EXPECT_TRUE(Traced("Failed to create filter for \\\\?\\sim#nopins"));
}

TEST_F(KsEnumOwn, NoDeviceOrNoUsableDeviceFails) {
    EXPECT_EQ(E_FAIL, EnumRender());
    EXPECT_EQ(0, pEnum->m_listFilters.m_lCount);
    AddAudioDevice("\\\\?\\sim#nopins", "n");
    EXPECT_EQ(E_FAIL, EnumRender());
    EXPECT_EQ(0, pEnum->m_listFilters.m_lCount);
}

TEST_F(KsEnumOwn, FriendlyNamesEndWithinTheirBuffer) {
    std::string exact(MAX_PATH, 'e'), tooLong(300, 'l');
    int d = AddAudioDevice("\\\\?\\sim#unterminated", exact.c_str());
    SimKs_SetRegistryQuirks(d, SIMKS_REG_UNTERMINATED);
    SimKs_AddPin(d, &desc);
    AddNamed("\\\\?\\sim#long", tooLong.c_str());
    AddNamed("\\\\?\\sim#unnamed", NULL);
    d = AddAudioDevice("\\\\?\\sim#nokey", "never read");
    SimKs_SetRegistryQuirks(d, SIMKS_REG_NO_KEY);
    SimKs_AddPin(d, &desc);
    d = AddAudioDevice("\\\\?\\sim#short", "Short");
    SimKs_SetRegistryQuirks(d, SIMKS_REG_UNTERMINATED);
    SimKs_AddPin(d, &desc);
    ASSERT_EQ(S_OK, EnumRender());
    std::vector<std::string> names;
    for (auto* n = pEnum->m_listFilters.m_pHead; n; n = n->pNext)
        names.push_back(n->pData->m_szFriendlyName);
    EXPECT_EQ((std::vector<std::string>{exact.substr(0, MAX_PATH - 1), "", "", "", "Short"}),
              names);
    EXPECT_EQ(1, Occurrences(Log(), "  " + exact.substr(0, MAX_PATH - 1) + "\n  Filter Type"));
}

} // namespace
