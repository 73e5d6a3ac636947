// Windows on a private Xvfb, driven with the X test extension as a user would: the settings
// window's tray icon in a real XEmbed tray (trayer) and, on a private session bus, in a
// StatusNotifier tray (a watcher of the test's own, as KDE Plasma's or GNOME's AppIndicator
// extension), each coming after the program; and the speed profile dialog's questions under a
// window manager (openbox), which hands the focus back to the dialog after each.
#include <gtest/gtest.h>

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <functional>
#include <vector>

#include "base/settings_store.h"
#include "tests/support/suite_setup_failures.h"
#include "tests/support/test_support.h"
#include "tests/ui/fake_engine.h"
#include "ui/main_sheet.h"
#include "ui/profile_editor/profile_dialog.h"
#include "ui/profile_editor/profile_dialog_link.h"
#include "ui/profile_editor/profile_window.h"

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "tests/support/session_bus.h"
#include "tests/support/trayer_process.h"

namespace {

constexpr int kDeadlineMs = 10000;
constexpr unsigned int kLeftButton = 1;
constexpr unsigned int kRightButton = 3;

// The program's Qt on a test's display, with a connection of its own for the X test extension.
class XApplication {
public:
    // Without the test's session bus, none: Qt could hand the tray icon to the desktop's own tray.
    explicit XApplication(const std::string& displayName, const std::optional<std::string>& bus = std::nullopt)
        : m_display("DISPLAY", displayName),
          m_platform("QT_QPA_PLATFORM", "xcb"),
          m_bus("DBUS_SESSION_BUS_ADDRESS", bus),
          m_x11(XOpenDisplay(displayName.c_str())) {}
    ~XApplication() {
        if (m_x11) XCloseDisplay(m_x11);
    }
    Display* X11() const { return m_x11; }

private:
    test::ScopedEnv m_display, m_platform, m_bus;
    int m_argc = 1;
    char m_name[14] = "ui_tray_tests";
    char* m_argv[2] = {m_name, nullptr};
    QApplication m_app{m_argc, m_argv};
    Display* m_x11;
};

// How many of the tray menu's commands the window's button row shows: all three, or none.
qsizetype TrayCommandsShown(const CmivexDlgMain& sheet) {
    const QStringList names{"Update", "About", "Exit"};
    return std::ranges::count_if(sheet.findChildren<QPushButton*>(), [&](QPushButton* b) {
        return names.contains(b->accessibleName()) && b->isVisibleTo(&sheet);
    });
}

constexpr std::chrono::milliseconds kShortWait{300};

// One icon for the whole sequence, as in the program, which starts before the tray: its window
// shows, with the tray menu's commands, until the tray comes; then the icon shows in the tray, a
// left click shows the settings window, a right click opens the menu; when the tray goes the
// commands come back. Exit from the menu ends the whole program, so the end-to-end tests take it.
TEST(TrayIcon, ComesIntoATrayThatStartsLaterAndAnswersRealClicks) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    XApplication app(server.DisplayName());
    Display* x11 = app.X11();
    ASSERT_NE(x11, nullptr) << "cannot open the test display for the X test extension";

    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet(stopAll);
    int updatesShown = 0;
    sheet.SetUpdateWindow([&] { ++updatesShown; });
    QSignalSpy trayChanged(&sheet, &CmivexDlgMain::trayChanged);
    ASSERT_FALSE(sheet.WatchTray(kShortWait));
    EXPECT_EQ(TrayCommandsShown(sheet), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs)) << "no tray: the window shows";
    sheet.hide();

    std::optional<test::TrayerProcess> trayer(std::in_place, server.DisplayName());
    ASSERT_TRUE(trayer->Ok()) << trayer->Error();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.IsTrayIconShown(); }, kDeadlineMs)) << "the tray came";
    EXPECT_EQ(trayChanged.takeFirst(), QVariantList{true});
    EXPECT_EQ(TrayCommandsShown(sheet), 0);

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
            if (window == nullptr || !XQueryTree(x11, window->winId(), &root, &parent, &children, &count)) return false;
            if (children != nullptr) XFree(children);
            const QRect now = sheet.TrayIcon()->geometry();
            const bool still = parent != root && !now.isEmpty() && now == icon;
            icon = now;
            return still;
        },
        kDeadlineMs);
    ASSERT_TRUE(embedded) << "the icon never showed in the tray";
    EXPECT_LT(icon.top(), 40) << "not inside the panel at the top edge";

    const auto click = [&](const QPoint& at, unsigned int button) {
        XTestFakeMotionEvent(x11, -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(x11, button, True, CurrentTime);
        XTestFakeButtonEvent(x11, button, False, CurrentTime);
        XFlush(x11);
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

    trayer.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !trayChanged.isEmpty(); }, kDeadlineMs)) << "the tray went";
    EXPECT_EQ(trayChanged.takeFirst(), QVariantList{false});
    EXPECT_TRUE(TrayCommandsShown(sheet) == 3 && !sheet.IsTrayIconShown());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs)) << "no tray again: the window shows";
}

