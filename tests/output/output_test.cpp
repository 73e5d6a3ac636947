// The output side: the mouse through the recording injector, scrolling by head, the still-window
// that dwell clicks are decided from, the translation to kernel events and the uinput device where
// /dev/uinput can be written, and XTest and the choice of injector against a private Xvfb.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "output/detect_window.h"
#include "output/head_scroll.h"
#include "output/injector_selection.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "output/uinput_injector.h"
#include "output/virtual_keys.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb_server.h"

#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using Events = std::vector<InputEvent>;
using Kernel = std::vector<EvdevEvent>;

InputEvent MoveBy(int dx, int dy) { return InputEvent::Mouse(MOUSEEVENTF_MOVE, dx, dy); }
constexpr InputEvent Button(std::uint32_t flags) { return InputEvent::Mouse(flags); }
constexpr InputEvent kNoButtons = Button(0);
constexpr InputEvent kLeftDown = Button(MOUSEEVENTF_LEFTDOWN), kLeftUp = Button(MOUSEEVENTF_LEFTUP);
constexpr InputEvent kRightDown = Button(MOUSEEVENTF_RIGHTDOWN), kRightUp = Button(MOUSEEVENTF_RIGHTUP);
constexpr InputEvent kMiddleDown = Button(MOUSEEVENTF_MIDDLEDOWN), kMiddleUp = Button(MOUSEEVENTF_MIDDLEUP);
constexpr InputEvent Up(std::int32_t amount) { return InputEvent::Wheel(MOUSEEVENTF_WHEEL, amount); }
constexpr InputEvent Right(std::int32_t amount) { return InputEvent::Wheel(MOUSEEVENTF_HWHEEL, amount); }

// The clock of a scrolling mouse, moved by the test.
CHeadScroll::Clock::time_point g_now = CHeadScroll::Clock::time_point{} + 1h;
CHeadScroll::Clock::time_point TestNow() { return g_now; }

class Mouse : public ::testing::Test {
protected:
    // Smoothing 2 is the count a new mouse starts with, so the first move does not flush.
    Mouse() { m_settings.m_nSliderSmoothMouse = 2; }
    // The events of one Move.
    Events Move(float dx, float dy) {
        m_injector.Clear();
        m_mouse->Move(dx, dy);
        return m_injector.Events();
    }
    // The events of one scroll step, an eighth of a second after the last.
    Events Scroll(float dx, float dy) {
        m_injector.Clear();
        g_now += 125ms;
        m_mouse->Scroll(dx, dy);
        return m_injector.Events();
    }

    CSettingsMirror m_settings;
    CRecordingInjector m_injector;
    std::optional<CMouse> m_mouse{std::in_place, m_injector, m_settings};
};

TEST_F(Mouse, TruncatesTheSmoothedAmountTowardZeroLosesTheFractionAndSaturates) {
    EXPECT_FALSE(m_mouse->IsMoved());
    // 1.5 a frame: averages 0.75, 1.5, 1.5 give 0, 1, 1 (not 0, 2, 1 with a carry).
    EXPECT_EQ(Move(1.5f, -1.5f), Events{MoveBy(0, 0)});
    EXPECT_TRUE(m_mouse->IsMoved());
    EXPECT_EQ(std::pair(m_mouse->GetLastDx(), m_mouse->GetLastDy()), std::pair(0.75f, -0.75f)) << "before truncation";
    EXPECT_EQ(Move(1.5f, -1.5f), Events{MoveBy(1, -1)});
    EXPECT_EQ(Move(1.5f, -1.5f), Events{MoveBy(1, -1)});
    EXPECT_EQ(Move(6e9f, -6e9f), Events{MoveBy(INT32_MAX, INT32_MIN)});
}

TEST_F(Mouse, AveragesTheNewestEntriesOfTheHistory) {
    EXPECT_EQ(Move(-7, 9), Events{MoveBy(-3, 4)});
    EXPECT_EQ(Move(-3, 3), Events{MoveBy(-5, 6)});
    EXPECT_EQ(Move(0, 0), Events{MoveBy(-1, 1)});
    // With 10 the whole history counts: ten frames of (10, 20), then a 0 in and the oldest out.
    m_settings.m_nSliderSmoothMouse = 10;
    for (int frame = 0; frame < 10; ++frame) m_mouse->Move(10, 20);
    EXPECT_EQ(Move(0, 0), Events{MoveBy(9, 18)});
}

