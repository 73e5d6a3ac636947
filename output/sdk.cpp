#include "output/sdk.h"

void CSdk::Push(float x, float y) {
    // Only the capture thread writes the index: a plain read-modify-write of it is enough.
    const std::int32_t slot = m_iWriteIndex.load(std::memory_order_relaxed);
    m_fX[slot].store(x, std::memory_order_relaxed);
    m_fY[slot].store(y, std::memory_order_relaxed);
    // Release: a reader that sees the new index sees the values stored before it.
    m_iLastWritten.store(slot, std::memory_order_release);
    m_iWriteIndex.store(slot + 1 < kSamples ? slot + 1 : 0, std::memory_order_relaxed);
}

CSdk::Sample CSdk::Serve(int slot, std::uint32_t served) {
    const Sample sample{m_fX[slot].load(std::memory_order_relaxed), m_fY[slot].load(std::memory_order_relaxed)};
    m_fX[slot].store(static_cast<float>(served), std::memory_order_relaxed);
    m_fY[slot].store(static_cast<float>(served + 1), std::memory_order_relaxed);
    return sample;
}
