// One synthetic input event, shaped like the record the program has always handed to the system:
// a mouse event (relative motion, button transitions, or a turn of the wheel) or a key event
// (virtual-key code).
// The constants keep the Windows names and values so that stored hotkey words and the click
// tables stay as they are.
//
//   injector.Send(InputEvent::Mouse(MOUSEEVENTF_MOVE, 3, -2));
//   injector.Send(InputEvent::Wheel(MOUSEEVENTF_WHEEL, -WHEEL_DELTA));   // one notch toward the user
//   injector.Send(InputEvent::Keyboard(VK_SPACE, KEYEVENTF_KEYUP));
#pragma once

#include <cstdint>
#include <ostream>

inline constexpr std::uint32_t INPUT_MOUSE = 0;
inline constexpr std::uint32_t INPUT_KEYBOARD = 1;

inline constexpr std::uint32_t MOUSEEVENTF_MOVE = 0x0001;
inline constexpr std::uint32_t MOUSEEVENTF_LEFTDOWN = 0x0002;
inline constexpr std::uint32_t MOUSEEVENTF_LEFTUP = 0x0004;
inline constexpr std::uint32_t MOUSEEVENTF_RIGHTDOWN = 0x0008;
inline constexpr std::uint32_t MOUSEEVENTF_RIGHTUP = 0x0010;
inline constexpr std::uint32_t MOUSEEVENTF_MIDDLEDOWN = 0x0020;
inline constexpr std::uint32_t MOUSEEVENTF_MIDDLEUP = 0x0040;
// The wheel: mouseData holds the signed amount, WHEEL_DELTA a notch. Vertical: positive turns it
// away from the user (the page scrolls up); horizontal: positive scrolls to the right.
inline constexpr std::uint32_t MOUSEEVENTF_WHEEL = 0x0800;
inline constexpr std::uint32_t MOUSEEVENTF_HWHEEL = 0x1000;
inline constexpr std::int32_t WHEEL_DELTA = 120;

inline constexpr std::uint32_t KEYEVENTF_KEYUP = 0x0002;

// Virtual-key codes. Letters and digits are their ASCII capitals ('A' 0x41, '0' 0x30).
inline constexpr std::uint16_t VK_BACK = 0x08;
inline constexpr std::uint16_t VK_TAB = 0x09;
inline constexpr std::uint16_t VK_RETURN = 0x0D;
inline constexpr std::uint16_t VK_SHIFT = 0x10;
inline constexpr std::uint16_t VK_CONTROL = 0x11;
inline constexpr std::uint16_t VK_MENU = 0x12;  // Alt
inline constexpr std::uint16_t VK_PAUSE = 0x13;
inline constexpr std::uint16_t VK_CAPITAL = 0x14;
inline constexpr std::uint16_t VK_ESCAPE = 0x1B;
inline constexpr std::uint16_t VK_SPACE = 0x20;
inline constexpr std::uint16_t VK_PRIOR = 0x21;  // Page Up
inline constexpr std::uint16_t VK_NEXT = 0x22;   // Page Down
inline constexpr std::uint16_t VK_END = 0x23;
inline constexpr std::uint16_t VK_HOME = 0x24;
inline constexpr std::uint16_t VK_LEFT = 0x25;
inline constexpr std::uint16_t VK_UP = 0x26;
inline constexpr std::uint16_t VK_RIGHT = 0x27;
inline constexpr std::uint16_t VK_DOWN = 0x28;
inline constexpr std::uint16_t VK_SNAPSHOT = 0x2C;  // Print
inline constexpr std::uint16_t VK_INSERT = 0x2D;
inline constexpr std::uint16_t VK_DELETE = 0x2E;
inline constexpr std::uint16_t VK_APPS = 0x5D;     // Menu
inline constexpr std::uint16_t VK_NUMPAD0 = 0x60;  // ..VK_NUMPAD9 0x69
inline constexpr std::uint16_t VK_MULTIPLY = 0x6A;
inline constexpr std::uint16_t VK_ADD = 0x6B;
inline constexpr std::uint16_t VK_SUBTRACT = 0x6D;
inline constexpr std::uint16_t VK_DECIMAL = 0x6E;
inline constexpr std::uint16_t VK_DIVIDE = 0x6F;
inline constexpr std::uint16_t VK_F1 = 0x70;  // ..VK_F24 0x87
inline constexpr std::uint16_t VK_F24 = 0x87;
inline constexpr std::uint16_t VK_NUMLOCK = 0x90;
inline constexpr std::uint16_t VK_SCROLL = 0x91;
inline constexpr std::uint16_t VK_LSHIFT = 0xA0;
inline constexpr std::uint16_t VK_RSHIFT = 0xA1;
inline constexpr std::uint16_t VK_LCONTROL = 0xA2;
inline constexpr std::uint16_t VK_RCONTROL = 0xA3;
inline constexpr std::uint16_t VK_LMENU = 0xA4;
inline constexpr std::uint16_t VK_RMENU = 0xA5;
// The punctuation keys, named after what they type on the US layout.
inline constexpr std::uint16_t VK_OEM_1 = 0xBA;     // ;
inline constexpr std::uint16_t VK_OEM_PLUS = 0xBB;  // =
inline constexpr std::uint16_t VK_OEM_COMMA = 0xBC;
inline constexpr std::uint16_t VK_OEM_MINUS = 0xBD;
inline constexpr std::uint16_t VK_OEM_PERIOD = 0xBE;
inline constexpr std::uint16_t VK_OEM_2 = 0xBF;  // /
inline constexpr std::uint16_t VK_OEM_3 = 0xC0;  // `
inline constexpr std::uint16_t VK_OEM_4 = 0xDB;  // [
inline constexpr std::uint16_t VK_OEM_5 = 0xDC;  // backslash
inline constexpr std::uint16_t VK_OEM_6 = 0xDD;  // ]
inline constexpr std::uint16_t VK_OEM_7 = 0xDE;  // '

