// The settings window offscreen: page activation, the messages, the tray menu and ending the
// program. The real tray is tested in tray_test.cpp.
#include "main_sheet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "about_dialog.h"
#include "page_tooltips.h"
#include "tooltip_strings.h"

namespace {

constexpr int kDeadlineMs = 5000;

// A page that writes what happens to it into a shared log, as "<title> <event>".
class RecordingPage : public CMyPropertyPageToolTips {
public:
    RecordingPage(const QString& title, QStringList& log) : m_log(log) { setWindowTitle(title); }

    void OnInitDialog() override {
        m_log << windowTitle() + " init";
        CMyPropertyPageToolTips::OnInitDialog();
    }
    void OnSetActive() override { m_log << windowTitle() + " active"; }
    void OnOK() override {
        m_log << windowTitle() + " ok";
        CMyPropertyPageToolTips::OnOK();
    }

private:
    QStringList& m_log;
};

TEST(PageLifecycle, DefaultInitialisationAddsTheTooltips) {
    CMyPropertyPageToolTips page;
    auto* button = new QPushButton("Set Default", &page);
    SetControlId(button, 4);
    page.SetToolTipsEnabled(true);
    EXPECT_TRUE(page.ToolText(button).isEmpty());
    page.Activate();
    EXPECT_EQ(page.ToolText(button), *TooltipString(4));
}

class Sheet : public testing::Test {
protected:
    static inline const QStringList kTitles = {"Settings", "System setup", "Hotkeys",
                                               "Auto click", "Flight", "Camera"};

    void SetUp() override {
        sheet.SetAboutDialog(&about);
        for (const QString& title : kTitles) {
            pages.push_back(new RecordingPage(title, log));
            sheet.AddPage(pages.back());
        }
    }

    void Post(int message, int wParam = 0) {
        PostSheetMessage(&sheet, message, wParam);
        QCoreApplication::sendPostedEvents();
    }

    QTabWidget& Tabs() { return *sheet.findChild<QTabWidget*>(); }

    QPushButton& OkButton() {
        return *sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    }

    QStringList log;
    std::vector<RecordingPage*> pages;
    std::atomic<bool> stopAll{false};
    CAboutDlg about;
    CmivexDlgMain sheet{stopAll};
};

TEST_F(Sheet, StartsHiddenWithItsCaptionAndOneTabPerPage) {
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.windowTitle(), "Kordo Mivex!");
    EXPECT_FALSE(sheet.windowIcon().isNull());
    ASSERT_EQ(sheet.PageCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Tabs().tabText(i), kTitles[i]);
        EXPECT_EQ(sheet.GetPage(i), pages[i]);
    }
    EXPECT_EQ(sheet.GetPage(6), nullptr);
    EXPECT_TRUE(log.isEmpty()) << "adding a page must not activate it";
}

TEST_F(Sheet, ActivatingEveryPageWhileHiddenInitialisesEachOnceInOrder) {
    for (int i = 0; i < sheet.PageCount(); ++i) {
        EXPECT_TRUE(sheet.SetActivePage(i));
    }
    EXPECT_TRUE(sheet.SetActivePage(0));
    EXPECT_FALSE(sheet.SetActivePage(6));
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    EXPECT_EQ(log, QStringList({"Settings init", "Settings active", "System setup init",
                                "System setup active", "Hotkeys init", "Hotkeys active",
                                "Auto click init", "Auto click active", "Flight init",
                                "Flight active", "Camera init", "Camera active",
                                "Settings active"}));

    log.clear();
    Tabs().setCurrentIndex(5);  // as a click on the tab does
    EXPECT_EQ(log, QStringList({"Camera active"}));
}

TEST_F(Sheet, OkAsksTheCurrentPageWhichHidesTheSheet) {
    sheet.SetActivePage(2);
    sheet.show();
    log.clear();
    QTest::mouseClick(&OkButton(), Qt::LeftButton);
    EXPECT_EQ(log, QStringList({"Hotkeys ok"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet.isVisible(); }, kDeadlineMs));
    EXPECT_FALSE(sheet.IsClosed());
}