// A StatusNotifier watcher on the session bus, in a thread of its own as it would be in a process
// of its own: the program's blocking calls to it must find it answering.
class FakeStatusNotifierWatcher : public QDBusVirtualObject {
public:
    explicit FakeStatusNotifierWatcher(const std::string& address) {
        m_thread.start();
        moveToThread(&m_thread);
        m_bus = QDBusConnection::connectToBus(QString::fromStdString(address), "watcher");
        m_bus.registerVirtualObject("/StatusNotifierWatcher", this);
    }
    ~FakeStatusNotifierWatcher() override {
        m_bus.unregisterObject("/StatusNotifierWatcher");
        QDBusConnection::disconnectFromBus("watcher");
        m_thread.quit();
        m_thread.wait();
    }
    bool Start() { return m_bus.registerService(kService); }
    bool Stop() { return m_bus.unregisterService(kService); }
    // The services that registered an item, in order.
    QStringList Items() const {
        const QMutexLocker lock(&m_mutex);
        return m_items;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == "Introspect") return connection.send(message.createReply(kIntrospection));
        if (member == "RegisterStatusNotifierItem") {
            const QMutexLocker lock(&m_mutex);
            m_items << message.arguments().value(0).toString();
            return connection.send(message.createReply());
        }
        // The one property read: IsStatusNotifierHostRegistered.
        return member == "Get" && connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
    }

private:
    static inline const QString kService = "org.kde.StatusNotifierWatcher";
    static inline const QString kIntrospection = R"(<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/></interface></node>)";
    QThread m_thread;
    QDBusConnection m_bus{QString()};
    mutable QMutex m_mutex;
    QStringList m_items;
};

// The items of an exported menu's layout, as "<id> <label>", "<id> " for a separator.
QStringList MenuItems(const QDBusArgument& layout) {
    int id = 0;
    QVariantMap properties;
    QStringList items;
    layout.beginStructure();
    layout >> id >> properties;
    layout.beginArray();
    while (!layout.atEnd()) {
        const QDBusArgument item = qdbus_cast<QDBusVariant>(layout).variant().value<QDBusArgument>();
        item.beginStructure();
        item >> id >> properties;
        item.endStructure();
        items << QString::number(id) + " " + properties.value("label").toString();
    }
    return items;
}

// A watcher that starts after the program: the icon registers with it as a StatusNotifierItem
// (which Qt would never do had it been asked before the watcher came), exports its menu, and
// answers the desktop's clicks and menu choices; when the watcher goes, the window's row carries
// the tray menu's commands again.
TEST(TrayIcon, RegistersWithAStatusNotifierWatcherThatStartsLaterAndExportsItsMenu) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    const test::TempDir folder;
    const test::SessionBus bus(folder.path());
    ASSERT_TRUE(bus.Ok()) << bus.Error();
    const std::string address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    XApplication app(server.DisplayName(), address);
    FakeStatusNotifierWatcher watcher(address);
    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet(stopAll);
    int updatesShown = 0;
    sheet.SetUpdateWindow([&] { ++updatesShown; });
    QSignalSpy trayChanged(&sheet, &CmivexDlgMain::trayChanged);
    ASSERT_FALSE(sheet.WatchTray(std::chrono::minutes(1)));

    ASSERT_TRUE(watcher.Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.Items().size() == 1; }, kDeadlineMs)) << "never registered";
    EXPECT_EQ(trayChanged.takeFirst(), QVariantList{true});
    EXPECT_EQ(TrayCommandsShown(sheet), 0);

    // The desktop's side, without blocking: the item answers on this thread.
    QDBusConnection desktop = QDBusConnection::connectToBus(QString::fromStdString(address), "desktop");
    const auto call = [&](const QString& path, const QString& interface, const QString& method,
                          const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(watcher.Items()[0], path, interface, method);
        message.setArguments(arguments);
        const QDBusPendingCall pending = desktop.asyncCall(message);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, kDeadlineMs)) << method.toStdString();
        EXPECT_FALSE(pending.isError()) << method.toStdString() << ": " << pending.error().message().toStdString();
        return pending.reply().arguments();
    };
    const QVariantList menuPath =
        call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get", {"org.kde.StatusNotifierItem", "Menu"});
    ASSERT_EQ(menuPath.size(), 1);
    const QString menu = menuPath[0].value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    const QVariantList layout = call(menu, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
    ASSERT_EQ(layout.size(), 2);
    const QStringList items = MenuItems(layout[1].value<QDBusArgument>());
    ASSERT_EQ(items.size(), 6) << items.join(", ").toStdString();
    QStringList labels = items;
    for (QString& label : labels) label = label.section(' ', 1);
    EXPECT_EQ(labels, QStringList({"Setup", "", "Update", "About", "", "E_xit"}));

    call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});  // a left click
    EXPECT_TRUE(QTest::qWaitFor([&] { return sheet.isVisible(); }, kDeadlineMs)) << "Activate shows the window";
    const QDBusVariant noData(QVariant(0));
    call(menu, "com.canonical.dbusmenu", "Event",
         {items[2].section(' ', 0, 0).toInt(), "clicked", QVariant::fromValue(noData), 0u});
    EXPECT_TRUE(QTest::qWaitFor([&] { return updatesShown == 1; }, kDeadlineMs)) << "Update chosen in the menu";

    ASSERT_TRUE(watcher.Stop());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !trayChanged.isEmpty(); }, kDeadlineMs)) << "the tray went";
    EXPECT_EQ(trayChanged.takeFirst(), QVariantList{false});
    EXPECT_EQ(TrayCommandsShown(sheet), 3);
    QDBusConnection::disconnectFromBus("desktop");
}

