// The program's life as a process and what the user sees of it: the command line, one copy at a
// time, the pointer following the head, the tray, ending on a signal or from the tray's menu,
// refusing to start and restarting itself.
#include "tests/app_e2e/e2e_harness.h"
#include "tests/support/session_bus.h"

namespace e2e {
namespace {

struct ShortRun {
    const char* name;
    std::vector<std::string> args;  // "camera.avi" stands for the head video
    int rebootCount;                // stored before the start
    int exitCode;
    const char* said;              // on standard output or error
    std::vector<std::string> log;  // in order, the last one last; no log at all when empty
    const char* neverLogged;
    const char* qtPlatform = "xcb";  // QT_QPA_PLATFORM
};
void PrintTo(const ShortRun& run, std::ostream* out) { *out << run.name; }

// clang-format off
const ShortRun kShortRuns[] = {
    {"UnknownOption", {"--no-such-option"}, 0, 2, "--camera-file", {}, ""},  // the usage
    {"Version", {"--version"}, 0, 0, MIVEX_E2E_VERSION, {}, ""},
    {"RestartLoop", {"--camera-file", "camera.avi", "--no-dialogs"}, 31, 1, "ERROR: reboot loop > 30",
     {"ERROR: reboot loop > 30", "ExitInstance begin", "ExitInstance end"}, "Start camera"},
    // Started by the user, the program ends on a missing camera, and says why.
    {"NoCamera", {"--camera-file", "no-such-video.avi", "--no-dialogs"}, 0, 1,
     "ERROR: no camera detected, or camera in use: cannot open video file no-such-video.avi: no such file",
     {"Start camera", "ERROR: no camera detected, or camera in use: cannot open video file no-such-video.avi: no such file",
      "ExitInstance end"}, "Reboot"},
    // A recording no webcam could have made: said, in the log too, and no restart.
    {"UnplayableRecording", {"--camera-replay", "camera.avi", "--no-dialogs"}, 0, 1,
     "which webcams do not send through V4L2: only MJPEG and raw frames replay",
     {"Start camera", "ERROR: no camera detected, or camera in use: cannot open recording *", "ExitInstance end"},
     "Reboot"},
    {"ActionWithoutBus", {"--action", "toggle"}, 0, 1, "mivex: --action toggle not done: no session bus", {}, ""},
    // Qt itself would abort; the package is not installed where the tests run.
    {"WaylandPlatformMissing", {"--camera-file", "camera.avi", "--no-dialogs"}, 0, 1,
     "mivex: QT_QPA_PLATFORM=wayland asks for Qt's Wayland platform, which is not installed: install the Debian "
     "package qt6-wayland, or unset QT_QPA_PLATFORM to use the X display", {}, "", "wayland"},
};
// clang-format on

class ShortRuns : public ProgramTest, public ::testing::WithParamInterface<ShortRun> {};

TEST_P(ShortRuns, EndAtOnceWithTheirCodeAndMessageAndNoCopyLeft) {
    const ShortRun& c = GetParam();
    CSettingsStore().Write(Setting::kRebootCount, c.rebootCount);
    const test::ScopedEnv platform("QT_QPA_PLATFORM", c.qtPlatform);
    std::vector<std::string> args = c.args;
    if (args.size() > 1 && args[1] == "camera.avi") args[1] = HeadVideo().string();
    const ProgramRun run = Start(args);
    EXPECT_EQ(Ending(run.pid, kSlow * 15s), "exit code " + std::to_string(c.exitCode)) << Diagnostics(run);
    EXPECT_NE((test::ReadFile(run.out) + test::ReadFile(run.err)).find(c.said), std::string::npos) << Diagnostics(run);
    EXPECT_EQ(Copies(), std::vector<pid_t>{}) << "a copy runs, or the program started again";
    EXPECT_EQ(CSettingsStore().Read(Setting::kRebootCount), 0);
    const std::string log = Log(run);
    EXPECT_EQ(Logs().size(), c.log.empty() ? 0u : 1u);
    if (c.log.empty()) return;
    EXPECT_EQ(MissingInOrder(log, c.log), "") << Diagnostics(run);
    EXPECT_TRUE(log.ends_with(c.log.back() + "\r\n")) << Diagnostics(run);
    EXPECT_FALSE(HasLine(log, c.neverLogged)) << Diagnostics(run);
}

INSTANTIATE_TEST_SUITE_P(Program, ShortRuns, ::testing::ValuesIn(kShortRuns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, AnAnswerThatCannotReachStandardOutputIsAFailure) {
    const std::pair<std::string, std::string> runs[] = {
        {Program().string(), "--version"}, {Program().string(), "--help"}, {MIVEX_E2E_PIPE_CLIENT, "--help"}};
    const std::string said = ": cannot write to standard output: No space left on device\n";
    for (const auto& [program, option] : runs)
        EXPECT_EQ(Ending(test::Spawn({program, option}, "/dev/full", Root() / "err"), kSlow * 10s), "exit code 1");
    EXPECT_EQ(test::ReadFile(Root() / "err"), "mivex" + said + "mivex" + said + "mivex-pipe" + said);
}

TEST_F(ProgramTest, OneCopyRefusesASecondAndMovesThePointerWithTheHeadMirroredLeftRight) {
    CSettingsStore().Write(Setting::kUseMouse, 1);
    MovePointer(Centre());
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    const std::string log = Log(run);
    EXPECT_EQ(MissingInOrder(log, StartupLines()), "") << Diagnostics(run);
    EXPECT_EQ(log.find("RebootCount>0"), std::string::npos) << "no restarts to report on a first start";
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), std::count(log.begin(), log.end(), '\r')) << "CR LF lines";

