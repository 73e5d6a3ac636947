// Auto click offscreen: the dwell engine of the floating window with ticks driven by the test and
// a recording injector, scrolling by head, the window's selection and place, showing and hiding
// it, the "Auto click" page, and the click sound's player.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <optional>
#include <vector>

#include "output/click_sound.h"
#include "output/detect_window.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "tests/support/test_support.h"
#include "ui/dialog_float.h"
#include "ui/dlg_click.h"
#include "ui/hover_button.h"
#include "ui/slider_row.h"
#include "ui/thread_float.h"

namespace {

using Float = CDialogFloat;
using Flags = std::vector<std::uint32_t>;

// The mouse's clock for scroll steps: a frame and a tick every 100 ms.
CMouse::Clock::time_point g_now = CMouse::Clock::time_point{} + std::chrono::hours(1);
CMouse::Clock::time_point TestNow() { return g_now; }

struct CountingSound final : IClickSound {
    void PlayClickSound() override { ++played; }
    int played = 0;
};

class AutoClick : public testing::Test {
protected:
    void SetUp() override {
        mirror.m_bMouseActive = true;
        MakeWindow();
    }
    void MakeWindow(Float::Ticks ticks = Float::Ticks::Manual) {
        floating.reset();
        floating = std::make_unique<Float>(store, mirror, mouse, detect, sound, ticks);
    }
    // Ticks, each after a frame moving the pointer by (dx, dy), until a click is armed, at most
    // `limit`: the tick that armed it. The bar's value after each tick goes to `bar`.
    std::optional<int> TicksToArm(int limit, float dx = 0, float dy = 0, std::vector<int>* bar = nullptr) {
        for (int tick = 1; tick <= limit; ++tick) {
            mouse.Move(dx, dy);
            floating->OnDwellTick();
            if (bar) bar->push_back(floating->Progress().value());
            if (mouse.GetButton() != CMouse::kButtonNone) return tick;
        }
        return std::nullopt;
    }
    // Frames, each followed by a tick, with the head moving by (dx, dy) on the first: to the
    // mouse's scroll while it scrolls, as the motion mapping does, else its move.
    void Frames(int count, float dx, float dy) {
        for (int frame = 0; frame < count; ++frame, dx = dy = 0) {
            g_now += std::chrono::milliseconds(Float::kTickMs);
            if (mouse.Scrolling())
                mouse.Scroll(dx, dy);
            else
                mouse.Move(dx, dy);
            floating->OnDwellTick();
        }
    }
    // The frame road as the dwell tick sees it: a face followed by ten points, a new frame on every
    // tick while frames arrive.
    void WatchRoad() {
        floating->WatchTracking([this] {
            road.frames += framesArrive;
            return road;
        });
    }
    // The button events sent since the last call, after one more frame.
    Flags Buttons() {
        mouse.Move(0, 0);
        Flags flags;
        for (const InputEvent& event : injector.Events())
            if (event.mi.dwFlags != MOUSEEVENTF_MOVE && event.mi.dwFlags != 0) flags.push_back(event.mi.dwFlags);
        injector.Clear();
        return flags;
    }

