// A control that records one key combination: a key plus any of Shift, Ctrl and Alt, shown as
// text ("Shift+F5", "None"). Focus it and press the combination; Backspace or Delete alone clears
// it; Tab and Shift+Tab move on as everywhere, Escape goes to the window. Modifiers held without a
// key show as "Ctrl+Alt+" until they are let go or the focus leaves.
//
//   CHotKeyCtrl control;
//   control.SetHotKey(VK_F5, HOTKEYF_SHIFT);
//   std::uint32_t word = control.HotkeyWord();   // flags high, virtual key low
#pragma once

#include <QLineEdit>
#include <QTimer>
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
    // The stored form: MakeHotkeyWord(VirtualKey(), Flags()), 0 for none. An extended key (an
    // arrow, Insert, keypad Enter) carries HOTKEYF_EXT.
    std::uint32_t HotkeyWord() const;

    // How a hotkey word reads, in the control and in the log: "Ctrl+Alt+F5", "None".
    static QString Text(std::uint32_t word);
    // Whether two words name the same key with the same modifiers: a word stored without the
    // extended flag names the same key as one with it, except where the flag picks another key.
    static bool SameCombination(std::uint32_t a, std::uint32_t b);
    // Whether the combination is a key that typing, editing or moving around needs with neither
    // Ctrl nor Alt (Shift alone does not count): grabbed, it would be taken from every program.
    static bool IsTypingKeyAlone(std::uint32_t word);

    // Names a key by its native scan code where the key's symbol does not: a punctuation key by
    // its place on the keyboard, a key with Shift whose symbol names no key ("!" of Shift+1) as
    // it reads without Shift; 0 when it names none either.
    using KeyAt = std::function<std::uint16_t(std::uint32_t scanCode)>;
    void SetKeyAt(KeyAt keyAt) { m_keyAt = std::move(keyAt); }
    // Asked before a combination is recorded; a combination it refuses is not taken (the check
    // says why) and the control keeps what it had.
    using Check = std::function<bool(std::uint32_t word)>;
    void SetCheck(Check check) { m_check = std::move(check); }

signals:
    // The user entered or cleared a combination.
    void hotKeyChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // How often modifiers shown without a key are checked for still being held here.
    static constexpr int kHeldCheckMs = 100;

    void ShowHeldModifiers(Qt::KeyboardModifiers modifiers);
    void CheckHeldModifiers();
    void ShowHotKey();

    std::uint16_t m_virtualKey = 0;
    std::uint16_t m_flags = 0;
    KeyAt m_keyAt;
    Check m_check;
    QTimer m_heldCheck;
};