TEST_F(Mouse, CountsTheWholeMovesSentAndAStepBackForgetsTheMotionStillBeingSmoothed) {
    Move(-7, 9), Move(-3, 3);  // (-3, 4), (-5, 6)
    m_injector.Clear();
    m_mouse->MoveBack(0, 0);
    EXPECT_TRUE(m_injector.Events().empty()) << "no event for no step";
    m_mouse->MoveBack(5, -6);
    EXPECT_EQ(m_injector.Events(), Events{MoveBy(5, -6)});
    EXPECT_EQ(std::pair(m_mouse->Travelled().x, m_mouse->Travelled().y), std::pair(-3LL, 4LL));
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)}) << "the old moves no longer come out";
}

TEST_F(Mouse, LimitDividesTheAmountsBySixBeforeSmoothing) {
    m_settings.m_bMouseLimit = true;
    EXPECT_EQ(Move(12, 12), Events{MoveBy(1, 1)});
    EXPECT_EQ(Move(12, -12), Events{MoveBy(2, 0)});
    EXPECT_EQ(std::pair(m_mouse->GetLastDx(), m_mouse->GetLastDy()), std::pair(2.0f, 0.0f));
}

TEST_F(Mouse, ChangingTheSmoothingDrainsTheOldAverageInTenMovesFirst) {
    m_settings.m_nSliderSmoothMouse = 3;
    EXPECT_EQ(Move(0, 0), Events(11, MoveBy(0, 0))) << "from the initial count 2 to 3";
    EXPECT_EQ(Move(30, -30), Events{MoveBy(10, -10)});
    EXPECT_EQ(Move(30, -30), Events{MoveBy(20, -20)});
    m_settings.m_nSliderSmoothMouse = 5;
    Events expected = {MoveBy(20, -20), MoveBy(10, -10)};  // (0 + 30 + 30) / 3, (0 + 0 + 30) / 3
    expected.insert(expected.end(), 8, MoveBy(0, 0));
    expected.push_back(MoveBy(10, -10));  // 50 over the new count 5
    EXPECT_EQ(Move(50, -50), expected);
    EXPECT_EQ(Move(50, -50), Events{MoveBy(20, -20)});
}

// Each step: what is set or armed, then the events of the next frame and the button left armed.
TEST_F(Mouse, ArmedClicksFollowTheirFramesMoveAsTheirTypeSaysAndTheTypeStays) {
    using M = CMouse;
    const auto arm = [this](int button, int type) { return [=, this] { m_mouse->Arm(button, type); }; };
    const auto nothing = [] {};
    // clang-format off
    const struct { std::function<void()> before; Events sent; int armedAfter = M::kButtonNone; } steps[] = {
        {[this] { m_mouse->SetButton(M::kButtonRight); }, {MoveBy(0, 0), kRightDown, kRightUp}},  // no type yet: one click
        {[this] { m_mouse->SetClickType(M::kClickSingle); }, {MoveBy(0, 0)}},  // a type alone does nothing
        {[this] { m_mouse->SetButton(M::kButtonMiddle); }, {MoveBy(0, 0), kMiddleDown, kMiddleUp}},  // with the kept type
        {arm(M::kButtonLeft, M::kClickDouble), {MoveBy(0, 0), kLeftDown, kLeftUp}},
        {nothing, {kLeftDown, kLeftUp, MoveBy(0, 0)}},  // the repeat, at the start of the next move step
        {nothing, {MoveBy(0, 0)}},
        {arm(M::kButtonLeft, M::kClickDouble), {MoveBy(0, 0), kLeftDown, kLeftUp}},
        {arm(M::kButtonRight, M::kClickSingle), {kLeftDown, kLeftUp, MoveBy(0, 0), kRightDown, kRightUp}},  // after the repeat
        {arm(M::kButtonRight, M::kClickHold), {MoveBy(0, 0), kRightDown, kNoButtons}, M::kButtonRight},
        {nothing, {MoveBy(0, 0), kRightDown, kNoButtons}, M::kButtonRight},  // pressed at every move
        {arm(M::kButtonRight, M::kClickRelease), {MoveBy(0, 0), kNoButtons, kRightUp}},
        {nothing, {MoveBy(0, 0)}},
        {[this] { m_settings.m_bClicksOff = true, m_mouse->Arm(M::kButtonLeft, M::kClickDouble); }, {MoveBy(0, 0)}},
        {[this] { m_settings.m_bClicksOff = false; }, {MoveBy(0, 0)}},  // the dropped click left no repeat
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].before();
        EXPECT_EQ(Move(0, 0), steps[i].sent) << "step " << i;
        EXPECT_EQ(m_mouse->GetButton(), steps[i].armedAfter) << "step " << i;
    }
}

