// A hotkey grabber that grabs nothing: it keeps what is registered, in order, refuses the
// combinations it is told another program holds, and reports a press when told to.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hotkey_grabber.h"

class CRecordingHotkeyGrabber final : public IHotkeyGrabber {
public:
    using Combination = std::pair<std::uint16_t, std::uint16_t>;  // virtual key, modifiers

    explicit CRecordingHotkeyGrabber(std::string unavailable = {}) : m_unavailable(std::move(unavailable)) {}

    const std::string& Unavailable() const override { return m_unavailable; }
    bool Register(const std::string& id, std::uint16_t virtualKey, std::uint16_t modifiers,
                  std::string& whyNot) override {
        calls.push_back("register " + id);
        if (!m_unavailable.empty() || heldElsewhere.contains({virtualKey, modifiers})) {
            whyNot = m_unavailable.empty() ? "held by another program" : m_unavailable;
            return false;
        }
        grabbed[id] = {virtualKey, modifiers};
        return true;
    }
    void Unregister(const std::string& id) override {
        calls.push_back("unregister " + id);
        grabbed.erase(id);
    }
    void SetHandler(Handler handler) override { m_handler = std::move(handler); }

    // A press, reported as the desktop would when some id holds the combination.
    bool Press(std::uint16_t virtualKey, std::uint16_t modifiers) const {
        for (const auto& [id, combination] : grabbed)
            if (combination == Combination{virtualKey, modifiers}) {
                if (m_handler) m_handler(virtualKey, modifiers);
                return true;
            }
        return false;
    }

    std::vector<std::string> calls;
    std::map<std::string, Combination> grabbed;
    std::set<Combination> heldElsewhere;

private:
    std::string m_unavailable;
    Handler m_handler;
};
