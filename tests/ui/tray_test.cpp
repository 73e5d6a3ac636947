// Windows on a private Xvfb, driven with the X test extension as a user would: the settings
// window's tray icon in a real XEmbed tray (trayer) and, on a private session bus, in a
// StatusNotifier tray (a watcher of the test's own, as KDE Plasma's or GNOME's AppIndicator
// extension), each coming after the program; the speed profile dialog's questions under a
// window manager (openbox), which hands the focus back to the dialog after each; the floating
// window under openbox, which must not be lost; and the Hotkeys tab's fields typed into while the
// X11 grabber holds the hotkeys.
#include <gtest/gtest.h>

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <functional>
#include <vector>

#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "output/click_sound.h"
#include "output/detect_window.h"
#include "output/input_event.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "output/x11_hotkey_grabber.h"
#include "tests/support/suite_setup_failures.h"
#include "tests/support/test_support.h"
#include "tests/ui/fake_engine.h"
#include "tests/ui/page_fixture.h"
#include "ui/control_ids.h"
#include "ui/dialog_float.h"
#include "ui/hotkey_ctrl.h"
#include "ui/hotkey_page.h"
#include "ui/main_sheet.h"
#include "ui/profile_editor/profile_dialog.h"
#include "ui/profile_editor/profile_dialog_link.h"
#include "ui/profile_editor/profile_window.h"
#include "ui/thread_float.h"

// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "tests/support/session_bus.h"
#include "tests/support/trayer_process.h"
#include "tests/support/x_window_state.h"

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
    // Each begin makes a reader of its own that only its end deletes.
    layout.endArray();
    layout.endStructure();
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
// the arrows over every template, Enter and Space to choose, each question answered once; Enter
// and Space held down, repeating, ask once and leave the question to a new press; the dialog
// closed and opened again. The steps run from a timer, so they go on inside a question's own
// event loop.
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
    enum Motion { kPress, kDown, kUp };
    const auto key = [&](KeySym symbol, Motion motion) {
        const KeyCode code = XKeysymToKeycode(app.X11(), symbol);
        if (motion != kUp) XTestFakeKeyEvent(app.X11(), code, True, CurrentTime);
        if (motion != kDown) XTestFakeKeyEvent(app.X11(), code, False, CurrentTime);
        XFlush(app.X11());
    };
    QElapsedTimer sinceLast, total;
    const auto question = [] { return qobject_cast<QMessageBox*>(QApplication::activeWindow()) != nullptr; };
    const auto backInList = [&] { return !question() && list->hasFocus(); };
    const auto row = [&](int wanted) { return [=] { return list->hasFocus() && list->currentRow() == wanted; }; };
    // The X server repeats a key held down after 660 ms, 25 times a second.
    const auto heldLong = [&] { return question() && sinceLast.elapsed() > 2500; };
    struct Step {
        std::function<bool()> ready;
        int asked;  // questions so far, once ready
        KeySym press;
        Motion motion = kPress;
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
        {question, 2, XK_Return},  // Yes
        // Held down: one question, which the repeats leave open; Escape answers No.
        {backInList, 2, XK_Return, kDown},
        {heldLong, 3, XK_Return, kUp},
        {question, 3, XK_Escape},
        {backInList, 3, XK_space, kDown},
        {heldLong, 4, XK_space, kUp},
        {question, 4, XK_Escape},
        {backInList, 4, XK_Escape},  // closes the dialog
        {[&] { return !dialog.isVisible(); }, 4, NoSymbol},
    };
    // Each step waits for its condition, and at least a while after the step before, time for a
    // question that should not come to show.
    std::size_t next = 0;
    sinceLast.start();
    total.start();
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (total.elapsed() > 40000 && !g_stopAsking) {  // stuck, maybe inside a question: end it
            g_stopAsking = true;
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        }
        if (next == steps.size() || sinceLast.elapsed() < 400 || !steps[next].ready()) return;
        EXPECT_EQ(g_asked, steps[next].asked) << "questions before step " << next;
        if (steps[next].press != NoSymbol) key(steps[next].press, steps[next].motion);
        sinceLast.restart();
        ++next;
    });
    driver.start(50);
    const bool done = QTest::qWaitFor([&] { return next == steps.size() || g_stopAsking; }, 50000);
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
    EXPECT_EQ(g_asked, 4);
    g_stopAsking = true;
}

struct SilentSound final : IClickSound {
    void PlayClickSound() override {}
};

