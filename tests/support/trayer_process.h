// The programs of a test's desktop on its private X display: trayer, a small XEmbed system tray at
// the top left, and openbox, a window manager for the tests where focus or stacking matters. Each
// is started by the test and ended when its object goes away.
#pragma once

#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

namespace test {

class DesktopProcess {
public:
    // Starts args on the display and waits until the program owns the X selection that says it is
    // ready; check Ok(), Error() says why not.
    DesktopProcess(const std::string& displayName, const std::vector<std::string>& args, const std::string& selection,
                   const std::string& package) {
        Display* display = XOpenDisplay(displayName.c_str());
        if (display == nullptr) {
            m_error = "cannot open display " + displayName + " to watch for " + args[0];
        } else {
            const Atom owned = XInternAtom(display, selection.c_str(), False);
            const ScopedEnv onDisplay("DISPLAY", displayName);
            m_pid = Spawn(args);
            const auto taken = [&] { return XGetSelectionOwner(display, owned) != None; };
            if (m_pid <= 0)
                m_error = "cannot start " + args[0] + ": install the Debian package " + package;
            else if (!WaitUntil(taken, std::chrono::seconds(20)))
                m_error = args[0] + " did not take the selection " + selection + " within 20 s";
        }
        if (display) XCloseDisplay(display);
    }
    ~DesktopProcess() { EndProcess(m_pid); }
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    pid_t m_pid = -1;
    std::string m_error;
};

// Xvfb has one screen, 0.
class TrayerProcess : public DesktopProcess {
public:
    explicit TrayerProcess(const std::string& displayName)
        : DesktopProcess(displayName,
                         {"trayer", "--edge", "top", "--align", "left", "--widthtype", "request", "--height", "24",
                          "--SetDockType", "true", "--transparent", "false"},
                         "_NET_SYSTEM_TRAY_S0", "trayer") {}
};

class OpenboxProcess : public DesktopProcess {
public:
    explicit OpenboxProcess(const std::string& displayName)
        : DesktopProcess(displayName, {"openbox", "--sm-disable"}, "WM_S0", "openbox") {}
};

}  // namespace test
