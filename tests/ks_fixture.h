// Shared set-up of the KS layer tests: simulated devices behind the test executable's imports,
// the trace raised to level 6 and read back from the bed's record of OutputDebugStringA, and
// helpers that build devices, pins and wave formats.
#pragma once

#include "diag/log.h"
#include "diag/util.h"
#include "ks/audfilter.h"
#include "ks/enum.h"
#include "testbed/simfixture.h"
#include "tests/waits.h"

#include <setupapi.h>
#include <memory>
#include <string>

class KsFixture : public SimKsFixture {
  protected:
    void SetUp() override {
        SimKsFixture::SetUp();
        LogInit();
        g_nTraceLevel = 6;
        SimKs_ClearDebugLines();
    }
    void TearDown() override {
        g_nTraceLevel = 0;
        LogShutdown();
        DeleteFileA(g_szLogFile);
        SimKsFixture::TearDown();
    }

    // Number of recorded trace lines that contain text.
    static int TraceCount(const char* text) {
        int n = 0;
        for (int i = SimKs_FindDebugLine(text, 0); i >= 0; i = SimKs_FindDebugLine(text, i + 1))
            n++;
        return n;
    }
    static bool Traced(const char* text) { return SimKs_FindDebugLine(text, 0) >= 0; }

    // A device in KSCATEGORY_AUDIO with an alias in KSCATEGORY_RENDER of the given flags.
    static int AddAudioDevice(const char* path, const char* name,
                              DWORD renderFlags = SPINT_ACTIVE) {
        int device = SimKs_AddDevice(path, name);
        SimKs_AddCategory(device, &KSCATEGORY_AUDIO, SPINT_ACTIVE);
        if (renderFlags != (DWORD)-1)
            SimKs_AddCategory(device, &KSCATEGORY_RENDER, renderFlags);
        return device;
    }

    // A render sink pin: stereo, 8 to 16 bits, 8000 to 48000 Hz.
    static SimKsPinDesc RenderPin() {
        SimKsPinDesc desc;
        SimKs_InitRenderPin(&desc, 2, 8, 16, 8000, 48000);
        return desc;
    }

    // A render device with one render sink pin (desc, or RenderPin()).
    static int AddRenderDevice(const char* path, const SimKsPinDesc& desc = RenderPin()) {
        int device = AddAudioDevice(path, path);
        SimKs_AddPin(device, &desc);
        return device;
    }

    // The filter of device, opened; NULL (with a test failure) when it cannot be.
    template <typename TFilter = CKsAudRenFilter> static std::unique_ptr<TFilter> Open(int device) {
        HRESULT hr = E_FAIL;
        std::unique_ptr<TFilter> filter(new TFilter(SimKs_DevicePath(device), hr, "test"));
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(S_OK, filter->Instantiate());
        return filter;
    }

    static WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
        WAVEFORMATEX wfx = {};
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.nChannels = channels;
        wfx.nSamplesPerSec = rate;
        wfx.wBitsPerSample = bits;
        wfx.nBlockAlign = (WORD)(channels * bits / 8);
        wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
        return wfx;
    }

    static WAVEFORMATEXTENSIBLE Extensible(DWORD rate, WORD channels, WORD bits,
                                           const GUID& subFormat = KSDATAFORMAT_SUBTYPE_PCM) {
        WAVEFORMATEXTENSIBLE wfx = {};
        wfx.Format = Pcm(rate, channels, bits);
        wfx.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        wfx.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        wfx.Samples.wValidBitsPerSample = bits;
        wfx.dwChannelMask = channels == 2 ? 0x3 : 0x4;
        wfx.SubFormat = subFormat;
        return wfx;
    }
};

// A fixture whose test adds its own devices.
class KsBareFixture : public KsFixture {
  protected:
    void AddDevices() override {}
};
