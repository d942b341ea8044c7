// The plug-in without ksuser.dll: the open fails, and the library is looked for again at the
// next open. In a program of its own: once bound, the binding lasts for the process.
#include "tests/plugin_fixture.h"

namespace {

struct KsUser : PluginFixture {};

TEST_F(KsUser, MissingKsUserFailsTheOpen) {
    SimKs_SetKsUser(SIMKS_KSUSER_NO_LIBRARY);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    SimKs_SetKsUser(SIMKS_KSUSER_OK);
    EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0) << "ksuser.dll is looked for again";
    EXPECT_TRUE(EndTrack());
}

} // namespace
