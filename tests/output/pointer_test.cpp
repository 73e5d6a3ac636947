// The mouse and the keyboard through the recording injector, and the still-window that the dwell
// clicks are decided from.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "detect_window.h"
#include "keyboard.h"
#include "mouse.h"
#include "recording_injector.h"

namespace {

using Events = std::vector<InputEvent>;

InputEvent MoveBy(int dx, int dy) { return InputEvent::Mouse(MOUSEEVENTF_MOVE, dx, dy); }
constexpr InputEvent kNoButtons = InputEvent::Mouse(0);
constexpr InputEvent kLeftDown = InputEvent::Mouse(MOUSEEVENTF_LEFTDOWN), kLeftUp = InputEvent::Mouse(MOUSEEVENTF_LEFTUP);
constexpr InputEvent kRightDown = InputEvent::Mouse(MOUSEEVENTF_RIGHTDOWN), kRightUp = InputEvent::Mouse(MOUSEEVENTF_RIGHTUP);
constexpr InputEvent kMiddleDown = InputEvent::Mouse(MOUSEEVENTF_MIDDLEDOWN), kMiddleUp = InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP);

class Mouse : public ::testing::Test {
protected:
    // Smoothing 2 is the count a new mouse starts with, so the first move does not flush.
    Mouse() {
        m_settings.m_nSliderSmoothMouse = 2;
        m_mouse.emplace(m_injector, m_settings);
    }
    // The events of one Move.
    Events Move(float dx, float dy) {
        m_injector.Clear();
        m_mouse->Move(dx, dy);
        return m_injector.Events();
    }

    CSettingsMirror m_settings;
    CRecordingInjector m_injector;
    std::optional<CMouse> m_mouse;
};

TEST_F(Mouse, TruncatesTheSmoothedAmountTowardZeroLosesTheFractionAndSaturates) {
    EXPECT_FALSE(m_mouse->IsMoved());
    // 1.5 a frame: averages 0.75, 1.5, 1.5 give 0, 1, 1 (not 0, 2, 1 with a carry).
    EXPECT_EQ(Move(1.5f, -1.5f), Events{MoveBy(0, 0)});
    EXPECT_TRUE(m_mouse->IsMoved());
    EXPECT_FLOAT_EQ(m_mouse->GetLastDx(), 0.75f);
    EXPECT_FLOAT_EQ(m_mouse->GetLastDy(), -0.75f);
    EXPECT_EQ(Move(1.5f, -1.5f), Events{MoveBy(1, -1)});
    EXPECT_EQ(Move(1.5f, -1.5f), Events{MoveBy(1, -1)});
    EXPECT_EQ(Move(6e9f, -6e9f), Events{MoveBy(std::numeric_limits<std::int32_t>::max(),
                                                std::numeric_limits<std::int32_t>::min())});
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

TEST_F(Mouse, LimitDividesTheAmountsBySixBeforeSmoothing) {
    m_settings.m_bMouseLimit = true;
    EXPECT_EQ(Move(12, 12), Events{MoveBy(1, 1)});
    EXPECT_EQ(Move(12, -12), Events{MoveBy(2, 0)});
    EXPECT_FLOAT_EQ(m_mouse->GetLastDx(), 2.0f);
    EXPECT_FLOAT_EQ(m_mouse->GetLastDy(), 0.0f);
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

TEST_F(Mouse, AnArmedButtonClicksAfterItsMoveOnceAndTheClickTypeStays) {
    m_mouse->SetButton(CMouse::kButtonRight);  // no click type yet: one click
    EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kRightDown, kRightUp}));
    m_mouse->SetClickType(CMouse::kClickSingle);  // a type alone does nothing
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)});
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickSingle);
    EXPECT_EQ(Move(4, 2), (Events{MoveBy(2, 1), kLeftDown, kLeftUp}));
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    EXPECT_EQ(Move(0, 0), Events{MoveBy(2, 1)});
    m_mouse->SetButton(CMouse::kButtonMiddle);  // the kept type applies to a button set alone
    EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kMiddleDown, kMiddleUp}));
}

TEST_F(Mouse, DoubleClickRepeatsAtTheStartOfTheNextMoveStep) {
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
    EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kLeftDown, kLeftUp}));
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    EXPECT_EQ(Move(0, 0), (Events{kLeftDown, kLeftUp, MoveBy(0, 0)}));
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)});
    // A click armed before the repeat went out comes after it.
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
    EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kLeftDown, kLeftUp}));
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickSingle);
    EXPECT_EQ(Move(0, 0), (Events{kLeftDown, kLeftUp, MoveBy(0, 0), kRightDown, kRightUp}));
}

