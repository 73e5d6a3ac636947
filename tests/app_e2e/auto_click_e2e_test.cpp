// Auto click end to end: the program's floating window comes up at its place without taking the
// keyboard focus, left is chosen on it with a real click, and a head that moves and rests makes
// the program click, once, where the pointer rests, in a window of the test's own; with the wheel
// chosen, a rest scrolls that window by head until a rest near where it began, and Exit while it
// scrolls ends it; a head that leaves, turns away or is covered makes no click until it has been
// followed again a while.
#include <deque>
#include <functional>
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

// The head rests for 2 s, goes a quarter circle (20 px left and 20 px down in the picture) and
// rests there 2 s, comes back and rests 3 s, at 12 frames a second. Only this test uses it.
const fs::path& NoddingHeadVideo() {
    static const fs::path video = [] {
        constexpr int kQuarter = 40;  // frame 39 of the circle trajectory is a quarter turn on
        std::vector<int> order(24, 0);
        for (int i = 4; i < kQuarter; i += 4) order.push_back(i);
        order.insert(order.end(), 24, kQuarter - 1);
        for (int i = 36; i > 0; i -= 4) order.push_back(i);
        order.insert(order.end(), 36, 0);
        return SequenceVideo("head-nods.avi", Trajectory::Circle, kQuarter, order);
    }();
    return video;
}

// Auto click on with a still time of 0.5 s, and a window of the test's own under the pointer
// everywhere, holding the keyboard focus, that hears every button.
class AutoClickTest : public ProgramTest {
protected:
    int m_nStillTenths = 5;  // 0.5 s

    void SetUp() override {
        ProgramTest::SetUp();
        if (HasFatalFailure()) return;
        CSettingsStore store;
        for (const SettingKey& on : {Setting::kUseMouse, Setting::kEnableAutoClick}) store.Write(on, 1);
        store.Write(Setting::kValueAutoClick, m_nStillTenths);
        // No update reminder: it sits where the head rests, and a dwell click there would rightly give it the focus.
        store.Write(Setting::kUpdateCount, 1);
        m_own = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 0, DisplayWidth(m_x, 0), DisplayHeight(m_x, 0), 0,
                                    0, 0);
        XSelectInput(m_x, m_own, ButtonPressMask | ButtonReleaseMask);
        XMapRaised(m_x, m_own);
        XSync(m_x, False);
        XSetInputFocus(m_x, m_own, RevertToParent, CurrentTime);
        ASSERT_EQ(FocusedWindow(), m_own);
    }

    // Starts the program on the video and presses the floating window's button at `units` (its
    // place in the window's own units) with a real click, once the window is up at (100, 100) on
    // its first start. A failure is added when it is not.
    ProgramRun StartAndChoose(const fs::path& video, Point units) {
        const ProgramRun run = Start({"--camera-file", video.string(), "--no-dialogs"});
        const Point button{100 + units.x * 3 / 2 + 17, 100 + units.y * 13 / 8 + 14};
        if (!WaitUntil([&] { return OwnerAt(button) == run.pid; }, kSlow * 20s))
            ADD_FAILURE() << "no floating window at (100, 100)" << Diagnostics(run);
        EXPECT_EQ(FocusedWindow(), m_own) << "shown, the floating window took the focus";
        Choose(button);
        return run;
    }
    void Choose(Point button) {
        MovePointer(button);
        Press(Button1);
        MovePointer(Centre());
    }

    // The button events on the test's window since the last call.
    std::vector<XButtonEvent> Buttons() {
        std::vector<XButtonEvent> buttons;
        for (XEvent event; XCheckWindowEvent(m_x, m_own, ButtonPressMask | ButtonReleaseMask, &event);)
            buttons.push_back(event.xbutton);
        return buttons;
    }

    Window m_own = None;
};

