// The desktops our users run, for the end-to-end tests: GNOME's compositor (mutter, headless) and
// KDE's (KWin, virtual backend), each with XWayland, on a runtime folder and session bus of their
// own. KDE's also runs the desktop portal with its KDE backend, which hands GlobalShortcuts to
// kglobalaccel inside KWin. Every process is started here and ended with the object; what they
// printed is in the session's folder, and in Error() when one did not come up.
//
//     test::KdeSession kde;
//     ASSERT_TRUE(kde.Ok()) << kde.Error();
//     const test::SessionEnvironment inside(kde);  // DISPLAY, WAYLAND_DISPLAY, the bus, ...
//     ... start programs: they run on KDE's XWayland and bus
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <list>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

namespace test {

class DesktopSession {
public:
    using Variables = std::vector<std::pair<const char*, std::optional<std::string>>>;

    virtual ~DesktopSession() {
        if (m_group > 0) {
            // The compositor ends its XWayland; the bus goes last, so that no one sees it vanish.
            for (auto pid = m_started.rbegin(); pid != m_started.rend(); ++pid) ::kill(*pid, SIGTERM);
            const auto reaped = [&] {
                for (pid_t pid : m_started)
                    if (::waitpid(pid, nullptr, WNOHANG) == 0) return false;
                return true;
            };
            if (!WaitUntil(reaped, std::chrono::seconds(10))) ::kill(-m_group, SIGKILL), reaped();
            ::kill(-m_group, SIGKILL);  // whatever the bus started for it
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

    const std::string& Name() const { return m_name; }  // as XDG_CURRENT_DESKTOP has it
    const std::string& XDisplay() const { return m_xDisplay; }
    const std::string& XAuthority() const { return m_xAuthority; }  // "" where XWayland asks for none
    std::string WaylandDisplay() const { return "wayland-0"; }
    const std::filesystem::path& RuntimeDir() const { return m_runtime; }
    const std::string& BusAddress() const { return m_bus; }

    // What a program of this desktop's session finds in its environment.
    Variables SessionVariables() const {
        return {{"DISPLAY", m_xDisplay},
                {"XAUTHORITY", m_xAuthority.empty() ? std::nullopt : std::optional(m_xAuthority)},
                {"WAYLAND_DISPLAY", WaylandDisplay()},
                {"XDG_RUNTIME_DIR", m_runtime.string()},
                {"XDG_SESSION_TYPE", "wayland"},
                {"XDG_CURRENT_DESKTOP", m_name},
                {"DBUS_SESSION_BUS_ADDRESS", m_bus}};
    }

    // Whether a name is owned on the session's bus.
    bool BusNameOwned(const std::string& name) const {
        return Run({"dbus-send", "--bus=" + m_bus, "--print-reply", "--dest=org.freedesktop.DBus", "/",
                    "org.freedesktop.DBus.NameHasOwner", "string:" + name})
                   .find("boolean true") != std::string::npos;
    }

    // Runs a command to its end inside the session (its variables set) and gives what it printed.
    std::string Run(std::vector<std::string> args) const {
        const std::filesystem::path output = m_folder / "command-output";
        std::filesystem::remove(output);
        const pid_t pid = Start(std::move(args), output, {});
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        return ReadFile(output);
    }

protected:
    // The folder is short: the sockets inside it must fit a socket address.
    explicit DesktopSession(std::string name) : m_name(std::move(name)) {
        std::string pattern = "/tmp/mivex-desktop-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
        m_folder = pattern;
        m_runtime = m_folder / "runtime";
        std::filesystem::create_directory(m_runtime);
        std::filesystem::permissions(m_runtime, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        m_bus = "unix:path=" + (m_runtime / "bus").string();
    }

    // Starts a process of the session with the session's variables, changed by `extra`, its output
    // appended to `log` in the session's folder; every process joins one process group.
    pid_t Start(std::vector<std::string> args, const std::filesystem::path& log, const Variables& extra) const {
        std::list<ScopedEnv> env;
        for (const auto& [name, value] : SessionVariables()) env.emplace_back(name, value);
        for (const auto& [name, value] : extra) env.emplace_back(name, value);
        return Spawn(std::move(args), log, log, m_group > 0 ? m_group : 0);
    }

    // Starts one of the session's own processes; false (with the error set) when it cannot start.
    bool Launch(std::vector<std::string> args, const std::string& logName, const std::string& package,
                const Variables& extra = {}) {
        const pid_t pid = Start(args, m_folder / logName, extra);
        if (pid <= 0) return Fail("cannot start " + args[0] + ": install the Debian package " + package);
        if (m_group <= 0) m_group = pid;
        m_started.push_back(pid);
        m_logs.push_back(logName);
        return true;
    }

    bool StartBus() {
        return Launch({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + m_bus}, "dbus.log",
                      "dbus-daemon") &&
               Await([&] { return std::filesystem::exists(m_runtime / "bus") && BusNameOwned("org.freedesktop.DBus"); },
                     "the session bus");
    }

    // Waits up to 60 s (XWayland and a software renderer are slow to start on a loaded machine).
    bool Await(const std::function<bool()>& ready, const std::string& what) {
        if (WaitUntil([&] { return ready() || Exited(); }, std::chrono::seconds(60)) && ready()) return true;
        return Fail(what + " did not come up within 60 s");
    }

    bool Fail(const std::string& why) {
        if (m_error.empty()) {
            m_error = m_name + " desktop: " + why;
            for (const std::string& log : m_logs) m_error += "\n--- " + log + ":\n" + ReadFile(m_folder / log);
        }
        return false;
    }

    // Whether one of the session's own processes has ended.
    bool Exited() const {
        for (pid_t pid : m_started) {
            if (::kill(pid, 0) != 0) return true;
            char state = 0;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string skip;
            stat >> skip >> skip >> state;
            if (state == 'Z') return true;
        }
        return false;
    }

    // Whether an X client can connect to the display now.
    bool XDisplayOpens() const {
        const ScopedEnv authority("XAUTHORITY", m_xAuthority.empty() ? std::nullopt : std::optional(m_xAuthority));
        Display* display = XOpenDisplay(m_xDisplay.c_str());
        if (display) XCloseDisplay(display);
        return display != nullptr;
    }

    // XWayland's sockets live in /tmp/.X11-unix, as the system makes it at boot: writable by
    // everyone (mutter refuses it otherwise). KWin does not make it, and on a machine that has
    // run no X server since it booted it is missing; an X server started first as root may have
    // made it 0755.
    bool SharedX11SocketFolder() {
        const char* folder = "/tmp/.X11-unix";
        struct stat status = {};
        if (::stat(folder, &status) == 0 && (status.st_mode & 01022) == 01022) return true;
        if ((::mkdir(folder, 01777) == 0 || errno == EEXIST) && ::chmod(folder, 01777) == 0) return true;
        return Fail("/tmp/.X11-unix must be a folder writable by everyone (mode 1777) for XWayland: " +
                    std::string(std::strerror(errno)));
    }
    const std::filesystem::path& Folder() const { return m_folder; }
    pid_t Process(std::size_t index) const { return m_started.at(index); }

    std::string m_xDisplay, m_xAuthority;

private:
    std::string m_name, m_bus, m_error;
    std::filesystem::path m_folder, m_runtime;
    pid_t m_group = -1;
    std::vector<pid_t> m_started;
    std::vector<std::string> m_logs;
};

// GNOME: mutter as GNOME Shell runs it, headless with one virtual monitor of 1280x1024. XWayland
// asks for the authority file mutter writes into the runtime folder.
class MutterSession : public DesktopSession {
public:
    MutterSession() : DesktopSession("GNOME") {
        if (!SharedX11SocketFolder() || !StartBus()) return;
        const std::regex display("Using public X11 display (:[0-9]+)");
        std::smatch match;
        std::string log;
        if (!Launch({"mutter", "--headless", "--wayland", "--virtual-monitor", "1280x1024", "--wayland-display",
                     WaylandDisplay()},
                    "mutter.log", "mutter", {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}) ||
            !Await([&] { return std::regex_search(log = ReadFile(Folder() / "mutter.log"), match, display); },
                   "mutter's XWayland"))
            return;
        m_xDisplay = match[1];
        for (const auto& entry : std::filesystem::directory_iterator(RuntimeDir()))
            if (entry.path().filename().string().starts_with(".mutter-Xwaylandauth.")) m_xAuthority = entry.path();
        Await([&] { return XDisplayOpens(); }, "a connection to mutter's XWayland " + m_xDisplay);
    }
};

// KDE Plasma: KWin's Wayland compositor with its virtual backend and XWayland, kglobalaccel inside
// it, then xdg-desktop-portal with its KDE backend. KWin is started from a copy: the installed file
// carries a capability (cap_sys_resource) that a container refuses to grant, and a copy has none.
class KdeSession : public DesktopSession {
public:
    KdeSession() : DesktopSession("KDE") {
        const std::filesystem::path kwin = Folder() / "kwin_wayland";
        std::error_code copied;
        std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin, copied);
        if (copied) {
            Fail("cannot copy /usr/bin/kwin_wayland: install the Debian package kwin-wayland");
            return;
        }
        // KWin and kglobalaccel keep their settings (kwinrc, the shortcuts in kglobalshortcutsrc)
        // in a folder of the session's: nothing of the user's is read or changed.
        const std::string config = (Folder() / "config").string();
        if (!SharedX11SocketFolder() || !StartBus() ||
            !Launch({kwin.string(), "--virtual", "--xwayland", "--socket", WaylandDisplay(), "--no-lockscreen",
                     "--width", "1280", "--height", "1024"},
                    "kwin.log", "kwin-wayland",
                    {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"XDG_CONFIG_HOME", config}}) ||
            !Await([&] { return !(m_xDisplay = XDisplayListenedBy(Process(1))).empty() && XDisplayOpens(); },
                   "KWin's XWayland") ||
            !Await([&] { return BusNameOwned("org.kde.kglobalaccel"); }, "kglobalaccel inside KWin"))
            return;
        // The KDE backend (Qt 5 in Plasma 5, Qt 6 in Plasma 6) on XWayland needs no Qt Wayland plugin.
        if (Launch({"/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde"}, "portal-kde.log",
                   "xdg-desktop-portal-kde", {{"QT_QPA_PLATFORM", "xcb"}, {"XDG_CONFIG_HOME", config}}) &&
            Await([&] { return BusNameOwned("org.freedesktop.impl.portal.desktop.kde"); },
                  "the portal's KDE backend") &&
            Launch({"/usr/libexec/xdg-desktop-portal"}, "portal.log", "xdg-desktop-portal"))
            Await([&] { return BusNameOwned("org.freedesktop.portal.Desktop"); }, "xdg-desktop-portal");
    }

private:
    // The X display whose sockets the process listens on, or "". KWin makes them and hands them to
    // the XWayland it starts: Plasma 5 starts it at once, Plasma 6 only when the first X client
    // connects, so until then KWin's sockets are all there is of the display.
    static std::string XDisplayListenedBy(pid_t process) {
        std::set<std::string> held;  // "socket:[INODE]" of each of the process's sockets
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error))
            held.insert(std::filesystem::read_symlink(fd.path(), error).string());
        // /proc/net/unix: "Num RefCount Protocol Flags Type St Inode Path", the path "@..." when abstract.
        const std::regex x11(R"(^(?:\S+ ){6}(\d+) @?/tmp/\.X11-unix/X(\d+)$)");
        std::ifstream sockets("/proc/net/unix");
        std::smatch match;
        for (std::string line; std::getline(sockets, line);)
            if (std::regex_match(line, match, x11) && held.contains("socket:[" + match[1].str() + "]"))
                return ":" + match[2].str();
        return "";
    }
};

// The session's variables for this process and the programs it starts, while the object lives.
class SessionEnvironment {
public:
    explicit SessionEnvironment(const DesktopSession& session) {
        for (const auto& [name, value] : session.SessionVariables()) m_variables.emplace_back(name, value);
    }

private:
    std::list<ScopedEnv> m_variables;
};

}  // namespace test
