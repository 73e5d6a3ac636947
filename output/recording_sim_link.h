// A simulator link that keeps every call in order instead of sending it, and answers as told;
// for tests. Safe to look at from another thread while the link is used.
#pragma once

#include <mutex>
#include <vector>

#include "output/sim_link.h"

class CRecordingSimLink final : public ISimLink {
public:
    struct Call {
        enum Kind { Open, Send, Close } kind;
        float heading = 0.0f;
        float pitch = 0.0f;
        bool operator==(const Call&) const = default;
    };

    bool Open() override { return Record({Call::Open}, m_bOpenSucceeds); }
    bool SendOrientation(float heading, float pitch) override {
        return Record({Call::Send, heading, pitch}, m_bSendSucceeds);
    }
    bool Close() override { return Record({Call::Close}, true); }
    std::string LastError() const override { return "refused by the test"; }

    // What the next calls report.
    void SetOpenSucceeds(bool succeeds) {
        std::lock_guard lock(m_lock);
        m_bOpenSucceeds = succeeds;
    }
    void SetSendSucceeds(bool succeeds) {
        std::lock_guard lock(m_lock);
        m_bSendSucceeds = succeeds;
    }

    std::vector<Call> Calls() const {
        std::lock_guard lock(m_lock);
        return m_calls;
    }
    void Clear() {
        std::lock_guard lock(m_lock);
        m_calls.clear();
    }

private:
    bool Record(Call call, const bool& result) {
        std::lock_guard lock(m_lock);
        m_calls.push_back(call);
        return result;
    }

    mutable std::mutex m_lock;
    std::vector<Call> m_calls;
    bool m_bOpenSucceeds = true;
    bool m_bSendSucceeds = true;
};