    test::TempConfigHome home;
    CSettingsStore store;
    CSettingsMirror mirror;
    CRecordingInjector injector;
    CMouse mouse{injector, mirror, &TestNow};
    CDetectWindow detect;
    CountingSound sound;
    std::unique_ptr<Float> floating;
    EngineStatus road = [] {
        EngineStatus followed;
        followed.points = 10;
        followed.headFound = true;
        return followed;
    }();
    bool framesArrive = true;
};

TEST_F(AutoClick, AStillPointerArmsTheClickWhenTheCountExceedsTheThresholdWhileMouseControlIsOn) {
    // The longest still time the page offers clicks too.
    const std::tuple<int, float, std::optional<int>> cases[] = {{15, 0, 16}, {50, 0, 51}, {15, 5, 16}};
    for (const auto& [threshold, move, armedAt] : cases) {
        mirror.m_nAutoClickDelay = threshold;
        floating->SelectButton(Float::kLeft);
        std::vector<int> bar, expected;
        EXPECT_EQ(TicksToArm(60, move, move, &bar), armedAt) << threshold << ", moving " << move;
        // threshold, threshold - 1, ... 1, then 0 at the click; without a click it stays at 1.
        for (int tick = 1; tick <= static_cast<int>(bar.size()); ++tick)
            expected.push_back(std::max(threshold - tick + 1, armedAt ? 0 : 1));
        EXPECT_EQ(bar, expected) << threshold;
        EXPECT_EQ(Buttons(), armedAt ? Flags({MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) : Flags());
    }
    EXPECT_EQ(sound.played, 3);
    EXPECT_FALSE(floating->Progress().isTextVisible());
    mirror.m_bMouseActive = false;
    EXPECT_EQ(TicksToArm(30), std::nullopt);
    // The bar says why nothing counts, to the eye and to a screen reader.
    EXPECT_TRUE(floating->Progress().isTextVisible());
    EXPECT_EQ(floating->Progress().text(), "Head control off");
    EXPECT_EQ(floating->Progress().accessibleDescription(), "Head control off");
    mirror.m_bMouseActive = true;
    EXPECT_EQ(TicksToArm(30), 16) << "the still time starts again";
    EXPECT_FALSE(floating->Progress().isTextVisible());
    EXPECT_EQ(floating->Progress().accessibleDescription(), "");
}

// Without a face the tracker's points lie on the wall and report no motion: no rest may count
// then, and none until the head has been followed again for the settle time.
TEST_F(AutoClick, RestsCountOnlyWhileTheHeadIsFollowedAndOnceItHasBeenForTheSettleTime) {
    mirror.m_nAutoClickDelay = 5;
    const Flags left{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    const std::pair<const char*, std::function<void(bool)>> losses[] = {
        {"no face", [this](bool lost) { road.headFound = !lost; }},
        {"three points", [this](bool lost) { road.points = lost ? 3 : 10; }},
        {"no frames", [this](bool lost) { framesArrive = !lost; }},
    };
    for (const auto& [loss, lose] : losses) {
        SCOPED_TRACE(loss);
        MakeWindow();
        WatchRoad();
        floating->SelectButton(Float::kLeft);
        // 10 ticks of settling, then 6 still ones.
        EXPECT_EQ(TicksToArm(30), 16);
        EXPECT_EQ(Buttons(), left);
        EXPECT_EQ(TicksToArm(4), std::nullopt);
        lose(true);
        // Two ticks short of a click; stalled, the camera sends no frame to carry the click out.
        for (int tick = 0; tick < 40; ++tick) {
            if (framesArrive) mouse.Move(0, 0);
            floating->OnDwellTick();
        }
        EXPECT_EQ(Buttons(), Flags()) << "a click while the head was not followed";
        EXPECT_TRUE(floating->ClicksPausedForFace());
        EXPECT_TRUE(floating->Progress().isTextVisible());
        EXPECT_EQ(floating->Progress().text(), Float::kNoFaceText);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(const_cast<QProgressBar*>(&floating->Progress()))
                      ->text(QAccessible::Name),
                  Float::kNoFaceText);
        lose(false);
        EXPECT_EQ(TicksToArm(30), 16) << "settle time and still time again";
        EXPECT_FALSE(floating->ClicksPausedForFace() || floating->Progress().isTextVisible());
        EXPECT_EQ(Buttons(), left);
    }

    // A click armed by a hotkey is the user's own: taking back the dwell's leaves it be.
    mirror.m_nAutoClickDelay = 2;
    floating->SelectButton(Float::kLeft);
    framesArrive = false;
    for (int tick = 0; tick < 3; ++tick) floating->OnDwellTick();
    ASSERT_EQ(mouse.GetButton(), CMouse::kButtonLeft) << "armed before the stall counts";
    mouse.Arm(CMouse::kButtonRight, CMouse::kClickSingle);
    for (int tick = 0; tick < 3; ++tick) floating->OnDwellTick();
    ASSERT_TRUE(floating->ClicksPausedForFace());
    EXPECT_EQ(Buttons(), (Flags{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP}));

    // Switched off (or with no road to watch), every rest counts as before.
    mirror.m_bPauseClicksWithoutFace = false;
    EXPECT_EQ(TicksToArm(30), 3);
    EXPECT_FALSE(floating->ClicksPausedForFace());
    mirror.m_bPauseClicksWithoutFace = true;
    mirror.m_nClickSettleTime = 0;
    framesArrive = true;
    EXPECT_EQ(TicksToArm(30), 3) << "no settle time: the first followed tick counts";
}

// A steady slow sweep moves the pointer by the same amount every frame: still by the moves, not by
// the places. 200 pixels a second for 10 s, at 20 frames a second, with a still time of 1.1 s.
TEST_F(AutoClick, ASlowSweepClicksEveryStillTimeByTheMovesAndNeverByThePlaces) {
    mirror.m_nAutoClickDelay = 11;
    for (const auto& [inPlace, sweepClicks] : {std::pair(false, 8), std::pair(true, 0)}) {
        mirror.m_bRestInPlace = inPlace;
        floating->SelectButton(Float::kLeft);
        int clicks = 0;
        for (int tick = 0; tick < 100; ++tick) {
            mouse.Move(10, 0);
            mouse.Move(10, 0);
            floating->OnDwellTick();
            clicks += mouse.GetButton() != CMouse::kButtonNone;
        }
        Buttons();
        EXPECT_EQ(clicks, sweepClicks) << (inPlace ? "places" : "moves");
        std::cout << "a 10 s sweep at 200 px/s clicked " << clicks << " times, rests by the "
                  << (inPlace ? "pointer's place\n" : "moves\n");
        // A pointer that trembles in place rests either way.
        floating->SelectButton(Float::kLeft);
        for (int tick = 1; tick <= 12; ++tick) {
            mouse.Move(tick % 2 ? 4 : -4, 3);
            mouse.Move(tick % 2 ? -4 : 4, -3);
            floating->OnDwellTick();
            if (mouse.GetButton() != CMouse::kButtonNone) {
                EXPECT_EQ(tick, 12) << (inPlace ? "places" : "moves");
            }
        }
        EXPECT_FALSE(Buttons().empty()) << (inPlace ? "places" : "moves");
    }
}

TEST_F(AutoClick, DwellingOnTheWindowsButtonsSelectsThemAndPressingThemToo) {
    // From pause one sound, from a button two: one for the run-out, one for the choice.
    for (const auto& [from, sounds] : {std::pair{Float::kPause, 1}, std::pair{Float::kRight, 3}}) {
        floating->SelectButton(from);
        floating->show();
        QCursor::setPos(floating->Button(Float::kLeft)->mapToGlobal(QPoint(5, 5)));
        EXPECT_EQ(TicksToArm(16), std::nullopt);
        EXPECT_TRUE(floating->SelectedButton() == Float::kLeft && floating->Button(Float::kLeft)->IsActive());
        EXPECT_EQ(sound.played, sounds) << "from " << from;
    }
    // A window lying above a button (a menu, a notification) hides it: the rest clicks instead.
    QWidget above(nullptr, Qt::ToolTip);
    above.setGeometry(QRect(floating->Button(Float::kMiddle)->mapToGlobal(QPoint()), QSize(30, 30)));
    above.show();
    QCursor::setPos(above.geometry().center());
    EXPECT_EQ(TicksToArm(16), 16);
    EXPECT_EQ(std::pair(floating->SelectedButton(), Buttons()),
              std::pair(+Float::kLeft, Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    QTest::mouseClick(floating->Button(Float::kRight), Qt::LeftButton);
    QTest::mouseClick(floating->Button(Float::kDouble), Qt::LeftButton);
    QCursor::setPos(floating->geometry().bottomRight() + QPoint(50, 50));
    EXPECT_EQ(TicksToArm(20), 16);
    mouse.Move(0, 0);
    EXPECT_EQ(Buttons(),
              (Flags{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP}));
}

TEST_F(AutoClick, ADragPressesOnOneDwellAndReleasesAndPausesOnTheNext) {
    mirror.m_nAutoClickDelay = 2;
    floating->SelectButton(Float::kLeft);
    floating->SelectKind(Float::kDrag);
    EXPECT_EQ(TicksToArm(5), 3);
    EXPECT_EQ(floating->Button(Float::kDrag)->CurrentPicture(), CHoverButton::Picture::Alternative);
    EXPECT_EQ(Buttons(), Flags{MOUSEEVENTF_LEFTDOWN});
    for (int tick = 0; tick < 3; ++tick) mouse.Move(0, 0), floating->OnDwellTick();  // held: pressed each frame
    EXPECT_EQ(Buttons(), (Flags{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    EXPECT_EQ(std::pair(floating->SelectedButton(), floating->SelectedKind()), std::pair(Float::kPause, Float::kDrag));
    EXPECT_EQ(floating->Button(Float::kDrag)->CurrentPicture(), CHoverButton::Picture::Active);
    // Pausing while a button is held lets it go: nobody else could.
    floating->SelectButton(Float::kRight);
    TicksToArm(5);
    mouse.Move(0, 0);
    floating->SelectButton(Float::kPause);
    EXPECT_EQ(Buttons(), (Flags{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP}));
    // Mouse control switched off during a drag lets go of its button: the next dwell starts a drag.
    floating->SelectButton(Float::kLeft);
    TicksToArm(5);
    mirror.m_bMouseActive = false;
    mouse.ReleaseButtons();
    floating->OnDwellTick();
    EXPECT_EQ(floating->SelectedKind(), Float::kDrag);
    EXPECT_EQ(floating->Button(Float::kDrag)->CurrentPicture(), CHoverButton::Picture::Active);
}

TEST_F(AutoClick, WithTheWheelARestScrollsWhereThePointerRestsUntilARestNearWhereItBegan) {
    mirror.m_nAutoClickDelay = 2;
    // Chosen through the accessibility bus by its name; the kinds do not apply and say so.
    CHoverButton* wheel = nullptr;
    for (CHoverButton* button : floating->findChildren<CHoverButton*>())
        if (button->accessibleName() == "Scroll") wheel = button;
    ASSERT_NE(wheel, nullptr);
    QAccessible::queryAccessibleInterface(wheel)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return floating->SelectedButton() == Float::kWheel; }, 5000));  // animated
    for (int kind : {Float::kSingle, Float::kDouble, Float::kDrag})
        EXPECT_TRUE(QAccessible::queryAccessibleInterface(floating->Button(kind))->state().disabled) << kind;
    EXPECT_EQ(TicksToArm(3), std::nullopt) << "a rest clicks nothing";
    ASSERT_TRUE(mouse.Scrolling() && floating->IsScrolling());
    EXPECT_EQ(wheel->CurrentPicture(), CHoverButton::Picture::Alternative);
    // The head down and held there: the page scrolls down all the while, the pointer stays.
    injector.Clear();
    Frames(6, 0, 10);
    int down = 0;
    for (const InputEvent& event : injector.Events()) {
        if (event.mi.dwFlags == MOUSEEVENTF_WHEEL) down -= event.WheelAmount();
        EXPECT_TRUE(event.mi.dwFlags == MOUSEEVENTF_WHEEL || event == InputEvent::Mouse(MOUSEEVENTF_MOVE)) << event;
    }
    EXPECT_EQ(down, 6 * 63) << "5.25 notches a second for 0.6 s";
    EXPECT_TRUE(floating->IsScrolling());
    // Back where it began: the third tick there ends scrolling and pauses.
    Frames(2, 0, -10);
    EXPECT_TRUE(floating->IsScrolling());
    Frames(1, 0, 0);
    EXPECT_FALSE(mouse.Scrolling() || floating->IsScrolling());
    EXPECT_EQ(floating->SelectedButton(), Float::kPause);
    EXPECT_TRUE(floating->Button(Float::kSingle)->isEnabled() && floating->Button(Float::kSingle)->IsActive());
    EXPECT_EQ(sound.played, 2) << "at the start and the end";
}

TEST_F(AutoClick, SwitchingControlOffOrChoosingAnotherButtonEndsScrollingAndAGreyedKindTakesNoRest) {
    mirror.m_nAutoClickDelay = 2;
    floating->SelectButton(Float::kWheel);
    floating->show();
    QCursor::setPos(floating->Button(Float::kDouble)->mapToGlobal(QPoint(5, 5)));
    EXPECT_EQ(TicksToArm(6), std::nullopt);
    EXPECT_EQ(std::tuple(mouse.Scrolling(), floating->SelectedKind()), std::tuple(false, +Float::kSingle));
    QCursor::setPos(floating->geometry().bottomRight() + QPoint(50, 50));
    TicksToArm(3);
    ASSERT_TRUE(mouse.Scrolling());
    // Control switched off and on again between two ticks.
    mouse.ReleaseButtons();
    floating->OnDwellTick();
    EXPECT_EQ(floating->Button(Float::kWheel)->CurrentPicture(), CHoverButton::Picture::Active);
    TicksToArm(3);
    ASSERT_TRUE(mouse.Scrolling());
    // As the System setup page and the hotkey switch control off.
    mirror.m_bMouseActive = false;
    mouse.ReleaseButtons();
    floating->OnDwellTick();
    EXPECT_FALSE(mouse.Scrolling() || floating->IsScrolling());
    EXPECT_EQ(floating->SelectedButton(), Float::kWheel) << "the next rest scrolls anew";
    mirror.m_bMouseActive = true;
    TicksToArm(3);
    ASSERT_TRUE(mouse.Scrolling());
    QTest::mouseClick(floating->Button(Float::kPause), Qt::LeftButton);
    EXPECT_FALSE(mouse.Scrolling() || floating->IsScrolling());
    EXPECT_TRUE(floating->Button(Float::kDrag)->isEnabled());
}

TEST_F(AutoClick, TheWindowStartsPausedWithSingleClickAtItsStoredPlaceIfThatIsOnAScreen) {
    EXPECT_EQ(floating->pos(), QPoint(100, 100));
    EXPECT_TRUE(floating->Button(Float::kPause)->IsActive() && floating->Button(Float::kSingle)->IsActive());
    EXPECT_EQ(floating->Button(Float::kPause)->toolTip(), "Pause button");
    for (const auto& [moved, expected] :
         {std::pair(QPoint(300, 200), QPoint(300, 200)), std::pair(QPoint(5000, -4000), QPoint(100, 100))}) {
        floating->move(moved);
        MakeWindow();
        EXPECT_EQ(floating->pos(), expected);
    }
}

TEST_F(AutoClick, ThePageStoresEachChangeAndShowsTheWindowWhileAutoClickIsOn) {
    const std::tuple<std::optional<int>, QString, int, int> steps[] = {
        {std::nullopt, "1.5", 1, 16}, {99, "9.9", -1, 50}, {1, "0.1", 1, 2}};
    for (const auto& [stored, shown, step, after] : steps) {
        if (stored) store.Write(Setting::kValueAutoClick, *stored);
        CmivexDlgClick page(store, mirror, floating.get(), &sound);
        page.Activate();
        auto* seconds = page.findChild<CUpDownField*>();
        EXPECT_EQ(std::pair(seconds->text(), mirror.m_nAutoClickDelay.load()), std::pair(shown, stored.value_or(15)));
        seconds->stepBy(step);
        EXPECT_EQ(std::pair(store.Read(Setting::kValueAutoClick), mirror.m_nAutoClickDelay.load()),
                  std::pair(after, after));
    }
    MakeWindow(Float::Ticks::Timer);
    std::atomic<bool> stopAll{false};
    CThreadFloat shower(*floating, mirror, stopAll);
    shower.Start();
    store.Write(Setting::kClickSettleTime, 99);
    CmivexDlgClick page(store, mirror, floating.get(), &sound);
    page.Activate();
    EXPECT_EQ(mirror.m_nClickSettleTime, 50) << "up to 5 s";
    const QList<QCheckBox*> boxes = page.findChildren<QCheckBox*>();  // enable, sound, no face, in place
    ASSERT_EQ(boxes.size(), 4);
    EXPECT_EQ(std::pair(boxes[2]->isChecked(), boxes[3]->isChecked()), std::pair(true, false));
    boxes[2]->click();
    boxes[3]->click();
    EXPECT_EQ(std::tuple(store.ReadBool(Setting::kPauseClicksWithoutFace), mirror.m_bPauseClicksWithoutFace.load(),
                         store.ReadBool(Setting::kRestInPlace), mirror.m_bRestInPlace.load()),
              std::tuple(false, false, true, true));
    boxes[1]->click();
    boxes[1]->click();
    EXPECT_EQ(std::pair(store.ReadBool(Setting::kEnableAutoClickSound), sound.played), std::pair(true, 1));
    boxes[0]->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return floating->isVisible(); }, 5000));
    floating->SelectButton(Float::kRight);
    floating->move(400, 300);
    boxes[1]->click();  // sound off
    page.ScrollSpeedRow().Slider()->setValue(15);
    EXPECT_EQ(std::pair(store.Read(Setting::kScrollSpeed), mirror.m_nScrollSpeed.load()), std::pair(15, 15));
    page.findChild<QPushButton*>()->click();  // "Set Default"
    EXPECT_EQ(std::pair(store.Read(Setting::kScrollSpeed), mirror.m_nScrollSpeed.load()), std::pair(10, 10));
    EXPECT_EQ(std::pair(floating->pos(), store.Read(Setting::kValueAutoClick)), std::pair(QPoint(100, 100), 15));
    EXPECT_EQ(std::tuple(boxes[1]->isChecked(), store.ReadBool(Setting::kEnableAutoClickSound), sound.played),
              std::tuple(true, true, 1))
        << "the sound is switched back on without playing it, as loading it is";
    boxes[0]->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !floating->isVisible(); }, 5000));
    EXPECT_EQ(floating->SelectedButton(), Float::kPause);
}

