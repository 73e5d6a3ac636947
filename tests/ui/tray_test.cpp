// The settings window's tray icon in a real XEmbed tray (trayer on a private Xvfb, see
// tray_test_main.cpp), clicked with the X test extension as a user would.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "about_dialog.h"
#include "main_sheet.h"
#include "page_tooltips.h"
#include "tray_desktop.h"

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

constexpr int kDeadlineMs = 10000;

QAction* ActionFor(QMenu& menu, int message) {
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator() && action->data().toInt() == message) {
            return action;
        }
    }
    return nullptr;
}

// A connection of our own to the test display: the X server's view of the icon, and a
// pointer and keyboard driven through the X test extension.
class TestDisplay {
public:
    TestDisplay() : m_display(XOpenDisplay(nullptr)) {}
    ~TestDisplay() {
        if (m_display != nullptr) XCloseDisplay(m_display);
    }
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    bool Ok() const { return m_display != nullptr; }

    // Whether the window sits mapped inside another client's window, as an icon the tray
    // has embedded does.
    bool IsEmbedded(WId window) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(m_display, window, &attributes) == 0 ||
            attributes.map_state != IsViewable) {
            return false;
        }
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(m_display, window, &root, &parent, &children, &count) == 0) return false;
        if (children != nullptr) XFree(children);
        return parent != root;
    }

    void Click(const QPoint& at, unsigned int button) {
        XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(m_display, button, True, CurrentTime);
        XTestFakeButtonEvent(m_display, button, False, CurrentTime);
        XFlush(m_display);
    }

    void PressKey(KeySym key) {
        const KeyCode code = XKeysymToKeycode(m_display, key);
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        XFlush(m_display);
    }

private:
    Display* m_display;
};

// Qt's window for the icon in an XEmbed tray; nullptr while there is none.
QWidget* TrayIconWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == QLatin1String("QSystemTrayIconSys")) return window;
    }
    return nullptr;
}

class TrayIcon : public testing::Test {
protected:
    static constexpr unsigned int kLeftButton = 1;
    static constexpr unsigned int kRightButton = 3;

    void SetUp() override {
        ASSERT_TRUE(test::TrayDesktopError().empty()) << test::TrayDesktopError();
        ASSERT_TRUE(x11.Ok()) << "cannot open the test display for the X test extension";
        sheet = std::make_unique<CmivexDlgMain>(stopAll);
        sheet->SetAboutDialog(&about);
        for (const char* title :
             {"Settings", "System setup", "Hotkeys", "Auto click", "Flight", "Camera"}) {
            auto* page = new CMyPropertyPageToolTips;
            page->setWindowTitle(title);
            sheet->AddPage(page);
        }
        sheet->SetUpdateWindow([this] { ++updatesShown; });
    }

    // Adds the icon and waits until the tray has embedded it and stopped moving it.
    QRect AddIconToTray() {
        EXPECT_TRUE(sheet->TrayIconAdd());
        QRect settled;
        const bool embedded = QTest::qWaitFor(
            [&] {
                QWidget* window = TrayIconWindow();
                if (window == nullptr || !x11.IsEmbedded(window->winId())) return false;
                const QRect now = sheet->TrayIcon().geometry();
                const bool still = !now.isEmpty() && now == settled;
                settled = now;
                return still;
            },
            kDeadlineMs);
        EXPECT_TRUE(embedded) << "the icon never showed in the tray";
        return settled;
    }

    // Clicks the middle of the icon. Presses on the icon closer together than the double-click
    // time make a double click, which the icon reports for the left button only: a user
    // pauses between clicks, and so does this.
    void ClickIcon(const QRect& icon, unsigned int button) {
        static QElapsedTimer sinceLastClick;
        if (sinceLastClick.isValid()) {
            const qint64 pause =
                QApplication::doubleClickInterval() + 100 - sinceLastClick.elapsed();
            if (pause > 0) QTest::qWait(static_cast<int>(pause));
        }
        x11.Click(icon.center(), button);
        sinceLastClick.start();
    }