// The floating window under openbox, which shows minimise and maximise buttons unless the window's
// type rules them out (it ignores Motif hints for them): none, with no way to minimise it; above
// another program's window that has the focus, which it never takes. Asked to iconify it as a
// window manager's key would, openbox refuses; iconified all the same, auto click switched off and
// on shows it again.
TEST(FloatingWindow, UnderOpenboxHasNoMinimiseOrMaximiseStaysAboveAndComesBackWhenShown) {
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    test::OpenboxProcess openbox(server.DisplayName());
    ASSERT_TRUE(openbox.Ok()) << openbox.Error();
    XApplication app(server.DisplayName());
    Display* x = app.X11();
    ASSERT_NE(x, nullptr) << "cannot open the test display";
    test::TempConfigHome home;
    CSettingsStore store;
    CSettingsMirror mirror;
    CRecordingInjector injector;
    CMouse mouse(injector, mirror);
    CDetectWindow detect;
    SilentSound sound;
    CDialogFloat floating(store, mirror, mouse, detect, sound, CDialogFloat::Ticks::Manual);
    std::atomic<bool> stopAll{false};
    CThreadFloat shower(floating, mirror, stopAll);

    // openbox takes its selection before it manages windows; its check window comes after.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !test::Property32(x, DefaultRootWindow(x), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty(); },
        kDeadlineMs));
    const Window other = test::MapOtherClient(x, "other program", 50, 50, 600, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::WmState(x, other) == NormalState; }, kDeadlineMs));
    XSetInputFocus(x, other, RevertToParent, CurrentTime);  // as a click on it would
    XSync(x, False);
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::FocusedWindow(x) == other; }, kDeadlineMs));

    mirror.m_bAutoClick = true;
    shower.Start();
    const auto window = static_cast<Window>(floating.winId());
    const auto up = [&] { return test::WmState(x, window) == NormalState && test::Viewable(x, window); };
    ASSERT_TRUE(QTest::qWaitFor(up, kDeadlineMs)) << "auto click on: the floating window did not show";
    const std::vector<std::string> actions = test::AtomNames(x, window, "_NET_WM_ALLOWED_ACTIONS");
    EXPECT_TRUE(test::Contains(actions, "_NET_WM_ACTION_MOVE")) << "openbox allows no moving";
    for (const char* action :
         {"_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"})
        EXPECT_FALSE(test::Contains(actions, action)) << "openbox allows " << action;
    const std::vector<unsigned long> motif = test::MotifHints(x, window);
    ASSERT_EQ(motif.size(), 5u) << "no Motif hints";
    EXPECT_TRUE((motif[0] & test::kMotifFunctionsGiven) &&
                !(motif[1] & (test::kMotifAllFunctions | test::kMotifMinimise | test::kMotifMaximise)))
        << "Motif hints allow minimise or maximise: functions " << motif[1];
    const std::vector<std::string> states = test::AtomNames(x, window, "_NET_WM_STATE");
    EXPECT_TRUE(test::Contains(states, "_NET_WM_STATE_ABOVE") && test::Contains(states, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_EQ(test::FocusedWindow(x), other) << "shown, the floating window took the focus";
    XRaiseWindow(x, other);
    XSync(x, False);
    QTest::qWait(300);
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::StackedAbove(x, window, other); }, kDeadlineMs))
        << "the other program's window came above it";

    XIconifyWindow(x, window, DefaultScreen(x));
    XSync(x, False);
    QTest::qWait(500);
    EXPECT_TRUE(up()) << "openbox iconified it";
    mirror.m_bAutoClick = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !test::Viewable(x, window) && !floating.isVisible(); }, kDeadlineMs))
        << "auto click off: the floating window stayed";
    mirror.m_bAutoClick = true;
    EXPECT_TRUE(QTest::qWaitFor(up, kDeadlineMs))
        << "auto click on again: the floating window is not up (WM_STATE " << test::WmState(x, window) << ")";
    EXPECT_EQ(test::FocusedWindow(x), other) << "shown again, the floating window took the focus";
}

// Gives a window of ours the focus as a click on it would, for a window manager that refused it
// when the window mapped (its time stamp is old); true once the window is the active one.
bool Activate(Display* x11, QWidget& window) {
    if (!window.isActiveWindow()) {
        XSetInputFocus(x11, window.winId(), RevertToParent, CurrentTime);
        XFlush(x11);
    }
    return window.isActiveWindow();
}

using HotkeyFields = PageFixture;

