// Frame preparation and its thread, and head detection publishing to the detection mailbox. The
// threads' hand-overs under load are checked end to end, under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <chrono>
#include <opencv2/imgproc.hpp>

#include "base/camera_frame.h"
#include "base/paths.h"
#include "tests/support/test_support.h"
#include "tests/tracking/tracking_test_support.h"
#include "tools/sequence/synthetic_sequence.h"
#include "tracking/thread_camera.h"

namespace {

using namespace std::chrono_literals;

// The first frame of the synthetic videos, a face photograph on a plain ground: 640x480, or
// reduced to 160x120 as frame preparation does for detection.
cv::Mat FaceFrame(bool reduced = true) {
    cv::Mat frame = SyntheticSequence(Trajectory::Circle, 1).Frame(0);
    if (reduced) cv::resize(frame, frame, cv::Size(160, 120), 0, 0, cv::INTER_LINEAR);
    return frame;
}

// A colour frame whose every row holds its number, counted from the top, in every byte. It
// counts what is asked of it and can fail as an undecodable camera frame does.
class RowNumbered : public CameraFrame {
public:
    RowNumbered(int width, int height, bool bad = false) : CameraFrame(width, height), m_bad(bad) {
        cv::Mat frame(height, width, CV_8UC3);
        for (int y = 0; y < height; ++y) frame.row(y).setTo(cv::Scalar::all(y % 256));
        ToCaptureLayout(frame, bytes);
    }
    bool Grey(cv::Mat& grey) override {
        ++asked;
        return m_bad ? Fail("corrupt") : ColourFrame(bytes.data(), Width(), Height()).Grey(grey);
    }
    const std::uint8_t* Colour() override {
        ++asked;
        return m_bad ? (Fail("corrupt"), nullptr) : bytes.data();
    }