TEST_F(Mouse, ReleasingTheButtonsLetsGoOfAHeldDragAndTheMiddleButtonAndDisarmsTheDrag) {
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickHold);
    EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kRightDown, kNoButtons}));
    m_injector.Clear();
    m_mouse->ReleaseButtons();
    EXPECT_EQ(m_injector.Events(), (Events{kRightUp, kMiddleUp}));
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)}) << "pressed again";
}

// Speeds in notches a second for 125 ms steps: 15 wheel units for each.
TEST_F(Mouse, WhileScrollingThePointerIsHeldTheHeadTurnsTheWheelAndAHotkeyClickStillComes) {
    m_mouse.emplace(m_injector, m_settings, &TestNow);
    EXPECT_EQ(Scroll(0, 20), Events{}) << "not scrolling yet";
    m_mouse->StartScroll();
    m_settings.m_nScrollSpeed = 20;  // twice 5.25 and 8 notches a second: down 10 and left 12
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickSingle);
    EXPECT_EQ(Scroll(-12, 10), (Events{Up(-157), Right(-240), MoveBy(0, 0), kLeftDown, kLeftUp}));
    EXPECT_FALSE(m_mouse->ScrollBackAtStart());
    EXPECT_EQ(Scroll(12, -10), Events{MoveBy(0, 0)});
    EXPECT_TRUE(m_mouse->ScrollBackAtStart());
    m_mouse->StopScroll();
    EXPECT_EQ(Move(-7, 9), Events{MoveBy(-3, 4)}) << "the pointer moves again";
}

TEST(ScrollSpeed, NothingInTheDeadZoneThenGrowingSmoothlyWithTheDistanceUpToTheLimit) {
    // clang-format off
    const std::tuple<float, int, double> cases[] = {
        {0, 10, 0}, {4, 10, 0}, {-4, 10, 0}, {5, 10, 0.5625}, {8, 10, 3}, {-8, 10, 3}, {12, 10, 8}, {20, 10, 24},
        {8, 20, 6}, {8, 5, 1.5}, {8, 0, 0}, {100, 10, CHeadScroll::kLimit}, {100, 20, 2 * CHeadScroll::kLimit}};
    // clang-format on
    for (const auto& [distance, speed, expected] : cases)
        EXPECT_DOUBLE_EQ(ScrollNotchesPerSecond(distance, speed), expected) << distance << " at speed " << speed;
    // From nothing at the dead zone's edge, without a jump, each step further adds more than the
    // one before.
    EXPECT_LT(ScrollNotchesPerSecond(CHeadScroll::kDeadZone + 0.1f, 10), 0.1);
    double last = 0, lastGain = 0;
    for (float distance = CHeadScroll::kDeadZone + 0.1f; distance < 30; distance += 0.1f) {
        const double now = ScrollNotchesPerSecond(distance, 10);
        if (now >= CHeadScroll::kLimit) break;
        EXPECT_GT(now - last, lastGain) << distance;
        lastGain = now - last, last = now;
    }
}

// In 125 ms steps (15 wheel units a notch a second): the head's place since the start, the wheel
// turned for the step, and whether the head is near the start.
TEST(HeadScroll, TurnsTheWheelForTheTimeSinceTheLastStepAndCarriesTheRest) {
    using namespace std::chrono;
    const auto start = CHeadScroll::Clock::time_point{} + 1h;
    CHeadScroll scroll;
    scroll.Start(start);
    struct Step {
        float dx, dy;
        int at;  // in steps of 125 ms
        WheelTurn turn;
        bool nearStart;
    };
    const Step steps[] = {
        {0, 3, 1, {0, 0}, true},           // in the dead zone
        {0, 7, 2, {-78, 0}, false},        // down 10: 5.25 notches a second, 78.75 units
        {0, 0, 3, {-79, 0}, false},        // held still away: still scrolling, the 0.75 carried
        {-12, -20, 4, {78, -120}, false},  // up 10 and left 12
        {12, 10, 5, {0, 0}, true},         // back at the start
        {0, 5, 21, {-16, 0}, false},       // after 2 s without frames only a quarter of a second counts
    };
    for (const Step& step : steps) {
        EXPECT_EQ(scroll.Step(step.dx, step.dy, start + step.at * 125ms, 10), step.turn) << "at step " << step.at;
        EXPECT_EQ(scroll.NearStart(), step.nearStart) << "at step " << step.at;
        EXPECT_EQ(scroll.HasLeftStart(), step.at > 1) << "at step " << step.at;
    }
}

