// The pieces of start-up that need no display: the command line and the single-instance guard.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "program_options.h"
#include "single_instance.h"
#include "test_support.h"

extern char** environ;

namespace {

std::optional<ProgramOptions> Parse(std::vector<std::string> arguments, std::string& error) {
    return ParseProgramOptions(arguments, error);
}

TEST(ProgramOptions, AcceptsEveryOptionAndKeepsTheCommandLineForARestart) {
    std::string error;
    const auto options = Parse({"--camera-file", "/tmp/head.avi", "--no-dialogs"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->cameraFile, "/tmp/head.avi");
    EXPECT_TRUE(options->noDialogs);
    EXPECT_FALSE(options->help);
    EXPECT_EQ(options->arguments, (std::vector<std::string>{"--camera-file", "/tmp/head.avi", "--no-dialogs"}));

    EXPECT_EQ(Parse({"--camera-file=a b.avi"}, error)->cameraFile, "a b.avi");
    EXPECT_TRUE(Parse({"--version"}, error)->version);
    EXPECT_TRUE(Parse({"--help"}, error)->help);
    EXPECT_TRUE(Parse({}, error)->cameraFile.empty());
}

TEST(ProgramOptions, RefusesUnknownOptionsAndAMissingFileName) {
    std::string error;
    EXPECT_FALSE(Parse({"--camera", "0"}, error));
    EXPECT_EQ(error, "unknown option --camera");
    EXPECT_FALSE(Parse({"--camera-file"}, error));
    EXPECT_EQ(error, "--camera-file needs a file name");
    EXPECT_FALSE(Parse({"--camera-file="}, error));
    EXPECT_FALSE(Parse({"head.avi"}, error));
    EXPECT_EQ(error, "unknown option head.avi");
}

TEST(SingleInstance, TheLockLivesInTheRuntimeFolderElseInTmpPerUser) {
    test::TempDir runtime;
    {
        test::ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
        EXPECT_EQ(CSingleInstance::DefaultLockFile(), runtime.path() / "KORDO mivex! running.lock");
    }
    test::ScopedEnv env("XDG_RUNTIME_DIR", (runtime.path() / "missing").string());
    EXPECT_EQ(CSingleInstance::DefaultLockFile(),
              "/tmp/KORDO mivex! running-" + std::to_string(::getuid()) + ".lock");
}

TEST(SingleInstance, OneCopyHoldsTheLockUntilItReleasesIt) {
    test::TempDir runtime;
    const auto lockFile = runtime.path() / "lock";
    CSingleInstance first(lockFile);
    CSingleInstance second(lockFile);
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::Acquired) << first.Error();
    EXPECT_EQ(second.Acquire(), CSingleInstance::Result::AlreadyRunning);
    EXPECT_EQ(first.Acquire(), CSingleInstance::Result::Acquired);  // asking again changes nothing

    first.Release();
    EXPECT_EQ(second.Acquire(), CSingleInstance::Result::Acquired);
    second.Release();
    second.Release();
    EXPECT_TRUE(std::filesystem::exists(lockFile));
}

TEST(SingleInstance, AProgramStartedByTheHolderDoesNotKeepTheLock) {
    // A restart starts the new copy while the old one still runs: the new copy must not find
    // the lock held through a descriptor it inherited.
    test::TempDir runtime;
    const auto lockFile = runtime.path() / "lock";
    CSingleInstance holder(lockFile);
    ASSERT_EQ(holder.Acquire(), CSingleInstance::Result::Acquired);

    char sleepPath[] = "/bin/sleep";
    char seconds[] = "5";
    char* argv[] = {sleepPath, seconds, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);
    holder.Release();

    CSingleInstance next(lockFile);
    EXPECT_EQ(next.Acquire(), CSingleInstance::Result::Acquired);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(SingleInstance, AnUnusableLockFolderIsReportedButDoesNotStopTheProgram) {
    CSingleInstance instance("/nonexistent-folder/lock");
    EXPECT_EQ(instance.Acquire(), CSingleInstance::Result::Failed);
    EXPECT_NE(instance.Error().find("/nonexistent-folder/lock"), std::string::npos);
}

}  // namespace
