// The "Settings" and "System setup" pages through their widgets: the slider rows with their
// percentages, clamps, arrows and stores, "Set Default", the acceleration indicator, and the
// autostart entry that "Start Mivex! at startup" keeps.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "base/autostart_entry.h"
#include "tests/ui/page_fixture.h"
#include "ui/hover_button.h"
#include "ui/settings_page.h"
#include "ui/slider_row.h"
#include "ui/system_page.h"

namespace {

namespace fs = std::filesystem;

class MousePage : public PageFixture {
protected:
    CmivexDlgSettings& Page() {
        if (!m_page) {
            m_page = std::make_unique<CmivexDlgSettings>(host);
            m_page->Activate();
        }
        return *m_page;
    }
    QStringList Percentages() {
        QStringList shown;
        for (int row = 0; row < CmivexDlgSettings::kRowCount; ++row)
            shown << Page().SliderRow(CmivexDlgSettings::Row(row)).PercentField()->text();
        return shown;
    }
    // How many of the two acceleration rows' sliders, arrows and percentage fields are enabled.
    int AccelerationControlsEnabled() {
        int enabled = 0;
        for (const auto row : {CmivexDlgSettings::kAccWindow, CmivexDlgSettings::kAccAmount}) {
            const CSliderRow& r = Page().SliderRow(row);
            enabled += r.Slider()->isEnabled() + r.UpDown()->isEnabled() + r.PercentField()->isEnabled();
        }
        return enabled;
    }
    std::unique_ptr<CmivexDlgSettings> m_page;
};

TEST_F(MousePage, AnEmptyProfileShowsTheDefaultsWithAccelerationOffAndWritesNothing) {
    EXPECT_EQ(Percentages(), QStringList({"40%", "50%", "30%", "31%", "31%"}));
    EXPECT_FALSE(Page().AccelerationBox()->isChecked() || Page().DirectionBox()->isChecked());
    EXPECT_EQ(AccelerationControlsEnabled(), 0);
    EXPECT_EQ(std::pair(mirror.m_nSliderLrMouse.load(), mirror.m_nSliderAccMouse.load()), std::pair(8, 5));
    EXPECT_FALSE(fs::exists(home.SettingsFile())) << "what is shown is what a missing key reads as";
}

TEST_F(MousePage, StoredValuesOutOfRangeAreUsedAndStoredClampedAndSetDefaultStoresTheSuggestedValues) {
    for (const auto& [key, value] : {std::pair{&Setting::kAccMouse, 1},
                                     {&Setting::kLrMouse, 1},
                                     {&Setting::kSliderAccMouse, 7},
                                     {&Setting::kSliderLrMouse, 3},
                                     {&Setting::kSliderSmoothMouse, 1},
                                     {&Setting::kSliderUdMouse, 99}})
        store.Write(*key, value);
    EXPECT_EQ(Percentages()[CmivexDlgSettings::kSmooth], "20%");
    EXPECT_EQ(std::tuple(mirror.m_nSliderSmoothMouse.load(), store.Read(Setting::kSliderSmoothMouse),
                         mirror.m_nSliderUdMouse.load(), store.Read(Setting::kSliderUdMouse)),
              std::tuple(2, 2, 20, 20));
    EXPECT_TRUE(AccelerationControlsEnabled() == 6 && mirror.m_bLrMouse);

    Page().SetDefaultButton()->click();
    EXPECT_EQ(Percentages(), QStringList({"40%", "50%", "30%", "31%", "62%"}));
    EXPECT_FALSE(AccelerationControlsEnabled() || mirror.m_bAccMouse || mirror.m_bLrMouse);
    EXPECT_EQ(
        std::tuple(store.Read(Setting::kAccMouse), store.Read(Setting::kLrMouse), store.Read(Setting::kSliderAccMouse),
                   store.Read(Setting::kSliderLrMouse), mirror.m_nSliderAccMouse.load()),
        std::tuple(0, 0, 10, 8, 10));
}

TEST_F(MousePage, TheArrowsStepTheSliderByOneStoringEachStepAndStopAtItsEnds) {
    CSliderRow& smooth = Page().SliderRow(CmivexDlgSettings::kSmooth);
    for (const auto& [clicks, up, position, shown] :
         {std::tuple{1, true, 4, "40%"}, {20, true, 10, "100%"}, {20, false, 2, "20%"}}) {
        for (int i = 0; i < clicks; ++i) (up ? smooth.UpDown()->UpArrow() : smooth.UpDown()->DownArrow())->click();
        EXPECT_EQ(std::tuple(smooth.Position(), store.Read(Setting::kSliderSmoothMouse),
                             mirror.m_nSliderSmoothMouse.load(), smooth.PercentField()->text()),
                  std::tuple(position, position, position, QString(shown)));
        EXPECT_EQ(smooth.UpDown()->Position(), CUpDown::kCentre);
    }
}

TEST_F(MousePage, TheIndicatorIsBlankUntilAccelerationAppliesAndRefreshesOnlyWhileShown) {
    mirror.m_bAccelerating = true;
    EXPECT_TRUE(Page().Indicator()->pixmap().isNull()) << "blank at first";
    EXPECT_FALSE(mirror.m_bAccelerating) << "initialisation clears it";
    EXPECT_FALSE(Page().TimerRunning());
    Page().show();
    ASSERT_TRUE(Page().TimerRunning());
    mirror.m_bAccelerating = true;
    QTRY_VERIFY(Page().IndicatorShowsApplied());
    EXPECT_FALSE(Page().Indicator()->pixmap().isNull());
    mirror.m_bAccelerating = false;
    QTRY_VERIFY(!Page().IndicatorShowsApplied());
    EXPECT_FALSE(Page().Indicator()->pixmap().isNull()) << "the other picture, not blank";
    Page().hide();
    EXPECT_FALSE(Page().TimerRunning());
}

// The autostart entry is written in the private XDG_CONFIG_HOME of the fixture.
class SystemPage : public PageFixture {
protected:
    std::unique_ptr<CmivexDlgSystem> Init() {
        auto page = std::make_unique<CmivexDlgSystem>(host);
        page->Activate();
        return page;
    }
    fs::path Entry() const { return home.path() / "autostart" / kAutostartEntryName; }
};

TEST_F(SystemPage, TheMouseBoxShowsTheStoredChoiceAndMouseControlFollowsItUnlessARestartAlreadyRestoredIt) {
    store.Write(Setting::kUseMouse, 1);
    EXPECT_TRUE(Init()->MouseAtStartBox()->isChecked() && mirror.m_bMouseActive);

    // Mouse control already on, as after a restart: it stays on, and the box shows what is stored.
    for (const int stored : {1, 0}) {
        store.Write(Setting::kUseMouse, stored);
        EXPECT_EQ(std::pair(Init()->MouseAtStartBox()->isChecked(), mirror.m_bMouseActive.load()),
                  std::pair(stored == 1, true));
    }
    auto page = Init();
    page->MouseAtStartBox()->click();
    page->MouseAtStartBox()->click();
    EXPECT_FALSE(mirror.m_bMouseActive) << "a click switches mouse control at once";
    EXPECT_EQ(store.Read(Setting::kUseMouse), 0);
}

TEST_F(SystemPage, TheShakeBoxShowsTheStoredChoiceAndEachClickStoresItAndSwitchesTheShakeAtOnce) {
    EXPECT_FALSE(Init()->ShakeToggleBox()->isChecked() || mirror.m_bShakeToggle) << "off by default";
    store.Write(Setting::kShakeToggle, 1);
    auto page = Init();
    EXPECT_TRUE(page->ShakeToggleBox()->isChecked() && mirror.m_bShakeToggle);
    for (const int checked : {0, 1}) {
        page->ShakeToggleBox()->click();
        EXPECT_EQ(std::pair(store.Read(Setting::kShakeToggle), mirror.m_bShakeToggle.load()),
                  std::pair(checked, checked == 1));
    }
}

TEST_F(SystemPage, SwitchingMouseControlOffLetsGoOfTheButtonADragHolds) {
    store.Write(Setting::kUseMouse, 1);
    auto page = Init();
    mouse.Arm(CMouse::kButtonLeft, CMouse::kClickHold);
    page->MouseAtStartBox()->click();
    EXPECT_EQ(injector.Events(),
              (std::vector{InputEvent::Mouse(MOUSEEVENTF_LEFTUP), InputEvent::Mouse(MOUSEEVENTF_MIDDLEUP)}));
}

TEST_F(SystemPage, TheAutostartEntryFollowsTheStoredSettingAtEveryStartAndEveryClick) {
    store.Write(Setting::kStartupProgram, 1);
    EXPECT_TRUE(Init()->StartAtLoginBox()->isChecked());
    ASSERT_TRUE(fs::exists(Entry()));
    fs::remove(Entry());
    auto page = Init();
    EXPECT_TRUE(fs::exists(Entry())) << "an entry deleted by hand comes back at the next start";

    for (const int checked : {0, 1, 0}) {
        page->StartAtLoginBox()->click();
        EXPECT_EQ(std::pair(store.Read(Setting::kStartupProgram), fs::exists(Entry())),
                  std::pair(checked, checked == 1));
    }

    // A folder that cannot be made changes nothing but the setting.
    test::WriteFile(home.path() / "autostart", "not a folder");
    page->StartAtLoginBox()->click();
    EXPECT_EQ(store.Read(Setting::kStartupProgram), 1);
}

TEST(AutostartEntry, PassesTheValidatorAndItsExecLineStartsTheProgramWhateverItsPathHolds) {
    const char* validator = "/usr/bin/desktop-file-validate";
    ASSERT_TRUE(fs::exists(validator)) << validator << " is missing: run tools/install-deps.sh (desktop-file-utils)";
    for (const std::string name : {"mivex", "my programs/mivex", R"(odd "quoted" $HOME `x` 100% back\slash)"}) {
        test::TempConfigHome home;
        const fs::path program = home.path() / "bin" / name, marker = home.path() / "started";
        test::WriteFile(program, "#!/bin/sh\necho started > '" + marker.string() + "'\n");
        fs::permissions(program, fs::perms::owner_all);
        std::string error;
        ASSERT_TRUE(SetRunAtStartup(true, program, error)) << error;
        const fs::path entry = home.path() / "autostart" / kAutostartEntryName;
        const std::string check = std::string(validator) + " '" + entry.string() + "' 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << name;

        // A launcher undoes the key file's escapes and the field codes, then the shell's quoting.
        const std::string text = test::ReadFile(entry);
        const std::size_t start = text.find("\nExec=") + 6;
        QString exec = QString::fromStdString(text.substr(start, text.find('\n', start) - start));
        const std::string command = exec.replace("\\\\", "\\").replace("%%", "%").toStdString();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(test::ReadFile(marker), "started\n") << "Exec=" << command;
    }
    // Without an absolute path there is nothing to start: refused, and no entry written.
    test::TempConfigHome home;
    for (const char* program : {"", "mivex"}) {
        std::string error;
        EXPECT_FALSE(SetRunAtStartup(true, program, error)) << program;
        EXPECT_NE(error.find("absolute path"), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(home.path() / "autostart" / kAutostartEntryName));
}

}  // namespace