TEST_F(Sheet, HideRequestHidesOnlyWithItsConfirmation) {
    sheet.show();
    Post(kMsgHide, 0);
    Post(kMsgHide, 2);
    EXPECT_TRUE(sheet.isVisible());
    Post(kMsgHide, kHideConfirmed);
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(Sheet, SetupShowsTheFirstTabEnabled) {
    sheet.SetActivePage(4);
    sheet.setEnabled(false);
    log.clear();
    Post(kMsgSetup);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(sheet.isEnabled());
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    EXPECT_EQ(log, QStringList({"Settings init", "Settings active"}));
}

TEST_F(Sheet, MessagesPostedFromAnotherThreadArrive) {
    std::thread poster([&] { PostSheetMessage(&sheet, kMsgSetup); });
    poster.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs));
}

TEST_F(Sheet, AboutTwiceShowsTheSameBoxWithItsFirstReport) {
    Post(kMsgAbout);
    ASSERT_TRUE(about.isVisible());
    const QString report = about.Report();
    about.hide();
    Post(kMsgAbout);
    EXPECT_TRUE(about.isVisible());
    EXPECT_EQ(about.Report(), report);
    EXPECT_EQ(sheet.findChildren<CAboutDlg*>().size(), 0) << "the sheet made a box of its own";
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(Sheet, UpdateCallsItsWindowAndOtherMessagesDoNothing) {
    Post(kMsgUpdate);  // no update window set yet: nothing
    int updates = 0;
    sheet.SetUpdateWindow([&] { ++updates; });
    Post(kMsgUpdate);
    EXPECT_EQ(updates, 1);

    Post(kMsgNone);  // a dismissed tray menu
    Post(0x046B, kHideConfirmed);
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(about.isVisible());
    EXPECT_FALSE(sheet.IsClosed());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(Sheet, CloseButtonAndEscapeOnlyHide) {
    sheet.show();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
    sheet.show();
    EXPECT_FALSE(sheet.close());  // refused: the window stays, hidden
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(sheet.IsClosed());
    EXPECT_FALSE(stopAll.load());
}

TEST_F(Sheet, TrayMenuHoldsItsItemsInOrderWithTheirMessages) {
    const std::unique_ptr<QMenu> menu = sheet.BuildTrayMenu();
    QStringList items;
    for (QAction* action : menu->actions()) {
        items << (action->isSeparator() ? QString("-")
                                        : action->text() + " " + action->data().toString());
    }
    EXPECT_EQ(items,
              QStringList({"Setup 1127", "-", "Update 1130", "About 1129", "-", "E&xit 1128"}));
}

class CloseProgram : public Sheet {
protected:
    QSignalSpy closed{&sheet, &CmivexDlgMain::programClosed};
};

TEST_F(CloseProgram, BeforeTheLoopSetsTheStopFlagAndIsHarmlessTwice) {
    sheet.show();
    sheet.CloseProgram();
    EXPECT_TRUE(sheet.IsClosed());
    EXPECT_TRUE(stopAll.load());
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(sheet.IsTrayIconShown());
    sheet.CloseProgram();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(stopAll.load());
}

TEST_F(CloseProgram, BeforeTheLoopLeavesLaterModalLoopsRunning) {
    sheet.CloseProgram();
    // A message box about the failed start runs a loop of its own; it must wait for its user.
    QEventLoop messageBox;
    QTimer::singleShot(50, &messageBox, [&] { messageBox.exit(7); });
    EXPECT_EQ(messageBox.exec(), 7);
}

TEST_F(CloseProgram, EndsTheRunningEventLoop) {
    QTimer::singleShot(0, &sheet, [&] { PostSheetMessage(&sheet, kMsgExit); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(kDeadlineMs);
    EXPECT_EQ(QApplication::exec(), 0) << "the loop did not end";
    EXPECT_TRUE(sheet.IsClosed());
    EXPECT_TRUE(stopAll.load());
    EXPECT_EQ(closed.count(), 1);
}

}  // namespace
