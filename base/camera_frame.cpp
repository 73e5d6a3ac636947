#include "camera_frame.h"

#include <opencv2/core.hpp>

void ToCaptureLayout(const cv::Mat& bgrTopDown, std::vector<std::uint8_t>& out) {
    CV_Assert(bgrTopDown.type() == CV_8UC3);
    out.assign(CaptureFrameLength(bgrTopDown.cols, bgrTopDown.rows), 0);
    cv::Mat sample(bgrTopDown.rows, bgrTopDown.cols, CV_8UC3, out.data(), CaptureRowStep(bgrTopDown.cols));
    cv::flip(bgrTopDown, sample, 0);
}
