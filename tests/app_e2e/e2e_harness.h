// Runs the real program as the user would, in a private desktop: a private Xvfb, its own copy of
// the executable and data folder (the program logs beside itself), its own settings and runtime
// folders. Shared by the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"
#include "trayer_process.h"
#include "xvfb_server.h"  // brings Xlib; keep it after headers that Xlib's macros would break

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

namespace e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Time

// Sanitizer builds run the program several times slower; every deadline stretches by this.
inline double TimeScale() {
    if (const char* text = std::getenv("MIVEX_TEST_TIME_SCALE")) {
        const double scale = std::atof(text);
        if (scale > 0) return scale;
    }
    return std::string_view(MIVEX_E2E_SANITIZER).empty() ? 1.0 : 5.0;
}

inline Clock::duration Scaled(Clock::duration d) {
    return std::chrono::duration_cast<Clock::duration>(d * TimeScale());
}

inline bool WaitUntil(const std::function<bool()>& done, Clock::duration timeout) {
    for (const auto end = Clock::now() + timeout; Clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

// ---------------------------------------------------------------------------------------------
// Text

// Lines without their ending; the log ends lines in CR LF, standard error in LF.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

inline bool HasLine(const std::string& text, const std::string& line) {
    const auto lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Whether lines of text match the patterns in this order (other lines may come between). A
// pattern matches a whole line, or with a trailing '*' any line that starts with the rest.
// Returns an empty string when they do, else what is missing.
inline std::string MissingInOrder(const std::string& text, const std::vector<std::string>& patterns) {
    const auto lines = Lines(text);
    auto at = lines.begin();
    for (const std::string& pattern : patterns) {
        const bool prefix = pattern.ends_with('*');
        const std::string_view wanted(pattern.data(), pattern.size() - (prefix ? 1 : 0));
        at = std::find_if(at, lines.end(),
                          [&](const std::string& line) { return prefix ? line.starts_with(wanted) : line == wanted; });
        if (at == lines.end()) return "no line \"" + pattern + "\" after the previous one";
        ++at;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Settings file: "[section]" then "key=value" lines, as the program writes it.

class SettingsFile {
public:
    explicit SettingsFile(fs::path path) : m_path(std::move(path)) {}
    const fs::path& Path() const { return m_path; }

    std::optional<int> Get(const std::string& section, const std::string& key) const {
        const auto all = Parse();
        const auto s = all.find(section);
        if (s == all.end()) return std::nullopt;
        const auto k = s->second.find(key);
        if (k == s->second.end()) return std::nullopt;
        try {
            return std::stoi(k->second);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    // A key the program reads as its default when absent.
    int GetOr(const std::string& section, const std::string& key, int absent) const {
        return Get(section, key).value_or(absent);
    }

    struct Assignment {
        std::string section, key;
        int value;
    };
    // Edits the text, keeping every other key, and replaces the file at once as the program does.
    void Set(const std::vector<Assignment>& assignments) const {
        auto all = Parse();
        for (const Assignment& a : assignments) all[a.section][a.key] = std::to_string(a.value);
        std::string text;
        for (const auto& [section, keys] : all) {
            if (!text.empty()) text += '\n';
            text += '[' + section + "]\n";
            for (const auto& [key, value] : keys) text += key + '=' + value + '\n';
        }
        fs::path temporary = m_path;
        temporary += ".e2e-new";
        test::WriteFile(temporary, text);
        fs::rename(temporary, m_path);
    }

private:
    using Sections = std::map<std::string, std::map<std::string, std::string>>;

    Sections Parse() const {
        Sections all;
        std::string section;
        for (std::string line : Lines(test::ReadFile(m_path))) {
            auto trim = [](std::string s) {
                const auto first = s.find_first_not_of(" \t"), last = s.find_last_not_of(" \t");
                return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
            };
            line = trim(line);
            if (line.empty() || line[0] == ';' || line[0] == '#') continue;
            if (line.front() == '[' && line.back() == ']') {
                section = trim(line.substr(1, line.size() - 2));
                continue;
            }
            const auto equals = line.find('=');
            if (equals == std::string::npos || equals == 0) continue;
            all[section][trim(line.substr(0, equals))] = trim(line.substr(equals + 1));
        }
        return all;
    }

    fs::path m_path;
};

// ---------------------------------------------------------------------------------------------
// Processes

inline std::string DescribeStatus(int status) {
    if (status == -1) return "ended, exit code unknown (not a child of the test)";
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Running and not a zombie (which has no exe link); does not reap it.
inline bool IsRunning(pid_t pid) {
    std::error_code gone;
    (void)fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", gone);
    return !gone;
}

// Waits for a child (or a process adopted by this one) to end; its wait status, or nothing when
// it was still running at the deadline.
inline std::optional<int> WaitForExit(pid_t pid, Clock::duration timeout) {
    for (const auto end = Clock::now() + timeout;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        // Not a child of this process: it has ended when its exe link is gone (-1: code unknown).
        if (done < 0 && !IsRunning(pid)) return -1;
        if (Clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
}

inline bool ExitedWithCode(const std::optional<int>& status, int code) {
    return status && *status >= 0 && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

// Live processes running this executable (zombies have no exe link and are left out).
inline std::vector<pid_t> ProcessesRunning(const fs::path& executable) {
    std::vector<pid_t> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code error;
        const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
        if (!error && exe == executable) pids.push_back(std::stoi(name));
    }
    return pids;
}

inline pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const fs::path& out, const fs::path& err) {
    std::vector<char*> argv, envp;
    std::vector<std::string> argsCopy = args, envCopy = env;
    for (auto& a : argsCopy) argv.push_back(a.data());
    for (auto& e : envCopy) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Appending: a process the program starts in its place writes to the same files.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

// ---------------------------------------------------------------------------------------------
// The X server as the user's hand and eyes: the pointer, clicks, keys and the window tree.

struct Point {
    int x = 0, y = 0;
};

struct WindowInfo {
    Window id = 0;
    int x = 0, y = 0, width = 0, height = 0;  // on the root
    bool viewable = false;
    bool overrideRedirect = false;
};

class XClient {
public:
    explicit XClient(const std::string& displayName) : m_display(XOpenDisplay(displayName.c_str())) {
        // Windows of other clients can vanish between two requests: never fatal here.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        if (!m_display) return;
        m_root = DefaultRootWindow(m_display);
        // Pointer moves as sent: no acceleration of the injected motion.
        XChangePointerControl(m_display, True, True, 1, 1, 0);
        XSync(m_display, False);
    }
    ~XClient() {
        if (m_display) XCloseDisplay(m_display);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool Ok() const { return m_display != nullptr; }
    Point ScreenSize() const {
        return {DisplayWidth(m_display, DefaultScreen(m_display)), DisplayHeight(m_display, DefaultScreen(m_display))};
    }
    Point Centre() const { return {ScreenSize().x / 2, ScreenSize().y / 2}; }

    Point Pointer() const {
        Window root = 0, child = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        XQueryPointer(m_display, m_root, &root, &child, &x, &y, &wx, &wy, &mask);
        return {x, y};
    }
    void Warp(Point p) const {
        XWarpPointer(m_display, 0, m_root, 0, 0, 0, 0, p.x, p.y);
        XSync(m_display, False);
    }
    void Click(Point p, unsigned int button) const {
        XTestFakeMotionEvent(m_display, DefaultScreen(m_display), p.x, p.y, CurrentTime);
        XSync(m_display, False);
        std::this_thread::sleep_for(50ms);
        XTestFakeButtonEvent(m_display, button, True, CurrentTime);
        XSync(m_display, False);
        std::this_thread::sleep_for(50ms);
        XTestFakeButtonEvent(m_display, button, False, CurrentTime);
        XSync(m_display, False);
    }
    void PressKey(KeySym symbol) const {
        const KeyCode code = XKeysymToKeycode(m_display, symbol);
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XSync(m_display, False);
        std::this_thread::sleep_for(30ms);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        XSync(m_display, False);
    }

    // Every window below the root, parents before children.
    std::vector<Window> AllWindows() const {
        std::vector<Window> all;
        std::function<void(Window)> walk = [&](Window parent) {
            Window root = 0, up = 0, *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, parent, &root, &up, &children, &count)) return;
            std::vector<Window> list(children, children + count);
            if (children) XFree(children);
            for (Window child : list) {
                all.push_back(child);
                walk(child);
            }
        };
        walk(m_root);
        return all;
    }

    std::optional<pid_t> WindowPid(Window window) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
        std::optional<pid_t> pid;
        if (XGetWindowProperty(m_display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                               &data) == Success &&
            data && count == 1 && format == 32)
            pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return pid;
    }

    // The window's ancestor just below the root (itself when it is a top-level window).
    Window TopLevel(Window window) const {
        for (;;) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, window, &root, &parent, &children, &count)) return 0;
            if (children) XFree(children);
            if (parent == root || parent == 0) return window;
            window = parent;
        }
    }

    std::optional<WindowInfo> Info(Window window) const {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, window, &attributes)) return std::nullopt;
        WindowInfo info;
        info.id = window;
        Window child = 0;
        XTranslateCoordinates(m_display, window, m_root, 0, 0, &info.x, &info.y, &child);
        info.width = attributes.width;
        info.height = attributes.height;
        info.viewable = attributes.map_state == IsViewable;
        info.overrideRedirect = attributes.override_redirect;
        return info;
    }

private:
    Display* m_display = nullptr;
    Window m_root = 0;
};

// Waits until the pointer is at least distance pixels away from where it was when called.
inline bool WaitForPointerMove(const XClient& x, int distance, Clock::duration timeout) {
    const Point from = x.Pointer();
    return WaitUntil(
        [&] {
            const Point now = x.Pointer();
            return std::hypot(now.x - from.x, now.y - from.y) >= distance;
        },
        timeout);
}

// ---------------------------------------------------------------------------------------------
// The generated camera video (written by head_sequence.cpp).

struct HeadDirection {
    int x = 0, y = 0;  // -1, 0 or +1 in picture coordinates (y down)
};

// The video of a moving head the tests use as the camera; written on first use.
fs::path HeadSequence();
// Writes it (and its CSV of the true motion) into folder, replacing any older one.
void WriteHeadSequence(const fs::path& folder);
// The head's motion on the fast pass of the loop, from the true motion; the slow pass goes back.
HeadDirection FastPassHeadDirection();

// ---------------------------------------------------------------------------------------------
// One test's private desktop: T/bin/mivex with T/bin/data/, settings in T/config, the runtime
// folder T/run, a private Xvfb. Everything running T/bin/mivex is killed when it goes away.

struct ProgramRun {
    pid_t pid = -1;
    fs::path out, err;              // standard output and error, shared with a restarted process
    std::set<fs::path> logsBefore;  // the logs that existed before the start
    fs::path log;                   // the log this run created, once known
};

class Session {
public:
    Session() {
        if (!m_xvfb.Ok()) {
            m_error = m_xvfb.Error();
            return;
        }
        // A process the program starts in its place is re-parented to this one, which can then
        // wait for it and learn its exit code.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        const fs::path built = MIVEX_E2E_PROGRAM, data = MIVEX_E2E_DATA_DIR;
        if (!fs::exists(built)) {
            m_error = "the program " + built.string() + " is not built: build the target mivex";
            return;
        }
        if (!fs::exists(data / "cascade_ff_d.xml")) {
            m_error = "the face cascade " + (data / "cascade_ff_d.xml").string() + " is missing";
            return;
        }
        fs::create_directories(DataDir());
        fs::copy_file(built, Program());
        fs::copy_file(data / "cascade_ff_d.xml", DataDir() / "cascade_ff_d.xml");
        fs::create_directories(Root() / "config");
        fs::create_directories(RuntimeDir());
        fs::permissions(RuntimeDir(), fs::perms::owner_all, fs::perm_options::replace);
        m_x = std::make_unique<XClient>(m_xvfb.DisplayName());
        if (!m_x->Ok()) m_error = "cannot open X display " + m_xvfb.DisplayName();
    }
    ~Session() {
        KillStrays();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Empty when the session is ready.
    const std::string& Error() const { return m_error; }

    const fs::path& Root() const { return m_dir.path(); }
    fs::path Program() const { return Root() / "bin" / "mivex"; }
    fs::path DataDir() const { return Root() / "bin" / "data"; }
    fs::path RuntimeDir() const { return Root() / "run"; }
    SettingsFile Settings() const { return SettingsFile(Root() / "config" / "KordO" / "Mivex.ini"); }
    const XClient& X() const { return *m_x; }

    ProgramRun Start(const std::vector<std::string>& args) {
        ProgramRun run;
        const int n = ++m_runs;
        run.out = Root() / ("stdout-" + std::to_string(n) + ".txt");
        run.err = Root() / ("stderr-" + std::to_string(n) + ".txt");
        run.logsBefore = Logs();
        std::vector<std::string> argv{Program().string()};
        argv.insert(argv.end(), args.begin(), args.end());
        run.pid = Spawn(argv, Environment(), run.out, run.err);
        return run;
    }

    std::set<fs::path> Logs() const {
        std::set<fs::path> logs;
        for (const auto& entry : fs::directory_iterator(DataDir()))
            if (entry.path().filename().string().rfind("MivexLog", 0) == 0) logs.insert(entry.path());
        return logs;
    }

    // The log the run created (waiting for it to appear), or an empty path.
    const fs::path& LogOf(ProgramRun& run, Clock::duration timeout = Scaled(10s)) const {
        if (run.log.empty()) {
            WaitUntil(
                [&] {
                    for (const fs::path& log : Logs())
                        if (!run.logsBefore.count(log)) run.log = log;
                    return !run.log.empty();
                },
                timeout);
        }
        return run.log;
    }
    std::string LogText(ProgramRun& run) const {
        const fs::path& log = LogOf(run, 0s);
        return log.empty() ? std::string() : test::ReadFile(log);
    }

    // Gives up early when the process has ended without writing the line.
    bool WaitForLogLine(ProgramRun& run, const std::string& line, Clock::duration timeout) const {
        WaitUntil([&] { return !IsRunning(run.pid) || HasLine(LogText(run), line); }, timeout);
        return HasLine(LogText(run), line);
    }

    // What a failure message shows of a run.
    std::string Diagnostics(ProgramRun& run) const {
        return "\n--- log " + LogOf(run, 0s).string() + ":\n" + LogText(run) + "\n--- stderr:\n" +
               test::ReadFile(run.err) + "--- stdout:\n" + test::ReadFile(run.out);
    }

    // Starts a system tray at the top left of the screen and waits until it manages the tray;
    // empty when it does, else why not.
    std::string StartTrayer() {
        m_trayer.emplace(m_xvfb.DisplayName());
        return m_trayer->Error();
    }

    // Every sanitizer report any run wrote to standard error.
    std::string SanitizerReports() const {
        std::string reports;
        for (int n = 1; n <= m_runs; ++n) {
            const fs::path err = Root() / ("stderr-" + std::to_string(n) + ".txt");
            const std::string text = test::ReadFile(err);
            if (text.find("WARNING: ThreadSanitizer") != std::string::npos) reports += err.string() + ":\n" + text;
        }
        return reports;
    }

    void KillStrays() const {
        for (int round = 0; round < 3; ++round) {
            const auto pids = ProcessesRunning(Program());
            if (pids.empty()) return;
            for (pid_t pid : pids) ::kill(pid, SIGKILL);
            for (pid_t pid : pids) WaitForExit(pid, 2s);
        }
    }

private:
    std::vector<std::string> Environment() const {
        static const std::set<std::string> replaced{"DISPLAY",         "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR",
                                                    "XDG_CACHE_HOME",  "XDG_DATA_HOME",   "MIVEX_INJECTOR",
                                                    "QT_QPA_PLATFORM", "WAYLAND_DISPLAY",
                                                    // no session bus: the tray icon goes to the X tray
                                                    "DBUS_SESSION_BUS_ADDRESS"};
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!replaced.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
        }
        env.push_back("DISPLAY=" + m_xvfb.DisplayName());
        env.push_back("XDG_CONFIG_HOME=" + (Root() / "config").string());
        env.push_back("XDG_RUNTIME_DIR=" + RuntimeDir().string());
        env.push_back("XDG_CACHE_HOME=" + (Root() / "cache").string());
        env.push_back("XDG_DATA_HOME=" + (Root() / "share").string());
        env.push_back("MIVEX_INJECTOR=xtest");
        env.push_back("QT_QPA_PLATFORM=xcb");
        return env;
    }

    test::TempDir m_dir;
    test::XvfbServer m_xvfb;
    std::unique_ptr<XClient> m_x;
    std::string m_error;
    int m_runs = 0;
    std::optional<test::TrayerProcess> m_trayer;  // stopped before the X server
};

// Fixture: a ready session per test, with a system tray as on the user's desktop (without one the
// program shows a window instead of its tray icon); strays are killed and sanitizer reports fail
// the test.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_session = std::make_unique<Session>();
        ASSERT_EQ(m_session->Error(), "");
        ASSERT_EQ(m_session->StartTrayer(), "");
    }
    void TearDown() override {
        if (!m_session) return;
        m_session->KillStrays();
        const std::string reports = m_session->SanitizerReports();
        EXPECT_EQ(reports, "") << "the program reported data races";
        m_session.reset();
    }

    Session& S() { return *m_session; }
    std::vector<std::string> CameraArgs() const { return {"--camera-file", HeadSequence().string(), "--no-dialogs"}; }

    std::unique_ptr<Session> m_session;
};

// The start-up lines in their order, optionally after "RebootCount>0 <n>".
inline std::vector<std::string> StartupLines(std::optional<int> rebootCount = std::nullopt) {
    std::vector<std::string> lines;
    if (rebootCount) lines.push_back("RebootCount>0 " + std::to_string(*rebootCount));
    const std::vector<std::string> rest = {
        "camera wanted: 0",  "camera resolution wanted: 0", "camera fps wanted: 12",
        "THDB OK",           "TCB OK",                      "Start camera",
        "camera's found: 1", "selected camera numer: 0",    "selected camera name: *",
        "UpdateCount: *", "WriteToolbar",             "InitInstance exit OK"};
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

}  // namespace e2e
