#include "output/keyboard.h"

CKeyboard::CKeyboard(IInputInjector& injector) : m_injector(injector) {}

CKeyboard::~CKeyboard() { Key(VK_SPACE, 0); }

void CKeyboard::Key(std::uint16_t virtualKey, int down) {
    m_injector.Send(InputEvent::Keyboard(VK_CONTROL, KEYEVENTF_KEYUP));
    m_injector.Send(InputEvent::Keyboard(virtualKey, down > 0 ? 0 : KEYEVENTF_KEYUP));
}
