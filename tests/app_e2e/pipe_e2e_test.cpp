// Another program on the desktop takes the head's motion through the local socket, with
// mivex-pipe as its client.
#include "tests/app_e2e/e2e_harness.h"

namespace e2e {
namespace {

TEST_F(ProgramTest, AClientOfTheLocalSocketTakesTheHeadsMotionInsteadOfThePointerAndGivesItBack) {
    // mivex-pipe's output (standard output and error) and exit code.
    const auto Pipe = [this](std::vector<std::string> args) {
        int status = 0;
        fs::remove(Root() / "pipe-output");
        args.insert(args.begin(), MIVEX_E2E_PIPE_CLIENT);
        ::waitpid(test::Spawn(args, Root() / "pipe-output", Root() / "pipe-output"), &status, 0);
        return std::pair(test::ReadFile(Root() / "pipe-output"), WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    };
    const auto [notRunning, code] = Pipe({"version"});
    EXPECT_TRUE(code == 1 && notRunning.starts_with("mivex-pipe: Mivex is not running (")) << notRunning;
    CSettingsStore().Write(Setting::kUseMouse, 1);
    MovePointer(Centre());
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    ASSERT_TRUE(PointerMoves()) << "no mouse control to take over" << Diagnostics(run);
    ASSERT_EQ(Pipe({"een"}), std::pair(std::string("??\n"), 0));
    // Until the first sample, "xy" replies at once that there is none.
    ASSERT_TRUE(WaitUntil([&] { return !Pipe({"xy"}).first.ends_with("#-1\n"); }, kSlow * 10s))
        << "no sample after the stream was switched on" << Diagnostics(run);

    // The head goes a quarter circle left and down and back: the pointer, mirrored, goes right
    // and down and back, so the two values of a sample share their sign. A slow machine may track
    // no points for a second, which ends an "xy" without a reply: 30 samples are asked again.
    const Point still = Pointer();
    std::string samples;
    const auto sixtySamples = [&] {
        return std::ranges::count(samples += Pipe({"xy", "--count", "30"}).first, '#') >= 60;
    };
    WaitUntil(sixtySamples, kSlow * 20s);
    EXPECT_EQ(Pointer(), still) << "the pointer moved while the client had the motion";
    std::istringstream lines(samples);
    int same = 0, opposite = 0;
    for (std::string line; std::getline(lines, line);)
        if (double x, y; std::sscanf(line.c_str(), "%lf#%lf#", &x, &y) == 2 && std::min(std::abs(x), std::abs(y)) >= 1)
            ++(x * y > 0 ? same : opposite);
    EXPECT_TRUE(same >= 10 && same >= 4 * opposite) << samples;

    ASSERT_EQ(Pipe({"edi"}), std::pair(std::string("??\n"), 0));
    EXPECT_TRUE(PointerMoves()) << "the pointer did not get the motion back" << Diagnostics(run);
}

}  // namespace
}  // namespace e2e
