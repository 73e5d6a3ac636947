// Shortcuts that the desktop takes for the program, where no program may grab keys itself (a
// Wayland session): the program names its actions, each with a description and the keys it would
// like; the desktop decides the keys, may ask the user first, and says which action was triggered.
//
//   shortcuts.SetHandlers({.activated = [](const std::string& id) { ...act... },
//                          .bound = [](const DesktopShortcutsState& state) { ...show... }});
//   shortcuts.Bind({{"toggle", "Switch head control", MakeHotkeyWord(VK_F5, HOTKEYF_SHIFT)}, ...});
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct DesktopShortcut {
    std::string id;            // the same from run to run: the desktop keeps the user's keys under it
    std::string description;   // what the desktop shows the user
    std::uint32_t hotkey = 0;  // the keys wished for, as a hotkey word; 0 for none

    bool operator==(const DesktopShortcut&) const = default;
};

// What the desktop made of the shortcuts. Its texts are printable (PrintableText): they come from
// outside.
struct DesktopShortcutsState {
    bool refused = false;
    // Refused because the desktop takes no shortcuts at all, for now: no portal runs, or it has no
    // such interface. Another outcome follows when a portal starts later.
    bool unavailable = false;
    std::string whyNot{};                           // when refused, in words for the user
    std::string detail{};                           // when refused, the desktop's own words, for the log
    std::map<std::string, std::string> triggers{};  // id → the keys as the desktop describes them
};

class IDesktopShortcuts {
public:
    struct Handlers {
        // On the user-interface thread, once per press of an action's keys: a key held down, even
        // where the desktop repeats it, is one press.
        std::function<void(const std::string& id)> activated;
        // On the user-interface thread: the outcome of Bind, and every later change of the keys
        // or of the desktop (its portal started, stopped or replaced).
        std::function<void(const DesktopShortcutsState& state)> bound;
    };

    IDesktopShortcuts() = default;
    virtual ~IDesktopShortcuts() = default;
    IDesktopShortcuts(const IDesktopShortcuts&) = delete;
    IDesktopShortcuts& operator=(const IDesktopShortcuts&) = delete;

    // Why the desktop can never take shortcuts for us in this run, or empty when it may: whether it
    // does is told later, through bound.
    virtual const std::string& Unavailable() const = 0;
    // Hands the desktop all the actions (again), replacing what it had; answers through bound,
    // once the desktop is there. Kept: bound again to a portal that starts later or anew.
    // Giving the same ids and triggers every time spares the user a question at each start.
    virtual void Bind(std::vector<DesktopShortcut> shortcuts) = 0;
    // Lets go of the shortcuts for this run: no more activations, so that a new copy takes them.
    virtual void Close() = 0;
    virtual void SetHandlers(Handlers handlers) = 0;
};
