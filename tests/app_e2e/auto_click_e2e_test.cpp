// Auto click end to end: the program's floating window comes up at its place without taking the
// keyboard focus, left is chosen on it with a real click, and a head that moves and rests makes
// the program click, once, where the pointer rests, in a window of the test's own; a head that
// leaves, turns away or is covered makes no click until it has been followed again a while.
#include <deque>
#include <map>
#include <numeric>
#include <sstream>

#include "tests/app_e2e/e2e_harness.h"

// Names the trajectory in test listings instead of dumping its bytes.
void PrintTo(Trajectory t, std::ostream* os) { *os << TrajectoryName(t); }

namespace e2e {
namespace {

// The "rests" trajectory at 12 frames a second: 2 s still, 0.4 s of quick moves, and so on. Only
// this test uses it.
const fs::path& RestingHeadVideo() {
    static const fs::path video = [] {
        constexpr int kFrames = 58;
        std::vector<int> order(kFrames);
        std::iota(order.begin(), order.end(), 0);
        return SequenceVideo("head-rests.avi", Trajectory::Rests, kFrames, order);
    }();
    return video;
}

// Head control and auto click on, with a still time of `tenths` of a second. No update reminder:
// it sits where the head rests, and a dwell click there would rightly give it the focus.
void StoreAutoClick(int tenths) {
    CSettingsStore store;
    for (const SettingKey& on : {Setting::kUseMouse, Setting::kEnableAutoClick}) store.Write(on, 1);
    store.Write(Setting::kValueAutoClick, tenths);
    store.Write(Setting::kUpdateCount, 1);
}

// A window of the test's own under the pointer everywhere, shown, selecting `events`.
Window WindowOverTheScreen(Display* x, long events) {
    const Window own =
        XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, DisplayWidth(x, 0), DisplayHeight(x, 0), 0, 0, 0);
    XSelectInput(x, own, events);
    XMapRaised(x, own);
    XSync(x, False);
    return own;
}

TEST_F(ProgramTest, AutoClickClicksOnceWhereThePointerRestsAndItsWindowNeverTakesTheFocus) {
    StoreAutoClick(5);  // 0.5 s
    // Holding the keyboard focus.
    const Window own = WindowOverTheScreen(m_x, ButtonPressMask | ButtonReleaseMask);
    XSetInputFocus(m_x, own, RevertToParent, CurrentTime);
    ASSERT_EQ(FocusedWindow(), own);

    const ProgramRun run = Start({"--camera-file", RestingHeadVideo().string(), "--no-dialogs"});
    const Point left{100 + 26, 100 + 14};  // the left button, on the window's first start
    ASSERT_TRUE(WaitUntil([&] { return OwnerAt(left) == run.pid; }, kSlow * 20s))
        << "no floating window at (100, 100)" << Diagnostics(run);
    EXPECT_EQ(FocusedWindow(), own) << "shown, the floating window took the focus";
    MovePointer(left);
    Press(Button1);
    MovePointer(Centre());

    // The pointer's places over time, and the test window's button events from now on.
    XEvent event;
    using Clock = std::chrono::steady_clock;
    std::deque<std::pair<Clock::time_point, Point>> places;
    std::vector<XButtonEvent> buttons;
    std::optional<Clock::time_point> pressed;
    for (const auto end = Clock::now() + kSlow * 30s; Clock::now() < end;) {
        places.emplace_back(Clock::now(), Pointer());
        while (XCheckWindowEvent(m_x, own, ButtonPressMask | ButtonReleaseMask, &event)) {
            buttons.push_back(event.xbutton);
            if (!pressed) pressed = Clock::now();
        }
        if (pressed && Clock::now() > *pressed + 500ms) break;
        if (!pressed && places.front().first < Clock::now() - 400ms) places.pop_front();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(pressed) << "no click within 30 s" << Diagnostics(run);
    ASSERT_EQ(buttons.size(), 2u) << "not a single click";
    EXPECT_EQ(std::tuple(buttons[0].type, buttons[0].button, buttons[1].type, buttons[1].button),
              std::tuple(ButtonPress, Button1, ButtonRelease, Button1));
    const Point at{buttons[0].x_root, buttons[0].y_root};
    for (const auto& [when, place] : places)
        EXPECT_TRUE(when > *pressed || cv::norm(place - at) <= 10) << "the pointer moved just before the click";
    EXPECT_EQ(FocusedWindow(), own) << "pressed, the floating window took the focus";
}

// An away trajectory at 12 frames a second, one cycle of 10 s: in view, away 3 s, back, a nod.
const fs::path& AwayVideo(Trajectory trajectory) {
    static std::map<Trajectory, fs::path> videos;
    if (!videos.count(trajectory)) {
        std::vector<int> order;
        for (int i = 0; i < AwayTimeline::kCycle * 12 / 30; ++i) order.push_back(i * 30 / 12);
        videos[trajectory] = SequenceVideo("head-" + std::string(TrajectoryName(trajectory)) + ".avi", trajectory,
                                           AwayTimeline::kCycle, order);
    }
    return videos[trajectory];
}

class AwayHead : public ProgramTest, public testing::WithParamInterface<Trajectory> {};

// The face goes for 3 s in front of a textured wall, where the points left behind report no
// motion. The pointer's moves tell where in the cycle the program is: it rests 4 s after the face
// came back (till the nod), longer than at any other time.
TEST_P(AwayHead, NoClickWhileTheFaceIsAwayAndTheFirstAfterItOnlyOnceSettled) {
    // The face may be found again before the pointer stops (a hand going down drags points till it
    // is gone): allowed for with the 0.4 s that coming back takes.
    constexpr double kAway = 3.0, kComing = 0.4, kSettle = 1.0, kStill = 1.0;  // s
    StoreAutoClick(9);                                                         // 1.0 s
    const Window own = WindowOverTheScreen(m_x, ButtonPressMask);

    const ProgramRun run = Start({"--camera-file", AwayVideo(GetParam()).string(), "--no-dialogs"});
    const Point left{100 + 26, 100 + 14};
    ASSERT_TRUE(WaitUntil([&] { return OwnerAt(left) == run.pid; }, kSlow * 20s))
        << "no floating window at (100, 100)" << Diagnostics(run);
    MovePointer(left);
    Press(Button1);
    MovePointer(Centre());

    // Two cycles of the video: when the pointer moved, and when the test window was clicked.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    std::vector<double> moves, clicks;
    XEvent event;
    for (Point last = Pointer(); seconds() < 22; std::this_thread::sleep_for(20ms)) {
        if (cv::norm(Pointer() - last) > 3) moves.push_back(seconds()), last = Pointer();
        while (XCheckWindowEvent(m_x, own, ButtonPressMask, &event)) clicks.push_back(seconds());
    }
    const double end = seconds();
    std::ostringstream trace;
    for (double t : clicks) trace << " " << t;

    int returns = 0;
    for (std::size_t i = 1; i < moves.size(); ++i) {
        const double back = moves[i - 1];  // the face has come back and holds still
        if (moves[i] - back < 3.5 || back + kSettle + kStill + 2 > end) continue;
        ++returns;
        const auto first = std::ranges::find_if(clicks, [&](double t) { return t > back - kComing - kAway; });
        ASSERT_NE(first, clicks.end()) << "no click after the face came back at " << back << Diagnostics(run);
        std::cout << TrajectoryName(GetParam()) << ": first click " << *first - back
                  << " s after the pointer came to rest"
                  << " with the face back\n";
        EXPECT_GE(*first - back, kSettle + kStill - kComing)
            << "a click while the face was away or before it had been followed for the settle time; back at " << back
            << ", clicks at" << trace.str();
    }
    EXPECT_GE(returns, 1) << "the face never came back" << Diagnostics(run);
}

INSTANTIATE_TEST_SUITE_P(LeavesTurnsAwayIsCovered, AwayHead,
                         testing::Values(Trajectory::Leave, Trajectory::Turn, Trajectory::Cover),
                         [](const auto& info) { return std::string(TrajectoryName(info.param)); });

}  // namespace
}  // namespace e2e
