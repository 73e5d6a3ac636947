// Runs the real program as the user would, on a private desktop: an Xvfb with a system tray (as on
// the user's desktop; without one the program shows a window instead of its icon), its own copy
// of the executable and data folder (the program logs beside itself), its own settings and
// runtime folders, and for a webcam a recording of one that sends a generated video as MJPEG.
#pragma once

#include <signal.h>
#include <sys/prctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "base/settings_store.h"
#include "capture/camera_recording.h"
#include "tests/support/desktop_session.h"
#include "tests/support/test_support.h"
#include "tests/support/trayer_process.h"  // brings Xlib: after the headers its macros would break
#include "tools/sequence/synthetic_sequence.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace e2e {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::WaitUntil;

// Sanitizer builds run the program several times slower; every deadline stretches with them.
inline const int kSlow = std::string_view(MIVEX_E2E_SANITIZER).empty() ? 1 : 5;

// A camera video named `name` in the sequence folder: the trajectory's frames in this order, at 12
// frames a second. Written by the first test that needs it, under a private name then renamed, as
// tests run at once.
inline fs::path SequenceVideo(const std::string& name, Trajectory trajectory, int frameCount,
                              const std::vector<int>& order) {
    const fs::path path = fs::path(MIVEX_E2E_SEQUENCE_DIR) / name;
    if (fs::exists(path)) return path;
    const SyntheticSequence source(trajectory, frameCount);
    fs::create_directories(path.parent_path());
    const fs::path temporary = path.parent_path() / (path.stem().string() + "." + std::to_string(::getpid()) + ".avi");
    cv::VideoWriter writer(temporary.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 12,
                           source.FrameSize(), true);
    if (!writer.isOpened()) throw std::runtime_error("cannot write " + temporary.string());
    for (int i : order) writer.write(source.Frame(i));
    writer.release();
    fs::rename(temporary, path);
    return path;
}

constexpr int kQuarter = 41;  // frames of a quarter turn of the circle trajectory
inline std::vector<int> QuarterCircleThereAndBack() {
    std::vector<int> order;
    for (int i = 0; i < kQuarter; i += 2) order.push_back(i);
    for (int i = kQuarter - 2; i >= 1; --i) order.push_back(i);  // 1 -> 0 closes the loop
    return order;
}

// The camera: a head going a quarter circle left and down in the picture on every second frame,
// then back on every frame. From the pointer alone, without knowing where in the loop the program
// is, a test tells which way the head went: the fast moves.
inline const fs::path& HeadVideo() {
    static const fs::path video =
        SequenceVideo("head-quarter-circle.avi", Trajectory::Circle, kQuarter, QuarterCircleThereAndBack());
    return video;
}

// A webcam's recording named `name` in the sequence folder: the trajectory's frames in this order
// as the MJPEG frames of a 12-frames-a-second webcam, each passed through quirk (as a camera may
// send it). Written as SequenceVideo writes.
inline fs::path WebcamRecording(
    const std::string& name, Trajectory trajectory, int frameCount, const std::vector<int>& order,
    const std::function<std::vector<std::uint8_t>(int, std::vector<std::uint8_t>)>& quirk = {}) {
    const fs::path path = fs::path(MIVEX_E2E_SEQUENCE_DIR) / name;
    if (fs::exists(path)) return path;
    const SyntheticSequence source(trajectory, frameCount);
    fs::create_directories(path.parent_path());
    const fs::path temporary = path.parent_path() / (path.stem().string() + "." + std::to_string(::getpid()) + ".mkv");
    const cv::Size size = source.FrameSize();
    RecordedCamera camera;
    std::tie(camera.card, camera.driver, camera.bus) = std::tuple("E2E Webcam", "uvcvideo", "usb-0000:00:14.0-1");
    camera.format.width = static_cast<__u32>(size.width), camera.format.height = static_cast<__u32>(size.height);
    camera.format.pixelformat = V4L2_PIX_FMT_MJPEG, camera.format.field = V4L2_FIELD_NONE;
    camera.format.sizeimage = static_cast<__u32>(size.area() * 2);
    camera.timePerFrame = {1, 12};
    camera.formats = {{V4L2_PIX_FMT_MJPEG, {{camera.format.width, camera.format.height}}}};
    CameraRecordingWriter writer;
    std::string error;
    bool written = writer.Open(temporary, camera, error);
    for (std::size_t i = 0; written && i < order.size(); ++i) {
        std::vector<std::uint8_t> jpeg;
        cv::imencode(".jpg", source.Frame(order[i]), jpeg, {cv::IMWRITE_JPEG_QUALITY, 85});
        if (quirk) jpeg = quirk(static_cast<int>(i), std::move(jpeg));
        written =
            writer.Write(jpeg, static_cast<std::int64_t>(i) * 1'000'000 / 12, 0, static_cast<std::uint32_t>(i), error);
    }
    if (!written || !writer.Finish(error))
        throw std::runtime_error("cannot write " + temporary.string() + ": " + error);
    fs::rename(temporary, path);
    return path;
}

