// A private X server for the tests that need one: Xvfb on a display it picks itself, started by
// the test and stopped when the object goes away. Also the process helpers of those tests.
#pragma once

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace test {

// Starts args[0], looked for on PATH, with this process's environment, input from /dev/null and
// output appended to out and err; the child's pid, or -1 when it could not be started. A group
// of 0 makes the child the leader of a new process group, a positive one puts it into that group.
inline pid_t Spawn(std::vector<std::string> args, const std::filesystem::path& out = "/dev/null",
                   const std::filesystem::path& err = "/dev/null", std::optional<pid_t> group = std::nullopt) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (group) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, *group);
    }
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

// Polls done until it holds (true) or the deadline passes (false).
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration timeout) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !done();) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline void EndProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

class XvfbServer {
public:
    // Check Ok(); Error() says why it is not.
    XvfbServer() {
        int ready[2];
        if (::pipe(ready) != 0) throw std::runtime_error("no pipe for Xvfb's display number");
        // Xvfb takes the first free display and writes its number once it accepts connections;
        // without resets, a test's last client leaving does not make it refuse the next one.
        m_pid = Spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-noreset", "-nolisten", "tcp", "-screen", "0",
                       "1024x768x24"});
        ::close(ready[1]);
        pollfd wait{ready[0], POLLIN, 0};
        char number[16] = {};
        if (m_pid <= 0) {
            m_error = "cannot start Xvfb: install the Debian package xvfb";
        } else if (::poll(&wait, 1, 20000) == 1 && ::read(ready[0], number, sizeof number - 1) > 0) {
            m_displayName = ":";
            m_displayName += std::to_string(std::atoi(number));
        } else {
            m_error = "Xvfb did not report a display within 20 s";
        }
        ::close(ready[0]);
    }
    ~XvfbServer() { EndProcess(m_pid); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool Ok() const { return !m_displayName.empty(); }
    const std::string& Error() const { return m_error; }
    const std::string& DisplayName() const { return m_displayName; }

private:
    pid_t m_pid = -1;
    std::string m_displayName;
    std::string m_error;
};

}  // namespace test