    // Right-clicks the icon and, once the menu is up, hands it to `onMenu` (from inside the
    // menu's own event loop). Returns the menu's texts; empty when no menu came up.
    QStringList RightClickTheIcon(const QRect& icon, const std::function<void(QMenu&)>& onMenu) {
        QStringList texts;
        bool seen = false;
        QTimer watcher;
        watcher.setInterval(20);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || seen) return;
            seen = true;
            for (QAction* action : menu->actions()) {
                texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            }
            onMenu(*menu);
        });
        watcher.start();
        ClickIcon(icon, kRightButton);
        const bool closed = QTest::qWaitFor(
            [&] { return seen && QApplication::activePopupWidget() == nullptr; }, kDeadlineMs);
        EXPECT_TRUE(closed) << "the tray menu did not open and close";
        QCoreApplication::sendPostedEvents();  // what the menu posted
        return texts;
    }

    std::atomic<bool> stopAll{false};
    CAboutDlg about;
    std::unique_ptr<CmivexDlgMain> sheet;
    int updatesShown = 0;
    TestDisplay x11;
};

TEST_F(TrayIcon, ShowsInTheTrayUntilTheProgramCloses) {
    const QRect icon = AddIconToTray();
    EXPECT_TRUE(sheet->IsTrayIconShown());
    EXPECT_LT(icon.top(), 40) << "not inside the panel at the top edge";

    std::unique_ptr<QMenu> menu = sheet->BuildTrayMenu();
    ActionFor(*menu, kMsgExit)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->IsClosed(); }, kDeadlineMs));
    EXPECT_TRUE(stopAll.load());
    EXPECT_FALSE(sheet->IsTrayIconShown());
    EXPECT_TRUE(sheet->TrayIcon().geometry().isEmpty());
    EXPECT_EQ(TrayIconWindow(), nullptr) << "the icon's window is still there";
}

TEST_F(TrayIcon, MenuActionsShowTheSheetAndTheAboutBox) {
    AddIconToTray();
    std::unique_ptr<QMenu> menu = sheet->BuildTrayMenu();
    sheet->SetActivePage(3);
    ActionFor(*menu, kMsgSetup)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->isVisible(); }, kDeadlineMs));
    EXPECT_EQ(sheet->GetActiveIndex(), 0);

    PostSheetMessage(sheet.get(), kMsgHide, kHideConfirmed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); }, kDeadlineMs));

    ActionFor(*menu, kMsgAbout)->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return about.isVisible(); }, kDeadlineMs));
    ActionFor(*menu, kMsgUpdate)->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return updatesShown == 1; }, kDeadlineMs));
    EXPECT_FALSE(sheet->IsClosed());
    EXPECT_TRUE(sheet->IsTrayIconShown());
}

TEST_F(TrayIcon, LeftClickShowsTheSheet) {
    const QRect icon = AddIconToTray();
    ClickIcon(icon, kLeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->isVisible(); }, kDeadlineMs));
    EXPECT_EQ(sheet->GetActiveIndex(), 0);
}

TEST_F(TrayIcon, RightClickOpensTheMenuAndEscapeChangesNothing) {
    const QRect icon = AddIconToTray();
    const QStringList texts = RightClickTheIcon(icon, [&](QMenu&) { x11.PressKey(XK_Escape); });
    EXPECT_EQ(texts, QStringList({"Setup", "-", "Update", "About", "-", "E&xit"}));
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(updatesShown, 0);
    EXPECT_FALSE(sheet->IsClosed());
    EXPECT_TRUE(sheet->IsTrayIconShown());
}

TEST_F(TrayIcon, ClickingAMenuItemPostsItsMessageOnce) {
    const QRect icon = AddIconToTray();
    RightClickTheIcon(icon, [&](QMenu& menu) {
        QAction* update = ActionFor(menu, kMsgUpdate);
        x11.Click(menu.mapToGlobal(menu.actionGeometry(update).center()), kLeftButton);
    });
    EXPECT_EQ(updatesShown, 1);
    EXPECT_FALSE(sheet->isVisible());
}

// The balloon is Qt's own window here; its labels show what reached it.
TEST_F(TrayIcon, BalloonTitleAndTextAreCut) {
    AddIconToTray();
    const QString title(70, QLatin1Char('t'));
    const QString text(300, QLatin1Char('x'));
    sheet->TrayBalloon(title, text, 2, 10000);
    QWidget* balloon = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->inherits("QBalloonTip") && window->isVisible()) balloon = window;
            }
            return balloon != nullptr;
        },
        kDeadlineMs))
        << "no balloon showed";
    QStringList shown;
    for (const QLabel* label : balloon->findChildren<QLabel*>()) {
        shown << label->text();
    }
    EXPECT_TRUE(shown.contains(title.left(CmivexDlgMain::kBalloonTitleMax)))
        << shown.join('|').toStdString();
    EXPECT_TRUE(shown.contains(text.left(CmivexDlgMain::kBalloonTextMax)));
    EXPECT_FALSE(shown.contains(title));
    balloon->hide();
}

}  // namespace
