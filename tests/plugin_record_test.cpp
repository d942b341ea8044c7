// The DLL as the player sees it once loaded: the output-module record.
#include "tests/plugin_fixture.h"

namespace {

struct Dll : PluginFixture {};

TEST_F(Dll, RecordHoldsTheValuesThePlayerReads) {
    EXPECT_EQ(sizeof(void*) == 4 ? 80u : 160u, sizeof(Out_Module));
    EXPECT_EQ(0x10, mod->version);
    EXPECT_STREQ("Quellor Output v3.61", mod->description);
    EXPECT_NE(mod->GetOutputTime, mod->GetWrittenTime) << "the time heard, and the time written";
    // The player keeps its own id in the record; the plug-in must go on working after that.
    static char hostId[] = "host";
    INT_PTR old = mod->id;
    mod->id = (INT_PTR)hostId;
    mod->SetPan(-127);
    EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(EndTrack());
    mod->id = old;
}

} // namespace
