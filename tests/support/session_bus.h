// A private D-Bus session bus for the tests that need one: dbus-daemon, started by the test and
// stopped when the object goes away. Include after Qt's headers (it brings Xlib's macros).
#pragma once

#include <string>

#include "xvfb_server.h"

namespace test {

class SessionBus {
public:
    // Check Ok(); Error() says why it is not.
    SessionBus() {
        int ready[2];
        if (::pipe(ready) != 0) throw std::runtime_error("no pipe for dbus-daemon's address");
        m_pid = Spawn(
            {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=" + std::to_string(ready[1])});
        ::close(ready[1]);
        pollfd wait{ready[0], POLLIN, 0};
        char address[512] = {};
        if (m_pid <= 0)
            m_error = "cannot start dbus-daemon: install the Debian package dbus-daemon";
        else if (::poll(&wait, 1, 20000) == 1 && ::read(ready[0], address, sizeof address - 1) > 0)
            m_address = std::string(address).substr(0, std::string(address).find('\n'));
        else
            m_error = "dbus-daemon did not report its address within 20 s";
        ::close(ready[0]);
    }
    ~SessionBus() { EndProcess(m_pid); }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool Ok() const { return !m_address.empty(); }
    const std::string& Error() const { return m_error; }
    const std::string& Address() const { return m_address; }

private:
    pid_t m_pid = -1;
    std::string m_address, m_error;
};

}  // namespace test