    const std::set<fs::path> logs = Logs();
    const ProgramRun second = Start(CameraArgs());
    EXPECT_EQ(Ending(second.pid, kSlow * 10s), "exit code 1") << Diagnostics(second);
    EXPECT_TRUE(HasLine(test::ReadFile(second.err), "ERROR: Mivex! program already running")) << Diagnostics(second);
    EXPECT_EQ(Logs(), logs) << "the second copy wrote a log of its own";
    EXPECT_EQ(Log(run).substr(0, log.size()), log) << "the first copy's log was rewritten";
    EXPECT_FALSE(HasLine(Log(run), "ERROR: Mivex! program already running")) << Diagnostics(run);
    EXPECT_EQ(Ending(run.pid, 0s), "still running") << Diagnostics(run);

    // The pointer's moves per quarter second (three frames) until 32 moves of 8 pixels or more;
    // near an edge it is put back in the middle, so that the screen never stops a step.
    ASSERT_TRUE(PointerMoves()) << "the pointer did not move within 10 s of the start" << Diagnostics(run);
    std::vector<Point> steps;
    int moves = 0;
    for (Point from = Pointer(); moves < 32 && steps.size() < 48u * kSlow; from = Pointer()) {
        std::this_thread::sleep_for(250ms);
        const Point now = Pointer();
        steps.push_back(now - from);
        moves += std::abs(steps.back().x) + std::abs(steps.back().y) >= 8;
        if (std::abs(now.x - Centre().x) > Centre().x - 150 || std::abs(now.y - Centre().y) > Centre().y - 150)
            MovePointer(Centre());
    }
    // Along the head's line, mirrored left-right, both ways; faster the way of the head's fast
    // pass, which tells that way apart from the same line walked backwards (both axes wrong).
    const Point fast{1, 1};  // the head's fast pass, left and down, mirrored
    int ahead = 0, back = 0, across = 0;
    double aheadLength = 0, backLength = 0;
    std::ostringstream shown;
    for (const Point& s : steps) {
        shown << '(' << s.x << ',' << s.y << ") ";
        const double length = cv::norm(s), along = (s.x * fast.x + s.y * fast.y) / std::sqrt(2.0);
        if (length < 8) continue;
        if (std::abs(along) < 0.7 * length)
            ++across;  // more than 45 degrees off the line
        else if (along > 0)
            ++ahead, aheadLength += length;
        else
            ++back, backLength += length;
    }
    ASSERT_GE(ahead, 3) << "too few moves the way of the head's fast pass, mirrored: " << shown.str();
    ASSERT_GE(back, 3) << "too few moves back: " << shown.str();
    EXPECT_GE(ahead + back, 4 * across) << "the pointer moves across the head's line: " << shown.str();
    EXPECT_GT(aheadLength / ahead, 1.4 * backLength / back) << "not faster on the fast pass: " << shown.str();
    EXPECT_EQ(Ending(run.pid, 0s), "still running") << Diagnostics(run);
}

// On a session bus of the test's own, `mivex --action` reaches the running copy's hotkey actions,
// and a second start brings its hidden settings window up before it says it is refused.
TEST_F(ProgramTest, OnTheSessionBusActionsAndASecondStartReachTheRunningCopy) {
    const test::SessionBus bus(Root());
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    using Said = std::pair<std::string, std::string>;  // the ending and standard error
    const auto action = [&](const char* name) {
        const ProgramRun run = Start({"--action", name});
        return Said{Ending(run.pid, kSlow * 10s), test::ReadFile(run.err)};
    };
    EXPECT_EQ(action("toggle"), Said("exit code 1", "mivex: --action toggle not done: no running copy of Mivex\n"));

    // A window of the test's own under the pointer everywhere takes the armed click; no update
    // reminder comes over it.
    CSettingsStore().Write(Setting::kUpdateCount, 1);
    const Window own =
        XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 0, DisplayWidth(m_x, 0), DisplayHeight(m_x, 0), 0, 0, 0);
    XSelectInput(m_x, own, ButtonPressMask);
    XMapRaised(m_x, own);
    MovePointer(Centre());
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_EQ(action("toggle"), Said("exit code 0", ""));
    EXPECT_TRUE(PointerMoves()) << "head control not switched on" << Diagnostics(run);
    EXPECT_EQ(action("left-click"), Said("exit code 0", ""));
    XEvent event;
    EXPECT_TRUE(WaitUntil([&] { return XCheckWindowEvent(m_x, own, ButtonPressMask, &event); }, kSlow * 10s))
        << "no click" << Diagnostics(run);

