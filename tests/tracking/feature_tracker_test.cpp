#include "feature_tracker.h"

#include <gtest/gtest.h>

#include "tracking_test_support.h"

#include <opencv2/video/tracking.hpp>

namespace {

class FeatureTrackerTest : public ::testing::Test {
protected:
    FeatureTrackerTest() : m_frame(test::CosineTexture(640, 480)) {}

    // One frame with the head detected anew, centred at (x, y).
    void FrameWithHeadAt(int x, int y) {
        test::PublishHead(m_state, test::HeadCentredAt(x, y));
        m_tracker.OnFrame(m_frame);
    }
    cv::Point2f Point(int i) const { return m_tracker.Points()[i]; }
    void ExpectPointAt(int i, float x, float y) const {
        EXPECT_NEAR(Point(i).x, x, 1e-3) << "point " << i;
        EXPECT_NEAR(Point(i).y, y, 1e-3) << "point " << i;
    }

    CTrackingState m_state;
    test::RecordingMotionSink m_sink;
    CFeatureTracker m_tracker{m_state, &m_sink};
    cv::Mat m_frame;
};

TEST_F(FeatureTrackerTest, TheHeadCentreIsSeededAndRefined) {
    test::PublishHead(m_state, {10, 20, 111, 141});  // centre (60, 80)
    m_tracker.OnFrame(m_frame);
    ASSERT_EQ(m_tracker.Count(), 1);
    EXPECT_NEAR(Point(0).x, 60.0f, 1e-3);  // the texture is symmetric about it: refinement keeps it
    EXPECT_NEAR(Point(0).y, 80.0f, 1e-3);
    EXPECT_EQ(m_state.m_iPointCount, 0) << "published before seeding";
    EXPECT_TRUE(m_sink.calls.empty()) << "no points before this frame, no motion";

    // A centre off the texture's symmetry is pulled toward the nearest corner-like spot.
    FrameWithHeadAt(200, 243);
    ASSERT_EQ(m_tracker.Count(), 2);
    EXPECT_NE(Point(1).y, 243.0f);
    EXPECT_EQ(m_state.m_iPointCount, 1);
}

TEST_F(FeatureTrackerTest, APointOnTheOfferedCentreIsDroppedInsteadOfDuplicated) {
    struct Case {
        int centreX, centreY;
        int countAfter;
    };
    // The point sits at (320, 240), give or take the refinement's rounding; the next centre lies
    // at squared distance 5, 10 and 13 from it.
    for (const Case c : {Case{318, 239, 0}, Case{317, 239, 0}, Case{317, 238, 2}}) {
        CTrackingState state;
        CFeatureTracker tracker(state, nullptr);
        test::PublishHead(state, test::HeadCentredAt(320, 240));
        tracker.OnFrame(m_frame);
        ASSERT_EQ(tracker.Count(), 1);
        ASSERT_NEAR(tracker.Points()[0].x, 320.0f, 1e-3);
        ASSERT_NEAR(tracker.Points()[0].y, 240.0f, 1e-3);
        test::PublishHead(state, test::HeadCentredAt(c.centreX, c.centreY));
        tracker.OnFrame(m_frame);
        EXPECT_EQ(tracker.Count(), c.countAfter) << c.centreX << "," << c.centreY;
        EXPECT_EQ(state.m_iPointCount, c.countAfter == 0 ? 0 : 1);
    }
}

TEST_F(FeatureTrackerTest, TenPointsAreKeptAndGrantedExtrasRenewTheFirstSlot) {
    for (int i = 0; i < 12; ++i) FrameWithHeadAt(200 + 20 * i, 240);
    EXPECT_EQ(m_tracker.Count(), 10) << "the limit holds";
    ExpectPointAt(0, 200, 240);

    // Granted the larger limit, the pending centre becomes an 11th point and moves to slot 0.
    m_tracker.m_bAllowMorePoints = true;
    FrameWithHeadAt(200, 300);
    EXPECT_FALSE(m_tracker.m_bAllowMorePoints) << "granted for one frame";
    EXPECT_EQ(m_tracker.Count(), 10);
    ExpectPointAt(0, 200, 300);
    ExpectPointAt(1, 220, 240);  // slots 1..9 keep theirs

    // Without a head at the end of the frame, the extra point stays.
    FrameWithHeadAt(200, 340);  // pending: limit reached
    m_tracker.m_bAllowMorePoints = true;
    m_state.m_detect.m_bHeadFound = false;
    m_tracker.OnFrame(m_frame);
    EXPECT_EQ(m_tracker.Count(), 11);
}

TEST_F(FeatureTrackerTest, MotionIsReportedFromTheTenthTrackedFrame) {
    FrameWithHeadAt(320, 240);
    for (int i = 0; i < 14; ++i) {
        ++m_state.m_detect.m_iHeadDetectCount;  // detection alive, but no new centre
        m_state.m_detect.m_bHeadFound = false;
        const cv::Mat shifted = test::CosineTexture(640, 480, 20.0, 0.25 * (i + 1), -0.125 * (i + 1));
        m_tracker.OnFrame(shifted);
    }
    ASSERT_EQ(m_sink.calls.size(), 14u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(m_sink.calls[i].summed, 0) << "flow frame " << i;
    for (int i = 10; i < 14; ++i) {
        const auto& call = m_sink.calls[i];
        ASSERT_EQ(call.summed, 1);
        EXPECT_NEAR(call.sumX, 0.25, 0.02);
        EXPECT_NEAR(call.sumY, -0.125, 0.02);
        EXPECT_EQ(call.sizeMultiplier, 1) << "640 pixels wide";
        EXPECT_FALSE(call.profile);
    }
    EXPECT_EQ(m_tracker.FlowFrames(), 10);

    m_tracker.m_bUseProfile = true;
    ++m_state.m_detect.m_iHeadDetectCount;
    m_tracker.OnFrame(m_frame);
    EXPECT_TRUE(m_sink.calls.back().profile);
}

TEST_F(FeatureTrackerTest, FramesUpTo600PixelsWideDoubleTheMotion) {
    for (const auto& [width, multiplier] : {std::pair{600, 2}, std::pair{601, 1}, std::pair{320, 2}}) {
        CTrackingState state;
        test::RecordingMotionSink sink;
        CFeatureTracker tracker(state, &sink);
        const cv::Mat frame = test::CosineTexture(width, 240);
        test::PublishHead(state, test::HeadCentredAt(100, 100));
        tracker.OnFrame(frame);
        ++state.m_detect.m_iHeadDetectCount;
        tracker.OnFrame(frame);
        ASSERT_EQ(sink.calls.size(), 1u);
        EXPECT_EQ(sink.calls[0].sizeMultiplier, multiplier) << width;
    }
}

TEST_F(FeatureTrackerTest, TrackingHaltsAfterAHundredFramesWithoutDetectionNews) {
    FrameWithHeadAt(320, 240);  // detection counter 1, one point
    m_state.m_detect.m_bHeadFound = false;
    for (int i = 0; i < 120; ++i) m_tracker.OnFrame(m_frame);
    EXPECT_EQ(m_sink.calls.size(), 100u) << "frames 1..100 after the last news are tracked";

    // A failed detection is news too (the counter drops to 0), and tracking resumes.
    m_state.m_detect.m_iHeadDetectCount = 0;
    m_tracker.OnFrame(m_frame);
    EXPECT_EQ(m_sink.calls.size(), 101u);

    // With no head ever detected the tracker halts the same way, without points.
    CTrackingState state;
    CFeatureTracker idle(state, nullptr);
    for (int i = 0; i < 100; ++i) idle.OnFrame(m_frame);
    EXPECT_EQ(state.m_iDisplayWrite, 0) << "100 frames processed, each flipping the display";
    idle.OnFrame(m_frame);
    idle.OnFrame(m_frame);
    EXPECT_EQ(state.m_iDisplayWrite, 0) << "frame 101 on: nothing happens";
}

TEST_F(FeatureTrackerTest, TheDisplayShowsKeptPointsOnlyWhileTheLiveViewIsWanted) {
    FrameWithHeadAt(300, 240);
    FrameWithHeadAt(340, 240);
    for (int i = 0; i < 10; ++i) {
        ++m_state.m_detect.m_iHeadDetectCount;
        m_state.m_detect.m_bHeadFound = false;
        m_tracker.OnFrame(m_frame);
    }
    EXPECT_EQ(m_state.m_display.Load().count, 0) << "live view off";
    EXPECT_EQ(m_state.m_display.Load().headX, 320);
    EXPECT_EQ(m_state.m_display.Load().headY, 240);

    m_state.m_bLiveView = true;
    ++m_state.m_detect.m_iHeadDetectCount;
    m_tracker.OnFrame(m_frame);
    const PointDisplay display = m_state.m_display.Load();
    ASSERT_EQ(display.count, 2);
    EXPECT_EQ(display.points[0], (PointDisplay::Point{300, 240}));
    EXPECT_EQ(display.points[1], (PointDisplay::Point{340, 240}));
}

TEST(FeatureTrackerFlow, MatchesOpenCvsPyramidalLucasKanadeBitForBit) {
    // The tracker builds its pyramids its own way (one per frame, derivatives only near the
    // points); the positions must still be exactly those of the library's own flow.
    cv::Mat noise(480, 640, CV_8UC1);
    cv::randu(noise, 0, 256);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 2.0);
    cv::Mat first;
    cv::cvtColor(noise, first, cv::COLOR_GRAY2BGR);
    cv::Mat second;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 1.3, 0, 1, -0.7);
    cv::warpAffine(first, second, shift, first.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);

