// The widgets offscreen: the settings window (its pages' activation, the messages and ending the
// program), the pages' tooltips, the label, the hover button and the about box. The real tray is
// tested in tray_test.cpp.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/system_version.h"
#include "base/version_info.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "profile/speed_profile.h"
#include "tests/support/test_support.h"
#include "tests/ui/fake_engine.h"
#include "tests/ui/page_fixture.h"
#include "ui/about_dialog.h"
#include "ui/camera_page.h"
#include "ui/hover_button.h"
#include "ui/label.h"
#include "ui/main_sheet.h"
#include "ui/page_tooltips.h"
#include "ui/settings_pages.h"
#include "ui/tooltip_strings.h"

namespace {

constexpr int kDeadlineMs = 5000;

// A page that writes what happens to it into a shared log, as "<title> <event>".
struct RecordingPage : CMyPropertyPageToolTips {
    RecordingPage(const QString& title, QStringList& log) : log(log) { setWindowTitle(title); }
    void OnInitDialog() override { log << windowTitle() + " init"; }
    void OnSetActive() override { log << windowTitle() + " active"; }
    void OnOK() override {
        log << windowTitle() + " ok";
        CMyPropertyPageToolTips::OnOK();
    }
    QStringList& log;
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

TEST_F(Sheet, ActivatesThePageOfEachTabAndInitialisesEachPageOnceOnItsFirstActivation) {
    EXPECT_TRUE(log.isEmpty()) << "adding a page must not activate it";
    QStringList expected;
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(sheet.SetActivePage(i));
        expected << kTitles[i] + " init" << kTitles[i] + " active";
    }
    EXPECT_TRUE(sheet.SetActivePage(0) && !sheet.SetActivePage(6));
    EXPECT_EQ(log, expected << "Settings active");
    EXPECT_EQ(std::pair(sheet.isVisible(), sheet.GetActiveIndex()), std::pair(false, 0));
    log.clear();
    Tabs().setCurrentIndex(5);  // as a click on the tab does
    EXPECT_EQ(log, QStringList({"Camera active"}));
}

// The program's six pages in a window.
class SettingsPages : public PageFixture {
protected:
    void SetUp() override { AddSettingsPages(sheet, host); }
    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet{stopAll};
};

TEST_F(SettingsPages, ComeFromTheTableAndStartUpInitialisesEachOnceLeavingTheSettingsPageCurrent) {
    QTabWidget& tabs = *sheet.findChild<QTabWidget*>();
    QStringList activated;
    QObject::connect(&tabs, &QTabWidget::currentChanged, [&](int index) { activated << tabs.tabText(index); });
    ActivateSettingsPagesOnce(sheet);
    EXPECT_EQ(activated, QStringList({"System setup", "Auto click", "Flight", "Hotkeys", "Camera", "Settings"}));
    for (int i = 0; i < sheet.PageCount(); ++i) EXPECT_TRUE(sheet.GetPage(i)->IsInitialised()) << i;
    EXPECT_EQ(std::pair(sheet.GetActiveIndex(), sheet.isVisible()),
              std::pair(SettingsPageIndex(SettingsPage::Settings), false));
}

TEST_F(SettingsPages, EveryTabHasTheWindowsOneOkWhichTabReachesAfterThePagesControls) {
    ActivateSettingsPagesOnce(sheet);
    const auto* camera = static_cast<CmivexDlgCamera*>(sheet.GetPage(SettingsPageIndex(SettingsPage::Camera)));
    QPushButton* ok = sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    QList<QPushButton*> oks = sheet.findChildren<QPushButton*>();
    oks.removeIf([](const QPushButton* button) { return button->text() != "OK"; });
    EXPECT_EQ(oks, QList<QPushButton*>({ok}));

    sheet.show();
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    for (int tab = 0; tab < sheet.PageCount(); ++tab) {
        sheet.SetActivePage(tab);
        sheet.findChild<QTabBar*>()->setFocus();
        QWidgetList outside;
        int inside = 0;
        for (int step = 0; step < 40 && QApplication::focusWidget() != ok; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            if (focus == ok) break;
            sheet.GetPage(tab)->isAncestorOf(focus) ? ++inside : (outside << focus, 0);
            // A read-only number shows no focus: no Tab stop.
            EXPECT_NE(focus, camera->FpsCamera());
        }
        EXPECT_EQ(QApplication::focusWidget(), ok) << tab;
        EXPECT_GT(inside, 0) << "Tab went from the tab bar past the page to OK, on tab " << tab;
        EXPECT_EQ(outside, QWidgetList()) << tab;
    }
}

TEST_F(SettingsPages, EveryCheckBoxToggledThroughTheAccessibilityBusStoresItsSetting) {
    ActivateSettingsPagesOnce(sheet);
    const std::pair<QString, const SettingKey*> boxes[] = {
        {"Enable mouse acceleration", &Setting::kAccMouse},
        {"Change mouse direction Left <-> Right", &Setting::kLrMouse},
        {"Start Mivex! at startup", &Setting::kStartupProgram},
        {"Enable mouse at startup", &Setting::kUseMouse},
        {"Enable auto click", &Setting::kEnableAutoClick},
        {"Play sound after auto click time", &Setting::kEnableAutoClickSound},
        {"Pause clicks while no face is followed", &Setting::kPauseClicksWithoutFace},
        {"A rest means the pointer stays in place", &Setting::kRestInPlace},
        {"Detect Flightsimulator", &Setting::kFlight},
        {"Centre camera automatically", &Setting::kFlightAutoCenter},
        {"Limit mouse movement", &Setting::kMouseLimit},
    };
    const QList<QCheckBox*> all = sheet.findChildren<QCheckBox*>();
    for (const auto& [text, key] : boxes) {
        const auto box = std::find_if(all.begin(), all.end(), [&](QCheckBox* b) { return b->text() == text; });
        ASSERT_NE(box, all.end()) << text.toStdString();
        const bool was = (*box)->isChecked();
        QAccessible::queryAccessibleInterface(*box)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(std::pair((*box)->isChecked(), store.ReadBool(*key)), std::pair(!was, !was)) << text.toStdString();
    }
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
    EXPECT_FALSE(sheet.isVisible() || sheet.IsClosed() || stopAll);
}

TEST_F(Sheet, MessagesShowTheSheetTheAboutBoxOrTheUpdateWindowAndOthersNothing) {
    Post(kMsgUpdate);  // no update window yet: nothing
    int updates = 0;
    sheet.SetUpdateWindow([&] { ++updates; });
    sheet.SetActivePage(4);
    sheet.setEnabled(false);
    log.clear();
    std::thread([&] { PostSheetMessage(&sheet, kMsgSetup); }).join();  // any thread may post
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs));
    EXPECT_EQ(std::pair(sheet.isEnabled(), sheet.GetActiveIndex()), std::pair(true, 0));
    EXPECT_EQ(log, QStringList({"Settings init", "Settings active"}));
    // Each message in turn, then whether the sheet and the about box show and how often the update
    // window was asked for.
    // clang-format off
    const std::tuple<int, int, bool, bool, int> cases[] = {
        {kMsgHide, 0, true, false, 0},     {kMsgHide, 2, true, false, 0}, {kMsgHide, kHideConfirmed, false, false, 0},
        {kMsgAbout, 0, false, true, 0},    {kMsgUpdate, 0, false, true, 1},
        {kMsgNone, 0, false, true, 1},  // a tray menu dismissed
        {0x046B, kHideConfirmed, false, true, 1}};
    // clang-format on
    for (const auto& [message, wParam, sheetUp, aboutUp, asked] : cases) {
        Post(message, wParam);
        EXPECT_EQ(std::tuple(sheet.isVisible(), about.isVisible(), updates), std::tuple(sheetUp, aboutUp, asked))
            << "message 0x" << std::hex << message << ", " << wParam;
    }
    EXPECT_FALSE(sheet.IsClosed());
}

