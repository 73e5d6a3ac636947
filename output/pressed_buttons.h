// The mouse buttons that injected events have pressed and not yet released, so that an injector
// going away can release them: a button the program holds must not stay down after it ends.
#pragma once

#include <cstdint>
#include <optional>

#include "output/input_event.h"

class CPressedButtons {
public:
    // Follows the transitions of one event in the order the system applies them (press before
    // release within each button), so that a press and release in one event leaves it up.
    void Note(const InputEvent& event) {
        if (event.type != INPUT_MOUSE) return;
        const std::uint32_t flags = event.mi.dwFlags;
        for (const Button& button : kButtons) {
            if (flags & button.down) m_down |= button.down;
            if (flags & button.up) m_down &= ~button.down;
        }
    }

    bool Any() const { return m_down != 0; }

    // One mouse event releasing every button still down, or nothing when all are up.
    std::optional<InputEvent> ReleaseEvent() const {
        std::uint32_t flags = 0;
        for (const Button& button : kButtons)
            if (m_down & button.down) flags |= button.up;
        if (flags == 0) return std::nullopt;
        return InputEvent::Mouse(flags);
    }

private:
    struct Button {
        std::uint32_t down;
        std::uint32_t up;
    };
    static constexpr Button kButtons[] = {
        {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP},
        {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP},
        {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP},
    };

    std::uint32_t m_down = 0;  // the DOWN flags of the buttons held
};
