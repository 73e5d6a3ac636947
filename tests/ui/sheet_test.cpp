// The settings window offscreen (its pages' activation, the messages, the tray menu and ending
// the program) and the pages' tooltips. The real tray is tested in tray_test.cpp.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "about_dialog.h"
#include "main_sheet.h"
#include "page_tooltips.h"
#include "tooltip_strings.h"

namespace {

constexpr int kDeadlineMs = 5000;

// A page that writes what happens to it into a shared log, as "<title> <event>".
class RecordingPage : public CMyPropertyPageToolTips {
public:
    RecordingPage(const QString& title, QStringList& log) : m_log(log) { setWindowTitle(title); }
    void OnInitDialog() override { m_log << windowTitle() + " init"; }
    void OnSetActive() override { m_log << windowTitle() + " active"; }
    void OnOK() override {
        m_log << windowTitle() + " ok";
        CMyPropertyPageToolTips::OnOK();
    }

private:
    QStringList& m_log;
};

class Sheet : public testing::Test {
protected:
    static inline const QStringList kTitles = {"Settings", "System setup", "Hotkeys", "Auto click", "Flight", "Camera"};

    void SetUp() override {
        sheet.SetAboutDialog(&about);
        for (const QString& title : kTitles) sheet.AddPage(new RecordingPage(title, log));
    }
    void Post(int message, int wParam = 0) {
        PostSheetMessage(&sheet, message, wParam);
        QCoreApplication::sendPostedEvents();
    }
    QTabWidget& Tabs() { return *sheet.findChild<QTabWidget*>(); }

    QStringList log;
    std::atomic<bool> stopAll{false};
    CAboutDlg about;
    CmivexDlgMain sheet{stopAll};
    QSignalSpy closed{&sheet, &CmivexDlgMain::programClosed};
};

TEST_F(Sheet, ShowsATabPerPageAndInitialisesEachPageOnceOnItsFirstActivation) {
    ASSERT_EQ(sheet.PageCount(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Tabs().tabText(i), kTitles[i]);
    EXPECT_EQ(sheet.GetPage(6), nullptr);
    EXPECT_TRUE(log.isEmpty()) << "adding a page must not activate it";
    QStringList expected;
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(sheet.SetActivePage(i));
        expected << kTitles[i] + " init" << kTitles[i] + " active";
    }
    EXPECT_TRUE(sheet.SetActivePage(0));
    EXPECT_FALSE(sheet.SetActivePage(6));
    EXPECT_EQ(log, expected << "Settings active");
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    log.clear();
    Tabs().setCurrentIndex(5);  // as a click on the tab does
    EXPECT_EQ(log, QStringList({"Camera active"}));
}

TEST_F(Sheet, SetupFromAnyThreadShowsTheFirstPageEnabledAndOnlyAConfirmedHideHidesIt) {
    sheet.SetActivePage(4);
    sheet.setEnabled(false);
    log.clear();
    std::thread([&] { PostSheetMessage(&sheet, kMsgSetup); }).join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs));
    EXPECT_TRUE(sheet.isEnabled());
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    EXPECT_EQ(log, QStringList({"Settings init", "Settings active"}));
    Post(kMsgHide, 0);
    Post(kMsgHide, 2);
    EXPECT_TRUE(sheet.isVisible());
    Post(kMsgHide, kHideConfirmed);
    EXPECT_FALSE(sheet.isVisible());
}

