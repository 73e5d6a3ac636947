#include <gtest/gtest.h>

#include <numeric>

#include "camera_frame.h"
#include "thread_camera.h"
#include "tracking_test_support.h"

namespace {

// A frame whose every row holds its own row number (top row 0) in every byte.
cv::Mat RowNumbered(int width, int height) {
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) frame.row(y).setTo(cv::Scalar::all(y % 256));
    return frame;
}

TEST(CaptureLayout, RowsAreBottomUpAndPaddedToFourBytes) {
    EXPECT_EQ(CaptureRowStep(320), 960);
    EXPECT_EQ(CaptureRowStep(322), 968);
    EXPECT_EQ(CaptureRowStep(1), 4);
    std::vector<std::uint8_t> sample;
    ToCaptureLayout(RowNumbered(322, 10), sample);
    ASSERT_EQ(sample.size(), 968u * 10);
    EXPECT_EQ(sample[0], 9);            // bottom row first
    EXPECT_EQ(sample[968 * 9 + 965], 0);
    EXPECT_EQ(sample[966], 0);          // padding
}

class FramePreparationTest : public ::testing::Test {
protected:
    // Prepares one frame of the given size and returns the sample bytes afterwards.
    std::vector<std::uint8_t> Process(CThreadCamera& camera, int width, int height) {
        std::vector<std::uint8_t> sample;
        ToCaptureLayout(RowNumbered(width, height), sample);
        camera.ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
        return sample;
    }

    CTrackingState m_state;
};

TEST_F(FramePreparationTest, DetectionGetsAReducedCopyOnRequestOnly) {
    struct Case {
        int width, height, scale, detectWidth, detectHeight;
    };
    for (const Case c : {Case{640, 480, 4, 160, 120}, Case{320, 240, 2, 160, 120}, Case{300, 200, 1, 300, 200},
                         Case{501, 375, 4, 125, 93}}) {
        CTrackingState state;
        CThreadCamera camera(state, nullptr, c.width, c.height);
        state.m_detect.Clear(true);
        std::vector<std::uint8_t> sample;
        ToCaptureLayout(RowNumbered(c.width, c.height), sample);
        camera.ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
        EXPECT_TRUE(state.m_detect.Image().empty()) << "no request, no copy";

        state.m_detect.Request();
        ToCaptureLayout(RowNumbered(c.width, c.height), sample);
        camera.ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
        EXPECT_FALSE(state.m_detect.Wanted());
        EXPECT_EQ(state.m_detect.Scale(), c.scale) << c.width;
        EXPECT_EQ(state.m_detect.Image().cols, c.detectWidth) << c.width;
        EXPECT_EQ(state.m_detect.Image().rows, c.detectHeight) << c.width;
        EXPECT_EQ(state.m_detect.Image().type(), CV_8UC3);
        // Top-down like the frame: the first row is near the top of the picture.
        EXPECT_LE(state.m_detect.Image().at<cv::Vec3b>(0, 0)[0], c.scale);
    }
}

TEST_F(FramePreparationTest, FramesAreFlippedInPlaceAndCounted) {
    CThreadCamera camera(m_state, nullptr, 322, 10);
    const auto sample = Process(camera, 322, 10);
    EXPECT_EQ(sample[0], 0);               // top row first now
    EXPECT_EQ(sample[968 * 9], 9);
    EXPECT_EQ(m_state.m_iFrameCount, 1);
    Process(camera, 322, 10);
    EXPECT_EQ(m_state.m_iFrameCount, 2);
}

TEST_F(FramePreparationTest, FramesAreIgnoredWhileTheCameraExitsOrDetectionStops) {
    CThreadCamera camera(m_state, nullptr, 64, 48);
    m_state.m_bLiveView = true;
    m_state.m_detect.Request();
    for (auto* flag : {&m_state.m_bCameraThreadExit, &m_state.m_bHeadDetectStop}) {
        *flag = true;
        const auto sample = Process(camera, 64, 48);
        EXPECT_EQ(sample[0], 47) << "left bottom-up";
        *flag = false;
    }
    EXPECT_EQ(m_state.m_iFrameCount, 0);
    EXPECT_TRUE(m_state.m_detect.Wanted());
    std::vector<std::uint8_t> live;
    EXPECT_FALSE(m_state.m_liveView.ReadLatest(live));
}

TEST_F(FramePreparationTest, LiveViewCopiesOnlyWhileWantedInCaptureOrder) {
    CThreadCamera camera(m_state, nullptr, 64, 48);
    std::vector<std::uint8_t> live;
    Process(camera, 64, 48);
    EXPECT_FALSE(m_state.m_liveView.ReadLatest(live)) << "page hidden: no copy";
    EXPECT_EQ(m_state.m_liveView.m_iLiveWrite, 1);

    m_state.m_bLiveView = true;
    std::vector<std::uint8_t> first;
    ToCaptureLayout(RowNumbered(64, 48), first);
    const std::vector<std::uint8_t> captured = first;
    camera.ProcessFrame(first.data(), static_cast<std::uint32_t>(first.size()));
    EXPECT_EQ(m_state.m_liveView.m_iLiveWrite, 2);
    ASSERT_TRUE(m_state.m_liveView.ReadLatest(live));
    EXPECT_EQ(live, captured) << "the copy keeps the bottom-up bytes";

    // The next copy goes to the other buffer and becomes the one shown.
    std::vector<std::uint8_t> second(captured.size(), 200);
    camera.ProcessFrame(second.data(), static_cast<std::uint32_t>(second.size()));
    EXPECT_EQ(m_state.m_liveView.m_iLiveWrite, 1);
    ASSERT_TRUE(m_state.m_liveView.ReadLatest(live));
    EXPECT_EQ(live, std::vector<std::uint8_t>(captured.size(), 200));

    m_state.m_bLiveView = false;
    Process(camera, 64, 48);
    ASSERT_TRUE(m_state.m_liveView.ReadLatest(live));
    EXPECT_EQ(live, std::vector<std::uint8_t>(captured.size(), 200)) << "buffers stay as they were";
}

TEST_F(FramePreparationTest, AShortSampleIsNotReadPastItsEnd) {
    CThreadCamera camera(m_state, nullptr, 64, 48);
    std::vector<std::uint8_t> sample(CaptureFrameLength(64, 47), 7);
    camera.ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
    EXPECT_EQ(m_state.m_iFrameCount, 0);
    EXPECT_EQ(sample, std::vector<std::uint8_t>(sample.size(), 7));
}

}  // namespace
