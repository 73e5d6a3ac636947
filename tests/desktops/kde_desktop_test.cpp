// The program on KDE Plasma's compositor, KWin, with the desktop portal and its KDE backend.
#include "tests/desktops/desktop_test.h"

namespace e2e {
namespace {

using KdeTest = DesktopTest<test::KdeSession>;

TEST_F(KdeTest, StartsWithItsWindowsOnXWaylandBesideAGlobalShortcutsPortal) {
    const std::string version = Desktop()->Run(
        {"dbus-send", "--bus=" + Desktop()->BusAddress(), "--print-reply", "--dest=org.freedesktop.portal.Desktop",
         "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties.Get",
         "string:org.freedesktop.portal.GlobalShortcuts", "string:version"});
    EXPECT_NE(version.find("uint32 "), std::string::npos) << "the portal offers no GlobalShortcuts:\n" << version;
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {XWaylandLine(*Desktop())}), "") << Diagnostics(run);
}

// KWin's "hide utility windows for inactive applications", on by default, unmaps a tool window
// transient for a program while another program is active: the floating window stays up, above
// the other program, with the settings window open. It offers neither minimise nor maximise.
TEST_F(KdeTest, TheFloatingWindowStaysUpAboveAnotherActiveProgram) {
    const ProgramRun* run = nullptr;
    const Windows windows = StartWithAutoClickBesideAnotherProgram(run);
    ASSERT_TRUE(windows.settings != None && windows.floating != None) << "windows missing" << Diagnostics(*run);
    ASSERT_EQ(ActiveWindow(), windows.other) << "KWin did not make the other program active";
    EXPECT_TRUE(StaysUp(windows.floating)) << "KWin hid the floating window";
    EXPECT_TRUE(test::Viewable(m_x, windows.settings)) << "the settings window went";
    EXPECT_TRUE(test::StackedAbove(m_x, windows.floating, windows.other)) << "the floating window went below";
    EXPECT_EQ(test::FocusedWindow(m_x), windows.other);
    const std::vector<std::string> actions = test::AtomNames(m_x, windows.floating, "_NET_WM_ALLOWED_ACTIONS");
    EXPECT_TRUE(test::Contains(actions, "_NET_WM_ACTION_MOVE")) << "the floating window cannot be moved";
    for (const char* action : {"_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ"})
        EXPECT_FALSE(test::Contains(actions, action)) << action;
}

}  // namespace
}  // namespace e2e