TEST_F(Sheet, OkAsksTheCurrentPageToHideTheSheetAndCloseOrEscapeOnlyHide) {
    sheet.SetActivePage(2);
    sheet.show();
    log.clear();
    QTest::mouseClick(sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(log, QStringList({"Hotkeys ok"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet.isVisible(); }, kDeadlineMs));
    sheet.show();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
    sheet.show();
    EXPECT_FALSE(sheet.close());  // refused: the window stays, hidden
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(sheet.IsClosed());
    EXPECT_FALSE(stopAll.load());
}

TEST_F(Sheet, AboutShowsTheSharedBoxUpdateCallsItsWindowAndOtherMessagesDoNothing) {
    Post(kMsgAbout);
    ASSERT_TRUE(about.isVisible());
    const QString report = about.Report();
    about.hide();
    Post(kMsgAbout);
    EXPECT_TRUE(about.isVisible());
    EXPECT_EQ(about.Report(), report) << "the box was made again";
    about.hide();

    Post(kMsgUpdate);  // no update window set yet: nothing
    int updates = 0;
    sheet.SetUpdateWindow([&] { ++updates; });
    Post(kMsgUpdate);
    EXPECT_EQ(updates, 1);
    Post(kMsgNone);  // a dismissed tray menu
    Post(0x046B, kHideConfirmed);
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(sheet.isVisible() || about.isVisible() || sheet.IsClosed());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(Sheet, CloseProgramBeforeTheLoopSetsTheStopFlagOnceAndLeavesLaterModalLoopsRunning) {
    sheet.show();
    sheet.CloseProgram();
    EXPECT_TRUE(sheet.IsClosed());
    EXPECT_TRUE(stopAll.load());
    EXPECT_FALSE(sheet.isVisible());
    sheet.CloseProgram();
    EXPECT_EQ(closed.count(), 1);
    // A message box about the failed start runs a loop of its own; it must wait for its user.
    QEventLoop messageBox;
    QTimer::singleShot(50, &messageBox, [&] { messageBox.exit(7); });
    EXPECT_EQ(messageBox.exec(), 7);
}

TEST(TooltipStrings, TextsAreFoundByTheirIdOnly) {
    EXPECT_EQ(TooltipString(4), "Sets values in this dialog to the suggested default values");
    EXPECT_EQ(TooltipString(1006), QString::fromUtf8("Increases the mouse movement, when the slider is moved to the "
                                                     "right. In the left \xE2\x80\x93 right direction."));
    EXPECT_EQ(TooltipString(1300), "Mivex! & camera information");
    for (int id : {0, 3, 1003, 1301}) EXPECT_EQ(TooltipString(id), std::nullopt) << id;
}

// A page with a button, a spin box inside a container and a list box.
class PageToolTips : public testing::Test {
protected:
    static constexpr int kList = 5000;

    void Build(CMyPropertyPageToolTips::TooltipLookup lookup = {}) {
        page = std::make_unique<CMyPropertyPageToolTips>(nullptr, std::move(lookup));
        defaults = new QPushButton("Set Default", page.get());
        seconds = new QSpinBox(new QWidget(page.get()));
        list = new QListWidget(page.get());
        list->setGeometry(0, 100, 300, 200);
        list->addItems({"640 x 480", "320 x 240", "160 x 120"});
        SetControlId(defaults, 4);
        SetControlId(seconds, 1004);
        SetControlId(list, kList);
        page->resize(300, 300);
        page->Activate();  // the default initialisation adds the tooltips
        page->show();
    }
    // Sends the tooltip event the mouse resting at `at` over the widget makes.
    std::optional<QString> ShownAt(QWidget* widget, QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &help);
        std::optional<QString> shown;
        if (QToolTip::isVisible()) shown = QToolTip::text();
        QToolTip::hideText();
        return shown;
    }
    QPoint Item(int row) { return list->visualItemRect(list->item(row)).center(); }

    std::unique_ptr<CMyPropertyPageToolTips> page;
    QPushButton* defaults = nullptr;
    QSpinBox* seconds = nullptr;
    QListWidget* list = nullptr;
};

TEST_F(PageToolTips, ControlsShowTheirTableTextOnlyWhileEnabled) {
    Build();
    EXPECT_EQ(page->ToolText(defaults), *TooltipString(4));
    EXPECT_EQ(ShownAt(defaults, {5, 5}), std::nullopt) << "tooltips start disabled";
    page->SetToolTipsEnabled(true);
    EXPECT_EQ(ShownAt(defaults, {5, 5}), TooltipString(4));
    EXPECT_EQ(page->ToolTipAt(list->viewport(), {2, 2}), std::nullopt) << "id 5000 is not in the table";
    // A widget inside a control (nested in a container) answers with the control's tool.
    EXPECT_EQ(page->ToolTipAt(seconds->findChild<QLineEdit*>(), {2, 2}), TooltipString(1004));
}

TEST_F(PageToolTips, AnExpandingListBoxShowsTheItemUnderTheMouse) {
    Build([](int id) { return id == kList ? std::optional<QString>("ToolTipExpand") : TooltipString(id); });
    page->SetToolTipsEnabled(true);
    EXPECT_EQ(page->ToolTipAt(list, list->viewport()->mapTo(list, Item(1))), "320 x 240");
    EXPECT_EQ(page->ToolTipAt(list->viewport(), Item(2)), "160 x 120");
    EXPECT_EQ(page->ToolTipAt(list->viewport(), {5, list->viewport()->height() - 2}), std::nullopt)
        << "below the last item the marker text is never shown";
    EXPECT_EQ(ShownAt(list->viewport(), Item(0)), "640 x 480");
}

TEST_F(PageToolTips, AListBoxWithoutTheMarkerKeepsItsFixedText) {
    Build([](int id) { return id == kList ? std::optional<QString>("Resolutions") : std::nullopt; });
    page->SetToolTipsEnabled(true);
    EXPECT_EQ(page->ToolTipAt(list->viewport(), Item(0)), "Resolutions");
}

}  // namespace
