// The "Hotkeys" page: eight system-wide hotkeys that switch head control on and off, click,
// double-click, hold and release the middle button, and centre the view, each stored in its
// settings key and grabbed for the whole desktop from start-up until the page goes.
//
//   auto* page = new CMivexDlgHotkey(host, std::make_unique<CX11HotkeyGrabber>());
//   sheet.AddPage(page);   // start-up activates it once: the stored hotkeys are grabbed
//
// A combination changed in a control takes effect within 200 ms while the page is the active
// one, and on OK. All of it runs on the user-interface thread.
#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>

#include "hotkey_grabber.h"
#include "page_tooltips.h"
#include "settings_keys.h"

class CHotKeyCtrl;
class QLabel;
struct PageHost;

class CMivexDlgHotkey : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    static constexpr int kTimerMs = 200;  // timer 5: changes re-registered while active

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

    // What a reported hotkey does: the first control, in the dispatch order, that shows the
    // combination acts.
    void OnHotKey(std::uint16_t virtualKey, std::uint16_t modifiers);

    // The control of a hotkey by its control id (1015 ...), or nullptr.
    CHotKeyCtrl* Control(int controlId) const;

private:
    struct Hotkey {
        int controlId;
        const SettingKey* key;
        const char* atomName;
        const char* label;
        CHotKeyCtrl* control = nullptr;
        std::uint32_t registered = 0;  // the word grabbed last
    };

    Hotkey& Find(int controlId);
    void RegisterHotkey(Hotkey& hotkey);
    void OnTimer();
    void Act(int controlId);
    void Log(const QString& line) const;

    PageHost& m_host;
    std::unique_ptr<IHotkeyGrabber> m_pGrabber;
    std::array<Hotkey, 8> m_hotkeys;
    QLabel* m_pUnavailable = nullptr;
    QTimer m_timer;
};
