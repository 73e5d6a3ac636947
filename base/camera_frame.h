// The layout in which capture hands over frames: 24-bit pixels in blue, green, red order,
// rows bottom-up, each row padded to a multiple of 4 bytes.
//
//   std::vector<std::uint8_t> sample;
//   ToCaptureLayout(bgrTopDown, sample);                  // as a camera would deliver it
//   camera.ProcessFrame(sample.data(), sample.size());
#pragma once

#include <atomic>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <vector>

// Bytes of one row: 3 x width rounded up to a multiple of 4.
constexpr int CaptureRowStep(int width) { return (3 * width + 3) & ~3; }

// Bytes of one frame.
constexpr std::size_t CaptureFrameLength(int width, int height) {
    return static_cast<std::size_t>(CaptureRowStep(width)) * static_cast<std::size_t>(height);
}

// Head detection works on the frame reduced by 4 above 500 pixels of width, by 2 above 300.
constexpr int kDetectQuarterAboveWidth = 500;
constexpr int kDetectHalfAboveWidth = 300;
constexpr int DetectReduction(int width) {
    return width > kDetectQuarterAboveWidth ? 4 : width > kDetectHalfAboveWidth ? 2 : 1;
}
// The smallest reduced frame it can work on; OpenCV asserts on anything smaller.
constexpr int kMinReducedWidth = 1;
constexpr int kMinReducedHeight = 1;

// Whether frames of this size can be tracked at all.
constexpr bool TrackableFrameSize(int width, int height) {
    const int reduction = DetectReduction(width);
    return width / reduction >= kMinReducedWidth && height / reduction >= kMinReducedHeight;
}

// Receives each captured sample on the capture thread: frame preparation in the program, the
// engine's synchronous road in tools.
class IFrameTarget {
public:
    virtual ~IFrameTarget() = default;
    // bytes are in the capture layout and may be rewritten in place; valid only during the call.
    virtual void ProcessFrame(std::uint8_t* bytes, std::uint32_t length) = 0;
};

// Where capture hands its frames: the target published there, or none (frames are dropped).
using FrameTargetSlot = std::atomic<IFrameTarget*>;

// Writes a top-down 8-bit BGR image into out in the capture layout (out is resized to fit).
void ToCaptureLayout(const cv::Mat& bgrTopDown, std::vector<std::uint8_t>& out);