    const auto sheetShown = [&] {
        XWindowAttributes attributes{};
        const Window sheet = FindWindow("Kordo Mivex!");
        return sheet != None && XGetWindowAttributes(m_x, sheet, &attributes) && attributes.map_state == IsViewable;
    };
    ASSERT_FALSE(sheetShown()) << "with a tray the window starts hidden";
    ProgramRun second;
    {
        const test::ScopedEnv startupId("DESKTOP_STARTUP_ID", "launcher-1-test_TIME4242");
        second = Start(CameraArgs());
    }
    EXPECT_EQ(Ending(second.pid, kSlow * 10s), "exit code 1") << Diagnostics(second);
    EXPECT_TRUE(HasLine(test::ReadFile(second.err), "ERROR: Mivex! program already running")) << Diagnostics(second);
    EXPECT_TRUE(WaitUntil(sheetShown, kSlow * 10s)) << "the running copy's window stayed hidden" << Diagnostics(run);
    // Handed on, so that the window manager lets it take the focus.
    Atom type;
    int format;
    unsigned long count = 0, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(m_x, FindWindow("Kordo Mivex!"), XInternAtom(m_x, "_NET_STARTUP_ID", False), 0, 64, False,
                       AnyPropertyType, &type, &format, &count, &after, &data);
    EXPECT_EQ(std::string(data ? reinterpret_cast<char*>(data) : "", count), "launcher-1-test_TIME4242");
    if (data) XFree(data);
}

