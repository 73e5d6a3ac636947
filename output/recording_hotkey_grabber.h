// A hotkey grabber that grabs nothing: it keeps what is registered and every call in order, and
// refuses the keys a test says another program holds.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "output/hotkey_grabber.h"

class CRecordingHotkeyGrabber final : public IHotkeyGrabber {
public:
    using Combination = std::pair<std::uint16_t, std::uint16_t>;  // virtual key, flags

    explicit CRecordingHotkeyGrabber(std::string unavailable = {}) : m_unavailable(std::move(unavailable)) {}

    const std::string& Unavailable() const override { return m_unavailable; }
    bool Register(const std::string& id, std::uint16_t virtualKey, std::uint16_t flags, std::string& whyNot) override {
        calls.push_back("register " + id);
        if (!m_unavailable.empty() || refused.contains(virtualKey)) {
            whyNot = m_unavailable.empty() ? "another program holds it" : m_unavailable;
            return false;
        }
        grabbed[id] = {virtualKey, flags};
        return true;
    }
    void Unregister(const std::string& id) override {
        calls.push_back("unregister " + id);
        grabbed.erase(id);
    }
    void SetHandler(Handler) override {}
    std::uint16_t VirtualKeyAt(std::uint32_t) const override { return 0; }  // it knows no keyboard

    std::vector<std::string> calls;
    std::map<std::string, Combination> grabbed;
    std::set<std::uint16_t> refused;  // keys that another program holds

private:
    std::string m_unavailable;
};