// A window manager may iconify the window all the same (a key of its own, "minimise all"): shown
// again, as auto click goes off and on or the shower starts anew, it comes back un-iconified, also
// while it was still up.
TEST_F(AutoClick, ShowingTheWindowBringsItBackFromIconified) {
    std::atomic<bool> stopAll{false};
    mirror.m_bAutoClick = true;
    for (const bool offAndOn : {true, false}) {
        CThreadFloat shower(*floating, mirror, stopAll);
        shower.Poll();
        ASSERT_TRUE(floating->isVisible());
        floating->setWindowState(Qt::WindowMinimized);  // as Qt records the window manager's iconifying
        if (offAndOn) {
            mirror.m_bAutoClick = false;
            shower.Poll();
            EXPECT_FALSE(floating->isVisible());
            mirror.m_bAutoClick = true;
            shower.Poll();
        } else {
            CThreadFloat(*floating, mirror, stopAll).Poll();
        }
        EXPECT_TRUE(floating->isVisible() && !floating->isMinimized()) << (offAndOn ? "off and on" : "a new shower");
    }
}

TEST(ClickSound, WithoutTheFileOrASoundServerNothingIsPlayedAndTheReasonIsGivenOnce) {
    test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/mivex-test/native");
    using Case = std::pair<std::string, std::string>;  // file, reason
    for (const auto& [file, reason] :
         {Case("/nonexistent.wav", "cannot read"), Case(ClickSoundFile(), "no sound server")}) {
        std::vector<std::string> reported;
        CClickSound player(file, [&](const std::string& line) { reported.push_back(line); });
        player.PlayClickSound();
        player.PlayClickSound();
        ASSERT_EQ(reported.size(), 1u) << file;
        EXPECT_TRUE(reported[0].starts_with("click sound not played: " + reason)) << reported[0];
    }
}

}  // namespace
