// A control that records one key combination: a key plus any of Shift, Ctrl and Alt, shown as
// text ("Shift+F5", "None"). Focus it and press the combination; Backspace or Delete alone clears
// it; Tab and Shift+Tab move on as everywhere, Escape goes to the window.
//
//   CHotKeyCtrl control;
//   control.SetHotKey(VK_F5, HOTKEYF_SHIFT);
//   std::uint32_t word = control.HotkeyWord();   // flags high, virtual key low
#pragma once

#include <QLineEdit>
#include <cstdint>
#include <functional>

class CHotKeyCtrl : public QLineEdit {
    Q_OBJECT
public:
    explicit CHotKeyCtrl(QWidget* parent = nullptr);

    // A virtual key of 0 clears the control.
    void SetHotKey(std::uint16_t virtualKey, std::uint16_t flags);
    std::uint16_t VirtualKey() const { return m_virtualKey; }
    std::uint16_t Flags() const { return m_flags; }
    // The stored form: MakeHotkeyWord(VirtualKey(), Flags()), 0 for none.
    std::uint32_t HotkeyWord() const;

    // How a hotkey word reads, in the control and in the log: "Ctrl+Alt+F5", "None".
    static QString Text(std::uint32_t word);

    // Names the key of a combination with Shift whose symbol names no key ("!" of Shift+1) by the
    // key's native scan code, as it reads without Shift; 0 when it names none either.
    using UnshiftedKey = std::function<std::uint16_t(std::uint32_t scanCode)>;
    void SetUnshiftedKey(UnshiftedKey unshiftedKey) { m_unshiftedKey = std::move(unshiftedKey); }

signals:
    // The user entered or cleared a combination.
    void hotKeyChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ShowHeldModifiers(Qt::KeyboardModifiers modifiers);
    void ShowHotKey();

    std::uint16_t m_virtualKey = 0;
    std::uint16_t m_flags = 0;
    UnshiftedKey m_unshiftedKey;
};