// Offscreen there is no tray: the row carries the tray menu's commands after OK, each reached by
// Tab, pressed by Space or through the accessibility bus, and doing what the menu's item does.
TEST_F(Sheet, WithoutATrayTheRowCarriesUpdateAboutAndExitAfterOkWhichActAsTheTrayMenusItems) {
    int updates = 0;
    sheet.SetUpdateWindow([&] { ++updates; });
    sheet.show();
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->setFocus();
    QList<QPushButton*> row;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        row << qobject_cast<QPushButton*>(QApplication::focusWidget());
        ASSERT_NE(row.last(), nullptr) << i;
    }
    QStringList names;
    for (QPushButton* button : row) names << button->accessibleName();
    ASSERT_EQ(names, QStringList({"Update", "About", "Exit"}));

    QTest::keyClick(row[0], Qt::Key_Space);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(updates, 1);
    QAccessible::queryAccessibleInterface(row[1])->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return about.isVisible(); }, kDeadlineMs));  // an animated click
    EXPECT_FALSE(sheet.IsClosed());
    QTest::keyClick(row[2], Qt::Key_Space);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(sheet.IsClosed() && stopAll && !sheet.isVisible());
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(Sheet, CloseProgramBeforeTheLoopSetsTheStopFlagOnceAndLeavesLaterModalLoopsRunning) {
    sheet.show();
    sheet.CloseProgram();
    EXPECT_TRUE(sheet.IsClosed() && stopAll && !sheet.isVisible());
    sheet.CloseProgram();
    EXPECT_EQ(closed.count(), 1);
    // A message box about the failed start runs a loop of its own; it must wait for its user.
    QEventLoop messageBox;
    QTimer::singleShot(50, &messageBox, [&] { messageBox.exit(7); });
    EXPECT_EQ(messageBox.exec(), 7);
}