// A copy started by a restart, or at login, whose camera is not there yet waits for it, saying
// why, and tracks once it appears; one started by the user ends (ShortRuns.NoCamera).
class WaitsForItsCamera : public ProgramTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(WaitsForItsCamera, AndTracksOnceItAppears) {
    CSettingsStore().Write(Setting::kUseMouse, 1);
    CSettingsStore().Write(Setting::kBootUseMouse, 1);
    const fs::path late = Root() / "late-camera.avi";
    std::vector<std::string> args{"--camera-file", late.string(), "--no-dialogs"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    const ProgramRun run = Start(args);
    const std::string waiting = "Waiting for the camera (cannot open video file " + late.string() +
                                ": no such file): Mivex! tries again every 5 s";
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {"Start camera", waiting, "WriteToolbar", "InitInstance exit OK"}), "")
        << Diagnostics(run);
    EXPECT_TRUE(HasLine(test::ReadFile(run.err), waiting)) << Diagnostics(run);
    std::this_thread::sleep_for(6s);  // a try has failed meanwhile
    ASSERT_EQ(Ending(run.pid, 0s), "still running") << Diagnostics(run);
    const std::string log = Log(run);
    EXPECT_EQ(log.find("Waiting for the camera"), log.rfind("Waiting for the camera")) << "said again unchanged" << log;

    // Appears whole, as a camera does.
    fs::copy_file(HeadVideo(), Root() / "copying.avi");
    fs::rename(Root() / "copying.avi", late);
    ASSERT_TRUE(WaitForLogLine(run, "Camera found again: tracking starts")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {"InitInstance exit OK", "Start camera", "camera's found: 1",
                                        "Camera found again: tracking starts"}),
              "")
        << Diagnostics(run);
    MovePointer(Centre());
    EXPECT_TRUE(PointerMoves()) << "no mouse control once the camera came" << Diagnostics(run);
    ::kill(run.pid, SIGTERM);
    EXPECT_EQ(Ending(run.pid, kSlow * 10s), "exit code 0") << Diagnostics(run);
}

INSTANTIATE_TEST_SUITE_P(Program, WaitsForItsCamera,
                         ::testing::Values(std::vector<std::string>{"--restart-count", "1"},
                                           std::vector<std::string>{"--autostart"}),
                         [](const auto& info) {
                             return std::string(info.param[0] == "--autostart" ? "AtLogin" : "AfterARestart");
                         });

// Another program of the user's that owns the program's bus name never stands in for the running
// copy: here a copy of Mivex with a lock of its own, which answers as the running copy would.
// Actions and a second start reach the copy that holds the lock, or nothing, and say why.
TEST_F(ProgramTest, AStrangerOwningTheBusNameIsNeverTakenForTheRunningCopy) {
    const test::SessionBus bus(Root());
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    CSettingsStore().Write(Setting::kUpdateCount, 1);  // no update reminder window
    const fs::path strangerLock = Root() / "stranger-lock";
    fs::create_directory(strangerLock);
    fs::permissions(strangerLock, fs::perms::owner_all, fs::perm_options::replace);
    ProgramRun stranger;
    {
        const test::ScopedEnv lock("MIVEX_TEST_LOCK_FOLDER", strangerLock.string());
        stranger = Start(CameraArgs());
    }
    ASSERT_TRUE(WaitForLogLine(stranger, "InitInstance exit OK")) << Diagnostics(stranger);
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    const std::string taken =
        "the name com.kordo.Mivex is taken by another program (process " + std::to_string(stranger.pid) + ")";
    EXPECT_NE(Log(run).find(taken), std::string::npos) << Diagnostics(run);

    const std::string notOurs = "com.kordo.Mivex is owned by another program (process " + std::to_string(stranger.pid) +
                                "), not by the running copy of Mivex (process " + std::to_string(run.pid) + ")";
    const ProgramRun action = Start({"--action", "toggle"});
    EXPECT_EQ(Ending(action.pid, kSlow * 10s), "exit code 1") << Diagnostics(action);
    EXPECT_EQ(test::ReadFile(action.err), "mivex: --action toggle not done: " + notOurs + "\n");

    const ProgramRun second = Start(CameraArgs());
    EXPECT_EQ(Ending(second.pid, kSlow * 10s), "exit code 1") << Diagnostics(second);
    EXPECT_TRUE(HasLine(test::ReadFile(second.err), "The running copy's window not shown: " + notOurs))
        << Diagnostics(second);
    EXPECT_TRUE(HasLine(test::ReadFile(second.err), "ERROR: Mivex! program already running")) << Diagnostics(second);
    // Neither copy's window came up: the stranger was not asked.
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Viewable(m_x, DefaultRootWindow(m_x), "Kordo Mivex!"), None) << "a settings window came up";
    EXPECT_EQ(Ending(stranger.pid, 0s), "still running");
    EXPECT_EQ(Ending(run.pid, 0s), "still running");
}

