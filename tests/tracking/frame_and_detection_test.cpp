// Frame preparation, head detection and the two threads that run them, meeting in the detection
// mailbox. Run under ThreadSanitizer to check the hand-overs.
#include <gtest/gtest.h>

#include <chrono>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "camera_frame.h"
#include "paths.h"
#include "synthetic_sequence.h"
#include "test_support.h"
#include "thread_camera.h"
#include "tracking_test_support.h"

namespace {

using namespace std::chrono_literals;

// The first frame of the synthetic videos, a face photograph on a plain ground: 640x480, or
// reduced to 160x120 as frame preparation does for detection (side by side with two faces).
cv::Mat FaceFrame(bool reduced = true, bool twoFaces = false) {
    cv::Mat frame = SyntheticSequence(Trajectory::Circle, 1).Frame(0);
    if (!reduced) return frame;
    cv::resize(frame, frame, cv::Size(160, 120), 0, 0, cv::INTER_LINEAR);
    if (twoFaces) cv::hconcat(frame, frame, frame);
    return frame;
}

// A sample in the capture layout (bottom-up, rows padded to 4 bytes) whose every row holds its
// number, counted from the top, in every byte; prepared by the camera when one is given.
std::vector<std::uint8_t> RowNumbered(int width, int height, CThreadCamera* camera = nullptr) {
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) frame.row(y).setTo(cv::Scalar::all(y % 256));
    std::vector<std::uint8_t> sample;
    ToCaptureLayout(frame, sample);
    if (camera) camera->ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
    return sample;
}

TEST(FramePreparation, FramesAreFlippedInPlaceAcrossPaddedRowsAfterTheLiveViewCopiedThem) {
    CTrackingState state;
    CThreadCamera camera(state, nullptr, 322, 10);  // rows of 966 bytes padded to 968
    const std::vector<std::uint8_t> captured = RowNumbered(322, 10);
    std::vector<std::uint8_t> live, sample = RowNumbered(322, 10, &camera);
    EXPECT_EQ(sample[0], 0) << "top row first";
    EXPECT_EQ(sample[968 * 9], 9);
    EXPECT_EQ(sample[968 * 9 + 965], 9);
    EXPECT_FALSE(state.m_liveView.ReadLatest(live)) << "page hidden: no copy";

    state.m_bLiveView = true;
    RowNumbered(322, 10, &camera);
    ASSERT_TRUE(state.m_liveView.ReadLatest(live));
    EXPECT_EQ(live, captured) << "the copy keeps the capture's bytes";
    // The next copy goes to the other buffer and becomes the one shown; hidden, they stay.
    for (const bool shown : {true, false}) {
        state.m_bLiveView = shown;
        std::vector<std::uint8_t> plain(captured.size(), shown ? 200 : 100);
        camera.ProcessFrame(plain.data(), static_cast<std::uint32_t>(plain.size()));
        ASSERT_TRUE(state.m_liveView.ReadLatest(live));
        EXPECT_EQ(live, std::vector<std::uint8_t>(captured.size(), 200));
    }
    EXPECT_EQ(state.m_iFrameCount, 4);
}

TEST(FramePreparation, DetectionGetsAReducedTopDownCopyOnRequestOnly) {
    struct Case {
        int width, height, scale, detectWidth, detectHeight;
    };
    for (const Case c : {Case{640, 480, 4, 160, 120}, Case{320, 240, 2, 160, 120}, Case{300, 200, 1, 300, 200},
                         Case{501, 375, 4, 125, 93}}) {
        CTrackingState state;
        CThreadCamera camera(state, nullptr, c.width, c.height);
        RowNumbered(c.width, c.height, &camera);
        EXPECT_TRUE(state.m_detect.Image().empty()) << "no request, no copy";
        state.m_detect.Request();
        RowNumbered(c.width, c.height, &camera);
        EXPECT_TRUE(state.m_detect.WaitServed([] { return true; })) << "the request is served";
        EXPECT_EQ(state.m_detect.Scale(), c.scale) << c.width;
        EXPECT_EQ(state.m_detect.Image().size(), cv::Size(c.detectWidth, c.detectHeight)) << c.width;
        EXPECT_EQ(state.m_detect.Image().type(), CV_8UC3);
        EXPECT_LE(state.m_detect.Image().at<cv::Vec3b>(0, 0)[0], c.scale) << "the top row first";
    }
}

TEST(FramePreparation, FramesAreLeftAloneWhileTheCameraExitsOrDetectionStopsAndWhenShort) {
    CTrackingState state;
    CThreadCamera camera(state, nullptr, 64, 48);
    state.m_bLiveView = true;
    state.m_detect.Request();
    for (auto* flag : {&state.m_bCameraThreadExit, &state.m_bHeadDetectStop}) {
        *flag = true;
        EXPECT_EQ(RowNumbered(64, 48, &camera)[0], 47) << "left bottom-up";
        *flag = false;
    }
    std::vector<std::uint8_t> live, shortSample(CaptureFrameLength(64, 47), 7);
    EXPECT_FALSE(state.m_liveView.ReadLatest(live));
    state.m_bLiveView = false;
    camera.ProcessFrame(shortSample.data(), static_cast<std::uint32_t>(shortSample.size()));
    EXPECT_EQ(shortSample, std::vector<std::uint8_t>(shortSample.size(), 7)) << "not read past its end";
    EXPECT_EQ(state.m_iFrameCount, 0);
    EXPECT_TRUE(state.m_detect.Wanted());
}

class HeadDetectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_detect.Init(), 0) << "the build puts the face cascade in " << DataDirectory();
    }
    HeadRect Head() const { return m_state.m_detect.m_rcHead.Load(); }

    CTrackingState m_state;
    test::RecordingMessages m_messages;
    CHeadDetect m_detect{m_state.m_detect, m_messages};
};