TEST_F(Mouse, HoldPressesAtEveryMoveUntilReleaseIsArmed) {
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickHold);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kRightDown, kNoButtons})) << "frame " << frame;
        EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonRight);
    }
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickRelease);
    EXPECT_EQ(Move(0, 0), (Events{MoveBy(0, 0), kNoButtons, kRightUp}));
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)});
}

TEST_F(Mouse, ClicksOffDropsTheArmedClickAndDisarms) {
    m_settings.m_bClicksOff = true;
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)});
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    m_settings.m_bClicksOff = false;
    EXPECT_EQ(Move(0, 0), Events{MoveBy(0, 0)}) << "no repeat was left pending";
}

TEST_F(Mouse, ButtonEventsGoOutAtOnceAndTheMiddleButtonIsReleasedAtTheEnd) {
    m_mouse->SendButtonEvent(MOUSEEVENTF_MIDDLEDOWN);
    m_mouse->SendButtons(MOUSEEVENTF_LEFTDOWN, 0);
    ReleaseMiddleButton(*m_mouse);
    m_mouse.reset();
    EXPECT_EQ(m_injector.Events(), (Events{kMiddleDown, kLeftDown, kNoButtons, kMiddleUp, kMiddleUp}));
}

// The capture thread moving while the user-interface thread arms clicks, as in the program; run
// under ThreadSanitizer it also checks the hand-over.
TEST(MouseThreads, ClicksArmedFromTheInterfaceThreadComeWholeBetweenMoves) {
    CSettingsMirror settings;
    settings.m_nSliderSmoothMouse = 2;
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
        if (flags == MOUSEEVENTF_MOVE) {
            sinceMove = 0;
        } else if (flags == MOUSEEVENTF_MIDDLEUP) {
            ++loneMiddleReleases;
        } else {
            ASSERT_TRUE(flags == MOUSEEVENTF_LEFTDOWN || flags == MOUSEEVENTF_MIDDLEDOWN || flags == MOUSEEVENTF_RIGHTDOWN)
                << "event " << i << " is " << events[i] << ", not a press";
            // A button's UP flag is its DOWN flag shifted once.
            ASSERT_TRUE(i + 1 < events.size() && events[i + 1].mi.dwFlags == flags << 1) << "click " << i << " was split";
            ASSERT_LE(sinceMove += 2, 4) << "more than a repeat and one click between two moves, at " << i;
            ++clicks;
            ++i;
        }
    }
    EXPECT_EQ(clicks, expectedClicks);
    EXPECT_EQ(loneMiddleReleases, middleReleases);
}

TEST(Keyboard, EveryKeyFollowsACtrlKeyUpAndTheEndReleasesCtrlThenSpace) {
    CRecordingInjector injector;
    const InputEvent ctrlUp = InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP);
    const InputEvent spaceUp = InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP);
    {
        CKeyboard keyboard(injector);
        EXPECT_TRUE(injector.Events().empty()) << "inert until used";
        keyboard.Key(VK_F1 + 4, 1);
        keyboard.Key('A', 0);
        keyboard.Key(VK_SPACE, -1);
    }
    EXPECT_EQ(injector.Events(), (Events{ctrlUp, InputEvent::Keyboard(VK_F1 + 4, 0), ctrlUp,
                                         InputEvent::Keyboard('A', KEYEVENTF_KEYUP), ctrlUp, spaceUp, ctrlUp, spaceUp}));
}

TEST(DetectWindow, CountsTheNewestEntriesInTheClosedSquareOfTenUpToFifty) {
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
    EXPECT_EQ(window.CountStill(x, y), 50);
}

TEST(DetectWindow, ResetHidesEverythingPushedBeforeUntilTheMarkerFallsOut) {
    CDetectWindow window;
    for (int i = 0; i < 30; ++i) window.Push(5, 5);
    window.Reset();
    EXPECT_EQ(window.CountStill(5, 5), 0);
    for (int i = 0; i < 49; ++i) window.Push(5, 5);
    EXPECT_EQ(window.CountStill(5, 5), 49) << "the marker is the 50th entry";
    window.Push(5, 5);
    EXPECT_EQ(window.CountStill(5, 5), 50) << "the marker was dropped";
}

}  // namespace
