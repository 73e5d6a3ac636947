#include "frame_conversion.h"

#include <opencv2/imgproc.hpp>

#include "camera_frame.h"

bool DecodedToSample(const cv::Mat& decoded, cv::Size size, cv::Mat& scratch, std::vector<std::uint8_t>& sample) {
    const cv::Mat* bgr = &decoded;
    if (decoded.type() == CV_8UC1) {
        cv::cvtColor(decoded, scratch, cv::COLOR_GRAY2BGR);
        bgr = &scratch;
    } else if (decoded.type() == CV_8UC4) {
        cv::cvtColor(decoded, scratch, cv::COLOR_BGRA2BGR);
        bgr = &scratch;
    } else if (decoded.channels() == 3 && decoded.depth() != CV_8U) {
        decoded.convertTo(scratch, CV_8UC3);
        bgr = &scratch;
    }
    if (bgr->type() != CV_8UC3) return false;
    if (bgr->size() != size) {
        cv::resize(*bgr, scratch, size, 0, 0, cv::INTER_AREA);
        bgr = &scratch;
    }
    ToCaptureLayout(*bgr, sample);
    return true;
}
