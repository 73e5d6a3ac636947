#include "tracking/tracking_state.h"

#include <cstring>

void LiveViewBuffers::Write(const std::uint8_t* bytes, std::size_t length) {
    const int write = m_iLiveWrite.load();
    Buffer& buffer = m_buffers[write - 1];
    {
        std::lock_guard lock(buffer.mutex);
        if (buffer.bytes.empty()) buffer.bytes.resize(length);  // sized once: frames keep their length
        std::memcpy(buffer.bytes.data(), bytes, std::min(length, buffer.bytes.size()));
    }
    m_iLiveWrite.store(write == 1 ? 2 : 1);
}

bool LiveViewBuffers::ReadLatest(std::vector<std::uint8_t>& out) const {
    const Buffer& buffer = m_buffers[m_iLiveWrite.load() == 1 ? 1 : 0];
    std::lock_guard lock(buffer.mutex);
    if (buffer.bytes.empty()) return false;
    out.assign(buffer.bytes.begin(), buffer.bytes.end());
    return true;
}

void LiveViewBuffers::Reset() {
    for (Buffer& buffer : m_buffers) {
        std::lock_guard lock(buffer.mutex);
        buffer.bytes = {};
    }
    m_iLiveWrite.store(1);
}
