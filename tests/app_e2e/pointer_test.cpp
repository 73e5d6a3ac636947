// The program with mouse control on, watching the generated head: the X pointer must follow the
// head, mirrored left-right as in a mirror, up and down as it is.
#include <cstdlib>
#include <sstream>

#include "e2e_harness.h"

namespace e2e {
namespace {

struct Step {
    int dx = 0, dy = 0;
};

constexpr auto kStep = 250ms;     // three camera frames at 12 per second
constexpr int kMovingStep = 8;    // pixels per step (x plus y) that count as a move
constexpr int kAxisThreshold = 2; // smaller components count as no motion on that axis

// The pointer's displacement per quarter second, until enough moves were seen (about two loops of
// the video) or the time is up. Whenever the pointer nears an edge it is put back in the middle,
// so that the screen never stops it; no step spans that jump.
std::vector<Step> RecordSteps(const XClient& x, std::size_t wantedMoves, Clock::duration timeout) {
    const Point size = x.ScreenSize();
    const int margin = 150;
    std::vector<Step> steps;
    Point from = x.Pointer();
    auto stepStart = Clock::now();
    std::size_t moves = 0;
    for (const auto end = Clock::now() + timeout; Clock::now() < end && moves < wantedMoves;) {
        std::this_thread::sleep_for(10ms);
        const Point now = x.Pointer();
        if (now.x < margin || now.x > size.x - margin || now.y < margin || now.y > size.y - margin) {
            x.Warp(x.Centre());
            from = x.Pointer();
            stepStart = Clock::now();
            continue;
        }
        if (Clock::now() - stepStart >= kStep) {
            steps.push_back({now.x - from.x, now.y - from.y});
            moves += std::abs(steps.back().dx) + std::abs(steps.back().dy) >= kMovingStep;
            from = now;
            stepStart = Clock::now();
        }
    }
    return steps;
}

int Sign(int v) { return v > kAxisThreshold ? 1 : v < -kAxisThreshold ? -1 : 0; }

std::string Show(const std::vector<Step>& steps) {
    std::ostringstream text;
    for (const Step& s : steps) text << '(' << s.dx << ',' << s.dy << ") ";
    return text.str();
}

using PointerTest = ProgramTest;

TEST_F(PointerTest, FollowsTheHeadMirroredLeftRightAfterTheStartUpLinesInOrder) {
    const HeadDirection head = FastPassHeadDirection();
    ASSERT_TRUE(head.x != 0 && head.y != 0) << "the video should move the head on both axes at once";
    // Mirrored: a head going right in the picture takes the pointer left.
    const Point fast{-head.x, head.y};

    S().Settings().Set({{"settings", "useMouse", 1}});
    S().X().Warp(S().X().Centre());
    ProgramRun run = S().Start(CameraArgs());
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(S().WaitForLogLine(run, "InitInstance exit OK", Scaled(20s))) << S().Diagnostics(run);

    const std::string log = S().LogText(run);
    EXPECT_EQ(MissingInOrder(log, StartupLines()), "") << S().Diagnostics(run);
    EXPECT_EQ(log.find("RebootCount>0"), std::string::npos) << "no restarts to report on a first start";
    std::size_t lineEnds = 0, crLf = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i] != '\n') continue;
        ++lineEnds;
        if (i > 0 && log[i - 1] == '\r') ++crLf;
    }
    EXPECT_EQ(crLf, lineEnds) << "log lines end in CR LF";

    ASSERT_TRUE(WaitForPointerMove(S().X(), 30, Scaled(10s)))
        << "the pointer did not move within 10 s of the start" << S().Diagnostics(run);

    const std::vector<Step> steps = RecordSteps(S().X(), 32, Scaled(12s));
    int fastSteps = 0, slowSteps = 0, across = 0;
    double fastLength = 0, slowLength = 0;
    for (const Step& s : steps) {
        if (std::abs(s.dx) + std::abs(s.dy) < kMovingStep) continue;
        const int sx = Sign(s.dx), sy = Sign(s.dy);
        const double length = std::hypot(s.dx, s.dy);
        if (sx == fast.x && sy == fast.y) {
            ++fastSteps;
            fastLength += length;
        } else if (sx == -fast.x && sy == -fast.y) {
            ++slowSteps;
            slowLength += length;
        } else if (sx != 0 && sy != 0) {
            ++across;
        }
    }
    const std::string shown = "\nsteps per " + std::to_string(kStep.count()) + " ms: " + Show(steps);
    // Both ways along the mirrored line of the head's motion: the axes' signs are right.
    ASSERT_GE(fastSteps, 3) << "too few moves the way the head's fast pass goes, mirrored" << shown;
    ASSERT_GE(slowSteps, 3) << "too few moves back" << shown;
    EXPECT_GE(fastSteps + slowSteps, 4 * across) << "the pointer moves across the head's line, not along it" << shown;
    // The fast moves go the fast pass's way, which tells it apart from the same line walked
    // backwards (both axes wrong).
    EXPECT_GT(fastLength / fastSteps, 1.4 * (slowLength / slowSteps))
        << "the pointer is not faster on the head's fast pass" << shown;

    EXPECT_EQ(WaitForExit(run.pid, 0s), std::nullopt) << "the program ended" << S().Diagnostics(run);
}

}  // namespace
}  // namespace e2e
