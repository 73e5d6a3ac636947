// trayer, a small XEmbed system tray, at the top left of a test's X display: started by the tray
// tests and killed when the object goes away.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "xvfb_server.h"

namespace test {

class TrayerProcess {
public:
    // Waits until the tray owns the screen's tray selection; check Ok(), Error() says why not.
    explicit TrayerProcess(const std::string& displayName) { Start(displayName); }
    ~TrayerProcess() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    TrayerProcess(const TrayerProcess&) = delete;
    TrayerProcess& operator=(const TrayerProcess&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    void Start(const std::string& displayName) {
        const std::string trayer = FindOnPath("trayer");
        if (trayer.empty()) {
            m_error = "trayer was not found on PATH: install the Debian package trayer";
            return;
        }
        Display* display = XOpenDisplay(displayName.c_str());
        if (display == nullptr) {
            m_error = "cannot open display " + displayName + " to watch for the tray";
            return;
        }
        const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
        const Atom traySelection = XInternAtom(display, selection.c_str(), False);
        m_pid = SpawnQuiet({trayer, "--display=" + displayName, "--edge", "top", "--align", "left", "--widthtype", "request",
                            "--height", "24", "--SetDockType", "true", "--transparent", "false"});
        if (m_pid <= 0) {
            m_error = "cannot start " + trayer;
        } else {
            WaitForTray(display, traySelection);
        }
        XCloseDisplay(display);
    }

    void WaitForTray(Display* display, Atom traySelection) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (XGetSelectionOwner(display, traySelection) != None) return;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_error = "trayer exited at start (status " + std::to_string(status) + ")";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_error = "trayer did not take the tray selection within 20 s";
    }

    pid_t m_pid = -1;
    std::string m_error;
};

}  // namespace test
