// The update check as the user and a script meet it: the update window that shows by itself at the
// first start, and `mivex --check-update` beside a running copy.
#include "tests/app_e2e/e2e_harness.h"
#include "tests/support/local_http_server.h"

namespace e2e {
namespace {

TEST_F(ProgramTest, UpdateWindowShowsAtTheFirstStartAndTheCommandLineCheckPrintsItsLinesLeavingTheCopyAlone) {
    const ProgramRun running = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(running, "InitInstance exit OK")) << Diagnostics(running);
    EXPECT_TRUE(WaitUntil([&] { return OwnerAt(Centre()) == running.pid; }, kSlow * 5s)) << "no update window";

    const int logCount = CSettingsStore().Read(Setting::kLogCount);  // what every start advances
    const std::set<fs::path> logs = Logs();
    test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    // clang-format off
    const std::tuple<test::LocalHttpServer::Reply, const char*, const char*> cases[] = {
        {{200, MIVEX_E2E_VERSION ":M!:setup.exe"}, "exit code 0", "Latest version of Mivex!: " MIVEX_E2E_VERSION "\nYou already have the most current version of Mivex!\n"},
        {{404, "9.9:M!:setup99.exe"}, "exit code 1", "Can't make an internet connection\n"}};
    // clang-format on
    for (const auto& [reply, ending, printed] : cases) {
        test::LocalHttpServer server(reply);
        test::ScopedEnv host("MIVEX_UPDATE_HOST", server.Authority());
        const ProgramRun check = Start({"--check-update"});
        EXPECT_EQ(Ending(check.pid, kSlow * 20s), ending) << Diagnostics(check);
        EXPECT_TRUE(test::ReadFile(check.out).starts_with(printed)) << Diagnostics(check);
    }
    EXPECT_EQ(CSettingsStore().Read(Setting::kLogCount), logCount) << "the check counted a start";
    EXPECT_EQ(Logs(), logs) << "the check wrote a log";
    EXPECT_EQ(Ending(running.pid, 0s), "still running") << Diagnostics(running);
}

}  // namespace
}  // namespace e2e
