// CMouse through the recording injector: smoothing, truncation, the limit, and the click types.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

#include "mouse.h"
#include "recording_injector.h"

namespace {

using Events = std::vector<InputEvent>;

InputEvent MoveBy(int dx, int dy) { return InputEvent::Mouse(MOUSEEVENTF_MOVE, dx, dy); }
InputEvent Buttons(std::uint32_t flags) { return InputEvent::Mouse(flags); }
const InputEvent kNoButtons = InputEvent::Mouse(0);

class MouseTest : public ::testing::Test {
protected:
    // Smoothing 2 is the count a new mouse starts with, so the first move does not flush.
    MouseTest() {
        m_settings.m_nSliderSmoothMouse = 2;
        m_mouse.emplace(m_injector, m_settings);
    }

    // The events of one Move, taken out of the recording.
    Events MoveEvents(float dx, float dy) {
        m_injector.Clear();
        m_mouse->Move(dx, dy);
        return m_injector.Events();
    }

    CSettingsMirror m_settings;
    CRecordingInjector m_injector;
    std::optional<CMouse> m_mouse;
};

TEST_F(MouseTest, TruncatesTheSmoothedAmountTowardZeroAndLosesTheFraction) {
    EXPECT_FALSE(m_mouse->IsMoved());
    EXPECT_EQ(MoveEvents(0.4f, -0.9f), (Events{MoveBy(0, 0)}));
    EXPECT_TRUE(m_mouse->IsMoved());
    EXPECT_FLOAT_EQ(m_mouse->GetLastDx(), 0.2f);
    EXPECT_FLOAT_EQ(m_mouse->GetLastDy(), -0.45f);
}

TEST_F(MouseTest, DroppedFractionsAreNotCarriedToTheNextFrame) {
    // 1.5 a frame: averages 0.75, 1.5, 1.5 give 0, 1, 1 (not 0, 2, 1 with a carry).
    EXPECT_EQ(MoveEvents(1.5f, -1.5f), (Events{MoveBy(0, 0)}));
    EXPECT_EQ(MoveEvents(1.5f, -1.5f), (Events{MoveBy(1, -1)}));
    EXPECT_EQ(MoveEvents(1.5f, -1.5f), (Events{MoveBy(1, -1)}));
}

TEST_F(MouseTest, AveragesTheNewestEntriesOfTheHistory) {
    EXPECT_EQ(MoveEvents(-7.0f, 9.0f), (Events{MoveBy(-3, 4)}));
    EXPECT_EQ(MoveEvents(-3.0f, 3.0f), (Events{MoveBy(-5, 6)}));
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(-1, 1)}));
    EXPECT_FLOAT_EQ(m_mouse->GetLastDx(), -1.5f);

    // With 10 the whole history counts: ten frames of (10, 20), then a 0 in and the oldest out.
    m_settings.m_nSliderSmoothMouse = 10;
    for (int frame = 0; frame < 10; ++frame) m_mouse->Move(10.0f, 20.0f);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(9, 18)}));
}

TEST_F(MouseTest, OutOfRangeAmountsSaturateInsteadOfWrapping) {
    EXPECT_EQ(MoveEvents(6e9f, -6e9f), (Events{MoveBy(std::numeric_limits<std::int32_t>::max(),
                                                      std::numeric_limits<std::int32_t>::min())}));
}

TEST_F(MouseTest, LimitDividesTheAmountsBySixBeforeSmoothing) {
    m_settings.m_bMouseLimit = true;
    EXPECT_EQ(MoveEvents(12.0f, 12.0f), (Events{MoveBy(1, 1)}));
    EXPECT_FLOAT_EQ(m_mouse->GetLastDx(), 1.0f);
    EXPECT_EQ(MoveEvents(12.0f, -12.0f), (Events{MoveBy(2, 0)}));
    EXPECT_FLOAT_EQ(m_mouse->GetLastDx(), 2.0f);
    EXPECT_FLOAT_EQ(m_mouse->GetLastDy(), 0.0f);
}

TEST_F(MouseTest, ChangingTheSmoothingDrainsTheOldAverageInTenMovesFirst) {
    m_settings.m_nSliderSmoothMouse = 3;
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), Events(11, MoveBy(0, 0))) << "from the initial count 2 to 3";
    EXPECT_EQ(MoveEvents(30.0f, -30.0f), (Events{MoveBy(10, -10)}));
    EXPECT_EQ(MoveEvents(30.0f, -30.0f), (Events{MoveBy(20, -20)}));

    m_settings.m_nSliderSmoothMouse = 5;
    Events expected = {MoveBy(20, -20), MoveBy(10, -10)};  // (0 + 30 + 30) / 3, (0 + 0 + 30) / 3
    expected.insert(expected.end(), 8, MoveBy(0, 0));
    expected.push_back(MoveBy(10, -10));  // 50 over the new count 5
    EXPECT_EQ(MoveEvents(50.0f, -50.0f), expected);
    EXPECT_EQ(MoveEvents(50.0f, -50.0f), (Events{MoveBy(20, -20)}));
}