// The head video's frames as a webcam's recording: what the tests give the program for a webcam.
inline const fs::path& HeadRecording() {
    static const fs::path recording =
        WebcamRecording("head-quarter-circle.mkv", Trajectory::Circle, kQuarter, QuarterCircleThereAndBack());
    return recording;
}

// "" when lines of text match the patterns in this order, others between; a pattern ending in
// '*' matches any line that starts with the rest. Log lines end in CR LF.
inline std::string MissingInOrder(const std::string& text, const std::vector<std::string>& patterns) {
    std::istringstream lines(text);
    std::string line;
    for (const std::string& pattern : patterns) {
        const bool prefix = pattern.ends_with('*');
        const std::string wanted = pattern.substr(0, pattern.size() - (prefix ? 1 : 0));
        do {
            if (!std::getline(lines, line)) return "no line \"" + pattern + "\" after the previous one";
            if (line.ends_with('\r')) line.pop_back();
        } while (prefix ? !line.starts_with(wanted) : line != wanted);
    }
    return "";
}

inline bool HasLine(const std::string& text, const std::string& line) { return MissingInOrder(text, {line}).empty(); }

// The start-up lines in their order, after "RebootCount>0 <n>" when given.
inline std::vector<std::string> StartupLines(std::optional<int> rebootCount = {}) {
    // clang-format off
    std::vector<std::string> lines{"camera wanted: 0",        "camera resolution wanted: 0", "camera fps wanted: 12",
                                   "THDB OK",                 "TCB OK",                      "Start camera",
                                   "camera's found: 1",       "selected camera numer: 0",    "selected camera name: *",
                                   "UpdateCount: *",          "WriteToolbar",                "InitInstance exit OK"};
    // clang-format on
    if (rebootCount) lines.insert(lines.begin(), "RebootCount>0 " + std::to_string(*rebootCount));
    return lines;
}

// Waits for a child, or a process this one adopted, to end: "exit code N", "killed by signal
// ..." or "still running".
inline std::string Ending(pid_t pid, std::chrono::steady_clock::duration timeout) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout)) return "still running";
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    return std::string("killed by signal ") + strsignal(WTERMSIG(status));
}

inline std::vector<std::string> CameraArgs() { return {"--camera-replay", HeadRecording().string(), "--no-dialogs"}; }

// A window named `name` anywhere under `window` that is mapped, or None: window managers and
// compositors frame the top-level windows of X11 clients.
inline Window Viewable(Display* x, Window window, const std::string& name) {
    char* title = nullptr;
    XWindowAttributes attributes{};
    const bool named = XFetchName(x, window, &title) && title && name == title;
    if (title) XFree(title);
    if (named && XGetWindowAttributes(x, window, &attributes) && attributes.map_state == IsViewable) return window;
    Window root, parent, *children = nullptr, found = None;
    unsigned int count = 0;
    if (XQueryTree(x, window, &root, &parent, &children, &count))
        for (unsigned int i = 0; i < count && found == None; ++i) found = Viewable(x, children[i], name);
    if (children) XFree(children);
    return found;
}

struct ProgramRun {
    pid_t pid = -1;
    fs::path out, err;              // standard output and error, shared with a restarted copy
    std::set<fs::path> logsBefore;  // the run's log is the one not among these
};