    CTrackingState state;
    CFeatureTracker tracker(state, nullptr);
    for (const auto& [x, y] : {std::pair{320, 240}, {12, 12}, {628, 12}, {12, 468}, {628, 468}, {100, 300},
                              {400, 30}, {600, 250}, {250, 460}})
        test::PublishHead(state, test::HeadCentredAt(x, y)), tracker.OnFrame(first);
    const std::vector<cv::Point2f> before(tracker.Points(), tracker.Points() + tracker.Count());
    ASSERT_GE(before.size(), 6u);

    state.m_detect.m_bHeadFound = false;
    ++state.m_detect.m_iHeadDetectCount;
    tracker.OnFrame(second);

    cv::Mat firstGrey, secondGrey;
    cv::cvtColor(first, firstGrey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(second, secondGrey, cv::COLOR_BGR2GRAY);
    const cv::Size window(21, 21);
    std::vector<cv::Mat> firstPyramid, secondPyramid;
    cv::buildOpticalFlowPyramid(firstGrey, firstPyramid, window, 3);
    cv::buildOpticalFlowPyramid(secondGrey, secondPyramid, window, 3);
    std::vector<cv::Point2f> after;
    std::vector<unsigned char> status;
    cv::calcOpticalFlowPyrLK(firstPyramid, secondPyramid, before, after, status, cv::noArray(), window, 3,
                             cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, double(0.03f)));
    std::vector<cv::Point2f> expected;
    for (std::size_t i = 0; i < after.size(); ++i)
        if (status[i]) expected.push_back(after[i]);
    ASSERT_EQ(tracker.Count(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tracker.Points()[i].x, expected[i].x) << i;  // exactly, not nearly
        EXPECT_EQ(tracker.Points()[i].y, expected[i].y) << i;
    }
}

}  // namespace
