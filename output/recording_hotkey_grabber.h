// A hotkey grabber that grabs nothing: it keeps what is registered and every call in order.
#pragma once

#include <map>
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
        if (!m_unavailable.empty()) {
            whyNot = m_unavailable;
            return false;
        }
        grabbed[id] = {virtualKey, modifiers};
        return true;
    }
    void Unregister(const std::string& id) override {
        calls.push_back("unregister " + id);
        grabbed.erase(id);
    }
    void SetHandler(Handler) override {}
    std::uint16_t UnshiftedVirtualKey(std::uint32_t) const override { return 0; }  // it knows no keyboard

    std::vector<std::string> calls;
    std::map<std::string, Combination> grabbed;

private:
    std::string m_unavailable;
};
