// A Wayland session end to end: weston with XWayland on the test's Xvfb. The program puts its
// windows on XWayland by itself, says so in the log without a warning from Qt, shows its settings
// window where there is no tray, and its floating window refuses the focus by its hints. Weston
// itself activates every top-level X11 window as it maps it, whatever its hints, and leaves alone
// only windows transient for another; the floating window is transient for none, since KWin hides
// such tool windows whenever another program is active. The desktops' own compositors, which go by
// the hints, are tested for the focus in tests/desktops.
#include <regex>

#include "tests/app_e2e/e2e_harness.h"

#include <X11/Xutil.h>

namespace e2e {
namespace {

constexpr const char* kWaylandSocket = "wayland-mivex";

// Weston on the test's Xvfb, through its X11 backend: the headless backend has no seat, so no
// window there ever has the focus. XWayland's display is the one weston's log names.
class WestonSession {
public:
    WestonSession(const std::string& hostDisplay, const fs::path& folder) : m_log(folder / "weston.log") {
        const test::ScopedEnv display("DISPLAY", hostDisplay), wayland("WAYLAND_DISPLAY", std::nullopt);
        m_pid = test::Spawn({"weston", "--backend=x11-backend.so", "--use-pixman", "--xwayland", "--idle-time=0",
                             std::string("--socket=") + kWaylandSocket, "--log=" + m_log.string()},
                            folder / "weston.out", folder / "weston.out");
        if (m_pid <= 0) {
            m_error = "cannot start weston: install the Debian packages weston and xwayland";
            return;
        }
        const std::regex listening("xserver listening on display (:[0-9]+)");
        std::smatch match;
        std::string text;
        const auto found = [&] { return std::regex_search(text = test::ReadFile(m_log), match, listening); };
        if (WaitUntil([&] { return found() || ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, kSlow * 30s) && found())
            m_xDisplay = match[1];
        else
            m_error = "weston did not offer XWayland within 30 s:\n" + text + test::ReadFile(folder / "weston.out");
    }
    ~WestonSession() { test::EndProcess(m_pid); }
    WestonSession(const WestonSession&) = delete;
    WestonSession& operator=(const WestonSession&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const std::string& XDisplay() const { return m_xDisplay; }

private:
    fs::path m_log;
    pid_t m_pid = -1;
    std::string m_xDisplay, m_error;
};

class WaylandSessionTest : public ProgramTest {
protected:
    bool WithTray() const override { return false; }
};

TEST_F(WaylandSessionTest, WindowsGoToXWaylandAndTheFloatingWindowRefusesTheFocus) {
    WestonSession weston(DisplayName(), Root());
    ASSERT_TRUE(weston.Ok()) << weston.Error();
    const test::ScopedEnv display("DISPLAY", weston.XDisplay()), wayland("WAYLAND_DISPLAY", kWaylandSocket),
        session("XDG_SESSION_TYPE", "wayland"), platform("QT_QPA_PLATFORM", std::nullopt);
    std::unique_ptr<Display, int (*)(Display*)> connection(XOpenDisplay(weston.XDisplay().c_str()), XCloseDisplay);
    ASSERT_NE(connection, nullptr) << "cannot open XWayland's display " << weston.XDisplay();
    Display* x = connection.get();
    const Window root = DefaultRootWindow(x);
    CSettingsStore store;
    store.Write(Setting::kEnableAutoClick, 1);
    store.Write(Setting::kUpdateCount, 1);  // no update reminder
    const std::string displayLine = "Display: Wayland session (Wayland display " + std::string(kWaylandSocket) +
                                    ", XWayland on " + weston.XDisplay() +
                                    "); windows on XWayland through Qt platform xcb*";
    const auto expectNoWarning = [](const ProgramRun& run) {
        const std::string err = test::ReadFile(run.err);
        EXPECT_TRUE(err.find("plugin") == err.npos && err.find("XDG_SESSION_TYPE") == err.npos) << "Qt warned:\n"
                                                                                                << err;
    };

    {
        // With a tray, as the auto click test has it.
        const test::TrayerProcess tray(weston.XDisplay());
        ASSERT_TRUE(tray.Ok()) << tray.Error();
        const ProgramRun run = Start(CameraArgs());
        ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
        EXPECT_EQ(MissingInOrder(Log(run), {displayLine, "Input injection: *", "WriteToolbar"}), "")
            << Diagnostics(run);
        Window floating = None;
        ASSERT_TRUE(WaitUntil([&] { return (floating = Viewable(x, root, "Mivex!")) != None; }, kSlow * 20s))
            << "no floating window" << Diagnostics(run);
        // The window managers of GNOME and KDE go by its hints, and these must refuse the focus.
        std::unique_ptr<XWMHints, int (*)(void*)> hints(XGetWMHints(x, floating), XFree);
        ASSERT_NE(hints, nullptr);
        EXPECT_TRUE((hints->flags & InputHint) && !hints->input) << "the floating window asks for the focus";
        ::kill(run.pid, SIGTERM);
        EXPECT_EQ(Ending(run.pid, kSlow * 20s), "exit code 0") << Diagnostics(run);
        expectNoWarning(run);
    }

    // Without a tray the settings window comes up.
    const ProgramRun run = Start(CameraArgs());
    EXPECT_TRUE(WaitUntil([&] { return Viewable(x, root, "Kordo Mivex!") != None; }, kSlow * 30s))
        << "no settings window without a tray" << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {displayLine, "No system tray yet: *"}), "") << Diagnostics(run);
    expectNoWarning(run);
}

}  // namespace
}  // namespace e2e
