// An injector that keeps every event in order instead of injecting it; for tests and dry runs.
#pragma once

#include <mutex>
#include <vector>

#include "output/input_injector.h"

class CRecordingInjector final : public IInputInjector {
public:
    void Send(const InputEvent& event) noexcept override {
        std::lock_guard lock(m_lock);
        try {
            m_events.push_back(event);
        } catch (...) {
            // Out of memory: the event is lost, like one the system refuses.
        }
    }

    // A copy, so that the caller can look at it while other threads keep sending.
    std::vector<InputEvent> Events() const {
        std::lock_guard lock(m_lock);
        return m_events;
    }
    std::size_t Size() const {
        std::lock_guard lock(m_lock);
        return m_events.size();
    }
    void Clear() {
        std::lock_guard lock(m_lock);
        m_events.clear();
    }

private:
    mutable std::mutex m_lock;
    std::vector<InputEvent> m_events;
};
