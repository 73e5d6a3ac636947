// Small hand-overs between threads: a value copied whole, and a flag another thread can wait for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// A value written by one thread and copied whole by others.
template <typename T>
class Guarded {
public:
    void Store(const T& value) {
        std::lock_guard lock(m_mutex);
        m_value = value;
    }
    T Load() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

// A flag that one thread sets and clears and others read or wait for, instead of polling it.
class WaitableFlag {
public:
    WaitableFlag& operator=(bool value) {
        {
            std::lock_guard lock(m_mutex);
            m_value = value;
        }
        m_changed.notify_all();
        return *this;
    }
    operator bool() const { return m_value.load(); }

    // True once the flag holds value, false when timeout passes first.
    bool WaitFor(bool value, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_value.load() == value; });
    }

private:
    std::atomic<bool> m_value{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};
