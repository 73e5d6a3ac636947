// The program's process concerns: the command line, one copy per user, and the texts for the user
// (logged, then shown in a message box on the user-interface thread; standard error is the
// end-to-end tests' part).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include "app/display_platform.h"
#include "app/program_options.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "app/user_messages.h"
#include "base/logging.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"  // the process helpers

namespace {

using Strings = std::vector<std::string>;

TEST(ProgramOptions, AcceptsEveryOptionRefusesTheRestAndKeepsTheCommandLineForARestart) {
    const std::string kNoSuchAction =
        "--action needs one of toggle, left-click, middle-click, right-click, double-click, middle-lock, "
        "middle-unlock, centre";
    const struct {
        Strings arguments;
        std::string error, cameraFile{};
        bool noDialogs = false, version = false, help = false;
        std::optional<int> restartCount{};
        Strings kept{};  // for the restart, when not all of them
        std::string action{};
        bool autostart = false;
        std::string cameraReplay{};
    } cases[] = {
        {{"--camera-file", "/tmp/head.avi", "--no-dialogs"}, "", "/tmp/head.avi", true},
        {{"--camera-file=a b.avi"}, "", "a b.avi"},
        {{"--version"}, "", "", false, true},
        {{"--help"}, "", "", false, false, true},
        {{}, "", ""},
        {{"--camera", "0"}, "unknown option --camera"},
        {{"--camera-file"}, "--camera-file needs a file name"},
        {{"--camera-file="}, "--camera-file needs a file name"},
        {.arguments = {"--camera-replay", "face.mkv"}, .error = "", .cameraReplay = "face.mkv"},
        {.arguments = {"--camera-replay=a b.mkv"}, .error = "", .cameraReplay = "a b.mkv"},
        {{"--camera-replay"}, "--camera-replay needs a file name"},
        {{"--camera-file", "head.avi", "--camera-replay=face.mkv"}, "give --camera-file or --camera-replay, not both"},
        {{"head.avi"}, "unknown option head.avi"},
        // The count of restarts is the restart's to give anew, not kept for the next one.
        {.arguments = {"--restart-count", "3", "--camera-file", "--restart-count"},
         .error = "",
         .cameraFile = "--restart-count",
         .restartCount = 3,
         .kept = {"--camera-file", "--restart-count"}},
        {{"--restart-count", "-1"}, "--restart-count needs a whole number of 0 or more"},
        {{"--restart-count", "2x"}, "--restart-count needs a whole number of 0 or more"},
        {{"--restart-count"}, "--restart-count needs a whole number of 0 or more"},
        {.arguments = {"--action", "left-click"}, .error = "", .action = "left-click"},
        {.arguments = {"--action=centre"}, .error = "", .action = "centre"},
        {{"--action", "jump"}, kNoSuchAction},
        {{"--action"}, kNoSuchAction},
        {.arguments = {"--autostart", "--no-dialogs"}, .error = "", .noDialogs = true, .autostart = true},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = ParseProgramOptions(c.arguments, error);
        EXPECT_EQ(std::make_pair(options.has_value(), error), std::make_pair(c.error.empty(), c.error));
        if (options) {
            const ProgramOptions& o = *options;
            const Strings& kept = c.restartCount ? c.kept : c.arguments;
            EXPECT_EQ(std::tie(o.cameraFile, o.noDialogs, o.version, o.help, o.restartCount, o.arguments, o.action,
                               o.autostart, o.cameraReplay),
                      std::tie(c.cameraFile, c.noDialogs, c.version, c.help, c.restartCount, kept, c.action,
                               c.autostart, c.cameraReplay));
        }
    }
}

TEST(DisplayPlatform, AWaylandSessionWithAnXDisplayRunsOnXWaylandUnlessTheUserChoseAPlatform) {
    struct Case {
        DisplayEnvironment environment;
        std::string platformName;  // what Qt then started on
        std::string chosen;
        Strings logged;  // parts of the lines, in order
    };
    const std::string loses = "As a Wayland client the floating window is not kept above other windows";
    // clang-format off
    const Case cases[] = {
        {{"wayland", "wayland-0", ":0", ""}, "xcb", "xcb",
         {"Wayland session (Wayland display wayland-0, XWayland on :0); windows on XWayland through Qt platform xcb, chosen"}},
        {{"", "wayland-1", ":1", ""}, "xcb", "xcb", {"Wayland session", "XWayland"}},
        {{"wayland", "", ":0", ""}, "xcb", "xcb", {"Wayland session (no WAYLAND_DISPLAY, XWayland on :0)"}},
        {{"wayland", "wayland-0", ":0", "wayland"}, "wayland", "", {"Qt platform wayland, QT_QPA_PLATFORM=wayland", loses}},
        {{"wayland", "wayland-0", "", ""}, "wayland", "", {"(Wayland display wayland-0, no X display); windows on Wayland", loses}},
        {{"", "wayland-0", "", ""}, "wayland", "", {"windows on Wayland", loses}},
        {{"x11", "", ":5", ""}, "xcb", "", {"Display: X11 session (X display :5); windows on X11 through Qt platform xcb"}},
        {{"x11", "", ":5", "offscreen"}, "offscreen", "", {"Qt platform offscreen, QT_QPA_PLATFORM=offscreen"}},
        // A list Qt goes down until a platform loads: with xcb in it Qt's Wayland platform is no must.
        {{"wayland", "wayland-0", ":0", "wayland;xcb"}, "xcb", "", {"QT_QPA_PLATFORM=wayland;xcb"}},
        {{"x11", "", ":5", "wayland-egl:option"}, "wayland", "", {"QT_QPA_PLATFORM=wayland-egl:option", loses}},
    };
    // clang-format on
    for (const Case& c : cases) {
        const DisplayEnvironment& e = c.environment;
        const std::string name = e.sessionType + "|" + e.waylandDisplay + "|" + e.x11Display + "|" + e.qtPlatform;
        EXPECT_EQ(ChooseQtPlatform(e), c.chosen) << name;
        // Only a Wayland client needs Qt's Wayland platform installed.
        const bool needsQtWayland = c.platformName == "wayland";
        EXPECT_EQ(MissingDisplayPlatform(e, false).empty(), !needsQtWayland) << name;
        EXPECT_EQ(MissingDisplayPlatform(e, true), "") << name;
        const Strings lines = DescribeDisplay(e, c.chosen, c.platformName);
        ASSERT_EQ(lines.size(), c.logged.size() > 1 && c.logged.back() == loses ? 2u : 1u) << name;
        for (const std::string& part : c.logged)
            EXPECT_TRUE(std::ranges::any_of(lines, [&](const std::string& l) { return l.find(part) != l.npos; }))
                << name << ": no \"" << part << "\" in \"" << lines.front() << "\"";
    }
}

TEST(SingleInstance, TheLockFolderIsTheUsersPrivateRuntimeFolderElseAPrivateOneInTheHomeFolder) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        fs::perms runtime, cache;  // none: missing
        uid_t otherUser;           // added to the user's id
        const char* chosen;        // "run", "home" or "" for none
    } cases[] = {
        {"private runtime folder", fs::perms::owner_all, fs::perms::none, 0, "run"},
        {"runtime folder others read", fs::perms::owner_all | fs::perms::group_read, fs::perms::none, 0, "home"},
        {"no runtime folder", fs::perms::none, fs::perms::none, 0, "home"},
        {"home folder kept", fs::perms::none, fs::perms::owner_all | fs::perms::others_read, 0, "home"},
        {"both shared", fs::perms::all, fs::perms::all, 0, ""},
        {"another user's", fs::perms::owner_all, fs::perms::owner_all, 1, ""},
    };
    for (const auto& c : cases) {
        test::TempDir root;
        const fs::path run = root.path() / "run", home = root.path() / "home", cache = home / ".cache" / "KordO";
        fs::create_directories(home);
        if (c.runtime != fs::perms::none) fs::create_directory(run), fs::permissions(run, c.runtime);
        if (c.cache != fs::perms::none) fs::create_directories(cache), fs::permissions(cache, c.cache);
        std::string error;
        const fs::path chosen = PrivateRuntimeDirectory(run, home, ::getuid() + c.otherUser, error);
        const fs::path wanted = c.chosen == std::string("run") ? run : c.chosen == std::string("home") ? cache : "";
        EXPECT_EQ(chosen, wanted) << c.name;
        EXPECT_EQ(error.empty(), !wanted.empty()) << c.name << ": " << error;
        if (c.cache == fs::perms::none && wanted == cache) {
            EXPECT_EQ(fs::status(cache).permissions(), fs::perms::owner_all) << c.name << ": made private";
        }
    }
}

