// Recording sinks, and OpenCV kept on the calling thread, for the tracking and engine tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tracking/feature_tracker.h"
#include "tracking/head_detect.h"

// Found by the test framework through the argument's namespace, for readable failures.
inline void PrintTo(const HeadRect& r, std::ostream* out) {
    *out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

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

// Tracks one BGR image as a colour camera hands it over.
inline bool Track(CFeatureTracker& tracker, const cv::Mat& bgr) {
    std::vector<std::uint8_t> bytes;
    ToCaptureLayout(bgr, bytes);
    ColourFrame frame(bytes.data(), bgr.cols, bgr.rows);
    return tracker.OnFrame(frame);
}

struct MotionCall {
    bool profile;
    int summed;
    float sumX, sumY;
    int sizeMultiplier;
};

class RecordingMotionSink : public IMotionSink {
public:
    void MapMotion(int n, float x, float y, int m) override { calls.push_back({false, n, x, y, m}); }
    void MapMotionProfile(int n, float x, float y, int m) override { calls.push_back({true, n, x, y, m}); }
    std::vector<MotionCall> calls;
};

class RecordingMessages : public IMessageSink {
public:
    void Show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

}  // namespace test
