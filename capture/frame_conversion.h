// Decoded frames in the colour layout.
#pragma once

#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <vector>

// A decoded frame (grey, BGR or BGRA, any size and depth) in the colour layout at exactly the
// given size, so every frame of one format has the same length whatever the decoder settled on:
// the decoded image itself where it already is that, else a conversion into sample (scratch
// holds the steps between). Valid while decoded and sample are unchanged; null for a frame of
// any other type.
const std::uint8_t* DecodedToLayout(const cv::Mat& decoded, cv::Size size, cv::Mat& scratch,
                                    std::vector<std::uint8_t>& sample);
