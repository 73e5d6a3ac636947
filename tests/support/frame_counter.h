// Counts the frames the engine's synchronous road has taken, for callers that feed it from
// another thread (a replayed camera's) and wait for each frame to be done.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/engine.h"

namespace test {

class FrameCounter : public IFrameObserver {
public:
    void BeforeFrame() override {}
    void AfterFrame() override {
        {
            std::lock_guard lock(m_mutex);
            ++m_frames;
        }
        m_changed.notify_all();
    }
    // True once frames frames have been taken; false after a minute without.
    bool WaitFor(std::int64_t frames) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::minutes(1), [&] { return m_frames >= frames; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int64_t m_frames = 0;
};

}  // namespace test