// Under a window manager that keeps programs from taking the focus (openbox), the windows a second
// start brings up get it while the user works in another program: the running copy's settings
// window, and the "already running" box, which Enter then answers.
class UnderOpenbox : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (HasFatalFailure()) return;
        m_openbox.emplace(DisplayName());
        ASSERT_TRUE(m_openbox->Ok()) << m_openbox->Error();
    }

    // The process of the window that has the focus, by the window manager's word; 0 for none.
    pid_t ActiveProcess() const {
        const auto property = [&](Window window, const char* name) {
            Atom type;
            int format;
            unsigned long count = 0, after;
            unsigned char* data = nullptr;
            unsigned long value = 0;
            if (XGetWindowProperty(m_x, window, XInternAtom(m_x, name, False), 0, 1, False, AnyPropertyType, &type,
                                   &format, &count, &after, &data) == Success &&
                data && count == 1)
                value = *reinterpret_cast<unsigned long*>(data);
            if (data) XFree(data);
            return value;
        };
        const Window active = property(DefaultRootWindow(m_x), "_NET_ACTIVE_WINDOW");
        return active == None ? 0 : static_cast<pid_t>(property(active, "_NET_WM_PID"));
    }

    // The X server's time now, as a launcher puts it in the startup id.
    Time ServerTime() const {
        const Window window = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(m_x, window, PropertyChangeMask);
        XChangeProperty(m_x, window, XA_WM_NAME, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent event;
        XWindowEvent(m_x, window, PropertyChangeMask, &event);
        XDestroyWindow(m_x, window);
        return event.xproperty.time;
    }

    // The user at work in another program's window: a click in it, which the window manager sees
    // and takes as the user's latest action.
    void WorkElsewhere(Window other) const {
        XWindowAttributes attributes{};
        XGetWindowAttributes(m_x, other, &attributes);
        int x = 0, y = 0;
        Window child;
        // Near its far corner, where no window of the program lies.
        XTranslateCoordinates(m_x, other, DefaultRootWindow(m_x), attributes.width - 20, attributes.height - 20, &x, &y,
                              &child);
        MovePointer({x, y});
        Press(Button1);
        std::this_thread::sleep_for(200ms);
    }

    std::optional<test::OpenboxProcess> m_openbox;
};