    std::vector<std::uint8_t> bytes;
    int asked = 0;

private:
    bool m_bad;
};

// One frame prepared: its bytes, how often it was read, and why it could not be.
struct Prepared {
    Prepared(CThreadCamera& camera, int width, int height, bool bad = false) {
        RowNumbered frame(width, height, bad);
        camera.ProcessFrame(frame);
        bytes = frame.bytes, asked = frame.asked, failure = frame.Failure();
    }
    std::vector<std::uint8_t> bytes;
    int asked;
    std::string failure;
};

TEST(FramePreparation, ColourIsAskedOnlyForTheShownLiveViewWhichCopiesItAcrossPaddedRows) {
    CTrackingState state;
    CThreadCamera camera(state, nullptr, 322, 10);  // rows of 966 bytes padded to 968
    std::vector<std::uint8_t> live;
    EXPECT_EQ(Prepared(camera, 322, 10).asked, 0) << "nothing wants the picture: nothing decoded";
    EXPECT_FALSE(state.m_liveView.ReadLatest(live)) << "page hidden: no copy";
    state.m_bLiveView = true;
    const Prepared shown(camera, 322, 10);
    ASSERT_TRUE(state.m_liveView.ReadLatest(live));
    EXPECT_EQ(live, shown.bytes) << "the copy keeps the frame's bytes, top row first";
    EXPECT_EQ(state.m_iFrameCount, 2);

    // The thread publishes the camera as capture's target, and on its way out unhooks it and
    // frees the live view.
    camera.Start();
    ASSERT_TRUE(state.m_bCameraThreadRunning.WaitFor(true, 10s));
    EXPECT_EQ(state.m_pFrameTarget.load(), &camera);
    camera.Stop();
    EXPECT_FALSE(state.m_bCameraThreadRunning);
    EXPECT_EQ(state.m_pFrameTarget.load(), nullptr);
    EXPECT_FALSE(state.m_liveView.ReadLatest(live));
}

TEST(FramePreparation, DetectionGetsAReducedCopyOnRequestOnlyEqualToResizingTheFrame) {
    struct Case {
        int width, height, scale;
        cv::Size detect;
    };
    for (const Case c : {Case{640, 480, 4, {160, 120}}, Case{320, 240, 2, {160, 120}}, Case{300, 200, 1, {300, 200}},
                         Case{501, 375, 4, {125, 93}}}) {
        CTrackingState state;
        CThreadCamera camera(state, nullptr, c.width, c.height);
        Prepared(camera, c.width, c.height);
        EXPECT_TRUE(state.m_detect.Image().empty()) << "no request, no copy";
        state.m_detect.Request();
        const Prepared frame(camera, c.width, c.height);
        EXPECT_TRUE(state.m_detect.WaitServed([] { return true; })) << "the request is served";
        EXPECT_EQ(std::make_tuple(state.m_detect.Scale(), state.m_detect.Image().size(), state.m_detect.Image().type()),
                  std::make_tuple(c.scale, c.detect, CV_8UC3))
            << c.width;
        cv::Mat expected = CaptureImage(frame.bytes.data(), c.width, c.height).clone();
        if (c.scale > 1) cv::resize(expected, expected, c.detect, 0, 0, cv::INTER_LINEAR);
        EXPECT_EQ(cv::norm(state.m_detect.Image(), expected, cv::NORM_INF), 0) << c.width;
    }
}

TEST(FramePreparation, FramesAreLeftAloneWhileTheCameraExitsOrDetectionStopsAndWhenOfAnotherSizeOrBad) {
    CTrackingState state;
    CThreadCamera camera(state, nullptr, 64, 48);
    state.m_bLiveView = true;
    state.m_detect.Request();
    for (auto* flag : {&state.m_bCameraThreadExit, &state.m_bHeadDetectStop}) {
        *flag = true;
        EXPECT_EQ(Prepared(camera, 64, 48).asked, 0);
        *flag = false;
    }
    EXPECT_EQ(Prepared(camera, 64, 47).asked, 0) << "another size is not read";
    EXPECT_EQ(Prepared(camera, 64, 48, true).failure, "corrupt");
    std::vector<std::uint8_t> live;
    EXPECT_FALSE(state.m_liveView.ReadLatest(live));
    EXPECT_EQ(state.m_iFrameCount, 0);
    EXPECT_TRUE(state.m_detect.Wanted());
}

class HeadDetectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_detect.Init(), 0) << "the build puts the face cascade in " << DataDirectory(); }
    HeadRect Head() const { return m_state.m_detect.m_rcHead.Load(); }
    std::tuple<bool, int, HeadRect> Published() const {
        return {m_state.m_detect.m_bHeadFound, m_state.m_detect.m_iHeadDetectCount, Head()};
    }

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
    EXPECT_EQ(Published(), std::make_tuple(true, 4, scaled));

    const cv::Mat empty(120, 160, CV_8UC3, cv::Scalar(90, 90, 90));
    for (int i = 0; i < 2; ++i) {
        m_detect.Detect(empty, 4);
        EXPECT_EQ(Published(), std::make_tuple(false, 0, scaled)) << "a miss leaves the last rectangle";
    }
    m_state.m_detect.m_bHeadFound = true;
    CHeadDetect fresh(m_state.m_detect, m_messages);
    EXPECT_FALSE(m_state.m_detect.m_bHeadFound) << "a new detector starts without a head";
    EXPECT_TRUE(m_messages.texts.empty());
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
    EXPECT_EQ(CHeadDetect(m_state.m_detect, m_messages, dir.path()).Init(), -1);

    // A detection thread without a cascade tells once and never runs.
    CTrackingState state;
    CThreadHeadDetect thread(state, m_messages, dir.path());
    EXPECT_FALSE(thread.Start(false) && state.m_bHeadDetectRunning);
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_FALSE(state.m_bHeadDetectRunning);
    EXPECT_EQ(m_messages.texts, std::vector<std::string>(3, message));
}

}  // namespace
