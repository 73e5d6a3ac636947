#include "capture/frame_conversion.h"

#include <opencv2/imgproc.hpp>

#include "base/camera_frame.h"

const std::uint8_t* DecodedToLayout(const cv::Mat& decoded, cv::Size size, cv::Mat& scratch,
                                    std::vector<std::uint8_t>& sample) {
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
    if (bgr->type() != CV_8UC3) return nullptr;
    if (bgr->size() != size) {
        cv::resize(*bgr, scratch, size, 0, 0, cv::INTER_AREA);
        bgr = &scratch;
    }
    // Decoders hand whole images, whose rows are already 4-byte padded at most widths.
    if (bgr->step == static_cast<std::size_t>(CaptureRowStep(size.width))) return bgr->data;
    ToCaptureLayout(*bgr, sample);
    return sample.data();
}
