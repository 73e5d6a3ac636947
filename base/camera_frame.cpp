#include "base/camera_frame.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

bool CameraFrame::Fail(std::string why) {
    m_failure = std::move(why);
    return false;
}

bool CameraFrame::GreyFits(const cv::Mat& grey) {
    if (grey.size() == cv::Size(m_width, m_height) && grey.type() == CV_8UC1) return true;
    return Fail("the grey image does not have the frame's size");
}

bool ColourFrame::Grey(cv::Mat& grey) {
    if (!GreyFits(grey)) return false;
    cv::cvtColor(CaptureImage(m_bytes, Width(), Height()), grey, cv::COLOR_BGR2GRAY);
    return Succeed();
}

void ToCaptureLayout(const cv::Mat& bgr, std::vector<std::uint8_t>& out) {
    CV_Assert(bgr.type() == CV_8UC3);
    out.resize(CaptureFrameLength(bgr.cols, bgr.rows));
    cv::Mat sample(bgr.rows, bgr.cols, CV_8UC3, out.data(), CaptureRowStep(bgr.cols));
    bgr.copyTo(sample);
}

cv::Mat CaptureImage(const std::uint8_t* bytes, int width, int height) {
    // OpenCV's headers over foreign data are not const; nothing here writes through it.
    return cv::Mat(height, width, CV_8UC3, const_cast<std::uint8_t*>(bytes), CaptureRowStep(width));
}