// The capture thread moving while the user-interface thread arms clicks, as in the program; run
// under ThreadSanitizer it also checks the hand-over.
TEST(MouseThreads, ClicksArmedFromTheInterfaceThreadComeWholeBetweenMoves) {
    CSettingsMirror settings;
    CRecordingInjector injector;
    int expectedClicks = 0, middleReleases = 1;  // the destructor's
    {
        CMouse mouse(injector, settings);
        std::atomic<bool> capturing{true};
        std::thread capture([&] {
            for (float d = 3.0f; capturing; d = -d) mouse.Move(d, -d);
        });
        for (int i = 0; i < 300; ++i) {
            const bool isDouble = i % 4 == 0;
            mouse.Arm(CMouse::kButtonLeft + i % 3, isDouble ? CMouse::kClickDouble : CMouse::kClickSingle);
            expectedClicks += isDouble ? 2 : 1;
            if (i % 50 == 0) {
                ReleaseMiddleButton(mouse);
                ++middleReleases;
                settings.m_nSliderSmoothMouse = 2 + i / 50;  // a flush now and then
            }
            // What the dwell logic reads while the capture thread writes.
            (void)mouse.GetLastDx(), (void)mouse.GetLastDy(), (void)mouse.IsMoved(), (void)mouse.IsBusy();
            while (mouse.GetButton() != CMouse::kButtonNone) std::this_thread::yield();
        }
        // Let the last double click's repeat out.
        const std::size_t seen = injector.Size();
        while (injector.Size() < seen + 3) std::this_thread::yield();
        capturing = false;
        capture.join();
    }
    const Events events = injector.Events();
    int clicks = 0, loneMiddleReleases = 0, sinceMove = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const std::uint32_t flags = events[i].mi.dwFlags;
        if (flags == MOUSEEVENTF_MOVE) sinceMove = 0;
        if (flags == MOUSEEVENTF_MIDDLEUP) ++loneMiddleReleases;
        if (flags == MOUSEEVENTF_MOVE || flags == MOUSEEVENTF_MIDDLEUP) continue;
        ASSERT_TRUE(flags == MOUSEEVENTF_LEFTDOWN || flags == MOUSEEVENTF_MIDDLEDOWN || flags == MOUSEEVENTF_RIGHTDOWN)
            << "event " << i << " is " << events[i] << ", not a press";
        // Then the same button's release, whose UP flag is its DOWN flag shifted once.
        ASSERT_TRUE(++i < events.size() && events[i].mi.dwFlags == flags << 1) << "a click split at " << i;
        ASSERT_LE(sinceMove += 2, 4) << "more than a repeat and one click between two moves, at " << i;
        ++clicks;
    }
    EXPECT_EQ(clicks, expectedClicks);
    EXPECT_EQ(loneMiddleReleases, middleReleases);
}

TEST(DetectWindow, CountsTheNewestEntriesInTheClosedSquareOfTenUpToItsDepthAndSinceTheLastReset) {
    CDetectWindow window;
    EXPECT_EQ(window.CountStill(0, 0), 0) << "a new history counts as empty";
    const float x = 300.5f, y = -20.25f;
    window.Push(x, y);  // inside, but older than one outside
    window.Push(x + 10.001f, y);
    for (float dx : {-10.0f, 10.0f})
        for (float dy : {-10.0f, 10.0f}) window.Push(x + dx, y + dy);
    EXPECT_EQ(window.CountStill(x, y), 4) << "the four corners count, 10.001 to the right ends the count";
    window.Push(x, y - 10.001f);
    EXPECT_EQ(window.CountStill(x, y), 0) << "the newest entry is outside";
    for (int i = 0; i < 60; ++i) window.Push(x, y);
    EXPECT_EQ(window.CountStill(x, y), CDetectWindow::kSize);
    // A reset hides everything pushed before until its marker, the newest entry, falls out.
    window.Reset();
    for (int i = 1; i < CDetectWindow::kSize; ++i) window.Push(x, y);
    EXPECT_EQ(window.CountStill(x, y), CDetectWindow::kSize - 1);
    window.Push(x, y);
    EXPECT_EQ(window.CountStill(x, y), CDetectWindow::kSize);
}

