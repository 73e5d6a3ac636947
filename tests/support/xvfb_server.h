// A private X server for the tests that need one: Xvfb on a free display number, started by the
// test and stopped when the object goes away.
#pragma once

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace test {

// The program's full path from PATH, or empty.
inline std::string FindOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Starts args[0] with this process's environment and its output thrown away; the child's pid,
// or -1 when it could not be started.
inline pid_t SpawnQuiet(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

class XvfbServer {
public:
    // Check Ok(); Error() says why it is not.
    XvfbServer() { Start(); }
    ~XvfbServer() { Stop(); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool Ok() const { return m_pid > 0; }
    const std::string& Error() const { return m_error; }
    const std::string& DisplayName() const { return m_displayName; }

private:
    static bool DisplayInUse(int number) {
        return std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
               std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number));
    }

    // The server that holds the display's lock file, so that a server of a test running in
    // parallel on the same number is not taken for ours.
    static pid_t LockOwner(int number) {
        std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
        long pid = 0;
        lock >> pid;
        return static_cast<pid_t>(pid);
    }

    void Start() {
        const std::string xvfb = FindOnPath("Xvfb");
        if (xvfb.empty()) {
            m_error = "Xvfb was not found on PATH: install the Debian package xvfb";
            return;
        }
        const int first = 100 + static_cast<int>(::getpid() % 400);
        for (int number = first; number < first + 40; ++number) {
            if (DisplayInUse(number)) continue;
            if (TryDisplay(xvfb, number)) return;
        }
        if (m_error.empty()) m_error = "no free X display number for Xvfb";
    }

    bool TryDisplay(const std::string& xvfb, int number) {
        // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) on ":" + string.
        std::string display = ":";
        display += std::to_string(number);
        const pid_t pid =
            SpawnQuiet({xvfb, display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (pid <= 0) {
            m_error = "cannot start " + xvfb;
            return false;
        }

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                m_error = "Xvfb " + display + " exited at start";
                return false;  // most likely the number was taken meanwhile
            }
            if (LockOwner(number) == pid) {
                // Kept open: the server resets when its last client leaves, and refuses
                // connections while it does.
                if (Display* keepAlive = XOpenDisplay(display.c_str())) {
                    m_keepAlive = keepAlive;
                    m_pid = pid;
                    m_displayName = display;
                    m_error.clear();
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        m_error = "Xvfb " + display + " did not accept connections within 20 s";
        return false;
    }

    void Stop() {
        if (m_pid <= 0) return;
        XCloseDisplay(m_keepAlive);
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    pid_t m_pid = -1;
    Display* m_keepAlive = nullptr;
    std::string m_displayName;
    std::string m_error;
};

}  // namespace test
