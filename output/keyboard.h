// Key events; the program sends them only at shutdown, to let go of the hotkey's keys.
#pragma once

#include <cstdint>

#include "output/input_injector.h"

class CKeyboard {
public:
    // The injector must outlive the keyboard.
    explicit CKeyboard(IInputInjector& injector);
    // Injects a Ctrl key-up and a space key-up, so that no key of the hotkey stays down.
    ~CKeyboard();
    CKeyboard(const CKeyboard&) = delete;
    CKeyboard& operator=(const CKeyboard&) = delete;

    // A Ctrl key-up first, then the given key: pressed when down > 0, released otherwise.
    void Key(std::uint16_t virtualKey, int down);

private:
    IInputInjector& m_injector;
};
