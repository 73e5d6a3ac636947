#include "output/virtual_keys.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

#include <QtCore/qnamespace.h>

#include <algorithm>
#include <vector>

#include "output/input_event.h"

namespace {

// Keypad keys carry Qt's keypad flag with their Qt key, as Qt's key events report them.
constexpr int kKeypadKey = Qt::KeypadModifier;

// What sets a key apart.
constexpr int kExtended = 1;  // an extended key: HOTKEYF_EXT in a hotkey word
constexpr int kByPlace = 2;   // named by its place on the keyboard, whatever the layout makes it type
constexpr int kTyping = 4;    // typing, editing or moving around needs it

struct VirtualKey {
    std::uint16_t vk;
    unsigned long keysym;
    int evdev;
    int qtKey;
    int traits = 0;
};

std::vector<VirtualKey> BuildTable() {
    std::vector<VirtualKey> table = {
        {VK_BACK, XK_BackSpace, KEY_BACKSPACE, Qt::Key_Backspace, kTyping},
        {VK_TAB, XK_Tab, KEY_TAB, Qt::Key_Tab, kTyping},
        {VK_RETURN, XK_Return, KEY_ENTER, Qt::Key_Return, kTyping},
        {VK_SHIFT, XK_Shift_L, KEY_LEFTSHIFT, Qt::Key_Shift},
        {VK_CONTROL, XK_Control_L, KEY_LEFTCTRL, Qt::Key_Control},
        {VK_MENU, XK_Alt_L, KEY_LEFTALT, Qt::Key_Alt},
        {VK_PAUSE, XK_Pause, KEY_PAUSE, Qt::Key_Pause},
        {VK_CAPITAL, XK_Caps_Lock, KEY_CAPSLOCK, Qt::Key_CapsLock, kTyping},
        {VK_ESCAPE, XK_Escape, KEY_ESC, Qt::Key_Escape, kTyping},
        {VK_SPACE, XK_space, KEY_SPACE, Qt::Key_Space, kTyping},
        {VK_PRIOR, XK_Prior, KEY_PAGEUP, Qt::Key_PageUp, kExtended | kTyping},
        {VK_NEXT, XK_Next, KEY_PAGEDOWN, Qt::Key_PageDown, kExtended | kTyping},
        {VK_END, XK_End, KEY_END, Qt::Key_End, kExtended | kTyping},
        {VK_HOME, XK_Home, KEY_HOME, Qt::Key_Home, kExtended | kTyping},
        {VK_LEFT, XK_Left, KEY_LEFT, Qt::Key_Left, kExtended | kTyping},
        {VK_UP, XK_Up, KEY_UP, Qt::Key_Up, kExtended | kTyping},
        {VK_RIGHT, XK_Right, KEY_RIGHT, Qt::Key_Right, kExtended | kTyping},
        {VK_DOWN, XK_Down, KEY_DOWN, Qt::Key_Down, kExtended | kTyping},
        {VK_INSERT, XK_Insert, KEY_INSERT, Qt::Key_Insert, kExtended | kTyping},
        {VK_DELETE, XK_Delete, KEY_DELETE, Qt::Key_Delete, kExtended | kTyping},
        {VK_MULTIPLY, XK_KP_Multiply, KEY_KPASTERISK, Qt::Key_Asterisk | kKeypadKey, kTyping},
        {VK_ADD, XK_KP_Add, KEY_KPPLUS, Qt::Key_Plus | kKeypadKey, kTyping},
        {VK_SUBTRACT, XK_KP_Subtract, KEY_KPMINUS, Qt::Key_Minus | kKeypadKey, kTyping},
        {VK_DECIMAL, XK_KP_Decimal, KEY_KPDOT, Qt::Key_Period | kKeypadKey, kTyping},
        {VK_DIVIDE, XK_KP_Divide, KEY_KPSLASH, Qt::Key_Slash | kKeypadKey, kExtended | kTyping},
        {VK_LSHIFT, XK_Shift_L, KEY_LEFTSHIFT, Qt::Key_Shift},
        {VK_RSHIFT, XK_Shift_R, KEY_RIGHTSHIFT, Qt::Key_Shift},
        {VK_LCONTROL, XK_Control_L, KEY_LEFTCTRL, Qt::Key_Control},
        {VK_RCONTROL, XK_Control_R, KEY_RIGHTCTRL, Qt::Key_Control, kExtended},
        {VK_LMENU, XK_Alt_L, KEY_LEFTALT, Qt::Key_Alt},
        {VK_RMENU, XK_Alt_R, KEY_RIGHTALT, Qt::Key_Alt, kExtended},
        // After Enter: a word without the extended flag names Enter.
        {VK_RETURN, XK_KP_Enter, KEY_KPENTER, Qt::Key_Enter | kKeypadKey, kExtended | kTyping},
        {VK_SNAPSHOT, XK_Print, KEY_SYSRQ, Qt::Key_Print, kExtended},
        {VK_SCROLL, XK_Scroll_Lock, KEY_SCROLLLOCK, Qt::Key_ScrollLock},
        {VK_NUMLOCK, XK_Num_Lock, KEY_NUMLOCK, Qt::Key_NumLock, kExtended | kTyping},
        {VK_APPS, XK_Menu, KEY_COMPOSE, Qt::Key_Menu, kExtended | kTyping},
        // The punctuation keys by their place on the keyboard, with what they type on the US layout.
        {VK_OEM_1, XK_semicolon, KEY_SEMICOLON, Qt::Key_Semicolon, kByPlace | kTyping},
        {VK_OEM_PLUS, XK_equal, KEY_EQUAL, Qt::Key_Equal, kByPlace | kTyping},
        {VK_OEM_COMMA, XK_comma, KEY_COMMA, Qt::Key_Comma, kByPlace | kTyping},
        {VK_OEM_MINUS, XK_minus, KEY_MINUS, Qt::Key_Minus, kByPlace | kTyping},
        {VK_OEM_PERIOD, XK_period, KEY_DOT, Qt::Key_Period, kByPlace | kTyping},
        {VK_OEM_2, XK_slash, KEY_SLASH, Qt::Key_Slash, kByPlace | kTyping},
        {VK_OEM_3, XK_grave, KEY_GRAVE, Qt::Key_QuoteLeft, kByPlace | kTyping},
        {VK_OEM_4, XK_bracketleft, KEY_LEFTBRACE, Qt::Key_BracketLeft, kByPlace | kTyping},
        {VK_OEM_5, XK_backslash, KEY_BACKSLASH, Qt::Key_Backslash, kByPlace | kTyping},
        {VK_OEM_6, XK_bracketright, KEY_RIGHTBRACE, Qt::Key_BracketRight, kByPlace | kTyping},
        {VK_OEM_7, XK_apostrophe, KEY_APOSTROPHE, Qt::Key_Apostrophe, kByPlace | kTyping},
    };
    // KEY_* codes follow the keyboard's rows, not the alphabet.
    static constexpr int kLetters[26] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                         KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                         KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    // The unshifted symbol, the one a key event reports without Shift.
    for (int i = 0; i < 26; ++i)
        table.push_back({static_cast<std::uint16_t>('A' + i), static_cast<unsigned long>(XK_a + i), kLetters[i],
                         Qt::Key_A + i, kTyping});
    static constexpr int kDigits[10] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
    static constexpr int kKeypad[10] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                        KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
    for (int i = 0; i < 10; ++i) {
        table.push_back({static_cast<std::uint16_t>('0' + i), static_cast<unsigned long>(XK_0 + i), kDigits[i],
                         Qt::Key_0 + i, kTyping});
        table.push_back({static_cast<std::uint16_t>(VK_NUMPAD0 + i), static_cast<unsigned long>(XK_KP_0 + i),
                         kKeypad[i], (Qt::Key_0 + i) | kKeypadKey, kTyping});
    }
    static constexpr int kFunction[24] = {KEY_F1,  KEY_F2,  KEY_F3,  KEY_F4,  KEY_F5,  KEY_F6,  KEY_F7,  KEY_F8,
                                          KEY_F9,  KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14, KEY_F15, KEY_F16,
                                          KEY_F17, KEY_F18, KEY_F19, KEY_F20, KEY_F21, KEY_F22, KEY_F23, KEY_F24};
    for (int i = 0; i < 24; ++i)
        table.push_back({static_cast<std::uint16_t>(VK_F1 + i), static_cast<unsigned long>(XK_F1 + i), kFunction[i],
                         Qt::Key_F1 + i});
    return table;
}

const std::vector<VirtualKey>& Table() {
    static const std::vector<VirtualKey> table = BuildTable();
    return table;
}

// The key of a virtual key; where two keys share one code (Enter and keypad Enter), extended
// picks one; any other key is found with or without it.
const VirtualKey* Find(std::uint16_t vk, bool extended = false) {
    const VirtualKey* found = nullptr;
    for (const VirtualKey& key : Table()) {
        if (key.vk != vk) continue;
        if (((key.traits & kExtended) != 0) == extended) return &key;
        if (found == nullptr) found = &key;
    }
    return found;
}

}  // namespace