// Real key presses into a field while the real X11 grabber holds the hotkeys: with the focus in a
// field the grabs are let go, so another action's combination reaches the field and is refused
// there, as is a key that typing needs without Ctrl or Alt; with the focus elsewhere the hotkeys
// act again. Enter alone stored by hand is not grabbed.
TEST_F(HotkeyFields, AFieldWithTheFocusGetsEveryCombinationAndRefusesTakenOnesAndKeysForTyping) {
    using namespace ControlIds;
    test::XvfbServer server;
    ASSERT_TRUE(server.Ok()) << server.Error();
    test::OpenboxProcess openbox(server.DisplayName());
    ASSERT_TRUE(openbox.Ok()) << openbox.Error();
    XApplication app(server.DisplayName());
    Display* x11 = app.X11();
    ASSERT_NE(x11, nullptr) << "cannot open the test display for the X test extension";
    constexpr std::uint16_t kF5 = VK_F1 + 4, kF7 = VK_F1 + 6;
    store.Write(Setting::kHotkeyMouseLeft, static_cast<int>(MakeHotkeyWord(kF5, HOTKEYF_CONTROL)));
    store.Write(Setting::kHotkeyMouseMiddleLock, static_cast<int>(MakeHotkeyWord(VK_RETURN, 0)));
    mirror.m_bMouseActive = true;
    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet(stopAll);
    auto* page = new CMivexDlgHotkey(host, std::make_unique<CX11HotkeyGrabber>(server.DisplayName().c_str()));
    sheet.AddPage(page);
    sheet.SetActivePage(0);

    const QString typing = "is needed for typing and moving around: as a hotkey it needs Ctrl or Alt with it";
    EXPECT_EQ(page->Note(kHotkeyMiddleLock), "Not in use: Return " + typing);
    CX11HotkeyGrabber other(server.DisplayName().c_str());
    std::string whyNot;
    EXPECT_TRUE(other.Register("probe", VK_RETURN, 0, whyNot)) << "Enter alone is grabbed: " << whyNot;
    other.Unregister("probe");

    const auto press = [&](const std::vector<KeySym>& keys) {
        for (KeySym key : keys) XTestFakeKeyEvent(x11, XKeysymToKeycode(x11, key), True, CurrentTime);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            XTestFakeKeyEvent(x11, XKeysymToKeycode(x11, *key), False, CurrentTime);
        XFlush(x11);
    };
    sheet.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Activate(x11, sheet); }, kDeadlineMs)) << "the window never got the focus";
    CHotKeyCtrl& right = *page->Control(kHotkeyRight);
    right.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return right.hasFocus(); }, kDeadlineMs));
    const auto noteOfRight = [&](const QString& note) {
        return QTest::qWaitFor([&] { return page->Note(kHotkeyRight) == note; }, kDeadlineMs);
    };
    press({XK_Control_L, XK_F5});
    EXPECT_TRUE(noteOfRight("Ctrl+F5 is already the hotkey for: Hot key press \"left mouse key\""))
        << "the field never saw Ctrl+F5: " << page->Note(kHotkeyRight).toStdString();
    EXPECT_EQ(mouse.GetButton(), CMouse::kButtonNone) << "the hotkey acted instead";
    for (const auto& [keys, text] : {std::pair{std::vector<KeySym>{XK_Return}, QString("Return")},
                                     {{XK_Shift_L, XK_space}, "Shift+Space"},
                                     {{XK_Up}, "Up"},
                                     {{XK_Shift_L, XK_a}, "Shift+A"},
                                     {{XK_KP_Enter}, "Num+Enter"}}) {
        press(keys);
        EXPECT_TRUE(noteOfRight(text + " " + typing)) << page->Note(kHotkeyRight).toStdString();
    }
    EXPECT_EQ(right.HotkeyWord(), 0u) << "a refused combination was taken";
    // With Ctrl or Alt, and keys that typing does not need, alone.
    for (const auto& [keys, word] :
         {std::pair{std::vector<KeySym>{XK_Control_L, XK_Return}, MakeHotkeyWord(VK_RETURN, HOTKEYF_CONTROL)},
          {{XK_Alt_L, XK_a}, MakeHotkeyWord('A', HOTKEYF_ALT)},
          {{XK_Pause}, MakeHotkeyWord(VK_PAUSE, 0)},
          {{XK_F7}, MakeHotkeyWord(kF7, 0)}}) {
        press(keys);
        EXPECT_TRUE(QTest::qWaitFor([&] { return right.HotkeyWord() == word; }, kDeadlineMs))
            << CHotKeyCtrl::Text(word).toStdString() << " not taken: " << page->Note(kHotkeyRight).toStdString();
    }
    EXPECT_TRUE(page->Note(kHotkeyRight).isEmpty());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return store.Read(Setting::kHotkeyMouseRight) == static_cast<int>(MakeHotkeyWord(kF7, 0)); },
        kDeadlineMs));

    // The focus on a button: the hotkeys are grabbed again, the new one too.
    sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->Recording(); }, kDeadlineMs));
    for (const auto& [keys, button] :
         {std::pair{std::vector<KeySym>{XK_Control_L, XK_F5}, CMouse::kButtonLeft}, {{XK_F7}, CMouse::kButtonRight}}) {
        press(keys);
        EXPECT_TRUE(QTest::qWaitFor([&] { return mouse.GetButton() == button; }, kDeadlineMs)) << keys.back();
        mouse.Arm(CMouse::kButtonNone, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    test::FailTestsOfBrokenSuites();
    return RUN_ALL_TESTS();
}
