// The eight hotkey actions by name, for the ways of asking for one without an X11 key grab: the
// desktop's own shortcuts and the command line (`mivex --action toggle`). A name, once
// published, stays: desktops and users' shortcut settings keep it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "ui/control_ids.h"

struct HotkeyAction {
    int controlId;          // the Hotkeys page's control of the action
    std::string_view name;  // what the desktop and the command line call it
};

inline constexpr std::array<HotkeyAction, 8> kHotkeyActions = {{
    {ControlIds::kHotkeyActivate, "toggle"},
    {ControlIds::kHotkeyLeft, "left-click"},
    {ControlIds::kHotkeyMiddle, "middle-click"},
    {ControlIds::kHotkeyRight, "right-click"},
    {ControlIds::kHotkeyDouble, "double-click"},
    {ControlIds::kHotkeyMiddleLock, "middle-lock"},
    {ControlIds::kHotkeyMiddleUnlock, "middle-unlock"},
    {ControlIds::kHotkeyCentre, "centre"},
}};

// The action of that name, or nullptr.
inline const HotkeyAction* FindHotkeyAction(std::string_view name) {
    for (const HotkeyAction& action : kHotkeyActions)
        if (action.name == name) return &action;
    return nullptr;
}

// Every action's name, in the table's order, joined by ", ": for the messages that list them.
inline std::string HotkeyActionNames() {
    std::string names;
    for (const HotkeyAction& action : kHotkeyActions) names.append(names.empty() ? "" : ", ").append(action.name);
    return names;
}
