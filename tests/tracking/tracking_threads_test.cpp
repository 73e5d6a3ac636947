// The camera thread, the detection thread and a frame feeder running together, as in the
// program. Run under ThreadSanitizer to check the hand-overs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "camera_frame.h"
#include "feature_tracker.h"
#include "head_detect.h"
#include "thread_camera.h"
#include "tracking_test_support.h"

namespace {

using namespace std::chrono_literals;

// Counts the frames whose motion reached the mapping; read from another thread.
struct CountingMotionSink : IMotionSink {
    void MapMotion(int, float, float, int) override { ++calls; }
    void MapMotionProfile(int, float, float, int) override { ++calls; }
    std::atomic<int> calls{0};
};

// A 640x480 frame with the face photograph large enough for the reduced frame's detector.
cv::Mat FaceFrame() {
    const cv::Mat reduced = test::ReducedFaceFrame();
    cv::Mat frame;
    cv::resize(reduced, frame, cv::Size(640, 480), 0, 0, cv::INTER_CUBIC);
    return frame;
}

TEST(TrackingThreads, DetectionAndTrackingMeetThroughTheSharedState) {
    CTrackingState state;
    test::RecordingMessages messages;
    CountingMotionSink sink;
    CFeatureTracker tracker(state, &sink);
    CThreadHeadDetect detection(state, messages);
    ASSERT_TRUE(detection.Start(true)) << (messages.texts.empty() ? "" : messages.texts[0]);

    CThreadCamera camera(state, &tracker, 640, 480);
    camera.Start();
    while (!state.m_bCameraThreadRunning) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(state.m_pFrameTarget.load(), static_cast<IFrameTarget*>(&camera));

    // The feeder plays the capture thread at about 30 frames a second, with the live view on,
    // while this thread reads what the user interface reads, until frames, detections and motion
    // have all come through (sanitizer builds are slow: the deadline is generous).
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        std::vector<std::uint8_t> prepared, sample;
        ToCaptureLayout(FaceFrame(), prepared);
        while (feeding) {
            sample = prepared;
            if (IFrameTarget* target = state.m_pFrameTarget.load())
                target->ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
            std::this_thread::sleep_for(30ms);
        }
    });
    state.m_bLiveView = true;
    std::vector<std::uint8_t> live;
    const auto enough = [&] { return state.m_iFrameCount > 30 && state.m_detect.m_iHeadDetectCount >= 2 && sink.calls > 0; };
    for (auto end = std::chrono::steady_clock::now() + 60s; !enough() && std::chrono::steady_clock::now() < end;) {
        (void)state.m_display.Load();
        state.m_liveView.ReadLatest(live);
        (void)state.m_detect.m_rcHead.Load();
        tracker.m_bAllowMorePoints = true;
        std::this_thread::sleep_for(20ms);
    }
    feeding = false;
    feeder.join();

    EXPECT_TRUE(detection.Stop(true));
    camera.Stop();
    EXPECT_FALSE(state.m_bCameraThreadRunning);
    EXPECT_EQ(state.m_pFrameTarget.load(), nullptr);
    EXPECT_FALSE(state.m_liveView.ReadLatest(live)) << "the camera thread frees the live view";

    EXPECT_GT(state.m_iFrameCount, 30);
    EXPECT_GE(state.m_detect.m_iHeadDetectCount, 2) << "two or three detections a second";
    EXPECT_TRUE(state.m_detect.m_bHeadFound);
    EXPECT_GT(sink.calls, 0) << "points were seeded and tracked";
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_FALSE(live.empty());
}

}  // namespace
