// Frames, sinks and detection state for the tracking tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "feature_tracker.h"
#include "head_detect.h"
#include "synthetic_sequence.h"
#include "tracking_state.h"

namespace test {

// OpenCV's worker threads would make the detector's results reach the tests through a pool that
// ThreadSanitizer cannot see into; the program runs OpenCV on its own threads only, and so do
// the tests.
inline const ::testing::Environment* const kSequentialOpenCv = ::testing::AddGlobalTestEnvironment([] {
    struct Sequential : ::testing::Environment {
        void SetUp() override { UseSequentialOpenCv(); }
    };
    return new Sequential;
}());

// A texture of crossing cosines with the given period: point-symmetric about every point whose
// coordinates are multiples of period / 2, so a corner refinement seeded there stays there.
// shiftX/shiftY move the whole pattern by sub-pixel amounts.
inline cv::Mat CosineTexture(int width, int height, double period = 20.0, double shiftX = 0.0, double shiftY = 0.0) {
    cv::Mat grey(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double value = 128.0 + 60.0 * (std::cos(2 * CV_PI * (x - shiftX) / period) +
                                                 std::cos(2 * CV_PI * (y - shiftY) / period));
            grey.at<uchar>(y, x) = cv::saturate_cast<uchar>(value);
        }
    cv::Mat bgr;
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    return bgr;
}

// The face photograph that the synthetic test videos use.
inline cv::Mat FacePhoto() {
    const std::filesystem::path path = kAstronautPhotoPath;
    cv::Mat photo = cv::imread(path.string());
    if (photo.empty())
        ADD_FAILURE() << "face photograph " << path << " is missing: install the Debian package python3-imageio";
    return photo;
}

// A 160x120 reduced frame with one face (about 60 pixels wide) at the given left edge, or two.
inline cv::Mat ReducedFaceFrame(bool twoFaces = false) {
    const cv::Mat photo = FacePhoto();
    cv::Mat frame(120, twoFaces ? 320 : 160, CV_8UC3, cv::Scalar(90, 90, 90));
    if (photo.empty()) return frame;
    cv::Mat face;
    cv::resize(photo(cv::Rect(127, 16, 195, 195)), face, cv::Size(120, 120));
    face.copyTo(frame(cv::Rect(20, 0, 120, 120)));
    if (twoFaces) face.copyTo(frame(cv::Rect(180, 0, 120, 120)));
    return frame;
}

struct MotionCall {
    bool profile;
    int summed;
    float sumX;
    float sumY;
    int sizeMultiplier;
};

class RecordingMotionSink : public IMotionSink {
public:
    void MapMotion(int summed, float sumX, float sumY, int sizeMultiplier) override {
        calls.push_back({false, summed, sumX, sumY, sizeMultiplier});
    }
    void MapMotionProfile(int summed, float sumX, float sumY, int sizeMultiplier) override {
        calls.push_back({true, summed, sumX, sumY, sizeMultiplier});
    }
    std::vector<MotionCall> calls;
};

class RecordingMessages : public IMessageSink {
public:
    void Show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

// Publishes a detection as the detector would: rectangle, then the flag and the counter.
inline void PublishHead(CTrackingState& state, HeadRect rect) {
    state.m_detect.PublishHead(rect);
}

// A head rectangle whose centre is (x, y).
inline HeadRect HeadCentredAt(int x, int y) { return {x - 50, y - 50, x + 51, y + 51}; }

}  // namespace test
