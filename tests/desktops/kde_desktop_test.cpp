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

}  // namespace
}  // namespace e2e