TEST(SingleInstance, TheEnvironmentDoesNotMoveTheLock) {
    test::TempDir runtime;
    std::filesystem::path unset;
    {
        test::ScopedEnv env("XDG_RUNTIME_DIR", std::nullopt);
        unset = CSingleInstance().LockFile();
    }
    test::ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
    EXPECT_EQ(CSingleInstance().LockFile(), unset);
    EXPECT_FALSE(unset.empty()) << CSingleInstance().Error();
}

TEST(SingleInstance, ALockFileTheUserCannotOpenIsNoRunningCopy) {
    // A file of someone else's, as another user could make in a shared folder: the program runs
    // unguarded rather than never. The check runs in a child, which an administrator leaves for
    // an ordinary user, since an administrator may open any file.
    test::TempDir folder;
    const auto lockFile = folder.path() / "lock";
    test::WriteFile(lockFile, "");
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    std::filesystem::permissions(lockFile, std::filesystem::perms::none);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(100);
        ::_exit(static_cast<int>(CSingleInstance(lockFile).Acquire()));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(CSingleInstance::Result::Failed));
}

TEST(SingleInstance, ASecondCopyIsRefusedUntilTheFirstReleasesTheLock) {
    test::TempDir runtime;
    const auto lockFile = runtime.path() / "lock";
    CSingleInstance first(lockFile), second(lockFile);
    std::string error;
    EXPECT_EQ(CSingleInstance::Holder(lockFile, error), std::nullopt) << "no file, no holder";
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::Acquired) << first.Error();
    // The holder is named for those who must tell the running copy from another program.
    EXPECT_EQ(CSingleInstance::Holder(lockFile, error), ::getpid());
    EXPECT_EQ(second.Acquire(), CSingleInstance::Result::AlreadyRunning);
    EXPECT_EQ(first.Acquire(), CSingleInstance::Result::Acquired);  // asking again changes nothing

    first.Release();
    // The file still names the copy that ended: no holder all the same.
    EXPECT_EQ(CSingleInstance::Holder(lockFile, error), std::nullopt);
    EXPECT_EQ(error, "");
    EXPECT_EQ(second.Acquire(), CSingleInstance::Result::Acquired);
    second.Release();
    second.Release();
    EXPECT_TRUE(std::filesystem::exists(lockFile));

    // An unusable folder is reported but does not stop the program.
    CSingleInstance nowhere("/nonexistent-folder/lock");
    EXPECT_EQ(nowhere.Acquire(), CSingleInstance::Result::Failed);
    EXPECT_NE(nowhere.Error().find("/nonexistent-folder/lock"), std::string::npos);
}

