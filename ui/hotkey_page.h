// The "Hotkeys" page: eight system-wide hotkeys that switch head control on and off, click,
// double-click, hold and release the middle button, and centre the view, each stored in its
// settings key and grabbed for the whole desktop from start-up until the page goes.
//
//   auto* page = new CMivexDlgHotkey(host, std::make_unique<CX11HotkeyGrabber>());
//   sheet.AddPage(page);   // start-up activates it once: the stored hotkeys are grabbed
//
// A combination changed in a control takes effect within 200 ms while the page is the active
// one, and on OK. A combination that another of the eight already shows is refused where it is
// typed, and so is a key that typing needs without Ctrl or Alt; where the stored settings hold
// one twice, only the first in the order of dispatch is grabbed and the page marks the other, as
// it marks a stored key that typing needs. A grab that fails (another program holds the
// combination) is tried again every second. While a field has the keyboard focus, the grabs are
// let go, so that a combination reaches the field. All of it runs on the user-interface thread.
//
// Where the desktop's shortcuts take the hotkeys instead (a Wayland session whose portal offers
// them), all eight actions are handed to the desktop at start-up, each with its stored combination
// as the keys wished for, and again whenever a combination changes; the desktop decides the keys,
// and the page shows beside each field the keys the action really has. The desktop answers when it
// can; while it offers no shortcuts (no portal runs, or it has no such interface), the grabber
// takes the hotkeys, until a portal that starts later takes them over.
#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/settings_keys.h"
#include "output/desktop_shortcuts.h"
#include "output/hotkey_grabber.h"
#include "ui/hotkey_actions.h"
#include "ui/page_tooltips.h"

class CHotKeyCtrl;
class QLabel;
struct PageHost;

class CMivexDlgHotkey : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    static constexpr int kTimerMs = 200;   // timer 5: changes re-registered while active
    static constexpr int kRetryMs = 1000;  // failed grabs tried again, active or not

    // The one line the page shows where hotkeys cannot work.
    static constexpr const char* kNeedsX11 = "Global hotkeys need an X11 session: they are off in this one.";
    // The lines that say which way hotkeys are taken, where it is not plain X11.
    static constexpr const char* kDesktopShortcuts =
        "Hotkeys are the desktop's shortcuts. The desktop decides their keys: the fields hold the keys "
        "wished for, beside them are the keys each action has.";
    static constexpr const char* kAsking =
        "Hotkeys are to be the desktop's shortcuts: the desktop has not answered yet.";
    static constexpr const char* kRefused = "The desktop refused the shortcuts (%1): hotkeys are off.";
    static constexpr const char* kBoundNone =
        "The desktop bound none of the shortcuts: hotkeys are off until keys are given to them in the desktop's "
        "settings.";
    static constexpr const char* kNoPortal = "The desktop does not take them as its shortcuts either: %1.";
    static constexpr const char* kX11InWayland =
        "Hotkeys are X11 key grabs: in this Wayland session they see only keys typed into X11 windows.";
    // Beside the fields, where the desktop's shortcuts take the hotkeys.
    static constexpr const char* kDesktopTakesKeys =
        "On Wayland the desktop takes the keys of its shortcuts before any field here sees them: "
        "while a field has the focus they do nothing, and a field cannot record them.";
    // Why a combination cannot be a hotkey, where it is typed; "Not in use: " and the same under a
    // stored one.
    static constexpr const char* kTakenBy = "%1 is already the hotkey for: %2";
    static constexpr const char* kTypingKey =
        "%1 is needed for typing and moving around: as a hotkey it needs Ctrl or Alt with it";
    static constexpr const char* kNotInUse = "Not in use: %1";
    static constexpr const char* kByCommand =
        "Each action can be bound as a custom shortcut in the desktop's keyboard settings, to the command "
        "mivex --action NAME, NAME one of: %1.";

    // Takes the hotkeys by the grabber, or by the desktop's shortcuts where they are given and
    // available.
    CMivexDlgHotkey(PageHost& host, std::unique_ptr<IHotkeyGrabber> grabber,
                    std::unique_ptr<IDesktopShortcuts> shortcuts = nullptr, QWidget* parent = nullptr);
    // Lets go of all eight hotkeys.
    ~CMivexDlgHotkey() override;

    void OnInitDialog() override;
    void OnSetActive() override;
    void OnKillActive() override;
    // Stores and grabs all eight, then hides the window.
    void OnOK() override;
    // Lets go of all eight grabs, so that a new copy of the program can take them.
    void OnProgramClosed() override;

    // What a reported hotkey does: the first control, in the dispatch order, that shows the
    // combination acts.
    void OnHotKey(std::uint16_t virtualKey, std::uint16_t flags);
    // What the hotkey of a named action (see hotkey_actions.h) does, asked for another way than by
    // its key: nothing while a field records (the keys that asked were meant for the field);
    // false, doing nothing, for a name no action has.
    bool ActivateAction(std::string_view name);
    // Whether a hotkey field has the keyboard focus, recording what is typed: the grabs are let go
    // meanwhile, and the desktop's activations do nothing.
    bool Recording() const { return m_bRecording; }

    // The control of a hotkey by its control id (1015 ...), or nullptr.
    CHotKeyCtrl* Control(int controlId) const;
    // What the page says under that control (a refused or an unused combination), or empty.
    QString Note(int controlId) const;
    // The line that says which way hotkeys are taken, empty for X11 grabs in an X11 session.
    QString Way() const;
    // The keys the desktop gave the action of that control, as shown beside it; empty unless the
    // desktop's shortcuts take the hotkeys.
    QString DesktopKeys(int controlId) const;