TEST_F(UnderOpenbox, TheWindowsASecondStartBringsUpGetTheKeyboardFocus) {
    const test::SessionBus bus(Root());
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    CSettingsStore().Write(Setting::kUpdateCount, 1);  // no update reminder window
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    const Window other = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 40, DisplayWidth(m_x, 0),
                                             DisplayHeight(m_x, 0) - 80, 0, 0, 0);
    XStoreName(m_x, other, "Another program");
    XMapRaised(m_x, other);
    XSync(m_x, False);
    std::this_thread::sleep_for(500ms);  // mapped and managed
    WorkElsewhere(other);

    // Started from a launcher, which hands on the time of the user's action.
    ProgramRun second;
    {
        const test::ScopedEnv startupId("DESKTOP_STARTUP_ID", "launcher-2-test_TIME" + std::to_string(ServerTime()));
        second = Start(CameraArgs());
    }
    EXPECT_EQ(Ending(second.pid, kSlow * 10s), "exit code 1") << Diagnostics(second);
    EXPECT_TRUE(WaitUntil([&] { return ActiveProcess() == run.pid; }, kSlow * 10s))
        << "the settings window has no focus; the window of process " << ActiveProcess() << " has" << Diagnostics(run);

    // Again, from a terminal, while the window is open behind the other program's.
    WorkElsewhere(other);
    ASSERT_NE(ActiveProcess(), run.pid) << "the click in the other program's window did not take the focus";
    const ProgramRun fromTerminal = Start(CameraArgs());
    EXPECT_EQ(Ending(fromTerminal.pid, kSlow * 10s), "exit code 1") << Diagnostics(fromTerminal);
    EXPECT_TRUE(WaitUntil([&] { return ActiveProcess() == run.pid; }, kSlow * 10s))
        << "the open settings window got no focus; the window of process " << ActiveProcess() << " has";

    // From a terminal, with message boxes.
    WorkElsewhere(other);
    const ProgramRun third = Start({"--camera-file", HeadVideo().string()});
    EXPECT_TRUE(WaitUntil([&] { return ActiveProcess() == third.pid; }, kSlow * 10s))
        << "the \"already running\" box has no focus; the window of process " << ActiveProcess() << " has"
        << Diagnostics(third);
    Press(0, XK_Return);
    EXPECT_EQ(Ending(third.pid, kSlow * 10s), "exit code 1") << "Enter did not answer the box" << Diagnostics(third);
    EXPECT_TRUE(WaitUntil([&] { return ActiveProcess() == run.pid; }, kSlow * 10s))
        << "the settings window has no focus after the box; the window of process " << ActiveProcess() << " has";
}

// Ended by a signal, or by Exit in the tray icon's menu (0). Started with the restart count at the
// limit, which still starts normally.
class EndsInOrder : public ProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(EndsInOrder, AndClearsTheRestartCount) {
    CSettingsStore().Write(Setting::kRebootCount, 30);
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), StartupLines(30)), "") << Diagnostics(run);
    if (GetParam() != 0) {
        ::kill(run.pid, GetParam());
    } else {
        // The icon sits in the tray at the top left. A right click opens its menu, and "E&xit" is
        // typed until the menu, once shown, takes it.
        const Point icon{12, 12};
        ASSERT_TRUE(WaitUntil([&] { return OwnerAt(icon) == run.pid; }, kSlow * 10s))
            << "no icon of the program in the tray at the top left" << Diagnostics(run);
        MovePointer(icon);
        Press(Button3);
        WaitUntil([&] { return Press(0, XK_x), !Running(run.pid); }, kSlow * 10s);
    }
    EXPECT_EQ(Ending(run.pid, kSlow * 10s), "exit code 0") << Diagnostics(run);
    EXPECT_EQ(CSettingsStore().Read(Setting::kRebootCount), 0);
    EXPECT_EQ(MissingInOrder(Log(run), {"InitInstance exit OK", "ExitInstance begin", "ExitInstance end"}), "")
        << Diagnostics(run);
    EXPECT_EQ(Copies(), std::vector<pid_t>{}) << "a copy is still running";
}

INSTANTIATE_TEST_SUITE_P(Program, EndsInOrder, ::testing::Values(SIGTERM, SIGINT, 0), [](const auto& info) {
    return std::string(info.param == SIGTERM ? "SIGTERM" : info.param == SIGINT ? "SIGINT" : "TrayExit");
});

TEST_F(ProgramTest, ARunThatDeliversFramesForAWhileClearsTheRestartCount) {
    // Else a program restarted now and then, weeks apart, would one day be refused as a loop.
    CSettingsStore().Write(Setting::kRebootCount, 5);
    test::ScopedEnv shortened("MIVEX_TEST_HEALTHY_RUN_MS", "1000");
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_TRUE(WaitUntil([] { return CSettingsStore().Read(Setting::kRebootCount) == 0; }, kSlow * 20s))
        << Diagnostics(run);
    EXPECT_EQ(Ending(run.pid, 0s), "still running") << Diagnostics(run);
}