TEST_F(HeadDetectTest, FacesArePublishedInFullFramePixelsAndCounted) {
    m_detect.Detect(FaceFrame(), 1);
    const HeadRect r = Head();
    EXPECT_NEAR(r.right - r.left, 60, 10) << "the face is about 60 reduced pixels wide";
    EXPECT_GT(r.left, 20);
    for (int i = 0; i < 3; ++i) m_detect.Detect(FaceFrame(), 4);
    const HeadRect scaled{4 * r.left, 4 * r.top, 4 * r.right, 4 * r.bottom};
    EXPECT_EQ(Head(), scaled);
    EXPECT_TRUE(m_state.m_detect.m_bHeadFound);
    EXPECT_EQ(m_state.m_detect.m_iHeadDetectCount, 4);

    const cv::Mat empty(120, 160, CV_8UC3, cv::Scalar(90, 90, 90));
    for (int i = 0; i < 2; ++i) {
        m_detect.Detect(empty, 4);
        EXPECT_FALSE(m_state.m_detect.m_bHeadFound);
        EXPECT_EQ(m_state.m_detect.m_iHeadDetectCount, 0);
        EXPECT_EQ(Head(), scaled) << "a miss leaves the last rectangle";
    }
    m_state.m_detect.m_bHeadFound = true;
    CHeadDetect fresh(m_state.m_detect, m_messages);
    EXPECT_FALSE(m_state.m_detect.m_bHeadFound) << "a new detector starts without a head";
    EXPECT_TRUE(m_messages.texts.empty());
}

TEST_F(HeadDetectTest, TheLastOfTwoFacesWins) {
    m_detect.Detect(FaceFrame(true, true), 1);
    // The detector lists the faces in its own order; the published one is its last.
    cv::CascadeClassifier cascade((DataDirectory() / CHeadDetect::kCascadeFile).string());
    std::vector<cv::Rect> faces;
    cascade.detectMultiScale(FaceFrame(true, true), faces, 1.1, 2, cv::CASCADE_DO_CANNY_PRUNING, {40, 40});
    ASSERT_EQ(faces.size(), 2u);
    const cv::Rect& last = faces.back();
    EXPECT_EQ(Head(), (HeadRect{last.x, last.y, last.x + last.width, last.y + last.height}));
}

TEST_F(HeadDetectTest, AMissingOrBrokenCascadeIsReportedWithThePathTried) {
    test::TempDir dir;
    const std::string message = "ERROR: file: [cascade_ff_d.xml] not found in the following location: " +
                                (dir.path() / "cascade_ff_d.xml").string();
    CHeadDetect missing(m_state.m_detect, m_messages, dir.path());
    EXPECT_EQ(missing.Init(), -1);
    missing.Detect(FaceFrame(), 4);
    EXPECT_FALSE(m_state.m_detect.m_bHeadFound) << "no cascade, no detection";

    test::WriteFile(dir.path() / "cascade_ff_d.xml", "<not a cascade");
    CHeadDetect broken(m_state.m_detect, m_messages, dir.path());
    EXPECT_EQ(broken.Init(), -1);

    // A detection thread without a cascade tells once and never runs.
    CTrackingState state;
    CThreadHeadDetect thread(state, m_messages, dir.path());
    EXPECT_FALSE(thread.Start(false) && state.m_bHeadDetectRunning);
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_FALSE(state.m_bHeadDetectRunning);
    EXPECT_EQ(m_messages.texts, std::vector<std::string>(3, message));
}

// Counts the frames that reached the motion mapping with points; read from another thread.
struct CountingMotionSink : IMotionSink {
    void MapMotion(int, float, float, int) override { ++calls; }
    void MapMotionProfile(int, float, float, int) override { ++calls; }
    std::atomic<int> calls{0};
};

TEST(TrackingThreads, DetectionAndTrackingMeetThroughTheSharedState) {
    CTrackingState state;
    test::RecordingMessages messages;
    CountingMotionSink sink;
    CFeatureTracker tracker(state, &sink);
    CThreadHeadDetect detection(state, messages);
    ASSERT_TRUE(detection.Start(true)) << (messages.texts.empty() ? "" : messages.texts[0]);
    CThreadCamera camera(state, &tracker, 640, 480);
    camera.Start();
    ASSERT_TRUE(state.m_bCameraThreadRunning.WaitFor(true, 10s));

    // The feeder plays the capture thread at about 30 frames a second with the live view on,
    // while this thread reads what the user interface reads, until frames, detections and tracked
    // points have all come through (sanitizer builds are slow: the deadline is generous).
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        std::vector<std::uint8_t> prepared, sample;
        ToCaptureLayout(FaceFrame(false), prepared);
        while (feeding) {
            sample = prepared;
            if (IFrameTarget* target = state.m_pFrameTarget.load())
                target->ProcessFrame(sample.data(), static_cast<std::uint32_t>(sample.size()));
            std::this_thread::sleep_for(30ms);
        }
    });
    state.m_bLiveView = true;
    std::vector<std::uint8_t> live;
    const auto enough = [&] {
        return state.m_iFrameCount > 30 && state.m_detect.m_iHeadDetectCount >= 2 && sink.calls > 0;
    };
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
    EXPECT_FALSE(live.empty());
    EXPECT_FALSE(state.m_liveView.ReadLatest(live)) << "the camera thread frees the live view";
    EXPECT_TRUE(enough()) << state.m_iFrameCount << " frames, " << state.m_detect.m_iHeadDetectCount
                          << " detections in a row, " << sink.calls << " frames tracked";
    EXPECT_TRUE(state.m_detect.m_bHeadFound);
    EXPECT_TRUE(messages.texts.empty());
}

}  // namespace
