// The host of an engine that a test builds in-process: the settings record the test edits between
// streams (every key's default to begin with), and the user's messages as the plug-in shows them,
// without an owner window.
#pragma once

#include "engine/hostsite.h"
#include "engine/settings.h"
#include "host/settings.h"

#include <windows.h>

struct TestHost final : KSHostSite {
    KSSettings settings{};

    TestHost() { SetDefaultSettings(settings); }
    void CopySettings(KSSettings* out) override { *out = settings; }
    void TellUser(const char* text) override { MessageBoxA(NULL, text, "Error!", MB_OK); }
};
