// Auto click end to end: the program's floating window comes up at its place without taking the
// keyboard focus, left is chosen on it with a real click, and a head that moves and rests makes
// the program click, once, where the pointer rests, in a window of the test's own.
#include <deque>
#include <numeric>

#include "tests/app_e2e/e2e_harness.h"

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

TEST_F(ProgramTest, AutoClickClicksOnceWhereThePointerRestsAndItsWindowNeverTakesTheFocus) {
    CSettingsStore store;
    for (const SettingKey& on : {Setting::kUseMouse, Setting::kEnableAutoClick}) store.Write(on, 1);
    store.Write(Setting::kValueAutoClick, 5);  // 0.5 s
    // No update reminder: it sits where the head rests, and a dwell click there would rightly give it the focus.
    store.Write(Setting::kUpdateCount, 1);
    // A window of the test's own under the pointer everywhere, holding the keyboard focus.
    const Window own =
        XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 0, 0, DisplayWidth(m_x, 0), DisplayHeight(m_x, 0), 0, 0, 0);
    XSelectInput(m_x, own, ButtonPressMask | ButtonReleaseMask);
    XMapRaised(m_x, own);
    XSync(m_x, False);
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

}  // namespace
}  // namespace e2e
