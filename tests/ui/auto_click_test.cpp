// Auto click offscreen: the dwell engine of the floating window with ticks driven by the test and
// a recording injector, the window's selection and place, showing and hiding it, the "Auto click"
// page, and the click sound's player.
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
#include "ui/thread_float.h"

namespace {

using Float = CDialogFloat;
using Flags = std::vector<std::uint32_t>;

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
    CMouse mouse{injector, mirror};
    CDetectWindow detect;
    CountingSound sound;
    std::unique_ptr<Float> floating;
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
    CmivexDlgClick page(store, mirror, floating.get(), &sound);
    page.Activate();
    const QList<QCheckBox*> boxes = page.findChildren<QCheckBox*>();  // enable, sound
    boxes[1]->click();
    boxes[1]->click();
    EXPECT_EQ(std::pair(store.ReadBool(Setting::kEnableAutoClickSound), sound.played), std::pair(true, 1));
    boxes[0]->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return floating->isVisible(); }, 5000));
    floating->SelectButton(Float::kRight);
    floating->move(400, 300);
    boxes[1]->click();                        // sound off
    page.findChild<QPushButton*>()->click();  // "Set Default"
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