private:
    struct Hotkey {
        int controlId;
        const char* atomName;
        const char* label;
        CHotKeyCtrl* control = nullptr;
        QLabel* note = nullptr;
        QLabel* desktopKeys = nullptr;  // only while the desktop's shortcuts take the hotkeys
        std::uint32_t registered = 0;   // the word stored and grabbed last
        bool unused = false;            // not grabbed: shown before it in dispatch, or a key for typing
        bool grabbed = false;

        // The action, as the log and the notes name it.
        QString Name() const { return QString(label).trimmed(); }
        const SettingKey& Key() const { return *HotkeyActionOf(controlId).key; }
    };

    Hotkey& Find(int controlId);
    const Hotkey& Find(int controlId) const;
    // The first hotkey before `hotkey` in dispatch order that shows the combination: the one that
    // acts on it instead.
    const Hotkey* ShownBefore(const Hotkey& hotkey, std::uint32_t word) const;
    // The first hotkey other than `hotkey`, in dispatch order, that shows the combination.
    const Hotkey* ShownByAnother(const Hotkey& hotkey, std::uint32_t word) const;
    // Why a combination cannot serve, given the hotkey that holds it already (or none); empty
    // when it can.
    static QString WhyNot(std::uint32_t word, const Hotkey* holder);
    // Refuses a combination that another hotkey shows or that typing needs, saying why.
    bool Accepts(Hotkey& hotkey, std::uint32_t word);
    // Makes the control's word the hotkey's: stored, marked, and grabbed or handed to the desktop.
    void RegisterHotkey(Hotkey& hotkey);
    // Remembers the control's word as registered and writes it to the settings.
    void Store(Hotkey& hotkey);
    // Whether it is not used (a hotkey before it takes its combination, or typing needs the key);
    // the note under it and the log say so.
    void MarkUnused(Hotkey& hotkey);
    // Grabs the registered word, unless it is none or unused or a field records; a refused grab is
    // tried again later.
    void Grab(Hotkey& hotkey);
    // Lets go of the grabs while a field has the focus, and takes them again after.
    void SetRecording(bool recording);
    void ShowNote(Hotkey& hotkey, const QString& text);
    // Hands the desktop all eight actions, unless it has them as they are.
    void BindShortcuts();
    void OnBound(const DesktopShortcutsState& state);
    // Hands the hotkeys to the desktop's shortcuts, or back to the grabber.
    void TakeByDesktop(bool desktop);
    // The line that says which way hotkeys are taken when the desktop's shortcuts do not take them.
    QString NotDesktopWay(const QString& whyNoDesktop) const;
    void OnTimer();
    void OnRetry();
    void Act(int controlId);
    void Log(const QString& line) const;

    PageHost& m_host;
    std::unique_ptr<IHotkeyGrabber> m_pGrabber;
    std::unique_ptr<IDesktopShortcuts> m_pShortcuts;
    bool m_bPortal = false;            // the desktop's shortcuts may take the hotkeys in this run
    bool m_bDesktopShortcuts = false;  // they take the hotkeys, not the grabber
    bool m_bRecording = false;
    std::vector<DesktopShortcut> m_bound;  // what the desktop was given last
    std::array<Hotkey, 8> m_hotkeys;
    QLabel* m_pWay = nullptr;
    QLabel* m_pDesktopTakesKeys = nullptr;
    QTimer m_bindTimer;  // changes of one tick bound together
    QTimer m_timer;
    QTimer m_retryTimer;
    QMetaObject::Connection m_focusWatch;
};