constexpr EvdevEvent kSyn{EV_SYN, SYN_REPORT, 0};
Kernel Key(unsigned int code, int value) { return {{EV_KEY, code, value}, kSyn}; }

TEST(UinputTranslation, EachButtonAndKeyTransitionIsAReportOfItsOwn) {
    // clang-format off
    const std::pair<InputEvent, Kernel> cases[] = {
        {InputEvent::Mouse(MOUSEEVENTF_MOVE, 10, -5), {{EV_REL, REL_X, 10}, {EV_REL, REL_Y, -5}, kSyn}},
        {InputEvent::Mouse(MOUSEEVENTF_MOVE, 0, 7), {{EV_REL, REL_Y, 7}, kSyn}},
        {InputEvent::Mouse(MOUSEEVENTF_MOVE, 0, 0), {}},
        {InputEvent::Mouse(0, 10, 10), {}},  // amounts without the MOVE flag are ignored
        {Button(MOUSEEVENTF_LEFTDOWN), Key(BTN_LEFT, 1)},     {Button(MOUSEEVENTF_LEFTUP), Key(BTN_LEFT, 0)},
        {Button(MOUSEEVENTF_RIGHTDOWN), Key(BTN_RIGHT, 1)},   {Button(MOUSEEVENTF_RIGHTUP), Key(BTN_RIGHT, 0)},
        {Button(MOUSEEVENTF_MIDDLEDOWN), Key(BTN_MIDDLE, 1)}, {Button(MOUSEEVENTF_MIDDLEUP), Key(BTN_MIDDLE, 0)},
        // A click in one event must stay a press and a release, not one report that cancels out.
        {InputEvent::Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 2, 0),
         {{EV_REL, REL_X, 2}, kSyn, {EV_KEY, BTN_LEFT, 1}, kSyn, {EV_KEY, BTN_LEFT, 0}, kSyn}},
        {InputEvent::Keyboard(VK_CONTROL, 0), Key(KEY_LEFTCTRL, 1)},
        {InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP), Key(KEY_LEFTCTRL, 0)},
        {InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP), Key(KEY_SPACE, 0)},
        {InputEvent::Keyboard(0xFF, 0), {}},  // a key without a code is dropped
        // A wheel turn: its fine amount, and in the same report the whole notches it completes.
        {Up(60), {{EV_REL, REL_WHEEL_HI_RES, 60}, kSyn}},
        {Right(-250), {{EV_REL, REL_HWHEEL_HI_RES, -250}, {EV_REL, REL_HWHEEL, -2}, kSyn}},
    };
    // clang-format on
    for (const auto& [event, kernel] : cases) {
        const EvdevBatch batch = TranslateToEvdev(event);
        EXPECT_EQ(Kernel(batch.begin(), batch.end()), kernel) << event;
    }
    // Letters follow the keyboard's rows in KEY_* numbering, not the alphabet.
    // clang-format off
    const std::pair<std::uint16_t, int> keys[] = {{'A', KEY_A}, {'Q', KEY_Q}, {'Z', KEY_Z}, {'0', KEY_0}, {'9', KEY_9},
        {VK_F1, KEY_F1}, {VK_F1 + 11, KEY_F12}, {VK_F24, KEY_F24}, {VK_NUMPAD0 + 7, KEY_KP7}};
    // clang-format on
    for (auto [vk, code] : keys) EXPECT_EQ(VirtualKeyToEvdevCode(vk), code) << "virtual key 0x" << std::hex << vk;
}

