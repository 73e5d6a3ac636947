// The update check as the user and a script meet it: the update window that shows by itself at the
// first start, and `mivex --check-update` beside a running copy.
#include "e2e_harness.h"
#include "local_http_server.h"

namespace e2e {
namespace {

class UpdateProgramTest : public ProgramTest {
protected:
    // The mapped top-level window with this title, or None.
    Window ShownWindow(const char* title) const {
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        Window found = None;
        XQueryTree(m_x, DefaultRootWindow(m_x), &root, &parent, &children, &count);
        for (unsigned int i = 0; i < count && found == None; ++i) {
            XWindowAttributes attributes;
            char* name = nullptr;
            if (XGetWindowAttributes(m_x, children[i], &attributes) && attributes.map_state == IsViewable &&
                XFetchName(m_x, children[i], &name) && name && std::string_view(name) == title)
                found = children[i];
            if (name) XFree(name);
        }
        if (children) XFree(children);
        return found;
    }
};

TEST_F(UpdateProgramTest, TheUpdateWindowShowsByItselfAtTheFirstStartWithoutTakingTheFocusAndNotAtTheNext) {
    for (const bool first : {true, false}) {
        const ProgramRun run = Start(CameraArgs());
        ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
        EXPECT_TRUE(HasLine(Log(run), first ? "UpdateCount: 0" : "UpdateCount: 1")) << Diagnostics(run);
        Window shown = None;
        const bool appeared = WaitUntil([&] { return (shown = ShownWindow("Find Mivex! Update")) != None; }, 5s);
        EXPECT_EQ(appeared, first) << Diagnostics(run);
        Window focus;
        int revert;
        XGetInputFocus(m_x, &focus, &revert);
        EXPECT_TRUE(focus != shown || shown == None) << "the reminder took the keyboard focus";
        ::kill(run.pid, SIGTERM);
        EXPECT_EQ(Ending(run.pid, kSlow * 10s), "exit code 0") << Diagnostics(run);
    }
}

TEST_F(UpdateProgramTest, TheCommandLineCheckPrintsTheWindowsLinesWithoutDisplayAndLeavesARunningCopyAlone) {
    const ProgramRun running = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(running, "InitInstance exit OK")) << Diagnostics(running);
    // What every start of the program counts.
    const auto counters = [] {
        return std::pair(CSettingsStore().Read(Setting::kLogCount), CSettingsStore().Read(Setting::kUpdateCount));
    };
    const auto countersBefore = counters();
    const std::set<fs::path> logs = Logs();
    test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    // clang-format off
    const std::tuple<test::LocalHttpServer::Reply, const char*, const char*> cases[] = {
        {{200, "9.9:M!:setup99.exe"}, "exit code 0", "New version of Mivex! found: 9.9\nClick on Update to download this version\n"},
        {{200, MIVEX_E2E_VERSION ":M!:setup.exe"}, "exit code 0", "Latest version of Mivex!: " MIVEX_E2E_VERSION "\nYou already have the most current version of Mivex!\n"},
        {{404, "9.9:M!:setup99.exe"}, "exit code 1", "Can't make an internet connection\n"}};
    // clang-format on
    for (const auto& [reply, ending, printed] : cases) {
        test::LocalHttpServer server(reply);
        test::ScopedEnv host("MIVEX_UPDATE_HOST", server.Authority());
        const ProgramRun check = Start({"--check-update"});
        EXPECT_EQ(Ending(check.pid, kSlow * 20s), ending) << Diagnostics(check);
        EXPECT_TRUE(test::ReadFile(check.out).starts_with(printed)) << Diagnostics(check);
        EXPECT_EQ(server.Requests().size(), 1u);
    }
    EXPECT_EQ(counters(), countersBefore) << "the check counted a start";
    EXPECT_EQ(Logs(), logs) << "the check wrote a log";
    EXPECT_EQ(Ending(running.pid, 0s), "still running") << Diagnostics(running);
}

}  // namespace
}  // namespace e2e
