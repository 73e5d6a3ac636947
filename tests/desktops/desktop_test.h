// The program on a real desktop's compositor: the cases of a suite share one desktop, started in
// the suite's set-up, and each runs its own copies of mivex there as ProgramTest does on an Xvfb.
#pragma once

#include <memory>

#include "tests/app_e2e/e2e_harness.h"
#include "tests/support/desktop_session.h"
#include "tests/support/x_window_state.h"

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

    // The program with auto click on (its settings window and floating window up), then a window of
    // another program that the desktop makes active, as a click on the task bar does: the windows,
    // each None when it did not come.
    struct Windows {
        Window settings = None, floating = None, other = None;
    };
    Windows StartWithAutoClickBesideAnotherProgram(const ProgramRun*& started) {
        CSettingsStore store;
        store.Write(Setting::kEnableAutoClick, 1);
        store.Write(Setting::kUpdateCount, 1);  // no update reminder
        m_run = Start(CameraArgs());
        started = &m_run;
        Windows windows;
        const auto managed = [&](const char* name, Window& window) {
            return WaitUntil([&] { return (window = test::ClientNamed(m_x, name)) != None; }, kSlow * 30s);
        };
        if (!managed("Kordo Mivex!", windows.settings) || !managed("Mivex!", windows.floating)) return windows;
        // Shown at start as for "Setup", the settings window asks to be active once it is exposed.
        WaitUntil([&] { return ActiveWindow() == windows.settings; }, kSlow * 10s);
        windows.other = test::MapOtherClient(m_x, "another program", 200, 150, 700, 500);
        WaitUntil([&] { return test::WmState(m_x, windows.other) == NormalState; }, kSlow * 10s);
        XEvent activate{};
        activate.xclient.type = ClientMessage;
        activate.xclient.window = windows.other;
        activate.xclient.message_type = XInternAtom(m_x, "_NET_ACTIVE_WINDOW", False);
        activate.xclient.format = 32;
        activate.xclient.data.l[0] = 2;  // from a pager or task bar
        XSendEvent(m_x, DefaultRootWindow(m_x), False, SubstructureRedirectMask | SubstructureNotifyMask, &activate);
        XSync(m_x, False);
        WaitUntil([&] { return ActiveWindow() == windows.other; }, kSlow * 10s);
        XRaiseWindow(m_x, windows.other);  // as the active program does when clicked
        XSync(m_x, False);
        std::this_thread::sleep_for(300ms);
        return windows;
    }
    Window ActiveWindow() const {
        const std::vector<unsigned long> active =
            test::Property32(m_x, DefaultRootWindow(m_x), "_NET_ACTIVE_WINDOW", XA_WINDOW);
        return active.empty() ? None : active[0];
    }
    // Whether a window is mapped and in the normal state now and still a second later.
    bool StaysUp(Window window) const {
        const auto up = [&] { return test::Viewable(m_x, window) && test::WmState(m_x, window) == NormalState; };
        if (!up()) return false;
        std::this_thread::sleep_for(1s);  // KWin hides tool windows on a timer after an activation
        return up();
    }
    // The floating window moves by its title bar and can be neither minimised nor maximised.
    void ExpectMovableButNeverMinimisedOrMaximised(Window floating) const {
        const std::vector<std::string> actions = test::AtomNames(m_x, floating, "_NET_WM_ALLOWED_ACTIONS");
        EXPECT_TRUE(test::Contains(actions, "_NET_WM_ACTION_MOVE")) << "the floating window cannot be moved";
        for (const char* action : {"_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ"})
            EXPECT_FALSE(test::Contains(actions, action)) << action;
    }

    static inline std::unique_ptr<Session> s_session;
    ProgramRun m_run;
};

// The start-up line that says the windows went to the desktop's XWayland.
inline std::string XWaylandLine(const test::DesktopSession& desktop) {
    return "Display: Wayland session (Wayland display " + desktop.WaylandDisplay() + ", XWayland on " +
           desktop.XDisplay() + "); windows on XWayland through Qt platform xcb*";
}

}  // namespace e2e
