#include "hotkey_ctrl.h"

#include <QKeyEvent>
#include <QKeySequence>

#include "hotkey_grabber.h"
#include "virtual_keys.h"

namespace {

constexpr const char* kNone = "None";

std::uint16_t FlagsOf(Qt::KeyboardModifiers modifiers) {
    return ((modifiers & Qt::ShiftModifier) ? HOTKEYF_SHIFT : 0) |
           ((modifiers & Qt::ControlModifier) ? HOTKEYF_CONTROL : 0) |
           ((modifiers & Qt::AltModifier) ? HOTKEYF_ALT : 0);
}

Qt::KeyboardModifiers ModifiersOf(std::uint16_t flags) {
    Qt::KeyboardModifiers modifiers;
    if (flags & HOTKEYF_SHIFT) modifiers |= Qt::ShiftModifier;
    if (flags & HOTKEYF_CONTROL) modifiers |= Qt::ControlModifier;
    if (flags & HOTKEYF_ALT) modifiers |= Qt::AltModifier;
    return modifiers;
}

bool IsModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
           key == Qt::Key_AltGr || key == Qt::Key_Super_L || key == Qt::Key_Super_R;
}

}  // namespace

CHotKeyCtrl::CHotKeyCtrl(QWidget* parent) : QLineEdit(parent) {
    // The text only shows the combination: typing records keys instead of editing it.
    setReadOnly(true);
    setFocusPolicy(Qt::StrongFocus);
    ShowHotKey();
}

void CHotKeyCtrl::SetHotKey(std::uint16_t virtualKey, std::uint16_t flags) {
    m_virtualKey = virtualKey;
    m_flags = virtualKey == 0 ? 0 : flags;
    ShowHotKey();
}

std::uint32_t CHotKeyCtrl::HotkeyWord() const { return m_virtualKey == 0 ? 0 : MakeHotkeyWord(m_virtualKey, m_flags); }

QString CHotKeyCtrl::Text(std::uint32_t word) {
    const int qtKey = VirtualKeyToQtKey(HotkeyVirtualKey(word));
    if (word == 0) return kNone;
    if (qtKey == 0) return QString("Key 0x%1").arg(HotkeyVirtualKey(word), 2, 16, QChar('0'));
    const QKeyCombination combination(
        ModifiersOf(HotkeyFlags(word)) | Qt::KeyboardModifiers(qtKey & Qt::KeypadModifier),
        Qt::Key(qtKey & ~Qt::KeypadModifier));
    return QKeySequence(combination).toString(QKeySequence::NativeText);
}

void CHotKeyCtrl::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers held = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (key == Qt::Key_Escape || ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && (held & ~Qt::ShiftModifier) == 0)) {
        event->ignore();
        return;
    }
    if (IsModifierKey(key)) {
        ShowHeldModifiers(held);
        return;
    }
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && held == 0) {
        SetHotKey(0, 0);
        emit hotKeyChanged();
        return;
    }
    std::uint16_t virtualKey = QtKeyToVirtualKey(key | (event->modifiers() & Qt::KeypadModifier));
    if (virtualKey == 0 && (held & Qt::ShiftModifier) && m_unshiftedKey)
        virtualKey = m_unshiftedKey(event->nativeScanCode());
    if (virtualKey == 0) return;  // a key that no hotkey can name
    SetHotKey(virtualKey, FlagsOf(held));
    emit hotKeyChanged();
}

void CHotKeyCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (IsModifierKey(event->key())) {
        const Qt::KeyboardModifiers held =
            event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (held == 0)
            ShowHotKey();
        else
            ShowHeldModifiers(held);
    }
}

void CHotKeyCtrl::focusOutEvent(QFocusEvent* event) {
    ShowHotKey();
    QLineEdit::focusOutEvent(event);
}

void CHotKeyCtrl::ShowHeldModifiers(Qt::KeyboardModifiers modifiers) {
    // Modifiers alone are no combination yet: shown while held, as "Ctrl+Alt+".
    QString text = QKeySequence(QKeyCombination(modifiers, Qt::Key_A)).toString(QKeySequence::NativeText);
    text.chop(1);
    setText(modifiers == 0 ? Text(HotkeyWord()) : text);
}

void CHotKeyCtrl::ShowHotKey() { setText(Text(HotkeyWord())); }