TEST_F(ProgramTest, ARestartRequestStartsANewCopyThatKeepsMouseControl) {
    CSettingsStore().Write(Setting::kUseMouse, 1);
    MovePointer(Centre());
    const ProgramRun first = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(first, "InitInstance exit OK")) << Diagnostics(first);
    ASSERT_TRUE(PointerMoves()) << "no mouse control before the restart" << Diagnostics(first);

    // Mouse control must survive the restart through the restart's own record, not the setting.
    CSettingsStore().Write(Setting::kUseMouse, 0);
    ProgramRun second{-1, first.out, first.err, Logs()};
    ::kill(first.pid, SIGUSR1);
    EXPECT_EQ(Ending(first.pid, kSlow * 10s), "exit code 0") << Diagnostics(first);
    EXPECT_EQ(MissingInOrder(Log(first), {"ExitInstance begin", "Reboot"}), "") << Diagnostics(first);
    EXPECT_FALSE(HasLine(Log(first), "ExitInstance end")) << Diagnostics(first);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto copies = Copies();
            if (copies.size() == 1 && copies[0] != first.pid) second.pid = copies[0];
            return second.pid > 0;
        },
        kSlow * 10s))
        << "no new copy of the program" << Diagnostics(first);
    ASSERT_TRUE(WaitForLogLine(second, "InitInstance exit OK")) << Diagnostics(second);
    EXPECT_EQ(MissingInOrder(Log(second), StartupLines(1)), "") << Diagnostics(second);
    EXPECT_EQ(CSettingsStore().Read(Setting::kBootUseMouse), 1);
    MovePointer(Centre());
    EXPECT_TRUE(PointerMoves()) << "no mouse control after the restart" << Diagnostics(second);

    ::kill(second.pid, SIGTERM);
    EXPECT_EQ(Ending(second.pid, kSlow * 10s), "exit code 0") << Diagnostics(second);
    EXPECT_TRUE(HasLine(Log(second), "ExitInstance end")) << Diagnostics(second);
    EXPECT_EQ(CSettingsStore().Read(Setting::kRebootCount), 0);
}

// Settings that cannot be saved (a folder in the file's place stops any user) and a train of
// restart requests, one every 50 ms at every copy that can take one (from its first copy's
// handler on: a signal while the first copy loads its libraries would end it, as the README
// says). Each copy says why settings are not saved and writes a log of its own; none ends on a
// request that came while it loaded; the count handed from copy to copy stops the train.
TEST_F(ProgramTest, RestartRequestsInQuickSuccessionNeverEndACopyAndTheGuardHoldsWithoutTheStore) {
    fs::create_directories(m_home.SettingsFile());
    std::vector<std::string> args = CameraArgs();
    args.insert(args.end(), {"--restart-count", "28"});
    const ProgramRun first = Start(args);
    // The log is opened after the handler is in place.
    ASSERT_TRUE(WaitUntil([&] { return !Log(first).empty(); }, kSlow * 10s)) << Diagnostics(first);
    std::vector<pid_t> copies{first.pid};
    WaitUntil(
        [&] {
            // A restarted copy leads a session of its own; a library's helper forked on its way
            // to another program does not.
            for (pid_t pid : Copies())
                if (::getsid(pid) == pid && std::ranges::count(copies, pid) == 0) copies.push_back(pid);
            for (pid_t pid : copies) ::kill(pid, SIGUSR1);
            std::this_thread::sleep_for(50ms);
            return Copies().empty();
        },
        kSlow * 60s);
    std::vector<std::string> endings;
    for (pid_t pid : copies) endings.push_back(Ending(pid, kSlow * 10s));
    EXPECT_EQ(endings, (std::vector<std::string>{"exit code 0", "exit code 0", "exit code 0", "exit code 1"}))
        << Diagnostics(first);
    EXPECT_TRUE(HasLine(test::ReadFile(first.err), "ERROR: reboot loop > 30")) << Diagnostics(first);
    EXPECT_EQ(Logs().size(), 4u) << "the copies' logs rotate without the store";
    const std::string notSaved = "ERROR: settings cannot be saved, changes last until the program ends: ";
    for (const fs::path& log : Logs())
        EXPECT_NE(test::ReadFile(log).find(notSaved + m_home.SettingsFile().string() + ": "), std::string::npos) << log;
}

}  // namespace
}  // namespace e2e
