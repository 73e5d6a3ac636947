// The program on GNOME's compositor, mutter, as GNOME Shell runs it, with XWayland.
#include "tests/desktops/desktop_test.h"

namespace e2e {
namespace {

using GnomeTest = DesktopTest<test::MutterSession>;

TEST_F(GnomeTest, StartsWithItsWindowsOnXWayland) {
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {XWaylandLine(*Desktop())}), "") << Diagnostics(run);
    EXPECT_TRUE(WaitUntil([&] { return Viewable(m_x, DefaultRootWindow(m_x), "Kordo Mivex!") != None; }, kSlow * 20s))
        << "no settings window" << Diagnostics(run);
}

// mutter raises a program's dialog to the highest layer of the program's windows; the settings
// window, a normal window, goes below another program's window that is made active, while the
// floating window stays above it and takes no focus. Neither minimise nor maximise for the
// floating window, whose title bar moves it.
TEST_F(GnomeTest, AnotherProgramComesAboveTheSettingsWindowButBelowTheFloatingWindow) {
    const ProgramRun* run = nullptr;
    const Windows windows = StartWithAutoClickBesideAnotherProgram(run);
    ASSERT_TRUE(windows.settings != None && windows.floating != None) << "windows missing" << Diagnostics(*run);
    ASSERT_EQ(ActiveWindow(), windows.other) << "mutter did not make the other program active";
    EXPECT_TRUE(StaysUp(windows.floating)) << "the floating window went";
    EXPECT_TRUE(test::StackedAbove(m_x, windows.other, windows.settings))
        << "the settings window stays above the active program; from the bottom up:\n"
        << test::DescribeStacking(m_x);
    EXPECT_TRUE(test::StackedAbove(m_x, windows.floating, windows.other)) << "the floating window went below";
    EXPECT_EQ(test::FocusedWindow(m_x), windows.other);
    ExpectMovableButNeverMinimisedOrMaximised(windows.floating);
    EXPECT_EQ(test::Property32(m_x, windows.floating, "_NET_FRAME_EXTENTS", XA_CARDINAL).size(), 4u)
        << "the floating window has no title bar";
}

// A portal without GlobalShortcuts, as GNOME 43's: the Hotkeys tab and the log say so in words, with
// the way to bind the actions by command, not with the bus's error name alone. GNOME 48's portal has
// them through GNOME Shell, which this session does not run (mutter alone, without GNOME's portal
// backend), so on either release the portal here has none.
TEST_F(GnomeTest, TheHotkeysTabSaysInWordsThatTheDesktopOffersNoGlobalShortcuts) {
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "Hotkeys: not the desktop's shortcuts: *")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {"Hotkeys: not the desktop's shortcuts: this desktop offers no global "
                                        "shortcuts to programs yet (org.freedesktop.DBus.Error.*"}),
              "")
        << Diagnostics(run);
}

}  // namespace
}  // namespace e2e
