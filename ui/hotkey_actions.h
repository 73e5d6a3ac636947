// The eight hotkey actions by name, for the ways of asking for one without an X11 key grab: the
// desktop's own shortcuts and the command line (`mivex --action toggle`). A name, once
// published, stays: desktops and users' shortcut settings keep it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/settings_keys.h"
#include "ui/control_ids.h"

struct HotkeyAction {
    int controlId;          // the Hotkeys page's control of the action
    std::string_view name;  // what the desktop and the command line call it
    const SettingKey* key;  // where its hotkey word is stored
};

// In the order of dispatch: where two hold one combination, the first acts on it.
inline constexpr std::array<HotkeyAction, 8> kHotkeyActions = {{
    {ControlIds::kHotkeyActivate, "toggle", &Setting::kHotkeyMouse},
    {ControlIds::kHotkeyLeft, "left-click", &Setting::kHotkeyMouseLeft},
    {ControlIds::kHotkeyMiddle, "middle-click", &Setting::kHotkeyMouseMiddle},
    {ControlIds::kHotkeyRight, "right-click", &Setting::kHotkeyMouseRight},
    {ControlIds::kHotkeyDouble, "double-click", &Setting::kHotkeyMouseLDouble},
    {ControlIds::kHotkeyMiddleLock, "middle-lock", &Setting::kHotkeyMouseMiddleLock},
    {ControlIds::kHotkeyMiddleUnlock, "middle-unlock", &Setting::kHotkeyMouseMiddleUnlock},
    {ControlIds::kHotkeyCentre, "centre", &Setting::kHotkeySimCentre},
}};

// The action of that name, or nullptr.
inline const HotkeyAction* FindHotkeyAction(std::string_view name) {
    for (const HotkeyAction& action : kHotkeyActions)
        if (action.name == name) return &action;
    return nullptr;
}

// The action of the Hotkeys page's control with that id; every control has one.
inline const HotkeyAction& HotkeyActionOf(int controlId) {
    for (const HotkeyAction& action : kHotkeyActions)
        if (action.controlId == controlId) return action;
    return kHotkeyActions.front();  // not reached: the table names all eight controls
}

// Every action's name, in the table's order, joined by ", ": for the messages that list them.
inline std::string HotkeyActionNames() {
    std::string names;
    for (const HotkeyAction& action : kHotkeyActions) names.append(names.empty() ? "" : ", ").append(action.name);
    return names;
}
