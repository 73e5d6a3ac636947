// The output side: the mouse through the recording injector, the still-window that dwell clicks are
// decided from, the translation to kernel events and the uinput device where /dev/uinput can be
// written, and XTest and the choice of injector against a private Xvfb.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <atomic>
#include <chrono>
#include <cstdint>
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
    EXPECT_FALSE(injector->DeviceNode().empty());
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
