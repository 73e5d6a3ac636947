// The program on KDE Plasma's compositor, KWin, with the desktop portal and its KDE backend: the
// hotkeys become kglobalaccel's shortcuts through the real GlobalShortcuts portal.
#include <QStringList>

#include "output/hotkey_grabber.h"
#include "output/input_event.h"
// Xlib's macros would break Qt's headers: after them.
#include "tests/desktops/desktop_test.h"

namespace e2e {
namespace {

using KdeTest = DesktopTest<test::KdeSession>;

TEST_F(KdeTest, StartsWithItsWindowsOnXWaylandBesideAGlobalShortcutsPortal) {
    const std::string version = Desktop()->Run(
        {"dbus-send", "--bus=" + Desktop()->BusAddress(), "--print-reply", "--dest=org.freedesktop.portal.Desktop",
         "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties.Get",
         "string:org.freedesktop.portal.GlobalShortcuts", "string:version"});
    EXPECT_NE(version.find("uint32 "), std::string::npos) << "the portal offers no GlobalShortcuts:\n" << version;
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(Log(run), {XWaylandLine(*Desktop())}), "") << Diagnostics(run);
}

// KWin's "hide utility windows for inactive applications", on by default, unmaps a tool window
// transient for a program while another program is active: the floating window stays up, above
// the other program, with the settings window open. It offers neither minimise nor maximise.
TEST_F(KdeTest, TheFloatingWindowStaysUpAboveAnotherActiveProgram) {
    const ProgramRun* run = nullptr;
    const Windows windows = StartWithAutoClickBesideAnotherProgram(run);
    ASSERT_TRUE(windows.settings != None && windows.floating != None) << "windows missing" << Diagnostics(*run);
    ASSERT_EQ(ActiveWindow(), windows.other) << "KWin did not make the other program active";
    EXPECT_TRUE(StaysUp(windows.floating)) << "KWin hid the floating window";
    EXPECT_TRUE(test::Viewable(m_x, windows.settings)) << "the settings window went";
    EXPECT_TRUE(test::StackedAbove(m_x, windows.floating, windows.other)) << "the floating window went below";
    EXPECT_EQ(test::FocusedWindow(m_x), windows.other);
    ExpectMovableButNeverMinimisedOrMaximised(windows.floating);
}

// kglobalaccel, inside KWin, through its own D-Bus interface, as dbus-send prints it.
class GlobalAccel {
public:
    explicit GlobalAccel(const test::DesktopSession& desktop) : m_desktop(desktop) {}

    // The component's shortcuts, each as "name keys" (Qt's key codes with the modifiers, in hex,
    // comma-separated), in kglobalaccel's order; none when it has no such component.
    QStringList Shortcuts(const std::string& component) const {
        const std::string printed = Call(component, "allShortcutInfos", {});
        // a(ssssssaiai): shortcut, its name, component, its name, context, its name, keys, defaults.
        QStringList shortcuts;
        const QStringList structures = QString::fromStdString(printed).split("struct {");
        for (qsizetype i = 1; i < structures.size(); ++i) {
            const QStringList lines = structures[i].split('\n');
            QStringList strings, keys;
            int arrays = 0;
            for (const QString& line : lines) {
                const QString item = line.trimmed();
                if (item.startsWith("string \"")) strings << item.mid(8, item.size() - 9);
                if (item.startsWith("array [")) ++arrays;
                if (item.startsWith("int32 ") && arrays == 1) keys << QString::number(item.mid(6).toInt(), 16);
            }
            if (strings.size() == 6) shortcuts << strings[0] + " " + keys.join(',');
        }
        return shortcuts;
    }
    // Presses a shortcut as kglobalaccel does for a key: an activation without a release.
    std::string Invoke(const std::string& component, const std::string& shortcut) const {
        return Call(component, "invokeShortcut", {"string:" + shortcut});
    }
    // Forgets the component's shortcuts that no program holds now, with their keys.
    std::string CleanUp(const std::string& component) const { return Call(component, "cleanUp", {}); }

private:
    std::string Call(const std::string& component, const std::string& method, std::vector<std::string> args) const {
        std::vector<std::string> command = {"dbus-send",
                                            "--bus=" + m_desktop.BusAddress(),
                                            "--print-reply",
                                            "--dest=org.kde.kglobalaccel",
                                            "/component/" + component,
                                            "org.kde.kglobalaccel.Component." + method};
        command.insert(command.end(), args.begin(), args.end());
        return m_desktop.Run(command);
    }