struct MouseInput {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::uint32_t mouseData = 0;
    std::uint32_t dwFlags = 0;

    friend bool operator==(const MouseInput&, const MouseInput&) = default;
};

struct KeyboardInput {
    std::uint16_t wVk = 0;
    std::uint16_t wScan = 0;
    std::uint32_t dwFlags = 0;

    friend bool operator==(const KeyboardInput&, const KeyboardInput&) = default;
};

// Only the member that `type` names is meaningful; the other stays zero so that whole events
// compare equal.
struct InputEvent {
    std::uint32_t type = INPUT_MOUSE;
    MouseInput mi;
    KeyboardInput ki;

    static constexpr InputEvent Mouse(std::uint32_t flags, std::int32_t dx = 0, std::int32_t dy = 0) {
        InputEvent event;
        event.type = INPUT_MOUSE;
        event.mi.dx = dx;
        event.mi.dy = dy;
        event.mi.dwFlags = flags;
        return event;
    }
    // A turn of the vertical (MOUSEEVENTF_WHEEL) or horizontal (MOUSEEVENTF_HWHEEL) wheel by
    // amount, in WHEEL_DELTA a notch; one flag only.
    static constexpr InputEvent Wheel(std::uint32_t flag, std::int32_t amount) {
        InputEvent event;
        event.type = INPUT_MOUSE;
        event.mi.mouseData = static_cast<std::uint32_t>(amount);
        event.mi.dwFlags = flag;
        return event;
    }
    std::int32_t WheelAmount() const { return static_cast<std::int32_t>(mi.mouseData); }
    static constexpr InputEvent Keyboard(std::uint16_t vk, std::uint32_t flags) {
        InputEvent event;
        event.type = INPUT_KEYBOARD;
        event.ki.wVk = vk;
        event.ki.dwFlags = flags;
        return event;
    }

    friend bool operator==(const InputEvent&, const InputEvent&) = default;
};

// Readable in test failures and logs: "mouse 0x0001 (3, -2)", "key 0x20 0x0002".
std::ostream& operator<<(std::ostream& out, const InputEvent& event);