TEST_F(AutoClickTest, AutoClickClicksOnceWhereThePointerRestsAndItsWindowNeverTakesTheFocus) {
    const Window own = m_own;
    const ProgramRun run = StartAndChoose(RestingHeadVideo(), {6, 0});  // the left button
    ASSERT_FALSE(HasFailure());

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

TEST_F(AutoClickTest, WithTheWheelTheHeadScrollsTheWindowUnderTheHeldPointerUntilItRestsWhereItBeganAndExitEndsIt) {
    const Point wheel{96, 0};
    const ProgramRun run = StartAndChoose(NoddingHeadVideo(), wheel);
    ASSERT_FALSE(HasFailure());
    using Clock = std::chrono::steady_clock;
    struct Turn {
        Clock::time_point when;
        unsigned int button;
    };
    std::vector<Turn> turns;  // the presses of buttons 4 to 7
    std::vector<std::pair<Clock::time_point, Point>> places;
    const auto watch = [&](Clock::duration duration, const std::function<bool()>& done) {
        for (const auto end = Clock::now() + duration; Clock::now() < end && !done();) {
            places.emplace_back(Clock::now(), Pointer());
            for (const XButtonEvent& button : Buttons()) {
                if (button.button < Button4 || button.button > 7) ADD_FAILURE() << "button " << button.button;
                if (button.type == ButtonPress) turns.push_back({Clock::now(), button.button});
            }
            std::this_thread::sleep_for(10ms);
        }
    };
    // Scrolling begins at a rest, and ends at a rest near its start: no wheel for 1.5 s after some.
    watch(kSlow * 40s, [&] { return turns.size() >= 20 && Clock::now() > turns.back().when + 1500ms; });
    ASSERT_GE(turns.size(), 20u) << "no scrolling" << Diagnostics(run);
    ASSERT_LT(Clock::now(), turns.back().when + 3s) << "scrolling did not end" << Diagnostics(run);
    std::map<unsigned int, int> counts;
    for (const Turn& turn : turns) ++counts[turn.button];
    // Down with right, or up with left: the head's quarter circle one way or the other.
    const bool downRight = counts.count(5) > 0;
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_GE(counts[downRight ? 5 : 4], 10);
    EXPECT_GE(counts[downRight ? 7 : 6], 10);
    // Held where it rested from the first turn of the wheel to the last.
    Point held{-1, -1};
    for (const auto& [when, place] : places) {
        if (when < turns.front().when || when > turns.back().when) continue;
        if (held.x < 0) held = place;
        EXPECT_LE(cv::norm(place - held), 2) << "the pointer moved while scrolling";
    }
    // Paused: the pointer follows the head again and the wheel is still.
    turns.clear();
    EXPECT_TRUE(PointerMoves()) << Diagnostics(run);
    watch(2s, [] { return false; });
    EXPECT_TRUE(turns.empty()) << "scrolling went on";

    // Chosen again, then Exit while it scrolls: the program ends as always, the wheel with it.
    Choose({100 + wheel.x * 3 / 2 + 17, 100 + 14});
    watch(kSlow * 30s, [&] { return turns.size() >= 5; });
    ASSERT_GE(turns.size(), 5u) << "no scrolling the second time" << Diagnostics(run);
    ::kill(run.pid, SIGTERM);
    EXPECT_EQ(Ending(run.pid, kSlow * 10s), "exit code 0") << Diagnostics(run);
    XSync(m_x, False);
    Buttons();
    std::this_thread::sleep_for(500ms);
    XSync(m_x, False);
    EXPECT_TRUE(Buttons().empty()) << "the wheel turned after the end";
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

class AwayHead : public AutoClickTest, public testing::WithParamInterface<Trajectory> {
protected:
    AwayHead() { m_nStillTenths = 9; }  // 1.0 s
};

// The face goes for 3 s in front of a textured wall, where the points left behind report no
// motion. The pointer's moves tell where in the cycle the program is: it rests 4 s after the face
// came back (till the nod), longer than at any other time.
TEST_P(AwayHead, NoClickWhileTheFaceIsAwayAndTheFirstAfterItOnlyOnceSettled) {
    // The face may be found again before the pointer stops (a hand going down drags points till it
    // is gone): allowed for with the 0.4 s that coming back takes.
    constexpr double kAway = 3.0, kComing = 0.4, kSettle = 1.0, kStill = 1.0;  // s
    const ProgramRun run = StartAndChoose(AwayVideo(GetParam()), {6, 0});      // the left button
    ASSERT_FALSE(HasFailure());

    // Two cycles of the video: when the pointer moved, and when the test window was clicked.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    std::vector<double> moves, clicks;
    for (Point last = Pointer(); seconds() < 22; std::this_thread::sleep_for(20ms)) {
        if (cv::norm(Pointer() - last) > 3) moves.push_back(seconds()), last = Pointer();
        for (const XButtonEvent& button : Buttons())
            if (button.type == ButtonPress) clicks.push_back(seconds());
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
