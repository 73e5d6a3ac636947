// Auto click offscreen: the dwell engine of the floating window with ticks driven by the test and
// a recording injector, the window's selection and place, showing and hiding it, the "Auto click"
// page, and the click sound's player.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "click_sound.h"
#include "detect_window.h"
#include "dialog_float.h"
#include "dlg_click.h"
#include "engine_control.h"
#include "hover_button.h"
#include "mouse.h"
#include "recording_injector.h"
#include "settings_pages.h"
#include "speed_profile.h"
#include "test_support.h"
#include "thread_float.h"

namespace {

using Float = CDialogFloat;

struct CountingSound final : IClickSound {
    void PlayClickSound() override { ++played; }
    int played = 0;
};

// The page reaches nothing of the frame road.
struct NoEngine final : IEngineControl {
    explicit NoEngine(const CSettingsStore& store) : profile(store) {}
    EngineStatus Status() const override { return {}; }
    PointDisplay Display() const override { return {}; }
    void SetLiveView(bool) override {}
    bool ReadLiveView(std::vector<std::uint8_t>&) const override { return false; }
    void AllowMorePoints() override {}
    void UseSpeedProfile(bool) override {}
    bool UsesSpeedProfile() const override { return false; }
    CSpeedProfile& SpeedProfile() override { return profile; }
    void ResetProfile() override {}
    void RegisterPointer(IPointerOutput*) override {}
    void RegisterView(IViewOutput*) override {}
    void RegisterSocket(ISocketOutput*) override {}
    CSpeedProfile profile;
};

class AutoClick : public testing::Test {
protected:
    void SetUp() override {
        mirror.m_bMouseActive = true;
        mirror.m_nAutoClickDelay = 15;
        MakeWindow();
    }
    void MakeWindow(Float::Ticks ticks = Float::Ticks::Manual) {
        floating.reset();
        floating = std::make_unique<Float>(store, mirror, mouse, detect, sound, ticks);
    }
    // One camera frame moving the pointer by (dx, dy), then one dwell tick.
    void Tick(float dx = 0, float dy = 0) {
        mouse.Move(dx, dy);
        floating->OnDwellTick();
    }
    // Ticks until a click is armed, at most `limit`: the tick that armed it, or nothing.
    std::optional<int> TicksToArm(int limit, float dx = 0, float dy = 0) {
        for (int tick = 1; tick <= limit; ++tick) {
            Tick(dx, dy);
            if (mouse.GetButton() != CMouse::kButtonNone) return tick;
        }
        return std::nullopt;
    }
    // The button events the pointer sent, moves left out.
    std::vector<std::uint32_t> Buttons() {
        std::vector<std::uint32_t> flags;
        for (const InputEvent& event : injector.Events())
            if (event.mi.dwFlags != MOUSEEVENTF_MOVE && event.mi.dwFlags != 0) flags.push_back(event.mi.dwFlags);
        injector.Clear();
        return flags;
    }
    void PointAt(int code) {
        floating->show();
        CHoverButton* button = floating->Button(code);
        QCursor::setPos(button->mapToGlobal(button->rect().center()));
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

TEST_F(AutoClick, AStillPointerArmsTheSelectedClickWhenTheCountExceedsTheThreshold) {
    struct Case {
        int threshold;
        float dx, dy;  // per frame
        std::optional<int> armedAt;
    };
    const Case cases[] = {{15, 0, 0, 16}, {50, 0, 0, std::nullopt}, {15, 5, 5, 16}, {2, -3, 1, 3}};
    for (const Case& c : cases) {
        mirror.m_nAutoClickDelay = c.threshold;
        floating->SelectButton(Float::kLeft);
        std::vector<int> bar;
        std::optional<int> armedAt;
        for (int tick = 1; tick <= 60 && !armedAt; ++tick) {
            Tick(c.dx, c.dy);
            bar.push_back(floating->Progress().value());
            if (mouse.GetButton() == CMouse::kButtonLeft) armedAt = tick;
        }
        EXPECT_EQ(armedAt, c.armedAt) << "threshold " << c.threshold << ", moving " << c.dx;
        // threshold, threshold - 1, ... 1, then 0 at the click; without a click it stays at 1.
        std::vector<int> counting;
        for (int tick = 1; tick <= static_cast<int>(bar.size()); ++tick)
            counting.push_back(std::max(c.threshold - tick + 1, armedAt ? 0 : 1));
        EXPECT_EQ(bar, counting) << "threshold " << c.threshold;
        Tick(c.dx, c.dy);
        const std::vector<std::uint32_t> click{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
        EXPECT_EQ(Buttons(), armedAt ? click : std::vector<std::uint32_t>{});
    }
    EXPECT_EQ(sound.played, 3) << "a sound at every run-out with a button selected";
}

TEST_F(AutoClick, DwellingOnTheWindowsButtonsSelectsThemAndClicksNothing) {
    // Starting from pause one sound, from a button two: one for the run-out, one for the choice.
    for (const auto& [from, sounds] : {std::pair{Float::kPause, 1}, std::pair{Float::kRight, 2}}) {
        floating->SelectButton(from);
        sound.played = 0;
        PointAt(Float::kLeft);
        EXPECT_EQ(TicksToArm(16), std::nullopt);
        EXPECT_EQ(floating->SelectedButton(), Float::kLeft);
        EXPECT_TRUE(floating->Button(Float::kLeft)->IsActive());
        EXPECT_FALSE(floating->Button(from)->IsActive());
        EXPECT_EQ(sound.played, sounds) << "from " << from;
    }
    mirror.m_bAutoClickSound = false;
    PointAt(Float::kPause);
    TicksToArm(16);
    EXPECT_EQ(floating->SelectedButton(), Float::kPause);
    EXPECT_EQ(Buttons(), std::vector<std::uint32_t>{});
    EXPECT_EQ(sound.played, 2) << "the sound is switched off";
}

TEST_F(AutoClick, PressingRightThenDoubleArmsARightDoubleClickAfterTheNextStillTime) {
    floating->show();
    QTest::mouseClick(floating->Button(Float::kRight), Qt::LeftButton);
    QTest::mouseClick(floating->Button(Float::kDouble), Qt::LeftButton);
    EXPECT_EQ(std::pair(floating->SelectedButton(), floating->SelectedKind()),
              std::pair(Float::kRight, Float::kDouble));
    QCursor::setPos(floating->geometry().bottomRight() + QPoint(50, 50));
    EXPECT_EQ(TicksToArm(20), 16);
    Tick();
    Tick();
    const std::uint32_t down = MOUSEEVENTF_RIGHTDOWN, up = MOUSEEVENTF_RIGHTUP;
    EXPECT_EQ(Buttons(), (std::vector<std::uint32_t>{down, up, down, up}));
}

TEST_F(AutoClick, ADragPressesOnOneDwellAndReleasesAndPausesOnTheNext) {
    mirror.m_nAutoClickDelay = 2;
    floating->SelectButton(Float::kLeft);
    floating->SelectKind(Float::kDrag);
    EXPECT_EQ(TicksToArm(5), 3);
    EXPECT_EQ(floating->SelectedKind(), Float::kDragging);
    EXPECT_EQ(floating->Button(Float::kDrag)->CurrentPicture(), CHoverButton::Picture::Alternative);
    Tick();
    Tick();
    EXPECT_EQ(Buttons(), (std::vector<std::uint32_t>{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTDOWN}));
    Tick();  // the third still tick after the press: released
    Tick();
    EXPECT_EQ(Buttons(), (std::vector<std::uint32_t>{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}));
    EXPECT_EQ(std::pair(floating->SelectedButton(), floating->SelectedKind()), std::pair(Float::kPause, Float::kDrag));
    EXPECT_EQ(floating->Button(Float::kDrag)->CurrentPicture(), CHoverButton::Picture::Active);

    // Pausing while the button is held lets it go, or it would stay down with nobody to release it.
    floating->SelectButton(Float::kRight);
    TicksToArm(5);
    Tick();  // pressed
    floating->SelectButton(Float::kPause);
    Tick();
    EXPECT_EQ(Buttons(), (std::vector<std::uint32_t>{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP}));
    EXPECT_EQ(floating->SelectedKind(), Float::kDrag);
}

TEST_F(AutoClick, WithMouseControlOffNothingIsArmedAndTheStillTimeStartsAgainWhenItComesBack) {
    floating->SelectButton(Float::kLeft);
    for (int tick = 0; tick < 10; ++tick) Tick();
    mirror.m_bMouseActive = false;
    EXPECT_EQ(TicksToArm(30), std::nullopt);
    mirror.m_bMouseActive = true;
    EXPECT_EQ(TicksToArm(20), 16);
}

TEST_F(AutoClick, TheWindowStartsPausedWithSingleClickAtItsStoredPlaceOrAtTheDefaultOne) {
    EXPECT_EQ(floating->pos(), QPoint(100, 100)) << "first start";
    EXPECT_TRUE(floating->Button(Float::kPause)->IsActive() && floating->Button(Float::kSingle)->IsActive());
    EXPECT_EQ(floating->windowTitle(), "Mivex!");
    EXPECT_TRUE(floating->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    for (int code = Float::kPause; code <= Float::kDrag; ++code)
        EXPECT_EQ(floating->Button(code)->toolTip(), code == Float::kPause ? "Pause button" : "") << code;
    // Where it was moved, it comes back; a place on no screen now attached gives the default.
    for (const auto& [moved, expected] :
         {std::pair(QPoint(300, 200), QPoint(300, 200)), std::pair(QPoint(5000, -4000), QPoint(100, 100))}) {
        floating->move(moved);
        MakeWindow();
        EXPECT_EQ(floating->pos(), expected);
    }
}

class AutoClickPage : public AutoClick {
protected:
    CmivexDlgClick& Page() {
        if (!page) {
            host = std::make_unique<PageHost>(PageHost{store, mirror, engine, mouse, floating.get(), &sound});
            page = std::make_unique<CmivexDlgClick>(*host);
            page->Activate();
        }
        return *page;
    }
    template <typename Widget>
    Widget* Control(const QString& accessibleNameOrText) {
        for (Widget* widget : Page().findChildren<Widget*>())
            if (widget->accessibleName() == accessibleNameOrText || widget->property("text") == accessibleNameOrText)
                return widget;
        return nullptr;
    }
    QString Seconds() { return Control<CUpDownField>("Seconds before auto click")->text(); }

    NoEngine engine{store};
    std::unique_ptr<PageHost> host;
    std::unique_ptr<CmivexDlgClick> page;
};

TEST_F(AutoClickPage, ReadsItsSettingsAndStoresEachStepClampedToTwoToFifty) {
    struct Case {
        std::optional<int> stored;
        QString shown;
        int step;
        int afterStep;
    };
    const Case cases[] = {{std::nullopt, "1.5", 1, 16}, {99, "9.9", -1, 50}, {1, "0.1", 1, 2}, {2, "0.2", -1, 2}};
    for (const Case& c : cases) {
        page.reset();
        if (c.stored) store.Write(Setting::kValueAutoClick, *c.stored);
        EXPECT_EQ(Seconds(), c.shown);
        EXPECT_EQ(mirror.m_nAutoClickDelay, c.stored.value_or(15)) << "used as stored";
        Control<CUpDownField>("Seconds before auto click")->stepBy(c.step);
        EXPECT_EQ(Page().Position(), c.afterStep);
        EXPECT_EQ(store.Read(Setting::kValueAutoClick), c.afterStep);
        EXPECT_EQ(mirror.m_nAutoClickDelay, c.afterStep);
    }
}

TEST_F(AutoClickPage, SwitchesAutoClickAndTheSoundAndSetsDefaults) {
    Page();
    EXPECT_FALSE(mirror.m_bAutoClick);
    EXPECT_FALSE(Control<CUpDownField>("Seconds before auto click")->isEnabled());
    QCheckBox* soundBox = Control<QCheckBox>("Play sound after auto click time");
    soundBox->click();
    EXPECT_EQ(std::tuple(store.ReadBool(Setting::kEnableAutoClickSound), mirror.m_bAutoClickSound.load(), sound.played),
              std::tuple(false, false, 0));
    soundBox->click();
    EXPECT_EQ(std::tuple(store.ReadBool(Setting::kEnableAutoClickSound), mirror.m_bAutoClickSound.load(), sound.played),
              std::tuple(true, true, 1))
        << "played once when switched on";
    soundBox->click();

    store.Write(Setting::kValueAutoClick, 40);
    floating->move(400, 300);
    Control<QPushButton>("Set Default")->click();
    EXPECT_EQ(std::tuple(Seconds(), store.Read(Setting::kValueAutoClick), mirror.m_nAutoClickDelay.load()),
              std::tuple(QString("1.5"), 15, 15));
    EXPECT_TRUE(soundBox->isChecked() && mirror.m_bAutoClickSound && store.ReadBool(Setting::kEnableAutoClickSound));
    EXPECT_EQ(floating->pos(), QPoint(100, 100));
    EXPECT_FALSE(store.Contains(Setting::kEnableAutoClick.section, Setting::kEnableAutoClick.key));
}

TEST_F(AutoClickPage, SwitchingAutoClickOffHidesTheWindowWhichComesBackPaused) {
    constexpr int kDeadlineMs = 5000;
    store.Write(Setting::kEnableAutoClick, 1);
    MakeWindow(Float::Ticks::Timer);
    std::atomic<bool> stopAll{false};
    CThreadFloat shower(*floating, mirror, stopAll);
    shower.Start();
    Page();
    ASSERT_TRUE(QTest::qWaitFor([&] { return floating->isVisible(); }, kDeadlineMs));
    floating->SelectButton(Float::kRight);
    QCheckBox* enable = Control<QCheckBox>("Enable auto click");
    enable->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !floating->isVisible(); }, kDeadlineMs));
    EXPECT_FALSE(store.ReadBool(Setting::kEnableAutoClick));
    enable->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return floating->isVisible(); }, kDeadlineMs));
    EXPECT_EQ(floating->SelectedButton(), Float::kPause);
    EXPECT_TRUE(floating->Button(Float::kPause)->IsActive());
}

TEST(ClickSound, WithoutTheFileOrASoundServerNothingIsPlayedAndTheReasonIsGivenOnce) {
    // No server can be reached at this address, wherever the test runs.
    test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/mivex-test/native");
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {"/nonexistent/click.wav", "click sound not played: cannot read /nonexistent/click.wav"},
        {ClickSoundFile(), "click sound not played: no sound server"}};
    for (const auto& [file, reason] : cases) {
        ASSERT_TRUE(file.string().starts_with("/nonexistent") || std::filesystem::exists(file))
            << file << " is not built: build the target mivex_click_sound";
        std::vector<std::string> reported;
        CClickSound player(file, [&](const std::string& line) { reported.push_back(line); });
        player.PlayClickSound();
        player.PlayClickSound();
        ASSERT_EQ(reported.size(), 1u) << file;
        EXPECT_TRUE(reported[0].starts_with(reason)) << reported[0];
    }
}

}  // namespace
