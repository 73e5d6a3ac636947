// Virtual-key codes (the program's stored key numbers) translated to X key symbols, to Linux
// input key codes and to Qt's key codes. Covers what the program injects and what hotkeys may name: Ctrl, space,
// letters, digits, F1..F24, the keypad, arrows and the usual editing and modifier keys.
#pragma once

#include <cstdint>
#include <span>

// The X key symbol (KeySym) of a virtual key, 0 (NoSymbol) when it has none here.
unsigned long VirtualKeyToKeySym(std::uint16_t vk);

// The virtual key of an X key symbol, 0 when it has none here. Lower- and upper-case letters
// both give the letter's code.
std::uint16_t KeySymToVirtualKey(unsigned long keysym);

// The Linux input key code (KEY_*) of a virtual key, -1 when it has none here.
int VirtualKeyToEvdevCode(std::uint16_t vk);

// Qt's key code (Qt::Key, with Qt::KeypadModifier for keys of the keypad) of a virtual key, 0
// when it has none here.
int VirtualKeyToQtKey(std::uint16_t vk);
// The virtual key of a Qt key code as VirtualKeyToQtKey gives it, 0 when it has none here. A
// keypad key that has no keypad key of its own here (an arrow, Home) gives the main key.
std::uint16_t QtKeyToVirtualKey(int qtKey);

// Every KEY_* code that some virtual key maps to, each once; the keys a virtual device announces.
std::span<const int> EvdevKeyCodes();
