// The settings window's tray icon in a real XEmbed tray (trayer on a private Xvfb), clicked with
// the X test extension as a user would.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <atomic>

#include "main_sheet.h"
#include "test_support.h"

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/extensions/XTest.h>

#include "trayer_process.h"
#include "xvfb_server.h"

namespace {

constexpr int kDeadlineMs = 10000;
constexpr unsigned int kLeftButton = 1;
constexpr unsigned int kRightButton = 3;

// One icon for the whole sequence, as in the program: it shows in the tray, a left click shows
// the settings window, a right click opens the menu. Exit from the menu ends the whole program,
// so the end-to-end tests take it.
TEST(TrayIcon, SitsInTheTrayAndAnswersRealClicks) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    test::TrayerProcess trayer(server.DisplayName());
    ASSERT_TRUE(trayer.Ok()) << trayer.Error();
    test::ScopedEnv display("DISPLAY", server.DisplayName());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // With a session bus Qt could hand the icon to the desktop's own notification area.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    int argc = 1;
    char name[] = "ui_tray_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    std::unique_ptr<Display, int (*)(Display*)> x11(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_NE(x11, nullptr) << "cannot open the test display for the X test extension";

    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet(stopAll);
    int updatesShown = 0;
    sheet.SetUpdateWindow([&] { ++updatesShown; });
    ASSERT_TRUE(sheet.TrayIconAdd());

    // Embedded: the icon's window has the tray's for parent, not the root; then wait until the tray
    // stops moving it.
    QRect icon;
    const bool embedded = QTest::qWaitFor(
        [&] {
            QWidget* window = nullptr;  // Qt's window for the icon in an XEmbed tray
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QLatin1String("QSystemTrayIconSys")) window = w;
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int count = 0;
            if (window == nullptr || !XQueryTree(x11.get(), window->winId(), &root, &parent, &children, &count))
                return false;
            if (children != nullptr) XFree(children);
            const QRect now = sheet.TrayIcon().geometry();
            const bool still = parent != root && !now.isEmpty() && now == icon;
            icon = now;
            return still;
        },
        kDeadlineMs);
    ASSERT_TRUE(embedded) << "the icon never showed in the tray";
    EXPECT_LT(icon.top(), 40) << "not inside the panel at the top edge";

    const auto click = [&](const QPoint& at, unsigned int button) {
        XTestFakeMotionEvent(x11.get(), -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(x11.get(), button, True, CurrentTime);
        XTestFakeButtonEvent(x11.get(), button, False, CurrentTime);
        XFlush(x11.get());
    };
    // Presses on the icon closer together than the double-click time make a double click, which
    // the icon reports for the left button only: a user pauses between clicks, and so does this.
    const auto clickIcon = [&](unsigned int button) {
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        click(icon.center(), button);
    };
    clickIcon(kLeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs)) << "a left click shows the sheet";
    sheet.hide();

    // A right click opens the menu, seen from inside its own event loop with the messages its items
    // post; a click away dismisses it. Choosing an item is the path of Exit in the end-to-end tests.
    QStringList items;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !items.isEmpty()) return;
        for (QAction* action : menu->actions())
            items << (action->isSeparator() ? QString("-") : action->text() + " " + action->data().toString());
        click(menu->geometry().bottomRight() * 2, kLeftButton);
    });
    watcher.start(20);
    clickIcon(kRightButton);
    const auto closed = [&] { return !items.isEmpty() && QApplication::activePopupWidget() == nullptr; };
    EXPECT_TRUE(QTest::qWaitFor(closed, kDeadlineMs)) << "the tray menu did not open and close";
    QCoreApplication::sendPostedEvents();  // what the menu posted
    EXPECT_EQ(items, QStringList({"Setup 1127", "-", "Update 1130", "About 1129", "-", "E&xit 1128"}));
    EXPECT_EQ(updatesShown, 0) << "a dismissed menu does nothing";
    EXPECT_FALSE(sheet.isVisible() || sheet.IsClosed());
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
