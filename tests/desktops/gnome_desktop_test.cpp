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

}  // namespace
}  // namespace e2e
