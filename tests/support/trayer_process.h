// trayer, a small XEmbed system tray, at the top left of a test's X display: started by the tray
// tests and ended when the object goes away.
#pragma once

#include "xvfb_server.h"

namespace test {

class TrayerProcess {
public:
    // Waits until the tray owns the screen's tray selection; check Ok(), Error() says why not.
    explicit TrayerProcess(const std::string& displayName) {
        Display* display = XOpenDisplay(displayName.c_str());
        if (display == nullptr) {
            m_error = "cannot open display " + displayName + " to watch for the tray";
        } else {
            const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
            const Atom selection = XInternAtom(display, name.c_str(), False);
            m_pid = Spawn({"trayer", "--display=" + displayName, "--edge", "top", "--align", "left", "--widthtype",
                           "request", "--height", "24", "--SetDockType", "true", "--transparent", "false"});
            const auto taken = [&] { return XGetSelectionOwner(display, selection) != None; };
            if (m_pid <= 0)
                m_error = "cannot start trayer: install the Debian package trayer";
            else if (!WaitUntil(taken, std::chrono::seconds(20)))
                m_error = "trayer did not take the tray selection within 20 s";
        }
        if (display) XCloseDisplay(display);
    }
    ~TrayerProcess() { EndProcess(m_pid); }
    TrayerProcess(const TrayerProcess&) = delete;
    TrayerProcess& operator=(const TrayerProcess&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    pid_t m_pid = -1;
    std::string m_error;
};

}  // namespace test