TEST(UinputDevice, IsCreatedAndRemovedWhenDevUinputIsWritable) {
    std::string whyNot;
    auto injector = CUinputInjector::Create("/dev/uinput", whyNot);
    if (!injector) {
        // CI has no /dev/uinput: say loudly that the device was not exercised, and pass.
        const std::string note = "NOT TESTED: the uinput device itself was not created (" + whyNot + ")";
        std::cout << "[   NOTE   ] " << note << "; only the translation to kernel events was tested" << std::endl;
        return RecordProperty("uinput", note);
    }
    ASSERT_FALSE(injector->DeviceNode().empty());
    // A reader of the device, as the desktop is: both wheels are there, in notches and fine steps,
    // and a wheel turn arrives as sent.
    const int fd = ::open(injector->DeviceNode().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << injector->DeviceNode() << ": " << std::strerror(errno);
    libevdev* reader = nullptr;
    ASSERT_EQ(libevdev_new_from_fd(fd, &reader), 0);
    for (unsigned int axis : {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES})
        EXPECT_TRUE(libevdev_has_event_code(reader, EV_REL, axis)) << libevdev_event_code_get_name(EV_REL, axis);
    for (const InputEvent& turn : {Up(-120), Right(60), Right(60)}) injector->Send(turn);
    Kernel arrived;
    const Kernel expected{
        {EV_REL, REL_WHEEL_HI_RES, -120}, {EV_REL, REL_WHEEL, -1}, kSyn, {EV_REL, REL_HWHEEL_HI_RES, 60}, kSyn,
        {EV_REL, REL_HWHEEL_HI_RES, 60},  {EV_REL, REL_HWHEEL, 1}, kSyn};
    test::WaitUntil(
        [&] {
            input_event event{};
            while (libevdev_next_event(reader, LIBEVDEV_READ_FLAG_NORMAL, &event) == LIBEVDEV_READ_STATUS_SUCCESS)
                arrived.push_back({event.type, event.code, event.value});
            return arrived.size() >= expected.size();
        },
        5s);
    EXPECT_EQ(arrived, expected);
    libevdev_free(reader);
    ::close(fd);
    injector->Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 1, 0));
    injector->Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, -1, 0));
    injector->Send(Button(MOUSEEVENTF_MIDDLEDOWN));
    injector.reset();  // releases the middle button, then removes the device
}

