// The global hotkeys of the running program, pressed on its desktop or sent by its desktop's
// shortcuts portal.
#include <QCoreApplication>

#include "tests/support/fake_portal.h"
// Xlib's macros would break Qt's headers: after them.
#include "tests/app_e2e/e2e_harness.h"
#include "tests/support/session_bus.h"

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

// In a Wayland session whose desktop offers global shortcuts, the hotkeys are the desktop's: the
// stored one is the keys wished for, and the desktop's activation switches pointer control.
TEST_F(ProgramTest, InAWaylandSessionTheDesktopsShortcutsSwitchPointerControl) {
    const test::SessionBus bus(Root(), false);
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    int argc = 1;
    char name[] = "mivex_e2e_tests";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);  // for the portal's connection
    test::FakePortal portal(std::getenv("DBUS_SESSION_BUS_ADDRESS"), 2);
    ASSERT_TRUE(portal.Start());
    const test::ScopedEnv wayland("XDG_SESSION_TYPE", "wayland");
    CSettingsStore().Write(Setting::kHotkeyMouse, 0x74);  // F5, no modifier
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "Hotkeys are the desktop's shortcuts: toggle F5, left-click none*"))
        << Diagnostics(run);
    for (bool on : {true, false}) {
        portal.Activate("toggle");
        portal.Activate("toggle", "Deactivated");
        EXPECT_EQ(PointerMoves(), on) << (on ? "not switched on" : "not switched off") << Diagnostics(run);
    }
}

}  // namespace
}  // namespace e2e
