// The "Settings" and "System setup" pages through their widgets: the slider rows with their
// percentages, clamps, arrows and stores, "Set Default", the acceleration indicator, and the
// autostart entry that "Start Mivex! at startup" keeps.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "autostart_entry.h"
#include "hover_button.h"
#include "page_fixture.h"
#include "paths.h"
#include "profile_dialog.h"
#include "settings_page.h"
#include "slider_row.h"
#include "system_page.h"

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
    bool AccelerationRowsEnabled() {
        return Page().SliderRow(CmivexDlgSettings::kAccWindow).Slider()->isEnabled() &&
               Page().SliderRow(CmivexDlgSettings::kAccAmount).UpDown()->isEnabled();
    }
    std::unique_ptr<CmivexDlgSettings> m_page;
};

TEST_F(MousePage, AnEmptyProfileShowsTheDefaultsWithAccelerationOffAndWritesNothing) {
    EXPECT_EQ(Percentages(), QStringList({"40%", "50%", "30%", "31%", "31%"}));
    EXPECT_FALSE(Page().AccelerationBox()->isChecked());
    EXPECT_FALSE(AccelerationRowsEnabled());
    EXPECT_FALSE(Page().DirectionBox()->isChecked());
    EXPECT_EQ(mirror.m_nSliderLrMouse, 8);
    EXPECT_EQ(mirror.m_nSliderAccMouse, 5);
    EXPECT_FALSE(fs::exists(home.SettingsFile())) << "what is shown is what a missing key reads as";
}

TEST_F(MousePage, SetDefaultTurnsAccelerationOffAndStoresTheSuggestedValues) {
    store.Write(Setting::kAccMouse, 1);
    store.Write(Setting::kLrMouse, 1);
    store.Write(Setting::kSliderAccMouse, 7);
    store.Write(Setting::kSliderLrMouse, 3);
    EXPECT_TRUE(AccelerationRowsEnabled());
    EXPECT_TRUE(mirror.m_bLrMouse);

    Page().SetDefaultButton()->click();
    EXPECT_EQ(Percentages(), QStringList({"40%", "50%", "30%", "31%", "62%"}));
    EXPECT_FALSE(AccelerationRowsEnabled());
    EXPECT_FALSE(mirror.m_bAccMouse);
    EXPECT_FALSE(mirror.m_bLrMouse);
    EXPECT_EQ(store.Read(Setting::kAccMouse), 0);
    EXPECT_EQ(store.Read(Setting::kLrMouse), 0);
    EXPECT_EQ(store.Read(Setting::kSliderAccMouse), 10);
    EXPECT_EQ(store.Read(Setting::kSliderLrMouse), 8);
    EXPECT_EQ(mirror.m_nSliderAccMouse, 10);
}

TEST_F(MousePage, AStoredValueOutsideTheRangeIsShownUsedAndStoredClamped) {
    store.Write(Setting::kSliderSmoothMouse, 1);
    store.Write(Setting::kSliderUdMouse, 99);
    EXPECT_EQ(Percentages()[CmivexDlgSettings::kSmooth], "20%");
    EXPECT_EQ(mirror.m_nSliderSmoothMouse, 2);
    EXPECT_EQ(store.Read(Setting::kSliderSmoothMouse), 2);
    EXPECT_EQ(mirror.m_nSliderUdMouse, 20);
    EXPECT_EQ(store.Read(Setting::kSliderUdMouse), 20);
}

TEST_F(MousePage, TheArrowsStepTheSliderByOneAndStopAtItsEnds) {
    CSliderRow& smooth = Page().SliderRow(CmivexDlgSettings::kSmooth);
    smooth.UpDown()->UpArrow()->click();
    EXPECT_EQ(smooth.Position(), 4);
    EXPECT_EQ(store.Read(Setting::kSliderSmoothMouse), 4);
    EXPECT_EQ(mirror.m_nSliderSmoothMouse, 4);
    EXPECT_EQ(smooth.PercentField()->text(), "40%");
    EXPECT_EQ(smooth.UpDown()->Position(), CUpDown::kCentre);
    for (int i = 0; i < 20; ++i) smooth.UpDown()->UpArrow()->click();
    EXPECT_EQ(smooth.Position(), 10);
    for (int i = 0; i < 20; ++i) smooth.UpDown()->DownArrow()->click();
    EXPECT_EQ(smooth.Position(), 2);
    EXPECT_EQ(smooth.UpDown()->Position(), CUpDown::kCentre);
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

TEST_F(MousePage, TheProfileButtonShowsTheSpeedProfileDialog) {
    CmivexDlgProfile dialog(store, engine, profileLink);
    dialog.OnInitDialog();
    profileLink.Attach(&dialog);
    Page().ProfileButton()->click();
    EXPECT_TRUE(dialog.isVisible());
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

TEST_F(SystemPage, MouseControlFollowsTheStoredChoiceUnlessARestartAlreadyRestoredIt) {
    store.Write(Setting::kUseMouse, 1);
    EXPECT_TRUE(Init()->MouseAtStartBox()->isChecked());
    EXPECT_TRUE(mirror.m_bMouseActive);

    store.Write(Setting::kUseMouse, 0);  // mouse control already on, as after a restart: it stays on
    auto page = Init();
    EXPECT_TRUE(mirror.m_bMouseActive);
    EXPECT_FALSE(page->MouseAtStartBox()->isChecked());
    page->MouseAtStartBox()->click();
    page->MouseAtStartBox()->click();
    EXPECT_FALSE(mirror.m_bMouseActive) << "a click switches mouse control at once";
    EXPECT_EQ(store.Read(Setting::kUseMouse), 0);
}

TEST_F(SystemPage, TheAutostartEntryFollowsTheStoredSettingAtEveryStartAndEveryClick) {
    store.Write(Setting::kStartupProgram, 1);
    EXPECT_FALSE(Init()->StartAtLoginBox()->isChecked());
    ASSERT_TRUE(fs::exists(Entry()));
    fs::remove(Entry());
    auto page = Init();
    EXPECT_TRUE(fs::exists(Entry())) << "an entry deleted by hand comes back at the next start";
    const std::string text = test::ReadFile(Entry());
    EXPECT_NE(text.find("\nExec=\"" + RunningExecutable().string() + "\"\n"), std::string::npos) << text;

    page->StartAtLoginBox()->click();
    EXPECT_EQ(store.Read(Setting::kStartupProgram), 1);
    EXPECT_TRUE(fs::exists(Entry()));
    page->StartAtLoginBox()->click();
    EXPECT_EQ(store.Read(Setting::kStartupProgram), 0);
    EXPECT_FALSE(fs::exists(Entry()));

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
}

}  // namespace
