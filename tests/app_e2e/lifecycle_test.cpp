// The program's life as a process: its command line, one copy at a time, ending on a signal,
// refusing to start (restart loop, no camera) and restarting itself.
#include "e2e_harness.h"

namespace e2e {
namespace {

constexpr auto kReady = 20s;     // from start to "InitInstance exit OK"
constexpr auto kOrderlyEnd = 2s;  // the program promises to end this fast on a signal or Exit

using CommandLineTest = ProgramTest;

TEST_F(CommandLineTest, UnknownOptionGetsTheUsageAndCodeTwoAndVersionCodeZero) {
    ProgramRun bogus = S().Start({"--no-such-option"});
    const auto bogusStatus = WaitForExit(bogus.pid, Scaled(10s));
    ASSERT_TRUE(bogusStatus) << "still running with an unknown option" << S().Diagnostics(bogus);
    EXPECT_TRUE(ExitedWithCode(bogusStatus, 2)) << DescribeStatus(*bogusStatus) << S().Diagnostics(bogus);
    EXPECT_NE(test::ReadFile(bogus.err).find("--camera-file"), std::string::npos)
        << "no usage message on standard error" << S().Diagnostics(bogus);

    ProgramRun version = S().Start({"--version"});
    const auto versionStatus = WaitForExit(version.pid, Scaled(10s));
    ASSERT_TRUE(versionStatus) << "still running after --version" << S().Diagnostics(version);
    EXPECT_TRUE(ExitedWithCode(versionStatus, 0)) << DescribeStatus(*versionStatus) << S().Diagnostics(version);
    EXPECT_NE(test::ReadFile(version.out).find(MIVEX_E2E_VERSION), std::string::npos)
        << "--version does not print " << MIVEX_E2E_VERSION << S().Diagnostics(version);
}

using SingleInstanceTest = ProgramTest;

TEST_F(SingleInstanceTest, SecondCopyRefusesWhileTheFirstKeepsRunning) {
    S().Settings().Set({{"settings", "useMouse", 1}});
    ProgramRun first = S().Start(CameraArgs());
    ASSERT_TRUE(S().WaitForLogLine(first, "InitInstance exit OK", Scaled(kReady))) << S().Diagnostics(first);
    const std::set<fs::path> logs = S().Logs();
    const std::string firstLog = S().LogText(first);

    ProgramRun second = S().Start(CameraArgs());
    const auto status = WaitForExit(second.pid, Scaled(10s));
    ASSERT_TRUE(status) << "the second copy keeps running" << S().Diagnostics(second);
    EXPECT_FALSE(ExitedWithCode(status, 0)) << DescribeStatus(*status);
    EXPECT_TRUE(HasLine(test::ReadFile(second.err), "ERROR: Mivex! program already running"))
        << S().Diagnostics(second);
    EXPECT_EQ(S().Logs(), logs) << "the second copy wrote a log of its own";

    EXPECT_EQ(WaitForExit(first.pid, 0s), std::nullopt) << "the first copy ended" << S().Diagnostics(first);
    const std::string firstLogNow = S().LogText(first);
    EXPECT_EQ(firstLogNow.substr(0, firstLog.size()), firstLog) << "the first copy's log was rewritten";
    EXPECT_FALSE(HasLine(firstLogNow, "ERROR: Mivex! program already running")) << S().Diagnostics(first);
    S().X().Warp(S().X().Centre());
    EXPECT_TRUE(WaitForPointerMove(S().X(), 30, Scaled(10s))) << "the first copy no longer moves the pointer";
}

class EndOnSignalTest : public ProgramTest, public ::testing::WithParamInterface<int> {};

// Started with the restart count at the limit, which still starts normally.
TEST_P(EndOnSignalTest, EndsInOrderWithinTwoSecondsAndClearsTheRestartCount) {
    S().Settings().Set({{"boot", "rebootCount", 30}});
    ProgramRun run = S().Start(CameraArgs());
    ASSERT_TRUE(S().WaitForLogLine(run, "InitInstance exit OK", Scaled(kReady))) << S().Diagnostics(run);
    EXPECT_EQ(MissingInOrder(S().LogText(run), StartupLines(30)), "") << S().Diagnostics(run);

    ::kill(run.pid, GetParam());
    const auto status = WaitForExit(run.pid, Scaled(kOrderlyEnd));
    ASSERT_TRUE(status) << "still running 2 s after " << strsignal(GetParam()) << S().Diagnostics(run);
    EXPECT_TRUE(ExitedWithCode(status, 0)) << DescribeStatus(*status) << S().Diagnostics(run);
    EXPECT_EQ(S().Settings().GetOr("boot", "rebootCount", 0), 0);
    EXPECT_EQ(MissingInOrder(S().LogText(run), {"InitInstance exit OK", "ExitInstance begin", "ExitInstance end"}), "")
        << S().Diagnostics(run);
    EXPECT_EQ(ProcessesRunning(S().Program()), std::vector<pid_t>{}) << "a copy is still running";
}

INSTANTIATE_TEST_SUITE_P(Signals, EndOnSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "SIGTERM" : "SIGINT"; });

using RefusedStartTest = ProgramTest;

TEST_F(RefusedStartTest, RestartCountAboveThirtyStopsTheStart) {
    S().Settings().Set({{"boot", "rebootCount", 31}});
    ProgramRun run = S().Start(CameraArgs());
    const auto status = WaitForExit(run.pid, Scaled(15s));
    ASSERT_TRUE(status) << "still running" << S().Diagnostics(run);
    EXPECT_FALSE(ExitedWithCode(status, 0)) << DescribeStatus(*status);
    EXPECT_TRUE(HasLine(test::ReadFile(run.err), "ERROR: reboot loop > 30")) << S().Diagnostics(run);
    ASSERT_FALSE(S().LogOf(run, Scaled(2s)).empty()) << "no log written";
    EXPECT_TRUE(HasLine(S().LogText(run), "ERROR: reboot loop > 30")) << S().Diagnostics(run);
    EXPECT_FALSE(HasLine(S().LogText(run), "InitInstance exit OK")) << S().Diagnostics(run);
    EXPECT_EQ(S().Settings().GetOr("boot", "rebootCount", 0), 0);
}

TEST_F(RefusedStartTest, MissingCameraEndsWithoutRestarting) {
    ProgramRun run = S().Start({"--camera-file", (S().Root() / "no-such-video.avi").string(), "--no-dialogs"});
    const auto status = WaitForExit(run.pid, Scaled(15s));
    ASSERT_TRUE(status) << "still running without a camera" << S().Diagnostics(run);
    EXPECT_FALSE(ExitedWithCode(status, 0)) << DescribeStatus(*status);
    EXPECT_TRUE(HasLine(test::ReadFile(run.err), "ERROR: no camera detected, or camera in use")) << S().Diagnostics(run);

    // A restart would show as a new process of the same executable.
    std::this_thread::sleep_for(Scaled(1500ms));
    EXPECT_EQ(ProcessesRunning(S().Program()), std::vector<pid_t>{}) << "the program started again";
    EXPECT_EQ(S().Logs().size(), 1u) << "more than one run logged";
    const auto lines = Lines(S().LogText(run));
    ASSERT_FALSE(lines.empty()) << S().Diagnostics(run);
    EXPECT_EQ(lines.back(), "ExitInstance end") << S().Diagnostics(run);
    EXPECT_EQ(S().Settings().GetOr("boot", "rebootCount", 0), 0);
}

using RestartTest = ProgramTest;

TEST_F(RestartTest, RestartRequestStartsANewProcessThatKeepsMouseControl) {
    S().Settings().Set({{"settings", "useMouse", 1}});
    S().X().Warp(S().X().Centre());
    ProgramRun first = S().Start(CameraArgs());
    ASSERT_TRUE(S().WaitForLogLine(first, "InitInstance exit OK", Scaled(kReady))) << S().Diagnostics(first);
    ASSERT_TRUE(WaitForPointerMove(S().X(), 30, Scaled(10s))) << "no mouse control before the restart";

    // Mouse control must survive the restart through the restart's own record, not the setting.
    S().Settings().Set({{"settings", "useMouse", 0}});
    ProgramRun second{-1, first.out, first.err, S().Logs(), {}};
    ::kill(first.pid, SIGUSR1);
    const auto status = WaitForExit(first.pid, Scaled(5s));
    ASSERT_TRUE(status) << "the first process did not end on the restart request" << S().Diagnostics(first);
    EXPECT_TRUE(ExitedWithCode(status, 0)) << DescribeStatus(*status) << S().Diagnostics(first);
    EXPECT_EQ(MissingInOrder(S().LogText(first), {"ExitInstance begin", "Reboot"}), "") << S().Diagnostics(first);
    EXPECT_FALSE(HasLine(S().LogText(first), "ExitInstance end")) << S().Diagnostics(first);

    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto pids = ProcessesRunning(S().Program());
            if (pids.size() == 1 && pids[0] != first.pid) second.pid = pids[0];
            return second.pid > 0;
        },
        Scaled(10s)))
        << "no new process of " << S().Program() << S().Diagnostics(first);
    ASSERT_TRUE(S().WaitForLogLine(second, "InitInstance exit OK", Scaled(kReady))) << S().Diagnostics(second);
    EXPECT_EQ(MissingInOrder(S().LogText(second), StartupLines(1)), "") << S().Diagnostics(second);
    EXPECT_EQ(S().Settings().GetOr("boot", "useMouse", 0), 1);

    S().X().Warp(S().X().Centre());
    EXPECT_TRUE(WaitForPointerMove(S().X(), 30, Scaled(10s))) << "no mouse control after the restart"
                                                               << S().Diagnostics(second);

    ::kill(second.pid, SIGTERM);
    const auto secondStatus = WaitForExit(second.pid, Scaled(kOrderlyEnd));
    ASSERT_TRUE(secondStatus) << "the new process is still running 2 s after SIGTERM" << S().Diagnostics(second);
    EXPECT_TRUE(ExitedWithCode(secondStatus, 0)) << DescribeStatus(*secondStatus) << S().Diagnostics(second);
    EXPECT_TRUE(HasLine(S().LogText(second), "ExitInstance end")) << S().Diagnostics(second);
    EXPECT_EQ(S().Settings().GetOr("boot", "rebootCount", 0), 0);
}

}  // namespace
}  // namespace e2e
