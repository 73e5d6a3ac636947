// The global hotkeys of the running program, pressed on its desktop.
#include "e2e_harness.h"

namespace e2e {
namespace {

TEST_F(ProgramTest, TheActivationHotkeySwitchesPointerControlOnAndOff) {
    CSettingsStore().Write(Setting::kHotkeyMouse, 0x74);  // F5, no modifier
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    for (bool on : {true, false}) {
        Press(0, XK_F5);
        EXPECT_EQ(PointerMoves(), on) << (on ? "not switched on" : "not switched off") << Diagnostics(run);
    }
}

}  // namespace
}  // namespace e2e
