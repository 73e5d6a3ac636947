// The "Hotkeys" page: eight system-wide hotkeys that switch head control on and off, click,
// double-click, hold and release the middle button, and centre the view, each stored in its
// settings key and grabbed for the whole desktop from start-up until the page goes.
//
//   auto* page = new CMivexDlgHotkey(host, std::make_unique<CX11HotkeyGrabber>());
//   sheet.AddPage(page);   // start-up activates it once: the stored hotkeys are grabbed
//
// A combination changed in a control takes effect within 200 ms while the page is the active
// one, and on OK. A combination that another of the eight already shows is refused where it is
// typed; where the stored settings hold one twice, only the first in the order of dispatch is
// grabbed and the page marks the other. A grab that fails (another program holds the combination)
// is tried again every second. All of it runs on the user-interface thread.
#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "hotkey_grabber.h"
#include "page_tooltips.h"
#include "settings_keys.h"

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

    CMivexDlgHotkey(PageHost& host, std::unique_ptr<IHotkeyGrabber> grabber, QWidget* parent = nullptr);
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
    // its key; false, doing nothing, for a name no action has.
    bool ActivateAction(std::string_view name);

    // The control of a hotkey by its control id (1015 ...), or nullptr.
    CHotKeyCtrl* Control(int controlId) const;
    // What the page says under that control (a refused or an unused combination), or empty.
    QString Note(int controlId) const;

private:
    struct Hotkey {
        int controlId;
        const SettingKey* key;
        const char* atomName;
        const char* label;
        CHotKeyCtrl* control = nullptr;
        QLabel* note = nullptr;
        std::uint32_t registered = 0;  // the word stored and grabbed last
        bool shadowed = false;         // not grabbed: a hotkey before it in dispatch shows the same
        bool grabbed = false;

        // The action, as the log and the notes name it.
        QString Name() const { return QString(label).trimmed(); }
    };

    Hotkey& Find(int controlId);
    const Hotkey& Find(int controlId) const;
    // The first hotkey other than `hotkey` in dispatch order that shows the combination; with
    // `before`, only one that comes before `hotkey`.
    const Hotkey* ShownElsewhere(const Hotkey& hotkey, std::uint32_t word, bool before) const;
    // Refuses a combination that another hotkey shows, saying which.
    bool Accepts(Hotkey& hotkey, std::uint32_t word);
    // Stores the control's word and grabs it, unless it is none or shadowed.
    void RegisterHotkey(Hotkey& hotkey);
    void ShowNote(Hotkey& hotkey, const QString& text);
    void OnTimer();
    void OnRetry();
    void Act(int controlId);
    void Log(const QString& line) const;

    PageHost& m_host;
    std::unique_ptr<IHotkeyGrabber> m_pGrabber;
    std::array<Hotkey, 8> m_hotkeys;
    QLabel* m_pUnavailable = nullptr;
    QTimer m_timer;
    QTimer m_retryTimer;
};
