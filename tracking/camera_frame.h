// The layout in which capture hands over frames: 24-bit pixels in blue, green, red order,
// rows bottom-up, each row padded to a multiple of 4 bytes.
//
//   std::vector<std::uint8_t> sample;
//   ToCaptureLayout(bgrTopDown, sample);                  // as a camera would deliver it
//   camera.ProcessFrame(sample.data(), sample.size());
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <vector>

// Bytes of one row: 3 x width rounded up to a multiple of 4.
constexpr int CaptureRowStep(int width) { return (3 * width + 3) & ~3; }

// Bytes of one frame.
constexpr std::size_t CaptureFrameLength(int width, int height) {
    return static_cast<std::size_t>(CaptureRowStep(width)) * static_cast<std::size_t>(height);
}

// Writes a top-down 8-bit BGR image into out in the capture layout (out is resized to fit).
void ToCaptureLayout(const cv::Mat& bgrTopDown, std::vector<std::uint8_t>& out);