TEST_F(MouseTest, SingleClickFollowsTheMoveAndDisarms) {
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickSingle);
    EXPECT_EQ(MoveEvents(4.0f, 2.0f),
              (Events{MoveBy(2, 1), Buttons(MOUSEEVENTF_LEFTDOWN), Buttons(MOUSEEVENTF_LEFTUP)}));
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    EXPECT_EQ(m_mouse->GetClickType(), CMouse::kClickSingle) << "the type stays";
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(2, 1)}));

    // The kept type applies to a button set on its own.
    m_mouse->SetButton(CMouse::kButtonMiddle);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f),
              (Events{MoveBy(0, 0), Buttons(MOUSEEVENTF_MIDDLEDOWN), Buttons(MOUSEEVENTF_MIDDLEUP)}));
}

TEST_F(MouseTest, AButtonArmedWithoutATypeClicksOnceAndATypeAloneDoesNothing) {
    m_mouse->SetButton(CMouse::kButtonRight);  // click type still 0
    EXPECT_EQ(MoveEvents(0.0f, 0.0f),
              (Events{MoveBy(0, 0), Buttons(MOUSEEVENTF_RIGHTDOWN), Buttons(MOUSEEVENTF_RIGHTUP)}));
    m_mouse->SetClickType(CMouse::kClickSingle);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0)}));
}

TEST_F(MouseTest, DoubleClickRepeatsAtTheStartOfTheNextMoveStep) {
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
    const InputEvent down = Buttons(MOUSEEVENTF_LEFTDOWN), up = Buttons(MOUSEEVENTF_LEFTUP);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0), down, up}));
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{down, up, MoveBy(0, 0)}));
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0)}));

    // A click armed before the repeat went out comes after it.
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0), down, up}));
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickSingle);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{down, up, MoveBy(0, 0), Buttons(MOUSEEVENTF_RIGHTDOWN),
                                               Buttons(MOUSEEVENTF_RIGHTUP)}));
}

TEST_F(MouseTest, HoldPressesAtEveryMoveUntilReleaseIsArmed) {
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickHold);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0), Buttons(MOUSEEVENTF_RIGHTDOWN), kNoButtons}))
            << "frame " << frame;
        EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonRight);
    }
    m_mouse->Arm(CMouse::kButtonRight, CMouse::kClickRelease);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0), kNoButtons, Buttons(MOUSEEVENTF_RIGHTUP)}));
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0)}));
}

TEST_F(MouseTest, ClicksOffDropsTheArmedClickAndDisarms) {
    m_settings.m_bClicksOff = true;
    m_mouse->Arm(CMouse::kButtonLeft, CMouse::kClickDouble);
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0)}));
    EXPECT_EQ(m_mouse->GetButton(), CMouse::kButtonNone);
    m_settings.m_bClicksOff = false;
    EXPECT_EQ(MoveEvents(0.0f, 0.0f), (Events{MoveBy(0, 0)})) << "no repeat was left pending";
}

TEST_F(MouseTest, ButtonEventsGoOutAtOnceAndTheMiddleButtonIsReleasedAtTheEnd) {
    m_mouse->SendButtonEvent(MOUSEEVENTF_MIDDLEDOWN);
    m_mouse->SendButtons(MOUSEEVENTF_LEFTDOWN, 0);
    ReleaseMiddleButton(*m_mouse);
    EXPECT_EQ(m_injector.Events(), (Events{Buttons(MOUSEEVENTF_MIDDLEDOWN), Buttons(MOUSEEVENTF_LEFTDOWN),
                                           kNoButtons, Buttons(MOUSEEVENTF_MIDDLEUP)}));

    m_injector.Clear();
    m_mouse->SendButtonEvent(MOUSEEVENTF_MIDDLEDOWN);
    m_mouse.reset();
    EXPECT_EQ(m_injector.Events(), (Events{Buttons(MOUSEEVENTF_MIDDLEDOWN), Buttons(MOUSEEVENTF_MIDDLEUP)}));
}

}  // namespace
