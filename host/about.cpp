// The About box: version, what the plug-in does and the build date (the last commit's day).
#include "host/dialogs.h"

#include <cstdio>

namespace {

const char kCredits[] = "Quellor plays audio bit for bit through the Kernel Streaming render pin "
                        "of the sound device you choose, with buffers of its own and an "
                        "optional software volume.";

} // namespace

void ShowAboutBox(HWND parent) {
    char text[512];
    snprintf(text, sizeof text, "Quellor Plugin v3.61 (x86)\n%s\n\nCompiled on %s\n", kCredits,
             QUELLOR_BUILD_DATE);
    MessageBoxA(parent, text, "About", MB_OK);
}