TEST(TooltipStrings, TextsAreFoundByTheirIdOnly) {
    EXPECT_EQ(TooltipString(1006), QString::fromUtf8("Increases the mouse movement, when the slider is moved to the "
                                                     "right. In the left \xE2\x80\x93 right direction."));
    for (int id : {4, 1300}) EXPECT_TRUE(TooltipString(id)) << "the first and the last entry, " << id;
    for (int id : {0, 3, 1003, 1301}) EXPECT_EQ(TooltipString(id), std::nullopt) << id;
}

// A page with a button, a spin box inside a container and a list box.
class PageToolTips : public testing::Test {
protected:
    static constexpr int kList = 5000;

    // The list box's entry is `listText`, the others' the program's own.
    void Build(const char* listText) {
        page = std::make_unique<CMyPropertyPageToolTips>(
            nullptr, [listText](int id) { return id == kList ? std::optional<QString>(listText) : TooltipString(id); });
        defaults = new QPushButton("Set Default", page.get());
        seconds = new QSpinBox(new QWidget(page.get()));
        list = new QListWidget(page.get());
        list->setGeometry(0, 100, 300, 200);
        list->addItems({"640 x 480", "320 x 240", "160 x 120"});
        SetControlId(defaults, 4);
        SetControlId(seconds, 1004);
        SetControlId(list, kList);
        page->Activate();  // the default initialisation adds the tooltips
        page->show();
    }
    // What the tooltip event of the mouse resting at `at` over the widget shows.
    std::optional<QString> ShownAt(QWidget* widget, QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &help);
        const std::optional<QString> shown = QToolTip::isVisible() ? std::optional(QToolTip::text()) : std::nullopt;
        QToolTip::hideText();
        return shown;
    }
    QPoint Item(int row) { return list->visualItemRect(list->item(row)).center(); }

    std::unique_ptr<CMyPropertyPageToolTips> page;
    QPushButton* defaults = nullptr;
    QSpinBox* seconds = nullptr;
    QListWidget* list = nullptr;
};

TEST_F(PageToolTips, ControlsShowTheirTableTextOnlyWhileEnabledAndAnExpandingListBoxTheItemUnderTheMouse) {
    Build("Resolutions");
    EXPECT_EQ(ShownAt(defaults, {5, 5}), std::nullopt) << "tooltips start disabled";
    page->SetToolTipsEnabled(true);
    EXPECT_EQ(ShownAt(defaults, {5, 5}), TooltipString(4));
    // A widget inside a control answers with the control's tool; one outside every control, none.
    EXPECT_EQ(page->ToolTipAt(seconds->findChild<QLineEdit*>(), {2, 2}), TooltipString(1004));
    EXPECT_EQ(page->ToolTipAt(list->viewport(), Item(0)), "Resolutions");
    EXPECT_EQ(page->ToolTipAt(seconds->parentWidget(), {1, 1}), std::nullopt);

    // A list box whose text is the marker shows the item under the mouse.
    Build("ToolTipExpand");
    page->SetToolTipsEnabled(true);
    EXPECT_EQ(page->ToolTipAt(list, list->viewport()->mapTo(list, Item(1))), "320 x 240");
    EXPECT_EQ(page->ToolTipAt(list->viewport(), Item(2)), "160 x 120");
    EXPECT_EQ(page->ToolTipAt(list->viewport(), {5, list->viewport()->height() - 2}), std::nullopt)
        << "below the last item the marker text is never shown";
    EXPECT_EQ(ShownAt(list->viewport(), Item(0)), "640 x 480");
}

QRgb Rgb(const QColor& colour) { return colour.rgb(); }
QRgb PaintedAt(QWidget& widget, QPoint at) { return widget.grab().toImage().pixel(at); }

