#include "virtual_keys.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

#include <QtCore/qnamespace.h>

#include <algorithm>
#include <vector>

#include "input_event.h"

namespace {

// Keypad keys carry Qt's keypad flag with their Qt key, as Qt's key events report them.
constexpr int kKeypadKey = Qt::KeypadModifier;

struct VirtualKey {
    std::uint16_t vk;
    unsigned long keysym;
    int evdev;
    int qtKey;
};

std::vector<VirtualKey> BuildTable() {
    std::vector<VirtualKey> table = {
        {VK_BACK, XK_BackSpace, KEY_BACKSPACE, Qt::Key_Backspace},
        {VK_TAB, XK_Tab, KEY_TAB, Qt::Key_Tab},
        {VK_RETURN, XK_Return, KEY_ENTER, Qt::Key_Return},
        {VK_SHIFT, XK_Shift_L, KEY_LEFTSHIFT, Qt::Key_Shift},
        {VK_CONTROL, XK_Control_L, KEY_LEFTCTRL, Qt::Key_Control},
        {VK_MENU, XK_Alt_L, KEY_LEFTALT, Qt::Key_Alt},
        {VK_PAUSE, XK_Pause, KEY_PAUSE, Qt::Key_Pause},
        {VK_CAPITAL, XK_Caps_Lock, KEY_CAPSLOCK, Qt::Key_CapsLock},
        {VK_ESCAPE, XK_Escape, KEY_ESC, Qt::Key_Escape},
        {VK_SPACE, XK_space, KEY_SPACE, Qt::Key_Space},
        {VK_PRIOR, XK_Prior, KEY_PAGEUP, Qt::Key_PageUp},
        {VK_NEXT, XK_Next, KEY_PAGEDOWN, Qt::Key_PageDown},
        {VK_END, XK_End, KEY_END, Qt::Key_End},
        {VK_HOME, XK_Home, KEY_HOME, Qt::Key_Home},
        {VK_LEFT, XK_Left, KEY_LEFT, Qt::Key_Left},
        {VK_UP, XK_Up, KEY_UP, Qt::Key_Up},
        {VK_RIGHT, XK_Right, KEY_RIGHT, Qt::Key_Right},
        {VK_DOWN, XK_Down, KEY_DOWN, Qt::Key_Down},
        {VK_INSERT, XK_Insert, KEY_INSERT, Qt::Key_Insert},
        {VK_DELETE, XK_Delete, KEY_DELETE, Qt::Key_Delete},
        {VK_MULTIPLY, XK_KP_Multiply, KEY_KPASTERISK, Qt::Key_Asterisk | kKeypadKey},
        {VK_ADD, XK_KP_Add, KEY_KPPLUS, Qt::Key_Plus | kKeypadKey},
        {VK_SUBTRACT, XK_KP_Subtract, KEY_KPMINUS, Qt::Key_Minus | kKeypadKey},
        {VK_DECIMAL, XK_KP_Decimal, KEY_KPDOT, Qt::Key_Period | kKeypadKey},
        {VK_DIVIDE, XK_KP_Divide, KEY_KPSLASH, Qt::Key_Slash | kKeypadKey},
        {VK_LSHIFT, XK_Shift_L, KEY_LEFTSHIFT, Qt::Key_Shift},
        {VK_RSHIFT, XK_Shift_R, KEY_RIGHTSHIFT, Qt::Key_Shift},
        {VK_LCONTROL, XK_Control_L, KEY_LEFTCTRL, Qt::Key_Control},
        {VK_RCONTROL, XK_Control_R, KEY_RIGHTCTRL, Qt::Key_Control},
        {VK_LMENU, XK_Alt_L, KEY_LEFTALT, Qt::Key_Alt},
        {VK_RMENU, XK_Alt_R, KEY_RIGHTALT, Qt::Key_Alt},
    };
    // KEY_* codes follow the keyboard's rows, not the alphabet.
    static constexpr int kLetters[26] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                         KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                         KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    // The unshifted symbol, the one a key event reports without Shift.
    for (int i = 0; i < 26; ++i)
        table.push_back(
            {static_cast<std::uint16_t>('A' + i), static_cast<unsigned long>(XK_a + i), kLetters[i], Qt::Key_A + i});
    static constexpr int kDigits[10] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
    static constexpr int kKeypad[10] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                        KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
    for (int i = 0; i < 10; ++i) {
        table.push_back(
            {static_cast<std::uint16_t>('0' + i), static_cast<unsigned long>(XK_0 + i), kDigits[i], Qt::Key_0 + i});
        table.push_back({static_cast<std::uint16_t>(VK_NUMPAD0 + i), static_cast<unsigned long>(XK_KP_0 + i),
                         kKeypad[i], (Qt::Key_0 + i) | kKeypadKey});
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

const VirtualKey* Find(std::uint16_t vk) {
    for (const VirtualKey& key : Table())
        if (key.vk == vk) return &key;
    return nullptr;
}

}  // namespace

unsigned long VirtualKeyToKeySym(std::uint16_t vk) {
    const VirtualKey* key = Find(vk);
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

int VirtualKeyToQtKey(std::uint16_t vk) {
    const VirtualKey* key = Find(vk);
    return key ? key->qtKey : 0;
}

std::uint16_t QtKeyToVirtualKey(int qtKey) {
    for (const VirtualKey& key : Table())
        if (key.qtKey == qtKey) return key.vk;
    // Keypad keys without a number of their own (arrows, Home) are the main keys.
    if ((qtKey & kKeypadKey) != 0) return QtKeyToVirtualKey(qtKey & ~kKeypadKey);
    return 0;
}
