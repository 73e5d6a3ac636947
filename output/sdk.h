// The motion samples served to other programs over the local socket: a ring of the last 100
// samples, filled by the motion mapping on the capture thread while a client has switched the
// stream on, and read one by one by the socket's server thread.
//
//   CSdk sdk;
//   engine.RegisterSocket(&sdk);          // the mapping calls sdk.Push(x, y) once per frame
//   if (sdk.LastWrittenIndex() != -1)     // on the server thread
//       CSdk::Sample s = sdk.Serve(slot, served);
//
// Every value is one atomic 32-bit word, so the two threads never race; a slot read while it is
// being written may mix the old and the new sample's values, which is harmless for a stream.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "base/motion_output.h"

class CSdk final : public ISocketOutput {
public:
    static constexpr int kSamples = 100;

    struct Sample {
        float x = 0.0f;
        float y = 0.0f;
    };

    // Stores the sample in the slot of the write index, which then moves on, returning to 0
    // after the last slot. Wait-free: called on the capture thread.
    void Push(float x, float y) override;

    // The slot of the newest sample, -1 until the first one.
    int LastWrittenIndex() const { return m_iLastWritten.load(std::memory_order_acquire); }

    // The sample in slot (0..kSamples-1), which is then marked as served: its values become the
    // served counter and the counter + 1.
    Sample Serve(int slot, std::uint32_t served);

private:
    std::array<std::atomic<float>, kSamples> m_fX{};
    std::array<std::atomic<float>, kSamples> m_fY{};
    std::atomic<std::int32_t> m_iWriteIndex{0};
    std::atomic<std::int32_t> m_iLastWritten{-1};
};