int g_asked = 0;
bool g_stopAsking = false;  // lets a test that failed end instead of answering forever

// The real question box, counted.
bool AskAndCount(QWidget* parent, const QString& text) {
    if (g_stopAsking) return false;
    ++g_asked;
    return QMessageBox::question(parent, "Mivex", text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

// The template list by keyboard, as the window manager hands the focus around: Tab into the list,
// the arrows over every template, Enter and Space to choose, each question answered once, and the
// dialog closed and opened again. The steps run from a timer, so they go on inside a question's
// own event loop.
TEST(ProfileDialog, UnderAWindowManagerTheTemplateQuestionComesOncePerChoiceAndTheAnswerEndsIt) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    test::OpenboxProcess openbox(server.DisplayName());
    ASSERT_TRUE(openbox.Ok()) << openbox.Error();
    XApplication app(server.DisplayName());
    ASSERT_NE(app.X11(), nullptr) << "cannot open the test display for the X test extension";
    test::TempConfigHome home;
    CSettingsStore store;
    FakeEngine engine(store);
    CProfileDialogLink link;
    CmivexDlgProfile dialog(store, engine, link);
    dialog.SetQuestion(&AskAndCount);
    dialog.OnInitDialog();
    dialog.ShowDialog();

    QListWidget* list = dialog.TemplateList();
    const auto key = [&](KeySym symbol) {
        const KeyCode code = XKeysymToKeycode(app.X11(), symbol);
        XTestFakeKeyEvent(app.X11(), code, True, CurrentTime);
        XTestFakeKeyEvent(app.X11(), code, False, CurrentTime);
        XFlush(app.X11());
    };
    const auto question = [] { return qobject_cast<QMessageBox*>(QApplication::activeWindow()) != nullptr; };
    const auto backInList = [&] { return !question() && list->hasFocus(); };
    const auto row = [&](int wanted) { return [=] { return list->hasFocus() && list->currentRow() == wanted; }; };
    struct Step {
        std::function<bool()> ready;
        int asked;  // questions so far, once ready
        KeySym press;
    };
    const std::vector<Step> steps = {
        // The window manager may refuse the new window the focus (it maps before the manager looks,
        // or its time stamp is old): give it the focus as a click on it would, until it has it.
        {[&] {
             if (!dialog.isActiveWindow()) {
                 XSetInputFocus(app.X11(), dialog.winId(), RevertToParent, CurrentTime);
                 XFlush(app.X11());
             }
             return dialog.isActiveWindow() && dialog.AxisList()->hasFocus();
         },
         0, XK_Tab},
        {row(0), 0, XK_Down},  // focus arriving made the first row current, silently
        {row(1), 0, XK_Up},
        {row(0), 0, XK_Down},
        {row(1), 0, XK_Return},
        {question, 1, XK_Escape},  // No
        {backInList, 1, XK_space},
        {question, 2, XK_Return},    // Yes
        {backInList, 2, XK_Escape},  // closes the dialog
        {[&] { return !dialog.isVisible(); }, 2, NoSymbol},
    };
    // Each step waits for its condition, and at least a while after the step before, time for a
    // question that should not come to show.
    std::size_t next = 0;
    QElapsedTimer sinceLast, total;
    sinceLast.start();
    total.start();
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (total.elapsed() > 30000 && !g_stopAsking) {  // stuck, maybe inside a question: end it
            g_stopAsking = true;
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        }
        if (next == steps.size() || sinceLast.elapsed() < 400 || !steps[next].ready()) return;
        EXPECT_EQ(g_asked, steps[next].asked) << "questions before step " << next;
        if (steps[next].press != NoSymbol) key(steps[next].press);
        sinceLast.restart();
        ++next;
    });
    driver.start(50);
    const bool done = QTest::qWaitFor([&] { return next == steps.size() || g_stopAsking; }, 40000);
    EXPECT_TRUE(done && !g_stopAsking)
        << "stuck before step " << next << " after " << g_asked << " questions; active window "
        << (QApplication::activeWindow() ? QApplication::activeWindow()->metaObject()->className() : "none")
        << ", focus on "
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    EXPECT_EQ(dialog.CurveWindow()->Values()[6], 214) << "Yes copied \"simulation/game\": point 2 at level 6";
    EXPECT_TRUE(dialog.ApplyButton()->isEnabled()) << "Enter chose a template, it did not press Apply";

    dialog.ShowDialog();  // opened again: nothing asks
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isActiveWindow(); }, 10000));
    QTest::qWait(800);
    EXPECT_EQ(g_asked, 2);
    g_stopAsking = true;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    test::FailTestsOfBrokenSuites();
    return RUN_ALL_TESTS();
}