// One private server for the whole sequence: XTest is chosen, then moves, clicks and types into a
// window of ours, and lets go of what it holds when it goes away.
TEST(XTest, IsChosenWithoutUinputAndMovesClicksTypesAndLetsGo) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    std::unique_ptr<Display, int (*)(Display*)> connection(XOpenDisplay(server.DisplayName().c_str()), XCloseDisplay);
    ASSERT_NE(connection, nullptr) << "cannot open " << server.DisplayName();
    Display* x = connection.get();
    const Window root = DefaultRootWindow(x);
    // The amounts as sent: Xvfb 21 does not accelerate XTest motion, but its default control
    // (2/1 above 4 pixels) would double a 10-pixel move on a server that did.
    XChangePointerControl(x, True, True, 1, 1, 0);
    InjectorSelection selection =
        SelectInputInjector({.uinputPath = "/nonexistent/uinput", .displayName = server.DisplayName().c_str()});
    ASSERT_EQ(selection.kind, InjectorKind::XTest) << selection.text;
    for (const std::string& part : {server.DisplayName(), std::string("XTest"), std::string("/nonexistent/uinput: No")})
        EXPECT_NE(selection.text.find(part), std::string::npos) << selection.text;
    // In a Wayland session XTest reaches X11 windows only: the notice says so, why, and the remedy.
    const std::string notice = WaylandPointerNotice(selection);
    for (const char* part : {"XTest, over X11 windows only", "/nonexistent/uinput: No", "package", "README"})
        EXPECT_NE(notice.find(part), std::string::npos) << notice;
    IInputInjector& injector = *selection.injector;
    int pointerX = 0, pointerY = 0;
    unsigned int buttons = 0;
    const auto queryPointer = [&] {
        Window rootReturn = 0, child = 0;
        int winX = 0, winY = 0;
        XQueryPointer(x, root, &rootReturn, &child, &pointerX, &pointerY, &winX, &winY, &buttons);
    };

    XWarpPointer(x, None, root, 0, 0, 0, 0, 500, 400);
    XSync(x, False);
    injector.Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 10, -5));
    ASSERT_TRUE(test::WaitUntil([&] { return queryPointer(), pointerX != 500; }, 5s)) << "the pointer did not move";
    EXPECT_EQ(std::pair(pointerX, pointerY), std::pair(510, 395));

    // A 100x100 window at (200, 200) with the pointer in its middle and the keyboard focus.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask;
    const Window window = XCreateWindow(x, root, 200, 200, 100, 100, 0, CopyFromParent, InputOutput, CopyFromParent,
                                        CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(x, window);
    for (XEvent mapped{}; mapped.type != MapNotify;) XWindowEvent(x, window, StructureNotifyMask, &mapped);
    XWarpPointer(x, None, root, 0, 0, 0, 0, 250, 250);
    XSetInputFocus(x, window, RevertToParent, CurrentTime);
    XSync(x, False);
    // What arrives for each: its type, and the button number or the key symbol.
    // clang-format off
    const std::tuple<InputEvent, int, unsigned long> cases[] = {
        {Button(MOUSEEVENTF_LEFTDOWN), ButtonPress, Button1},   {Button(MOUSEEVENTF_LEFTUP), ButtonRelease, Button1},
        {Button(MOUSEEVENTF_MIDDLEDOWN), ButtonPress, Button2}, {Button(MOUSEEVENTF_MIDDLEUP), ButtonRelease, Button2},
        {Button(MOUSEEVENTF_RIGHTDOWN), ButtonPress, Button3},  {Button(MOUSEEVENTF_RIGHTUP), ButtonRelease, Button3},
        {InputEvent::Keyboard(VK_CONTROL, 0), KeyPress, XK_Control_L},
        {InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP), KeyRelease, XK_Control_L},
        {InputEvent::Keyboard('A', 0), KeyPress, XK_a},
        {InputEvent::Keyboard('A', KEYEVENTF_KEYUP), KeyRelease, XK_a}};
    // clang-format on
    for (const auto& [sent, type, detail] : cases) {
        injector.Send(sent);
        XEvent event{};
        test::WaitUntil(
            [&] { return XCheckWindowEvent(x, window, attributes.event_mask & ~StructureNotifyMask, &event); }, 5s);
        ASSERT_EQ(event.type, type) << sent << ": no such event arrived";
        const bool isKey = type == KeyPress || type == KeyRelease;
        EXPECT_EQ(isKey ? XLookupKeysym(&event.xkey, 0) : event.xbutton.button, detail) << sent;
        EXPECT_TRUE(isKey || event.xbutton.x == 50) << sent << " at x " << event.xbutton.x;
    }

    // The wheel as buttons, one click for each whole notch: up 4, down 5, left 6, right 7. A turn
    // the other way drops what was left of a notch.
    for (const InputEvent& turn : {Up(90), Up(-100), Up(-20), Up(-240), Right(-120), Right(130)}) injector.Send(turn);
    std::vector<std::pair<int, unsigned int>> wheel;
    test::WaitUntil(
        [&] {
            for (XEvent event{}; XCheckWindowEvent(x, window, ButtonPressMask | ButtonReleaseMask, &event);)
                wheel.emplace_back(event.type, event.xbutton.button);
            return wheel.size() >= 10;
        },
        5s);
    std::vector<std::pair<int, unsigned int>> expectedWheel;
    for (unsigned int button : {5, 5, 5, 6, 7})
        expectedWheel.insert(expectedWheel.end(), {{ButtonPress, button}, {ButtonRelease, button}});
    EXPECT_EQ(wheel, expectedWheel);

    injector.Send(Button(MOUSEEVENTF_LEFTDOWN));
    injector.Send(Button(MOUSEEVENTF_MIDDLEDOWN));
    const unsigned int held = Button1Mask | Button2Mask;
    ASSERT_TRUE(test::WaitUntil([&] { return queryPointer(), (buttons & held) == held; }, 5s));
    selection.injector.reset();  // the server would keep both down after the client is gone
    EXPECT_TRUE(test::WaitUntil([&] { return queryPointer(), (buttons & held) == 0; }, 5s)) << "a button stayed down";
}

TEST(InjectorSelection, NoneWhenNeitherUinputNorADisplayIsThere) {
    test::ScopedEnv noDisplay("DISPLAY", "");
    const InjectorSelection selection = SelectInputInjector({.uinputPath = "/nonexistent/uinput"});
    EXPECT_EQ(selection.kind, InjectorKind::Unavailable);
    EXPECT_EQ(selection.injector, nullptr);
    for (const char* part : {"/nonexistent/uinput", "DISPLAY is not set"})
        EXPECT_NE(selection.text.find(part), std::string::npos) << selection.text;
    const std::string notice = WaylandPointerNotice(selection);
    EXPECT_TRUE(notice.starts_with("The pointer cannot move: /nonexistent/uinput")) << notice;
    EXPECT_EQ(WaylandPointerNotice(InjectorSelection{.kind = InjectorKind::Uinput}), "");
}

}  // namespace