TEST(Label, GradientStepsInAtMostAHundredBandsTheLastReachingTheRightEdge) {
    using Pixels = std::vector<std::pair<int, QColor>>;  // x, colour
    const std::tuple<int, QColor, Pixels> cases[] = {
        // 100 bands of 2 pixels, the last one 52 wide; steps of 2.0 and 1.0 in 8.8 fixed point.
        {250,
         {200, 100, 0},
         {{0, Qt::black}, {2, {2, 1, 0}}, {100, {100, 50, 0}}, {198, {198, 99, 0}}, {249, {198, 99, 0}}}},
        // Narrower than a hundred pixels: a band per pixel.
        {10, {100, 0, 0}, {{0, Qt::black}, {1, {10, 0, 0}}, {5, {50, 0, 0}}, {9, {90, 0, 0}}}}};
    for (const auto& [width, to, pixels] : cases) {
        CLabel label;
        label.resize(width, 10);
        label.SetBkColor(Qt::black, to, CLabel::BackFillMode::Gradient);
        for (const auto& [x, colour] : pixels) EXPECT_EQ(PaintedAt(label, {x, 5}), Rgb(colour)) << width << ", " << x;
    }
}

TEST(Label, ALeftClickOpensTheLinkTargetOrElseTheTextOrTellsTheParent) {
    CLabel label("www.example.org");
    label.resize(100, 20);
    std::vector<QUrl> opened;
    label.SetUrlOpener([&](const QUrl& url) { return opened.push_back(url), true; });
    const auto click = [&](Qt::MouseButton button) { QTest::mouseClick(&label, button, Qt::NoModifier, QPoint(3, 3)); };
    click(Qt::LeftButton);  // not a link yet
    label.SetLink(true, false);
    click(Qt::RightButton);
    click(Qt::LeftButton);
    label.SetLinkUrl("https://example.org/help");
    click(Qt::LeftButton);
    label.SetText("someone@example.org").SetMailLink(true, false);
    click(Qt::LeftButton);
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("http://www.example.org"), QUrl("https://example.org/help"),
                                         QUrl("mailto:someone@example.org")}));

    SetControlId(&label, 1300);
    label.SetLink(true, true);
    QSignalSpy notified(&label, &CLabel::linkClicked);
    click(Qt::LeftButton);
    EXPECT_EQ(opened.size(), 3u);
    EXPECT_EQ(notified, QList<QVariantList>{{1300}});
}

QPixmap Solid(const QColor& colour, QSize size = {24, 16}) {
    QPixmap picture(size);
    picture.fill(colour);
    return picture;
}

TEST(HoverButton, TakesTheNormalPicturesSizeAndPaintsHoverBeforeActiveBeforeAlternativeIfItHasOne) {
    CHoverButton button;
    button.move(40, 30);
    button.LoadBitmaps(Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue), Solid(Qt::yellow));
    EXPECT_EQ(button.geometry(), QRect(40, 30, 24, 16));
    const QPoint middle(12, 8);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::red));
    button.SetActive(true);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::blue));
    button.SetAlternative(true);  // clears active
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::yellow));
    QEnterEvent enter(middle, middle, button.mapToGlobal(QPointF(middle)));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::green));
    button.SetActive(true);  // clears the alternative
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::green));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::blue));
    button.SetActive(false);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::red));
    QMouseEvent move(QEvent::MouseMove, middle, button.mapToGlobal(QPointF(middle)), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(&button, &move);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::green)) << "a move over the button starts the hover too";
    QApplication::sendEvent(&button, &leave);
    button.LoadBitmaps(Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue));  // no alternative picture
    button.SetAlternative(true);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::red));

    // Where the picture is transparent the page shows, not black.
    QWidget page;
    page.setPalette(QPalette(Qt::magenta));
    page.setAutoFillBackground(true);
    (new CHoverButton(&page))->LoadBitmaps(Solid(Qt::transparent), Solid(Qt::red), Solid(Qt::red));
    EXPECT_EQ(PaintedAt(page, middle), Rgb(Qt::magenta));
}

TEST(AboutBox, MakesItsContentsOnFirstShowKeepsThemAndItsLinkOpensTheMakersSite) {
    CAboutDlg about;
    std::vector<QUrl> opened;
    about.SetUrlOpener([&](const QUrl& url) { return opened.push_back(url), true; });
    EXPECT_FALSE(about.HasContents() || about.Link()) << "made before it was shown";
    about.show();
    EXPECT_EQ(about.Report(), QString::fromStdString(CSystemVersion().m_strSystem).replace("\r\n", "\n"));
    QPlainTextEdit* reportBox = about.findChild<QPlainTextEdit*>();
    QTest::mouseClick(about.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    about.show();
    EXPECT_EQ(about.findChildren<QPlainTextEdit*>(), QList<QPlainTextEdit*>{reportBox}) << "made again";

    CLabel* link = about.Link();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Text(), MIVEX_MAKER_SITE);
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(MIVEX_MAKER_SITE)});
}

}  // namespace