    const test::DesktopSession& m_desktop;
};

// The component of the program's shortcuts, named after the session's handle token
// (CPortalShortcuts::kSessionToken), the same in every run: by the portal of KDE Plasma 5.27 as it
// is, by Plasma 6's with "token_" before it.
constexpr const char* kComponents[] = {"mivex_shortcuts", "token_mivex_shortcuts"};
// Qt's key codes, as kglobalaccel keeps them.
constexpr int kQtShift = 0x02000000, kQtCtrl = 0x04000000, kQtF5 = 0x01000034, kQtF6 = 0x01000035;

// The hotkeys become kglobalaccel's shortcuts through the real portal, with the stored keys; a
// restart finds them under the same component with the same keys; and
// kglobalaccel's invokeShortcut, which sends no release, acts each time, twice in a row.
TEST_F(KdeTest, TheEightActionsAreKglobalaccelsShortcutsWithTheirKeysKeptAcrossARestartAndInvokedOnesAct) {
    const GlobalAccel accel(*Desktop());
    // Another case of the suite may have run the program without keys, which kglobalaccel keeps as
    // the user's choice: begin as on a desktop that never saw the program. kglobalaccel forgets
    // only shortcuts no program holds, and the portal lets go of a killed copy's session a moment
    // after the copy ends: clean up until nothing is left.
    const auto forgotten = [&] {
        bool none = true;
        for (const char* component : kComponents) {
            accel.CleanUp(component);
            none = none && accel.Shortcuts(component).isEmpty();
        }
        return none;
    };
    ASSERT_TRUE(WaitUntil(forgotten, kSlow * 20s)) << "kglobalaccel kept the shortcuts of a copy that ended";
    CSettingsStore store;
    store.Write(Setting::kHotkeyMouse, static_cast<int>(MakeHotkeyWord(VK_F1 + 4, HOTKEYF_SHIFT)));
    // Not Ctrl+Alt+A: KWin's own "Activate Window Demanding Attention" holds it, and kglobalaccel
    // leaves a clashing key unbound once KWin has registered its shortcuts.
    store.Write(Setting::kHotkeyMouseLeft,
                static_cast<int>(MakeHotkeyWord(VK_F1 + 5, HOTKEYF_CONTROL | HOTKEYF_SHIFT)));
    store.Write(Setting::kUpdateCount, 1);  // no update reminder
    const QStringList expected = {"toggle " + QString::number(kQtShift | kQtF5, 16),
                                  "left-click " + QString::number(kQtCtrl | kQtShift | kQtF6, 16),
                                  "middle-click ",
                                  "right-click ",
                                  "double-click ",
                                  "middle-lock ",
                                  "middle-unlock ",
                                  "centre "};
    const auto sorted = [](QStringList list) {
        list.sort();
        std::vector<std::string> texts;
        for (const QString& text : list) texts.push_back(text.toStdString());
        return texts;
    };
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "first run" : "after a restart");
        const ProgramRun run = Start(CameraArgs());
        std::string component;  // the one of kComponents that the portal made
        const auto made = [&] {
            for (const char* name : kComponents)
                if (accel.Shortcuts(name).size() == expected.size()) {
                    component = name;
                    return true;
                }
            return false;
        };
        WaitUntil(made, kSlow * 20s);
        EXPECT_EQ(sorted(accel.Shortcuts(component)), sorted(expected)) << "component " << component;
        ASSERT_TRUE(WaitForLogLine(run, "Hotkeys are the desktop's shortcuts: toggle *")) << Diagnostics(run);
        EXPECT_EQ(Log(run).find("the desktop bound none"), std::string::npos) << Diagnostics(run);
        if (round == 2) {
            for (bool on : {true, false}) {
                const std::string invoked = accel.Invoke(component, "toggle");
                ASSERT_NE(invoked.find("method return"), std::string::npos) << invoked;
                EXPECT_EQ(PointerMoves(), on) << (on ? "not switched on" : "not switched off") << Diagnostics(run);
            }
        }
        ::kill(run.pid, SIGTERM);
        EXPECT_EQ(Ending(run.pid, kSlow * 20s), "exit code 0") << Diagnostics(run);
    }
}

}  // namespace
}  // namespace e2e
