// Virtual-key codes (the program's stored key numbers) translated to X key symbols, to Linux
// input key codes and to Qt's key codes. Covers what the program injects and what hotkeys may name:
// Ctrl, space, letters, digits, the punctuation keys, F1..F24, the keypad, arrows, the usual
// editing, lock and modifier keys, Print and Menu.
//
// Where two keys share one code (Enter and keypad Enter), the extended flag of a hotkey word
// (HOTKEYF_EXT) picks the extended one; every other key is found with or without the flag, so
// words stored without it name the same key. The punctuation keys are named by their place on the
// keyboard: VK_OEM_1 is the key right of L, whatever the layout makes it type.
#pragma once

#include <cstdint>
#include <span>

// The X key symbol (KeySym) of a virtual key, 0 (NoSymbol) when it has none here.
unsigned long VirtualKeyToKeySym(std::uint16_t vk, bool extended = false);

// The virtual key of an X key symbol, 0 when it has none here. Lower- and upper-case letters
// both give the letter's code.
std::uint16_t KeySymToVirtualKey(unsigned long keysym);

// The Linux input key code (KEY_*) of a virtual key, -1 when it has none here.
int VirtualKeyToEvdevCode(std::uint16_t vk);

// Qt's key code (Qt::Key, with Qt::KeypadModifier for keys of the keypad) of a virtual key, 0
// when it has none here.
int VirtualKeyToQtKey(std::uint16_t vk, bool extended = false);

// A virtual key and whether it is an extended key.
struct NamedKey {
    std::uint16_t vk = 0;
    bool extended = false;
};
// The key of a Qt key code as VirtualKeyToQtKey gives it, vk 0 when it has none here. A keypad key
// that has no keypad key of its own here (an arrow, Home) gives the main key.
NamedKey QtKeyToVirtualKey(int qtKey);
// Whether the key is an extended one (arrows, Insert, Print, ...); for the code of Enter, the main
// key's answer.
bool IsExtendedKey(std::uint16_t vk);

// Whether typing, editing or moving around needs the key: Enter, Space, Tab, Backspace, Delete,
// Escape, letters, digits, punctuation, the arrows, Home, End, Page Up/Down, Insert, the lock keys
// of typing (Caps Lock, Num Lock), Menu and the keypad. Function keys, Pause, Print and Scroll
// Lock are not. A program that grabs one of these alone takes it from every other program.
bool IsTypingKey(std::uint16_t vk, bool extended = false);

// Whether the key is named by its place on the keyboard (a punctuation key).
bool IsNamedByPlace(std::uint16_t vk);
// The punctuation key at this place, given as a Linux input key code; 0 for any other key.
std::uint16_t PlacedVirtualKey(int evdevCode);

// Every KEY_* code that some virtual key maps to, each once; the keys a virtual device announces.
std::span<const int> EvdevKeyCodes();