unsigned long VirtualKeyToKeySym(std::uint16_t vk, bool extended) {
    const VirtualKey* key = Find(vk, extended);
    return key ? key->keysym : 0;
}

std::uint16_t KeySymToVirtualKey(unsigned long keysym) {
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    // The generic modifiers come first in the table, so Control_L gives VK_CONTROL.
    for (const VirtualKey& key : Table())
        if (key.keysym == keysym) return key.vk;
    return 0;
}

int VirtualKeyToEvdevCode(std::uint16_t vk) {
    const VirtualKey* key = Find(vk);
    return key ? key->evdev : -1;
}

std::span<const int> EvdevKeyCodes() {
    static const std::vector<int> codes = [] {
        std::vector<int> all;
        for (const VirtualKey& key : Table()) all.push_back(key.evdev);
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return all;
    }();
    return codes;
}

int VirtualKeyToQtKey(std::uint16_t vk, bool extended) {
    const VirtualKey* key = Find(vk, extended);
    return key ? key->qtKey : 0;
}

NamedKey QtKeyToVirtualKey(int qtKey) {
    for (const VirtualKey& key : Table())
        if (key.qtKey == qtKey) return {key.vk, (key.traits & kExtended) != 0};
    // Keypad keys without a code of their own (arrows, Home) are the main keys; the keypad's "=" or
    // "," is not the punctuation key of that name.
    if ((qtKey & kKeypadKey) != 0)
        if (const NamedKey main = QtKeyToVirtualKey(qtKey & ~kKeypadKey); !IsNamedByPlace(main.vk)) return main;
    return {};
}

bool IsExtendedKey(std::uint16_t vk) {
    const VirtualKey* key = Find(vk);
    return key != nullptr && (key->traits & kExtended) != 0;
}

bool IsTypingKey(std::uint16_t vk, bool extended) {
    const VirtualKey* key = Find(vk, extended);
    return key != nullptr && (key->traits & kTyping) != 0;
}

bool IsNamedByPlace(std::uint16_t vk) {
    const VirtualKey* key = Find(vk);
    return key != nullptr && (key->traits & kByPlace) != 0;
}

std::uint16_t PlacedVirtualKey(int evdevCode) {
    for (const VirtualKey& key : Table())
        if ((key.traits & kByPlace) != 0 && key.evdev == evdevCode) return key.vk;
    return 0;
}
