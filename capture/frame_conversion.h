// Decoded frames into samples of the capture layout.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <vector>

// Writes a decoded frame (grey, BGR or BGRA, any size and depth) into sample at exactly the given size, so every
// sample of one format has the same length whatever the decoder settled on. scratch holds the
// intermediate conversions between calls. False for a frame of any other type.
bool DecodedToSample(const cv::Mat& decoded, cv::Size size, cv::Mat& scratch, std::vector<std::uint8_t>& sample);