TEST(SingleInstance, AProgramStartedByTheHolderDoesNotInheritTheLock) {
    // A restart starts the new copy while the old one still runs: the new copy must not find
    // the lock held through a descriptor it inherited.
    test::TempDir runtime;
    CSingleInstance holder(runtime.path() / "lock");
    ASSERT_EQ(holder.Acquire(), CSingleInstance::Result::Acquired);
    // The exec closes inherited descriptors only after the spawn has returned: wait until the
    // started program runs its own code.
    const auto started = runtime.path() / "started";
    const pid_t child = test::Spawn({"/bin/sh", "-c", "echo started; exec sleep 5"}, started);
    ASSERT_TRUE(test::WaitUntil([&] { return test::ReadFile(started) == "started\n"; }, std::chrono::seconds(5)))
        << "the started program never ran";
    holder.Release();

    EXPECT_EQ(CSingleInstance(runtime.path() / "lock").Acquire(), CSingleInstance::Result::Acquired);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(TerminationSignals, RequestsRaisedBeforeTheHandlerOrTheObjectExistArriveOnceTheyDo) {
    // Blocked, as main does first: a request before the handler waits instead of ending the program.
    CTerminationSignals::Block();
    ::raise(SIGUSR1);
    CTerminationSignals::Install();
    ::raise(SIGTERM);
    CTerminationSignals termination;
    Strings requests;
    QObject::connect(&termination, &CTerminationSignals::restartRequested, [&] { requests.push_back("restart"); });
    QObject::connect(&termination, &CTerminationSignals::exitRequested, [&] { requests.push_back("exit"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests.size() >= 2; }, 5000));
    EXPECT_EQ(requests, (Strings{"restart", "exit"}));
}

TEST(UserMessages, AWorkerThreadsTextIsLoggedAndShownOnTheUserInterfaceThread) {
    test::TempConfigHome config;
    test::TempDir data;
    CSettingsStore store;
    CLogging log(store, data.path());
    log.Open();
    const auto logged = [&](const std::string& text) {
        return test::ReadFile(log.FilePath()).find(text + "\r\n") != std::string::npos;
    };
    // Answers every message box that opens: records its text and presses its button.
    Strings boxes;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes.push_back(box->text().toStdString());
            box->accept();
        }
    });
    answerer.start(10);
    CUserMessages messages(CUserMessages::Mode::Dialogs);
    messages.SetLog(&log);
    // Show must return at once on a worker thread: the box waits for the user elsewhere.
    std::thread([&] { messages.Show("ERROR: file: [cascade_ff_d.xml] not found"); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, 5000));
    EXPECT_EQ(boxes, Strings{"ERROR: file: [cascade_ff_d.xml] not found"});
    EXPECT_TRUE(logged("ERROR: file: [cascade_ff_d.xml] not found"));

    // On the user-interface thread the box is answered before the call returns.
    boxes.clear();
    messages.Display("ERROR: Mivex! program already running");
    EXPECT_EQ(boxes, Strings{"ERROR: Mivex! program already running"});
    EXPECT_FALSE(logged("ERROR: Mivex! program already running"));
}

}  // namespace
