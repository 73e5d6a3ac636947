// The program on a real desktop's compositor: the cases of a suite share one desktop, started in
// the suite's set-up, and each runs its own copies of mivex there as ProgramTest does on an Xvfb.
#pragma once

#include <memory>

#include "tests/app_e2e/e2e_harness.h"
#include "tests/support/desktop_session.h"

namespace e2e {

template <class Session>
class DesktopTest : public ProgramTest {
protected:
    static void SetUpTestSuite() { s_session = std::make_unique<Session>(); }
    static void TearDownTestSuite() { s_session.reset(); }

    void SetUp() override {
        ASSERT_NE(s_session, nullptr) << "the desktop was not started";
        ProgramTest::SetUp();
    }
    const test::DesktopSession* Desktop() const override { return s_session.get(); }
    // These desktops' panels are not started: the program shows its settings window.
    bool WithTray() const override { return false; }

    static inline std::unique_ptr<Session> s_session;
};

// The start-up line that says the windows went to the desktop's XWayland.
inline std::string XWaylandLine(const test::DesktopSession& desktop) {
    return "Display: Wayland session (Wayland display " + desktop.WaylandDisplay() + ", XWayland on " +
           desktop.XDisplay() + "); windows on XWayland through Qt platform xcb*";
}

}  // namespace e2e