using Point = cv::Point;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const test::DesktopSession* desktop = Desktop()) {
            ASSERT_TRUE(desktop->Ok()) << desktop->Error();
        } else {
            m_xvfb.emplace();
            ASSERT_TRUE(m_xvfb->Ok()) << m_xvfb->Error();
        }
        if (WithTray()) {
            m_tray.emplace(DisplayName());
            ASSERT_TRUE(m_tray->Ok()) << m_tray->Error();
        }
        const fs::path built = MIVEX_E2E_PROGRAM, cascade = fs::path(MIVEX_E2E_DATA_DIR) / "cascade_ff_d.xml";
        ASSERT_TRUE(fs::exists(built)) << built << " is not built: build the target mivex";
        ASSERT_TRUE(fs::exists(cascade)) << "the face cascade " << cascade << " is missing";
        fs::create_directories(Program().parent_path() / "data");
        fs::copy_file(built, Program());
        fs::copy_file(cascade, Program().parent_path() / "data" / cascade.filename());
        fs::create_directory(Root() / "run");
        fs::permissions(Root() / "run", fs::perms::owner_all, fs::perm_options::replace);
        // The programs started inherit these; without a session bus the icon goes to the X tray.
        // MIVEX_TEST_LOCK_FOLDER, read only for tests, gives each test a one-copy lock of its own,
        // so that tests run at once; MIVEX_TEST_HEALTHY_RUN_MS shortens the minute after which a
        // run that delivers frames clears the restart count.
        // On a desktop's compositor, the programs find its session's display, runtime folder and
        // bus, and choose their Qt platform themselves.
        test::DesktopSession::Variables env =
            Desktop() ? Desktop()->SessionVariables()
                      : test::DesktopSession::Variables{{"DISPLAY", DisplayName()},
                                                        {"XDG_RUNTIME_DIR", (Root() / "run").string()},
                                                        {"QT_QPA_PLATFORM", "xcb"},
                                                        {"WAYLAND_DISPLAY", std::nullopt},
                                                        {"XDG_SESSION_TYPE", std::nullopt},
                                                        {"XDG_CURRENT_DESKTOP", std::nullopt},
                                                        {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
        env.insert(env.end(), {{"MIVEX_TEST_LOCK_FOLDER", (Root() / "run").string()},
                               {"XDG_CACHE_HOME", (Root() / "cache").string()},
                               {"XDG_DATA_HOME", (Root() / "share").string()},
                               {"MIVEX_INJECTOR", "xtest"}});
        if (Desktop()) env.emplace_back("QT_QPA_PLATFORM", std::nullopt);
        for (const auto& [name, value] : env) m_env.emplace_back(name, value);
        // A copy the program starts in its place is adopted by this process, which can wait for it.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        m_x = XOpenDisplay(DisplayName().c_str());
        ASSERT_NE(m_x, nullptr) << "cannot open " << DisplayName();
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // windows may vanish mid-query
        XChangePointerControl(m_x, True, True, 1, 1, 0);             // pointer moves as sent
    }

    void TearDown() override {
        for (pid_t pid : Copies()) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
        for (int n = 1; n <= m_runs; ++n) {
            const std::string err = test::ReadFile(Root() / ("stderr-" + std::to_string(n)));
            EXPECT_EQ(err.find("WARNING: ThreadSanitizer"), std::string::npos) << err;
        }
        if (m_x) XCloseDisplay(m_x);
    }

    // Without a tray the program shows its settings window at start instead of an icon.
    virtual bool WithTray() const { return true; }
    // A desktop's compositor the test program shares between its cases (started once, in the
    // suite's set-up), instead of an Xvfb of the case's own.
    virtual const test::DesktopSession* Desktop() const { return nullptr; }
    const std::string& DisplayName() const { return Desktop() ? Desktop()->XDisplay() : m_xvfb->DisplayName(); }

    const fs::path& Root() const { return m_home.path(); }
    fs::path Program() const { return Root() / "bin" / "mivex"; }

    ProgramRun Start(std::vector<std::string> args) {
        const std::string n = std::to_string(++m_runs);
        ProgramRun run{-1, Root() / ("stdout-" + n), Root() / ("stderr-" + n), Logs()};
        args.insert(args.begin(), Program().string());
        run.pid = test::Spawn(args, run.out, run.err);
        return run;
    }

    std::set<fs::path> Logs() const {
        std::set<fs::path> logs;
        for (const auto& entry : fs::directory_iterator(Program().parent_path() / "data"))
            if (entry.path().filename().string().starts_with("MivexLog")) logs.insert(entry.path());
        return logs;
    }
    std::string Log(const ProgramRun& run) const {
        for (const fs::path& log : Logs())
            if (!run.logsBefore.count(log)) return test::ReadFile(log);
        return "";
    }
    // Gives up early when the process has ended without writing the line.
    bool WaitForLogLine(const ProgramRun& run, const std::string& line) const {
        WaitUntil([&] { return !Running(run.pid) || HasLine(Log(run), line); }, kSlow * 20s);
        return HasLine(Log(run), line);
    }
    std::string Diagnostics(const ProgramRun& run) const {
        return "\n--- log:\n" + Log(run) + "--- output:\n" + test::ReadFile(run.out) + test::ReadFile(run.err);
    }

    // Live processes of this test's executable; zombies have no exe link.
    std::vector<pid_t> Copies() const {
        std::vector<pid_t> pids;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::error_code error;
            if (fs::read_symlink(entry.path() / "exe", error) == Program() && !error)
                pids.push_back(std::stoi(entry.path().filename()));
        }
        return pids;
    }
    bool Running(pid_t pid) const { return std::ranges::count(Copies(), pid) > 0; }

    Point Pointer() const {
        Window root, child;
        int x = 0, y = 0, wx, wy;
        unsigned int mask;
        XQueryPointer(m_x, DefaultRootWindow(m_x), &root, &child, &x, &y, &wx, &wy, &mask);
        return {x, y};
    }
    void MovePointer(Point to) const {
        XTestFakeMotionEvent(m_x, -1, to.x, to.y, CurrentTime);
        XSync(m_x, False);
    }
    Point Centre() const { return {DisplayWidth(m_x, 0) / 2, DisplayHeight(m_x, 0) / 2}; }
    // Whether the pointer goes 30 pixels away from where it is within 10 s.
    bool PointerMoves() const {
        const Point from = Pointer();
        return WaitUntil([&] { return cv::norm(Pointer() - from) >= 30; }, kSlow * 10s);
    }
    void Press(unsigned int button, KeySym key = NoSymbol) const {
        std::this_thread::sleep_for(50ms);  // after the motion or the window it goes to
        for (bool down : {true, false}) {
            if (key == NoSymbol)
                XTestFakeButtonEvent(m_x, button, down, CurrentTime);
            else
                XTestFakeKeyEvent(m_x, XKeysymToKeycode(m_x, key), down, CurrentTime);
            XSync(m_x, False);
        }
    }

    Window FocusedWindow() const {
        Window focus = None;
        int revert = 0;
        XGetInputFocus(m_x, &focus, &revert);
        return focus;
    }

    // A top-level window of ours named `name`, or None.
    Window FindWindow(const std::string& name) const {
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        Window found = None;
        XQueryTree(m_x, DefaultRootWindow(m_x), &root, &parent, &children, &count);
        for (unsigned int i = 0; i < count && found == None; ++i) {
            char* title = nullptr;
            if (XFetchName(m_x, children[i], &title) && title && name == title) found = children[i];
            if (title) XFree(title);
        }
        if (children) XFree(children);
        return found;
    }

    // The process that owns the innermost window at the point, or 0.
    pid_t OwnerAt(Point p) const {
        const Window root = DefaultRootWindow(m_x);
        Window window = None;
        for (Window inner = root; inner != None;) {
            window = inner;
            int x, y;
            XTranslateCoordinates(m_x, root, window, p.x, p.y, &x, &y, &inner);
        }
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        pid_t owner = 0;
        if (XGetWindowProperty(m_x, window, XInternAtom(m_x, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type,
                               &format, &count, &after, &data) == Success &&
            data && count == 1)
            owner = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return owner;
    }

    test::TempConfigHome m_home;  // the settings, and the folder of everything else
    std::optional<test::XvfbServer> m_xvfb;
    std::optional<test::TrayerProcess> m_tray;
    std::list<test::ScopedEnv> m_env;
    Display* m_x = nullptr;
    int m_runs = 0;
};

}  // namespace e2e
