#include "ui/hotkey_ctrl.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>

#include "output/hotkey_grabber.h"
#include "output/virtual_keys.h"

namespace {

constexpr const char* kNone = "None";
// The modifiers a hotkey may have.
constexpr Qt::KeyboardModifiers kHotkeyModifiers = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

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
    m_heldCheck.setInterval(kHeldCheckMs);
    connect(&m_heldCheck, &QTimer::timeout, this, [this] { CheckHeldModifiers(); });
    ShowHotKey();
}

void CHotKeyCtrl::SetHotKey(std::uint16_t virtualKey, std::uint16_t flags) {
    m_virtualKey = virtualKey;
    m_flags = virtualKey == 0 ? 0 : flags;
    ShowHotKey();
}

std::uint32_t CHotKeyCtrl::HotkeyWord() const { return m_virtualKey == 0 ? 0 : MakeHotkeyWord(m_virtualKey, m_flags); }

QString CHotKeyCtrl::Text(std::uint32_t word) {
    const int qtKey = VirtualKeyToQtKey(HotkeyVirtualKey(word), (HotkeyFlags(word) & HOTKEYF_EXT) != 0);
    if (word == 0) return kNone;
    if (qtKey == 0) return QString("Key 0x%1").arg(HotkeyVirtualKey(word), 2, 16, QChar('0'));
    const QKeyCombination combination(
        ModifiersOf(HotkeyFlags(word)) | Qt::KeyboardModifiers(qtKey & Qt::KeypadModifier),
        Qt::Key(qtKey & ~Qt::KeypadModifier));
    return QKeySequence(combination).toString(QKeySequence::NativeText);
}

bool CHotKeyCtrl::SameCombination(std::uint32_t a, std::uint32_t b) {
    if (a == 0 || b == 0 || HotkeyVirtualKey(a) != HotkeyVirtualKey(b) || HotkeyModifiers(a) != HotkeyModifiers(b))
        return a == b;
    // The key the flag picks, with or without it.
    const auto keysymOf = [](std::uint32_t word) {
        return VirtualKeyToKeySym(HotkeyVirtualKey(word), (HotkeyFlags(word) & HOTKEYF_EXT) != 0);
    };
    return keysymOf(a) == keysymOf(b);
}

bool CHotKeyCtrl::IsTypingKeyAlone(std::uint32_t word) {
    return word != 0 && (HotkeyFlags(word) & (HOTKEYF_CONTROL | HOTKEYF_ALT)) == 0 &&
           IsTypingKey(HotkeyVirtualKey(word), (HotkeyFlags(word) & HOTKEYF_EXT) != 0);
}

void CHotKeyCtrl::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers held = event->modifiers() & kHotkeyModifiers;
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
    NamedKey named = QtKeyToVirtualKey(key | (event->modifiers() & Qt::KeypadModifier));
    if ((named.vk == 0 || IsNamedByPlace(named.vk)) && m_keyAt)
        if (const std::uint16_t at = m_keyAt(event->nativeScanCode()); at != 0) named = {at, IsExtendedKey(at)};
    if (named.vk == 0) return;  // a key that no hotkey can name
    const auto flags = static_cast<std::uint16_t>(FlagsOf(held) | (named.extended ? HOTKEYF_EXT : 0));
    if (m_check && !m_check(MakeHotkeyWord(named.vk, flags))) {
        ShowHotKey();
        return;
    }
    SetHotKey(named.vk, flags);
    emit hotKeyChanged();
}

void CHotKeyCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (IsModifierKey(event->key())) {
        const Qt::KeyboardModifiers held = event->modifiers() & kHotkeyModifiers;
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
    if (modifiers == 0) {
        ShowHotKey();
        return;
    }
    // Modifiers alone are no combination yet: shown while held, as "Ctrl+Alt+".
    QString text = QKeySequence(QKeyCombination(modifiers, Qt::Key_A)).toString(QKeySequence::NativeText);
    text.chop(1);
    setText(text);
    m_heldCheck.start();
}

void CHotKeyCtrl::CheckHeldModifiers() {
    // Their release may never come here: the focus moved within a window that is not the active
    // one (no focus-out then), or the desktop took the keys for a shortcut of its own.
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers() & kHotkeyModifiers;
    if (held == 0 || !isVisible() || window()->focusWidget() != this) ShowHotKey();
}

void CHotKeyCtrl::ShowHotKey() {
    m_heldCheck.stop();
    setText(Text(HotkeyWord()));
}
