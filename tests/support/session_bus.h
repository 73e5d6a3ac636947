// A private D-Bus session bus for a test: dbus-daemon listening in a folder of the test's, ended
// with the object. While it lives, this process and the programs it starts use it.
#pragma once

#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

namespace test {

class SessionBus {
public:
    // Without installedServices, the bus starts no program on demand (a portal installed on the
    // machine would otherwise answer in place of the test's own, or of none).
    explicit SessionBus(const std::filesystem::path& folder, bool installedServices = true) {
        const std::filesystem::path printed = folder / "session-bus-address";
        std::string config = "--session";
        if (!installedServices) {
            const std::filesystem::path file = folder / "session-bus.conf";
            WriteFile(file,
                      "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                      "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
            config = "--config-file=" + file.string();
        }
        // The daemon prints its address once it listens.
        m_pid = Spawn({"dbus-daemon", config, "--nofork", "--nopidfile", "--print-address",
                       "--address=unix:path=" + (folder / "session-bus").string()},
                      printed);
        if (m_pid <= 0)
            m_error = "cannot start dbus-daemon: install the Debian packages dbus-daemon and dbus-session-bus-common";
        else if (!WaitUntil([&] { return ReadFile(printed).ends_with('\n'); }, std::chrono::seconds(20)))
            m_error = "dbus-daemon offered no bus within 20 s";
        else
            m_env.emplace("DBUS_SESSION_BUS_ADDRESS", ReadFile(printed).substr(0, ReadFile(printed).size() - 1));
    }
    ~SessionBus() {
        m_env.reset();
        EndProcess(m_pid);
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    pid_t m_pid = -1;
    std::string m_error;
    std::optional<ScopedEnv> m_env;
};

}  // namespace test
