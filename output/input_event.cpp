#include "output/input_event.h"

#include <iomanip>

std::ostream& operator<<(std::ostream& out, const InputEvent& event) {
    const auto flags = std::ios::fmtflags(out.flags());
    const char fill = out.fill();
    if (event.type == INPUT_MOUSE)
        out << "mouse 0x" << std::hex << std::setw(4) << std::setfill('0') << event.mi.dwFlags << std::dec << " ("
            << event.mi.dx << ", " << event.mi.dy << ")";
    if (event.type == INPUT_MOUSE && (event.mi.dwFlags & (MOUSEEVENTF_WHEEL | MOUSEEVENTF_HWHEEL)))
        out << " wheel " << event.WheelAmount();
    else if (event.type == INPUT_KEYBOARD)
        out << "key 0x" << std::hex << std::setw(2) << std::setfill('0') << event.ki.wVk << " 0x" << std::setw(4)
            << event.ki.dwFlags;
    else
        out << "input of type " << event.type;
    out.flags(flags);
    out.fill(fill);
    return out;
}
