#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <tuple>

#include "tests/tracking/tracking_test_support.h"

namespace {

// Crossing cosines of period 20 px, shifted by (shiftX, shiftY): point-symmetric about every point
// whose coordinates are multiples of 10, so a corner refinement seeded there stays there.
cv::Mat CosineTexture(int width, int height, double shiftX = 0.0, double shiftY = 0.0) {
    cv::Mat bgr(height, width, CV_8UC3);
    bgr.forEach<cv::Vec3b>([&](cv::Vec3b& pixel, const int* at) {  // at: row, column
        pixel = cv::Vec3b::all(cv::saturate_cast<uchar>(
            128.0 + 60.0 * (std::cos(CV_PI * (at[1] - shiftX) / 10) + std::cos(CV_PI * (at[0] - shiftY) / 10))));
    });
    return bgr;
}

// Detection publishes a head centred at (x, y), then the tracker takes the frame.
void FrameWithHead(CTrackingState& state, CFeatureTracker& tracker, const cv::Mat& frame, int x, int y) {
    state.m_detect.PublishHead({x - 50, y - 50, x + 51, y + 51});
    test::Track(tracker, frame);
}

class FeatureTrackerTest : public ::testing::Test {
protected:
    // One frame of the texture with the head detected anew, centred at (x, y).
    void FrameWithHeadAt(int x, int y) { FrameWithHead(m_state, m_tracker, m_frame, x, y); }
    // One frame with news from detection, but no head.
    void FrameWithoutHead(const cv::Mat& frame) {
        ++m_state.m_detect.m_iHeadDetectCount, m_state.m_detect.m_bHeadFound = false;
        test::Track(m_tracker, frame);
    }
    double DistanceTo(int i, float x, float y) const { return cv::norm(m_tracker.Points()[i] - cv::Point2f(x, y)); }

    const cv::Mat m_frame = CosineTexture(640, 480);
    CTrackingState m_state;
    test::RecordingMotionSink m_sink;
    CFeatureTracker m_tracker{m_state, &m_sink};
};

TEST_F(FeatureTrackerTest, TheHeadCentreIsSeededRefinedAndNeverDuplicated) {
    m_state.m_detect.PublishHead({10, 20, 111, 141});  // centre (60, 80)
    test::Track(m_tracker, m_frame);
    ASSERT_EQ(m_tracker.Count(), 1);
    EXPECT_LT(DistanceTo(0, 60, 80), 1e-3);  // the texture is symmetric about it: refinement keeps it
    EXPECT_EQ(m_state.m_iPointCount, 0) << "published before seeding";
    EXPECT_TRUE(m_sink.calls.empty()) << "no points before this frame, no motion";

    // A centre off the texture's symmetry is pulled toward the nearest corner-like spot.
    FrameWithHeadAt(200, 243);
    ASSERT_EQ(m_tracker.Count(), 2);
    EXPECT_NE(m_tracker.Points()[1].y, 243.0f);
    EXPECT_EQ(m_state.m_iPointCount, 1);

    // A point within squared distance 10 of the next centre is dropped instead of duplicated: the
    // point at (320, 240) meets centres at squared distance 5, 10 and 13.
    for (const auto& [x, y, after] : {std::tuple{318, 239, 0}, {317, 239, 0}, {317, 238, 2}}) {
        CTrackingState state;
        CFeatureTracker tracker(state, nullptr);
        FrameWithHead(state, tracker, m_frame, 320, 240);
        FrameWithHead(state, tracker, m_frame, x, y);
        EXPECT_EQ(std::pair(tracker.Count(), +state.m_iPointCount), std::pair(after, after ? 1 : 0)) << x << "," << y;
    }
}

// Detection reporting a miss while the tracker is inside a frame, as its thread can.
struct MissDuringFrame : IMotionSink {
    explicit MissDuringFrame(CDetectMailbox& detect) : detect(detect) {}
    void MapMotion(int, float, float, int) override { detect.PublishNoHead(); }
    void MapMotionProfile(int, float, float, int) override {}
    CDetectMailbox& detect;
};

TEST_F(FeatureTrackerTest, TenPointsAreKeptSeventeenWhenGrantedAndExtrasRenewTheFirstSlot) {
    for (int i = 0; i < 12; ++i) FrameWithHeadAt(200 + 20 * i, 240);
    EXPECT_EQ(m_tracker.Count(), 10) << "the limit holds";
    EXPECT_LT(DistanceTo(0, 200, 240), 1e-3);

    // Granted the larger limit, the pending centre becomes an 11th point and moves to slot 0.
    m_tracker.m_bAllowMorePoints = true;
    FrameWithHeadAt(200, 300);
    EXPECT_FALSE(m_tracker.m_bAllowMorePoints) << "granted for one frame";
    EXPECT_EQ(m_tracker.Count(), 10);
    EXPECT_LT(DistanceTo(0, 200, 300), 1e-3);
    EXPECT_LT(DistanceTo(1, 220, 240), 1e-3);  // slots 1..9 keep theirs

    // Without a head at the end of the frame the extra points stay, up to the granted limit.
    CTrackingState state;
    MissDuringFrame miss(state.m_detect);
    CFeatureTracker tracker(state, &miss);
    for (int i = 0; i < 20; ++i) {
        tracker.m_bAllowMorePoints = true;
        FrameWithHead(state, tracker, m_frame, 100 + 20 * i, 100);
        EXPECT_EQ(tracker.Count(), std::min(i + 1, 17)) << "frame " << i;
    }
}

TEST_F(FeatureTrackerTest, MotionAndPointsAreReportedFromTheTenthTrackedFrame) {
    FrameWithHeadAt(320, 240);
    for (int i = 1; i <= 14; ++i) FrameWithoutHead(CosineTexture(640, 480, 0.25 * i, -0.125 * i));
    ASSERT_EQ(m_sink.calls.size(), 14u);
    for (int i = 0; i < 14; ++i) {
        const test::MotionCall& call = m_sink.calls[i];  // 640 pixels wide: multiplier 1
        EXPECT_EQ(std::tuple(call.profile, call.summed, call.sizeMultiplier), std::tuple(false, int(i >= 10), 1)) << i;
        EXPECT_NEAR(call.sumX, i < 10 ? 0 : 0.25, 0.02) << "flow frame " << i;
        EXPECT_NEAR(call.sumY, i < 10 ? 0 : -0.125, 0.02) << "flow frame " << i;
    }
    PointDisplay display = m_state.m_display.Load();
    EXPECT_EQ(display.count, 0) << "live view off";
    EXPECT_EQ(cv::Point(display.headX, display.headY), cv::Point(320, 240)) << "no mapping, the head stays";

    m_tracker.m_bUseProfile = true, m_state.m_bLiveView = true;
    FrameWithoutHead(m_frame);  // back by (-3.5, 1.75)
    EXPECT_TRUE(m_sink.calls.back().profile);
    display = m_state.m_display.Load();
    ASSERT_EQ(display.count, 1);
    EXPECT_EQ(display.points[0], (PointDisplay::Point{320, 240}));

    for (const auto& [width, multiplier] : {std::pair{600, 2}, std::pair{601, 1}, std::pair{320, 2}}) {
        CTrackingState state;
        test::RecordingMotionSink sink;
        CFeatureTracker tracker(state, &sink);
        const cv::Mat frame = CosineTexture(width, 240);
        FrameWithHead(state, tracker, frame, 100, 100);
        ++state.m_detect.m_iHeadDetectCount;
        test::Track(tracker, frame);
        ASSERT_EQ(sink.calls.size(), 1u);
        EXPECT_EQ(sink.calls[0].sizeMultiplier, multiplier) << width << " pixels wide";
    }
}

TEST_F(FeatureTrackerTest, TrackingHaltsAfterAHundredFramesWithoutDetectionNews) {
    FrameWithHeadAt(320, 240);  // detection counter 1, one point
    m_state.m_detect.m_bHeadFound = false;
    for (int i = 0; i < 120; ++i) test::Track(m_tracker, m_frame);
    EXPECT_EQ(m_sink.calls.size(), 100u) << "frames 1..100 after the last news are tracked";

    // A failed detection is news too (the counter drops to 0), and tracking resumes, afresh: the
    // points lie on a picture a hundred frames old.
    m_state.m_detect.m_iHeadDetectCount = 0;
    const int write = m_state.m_iDisplayWrite;
    test::Track(m_tracker, m_frame);
    EXPECT_EQ(std::tuple(m_sink.calls.size(), m_tracker.Count(), +m_state.m_iDisplayWrite),
              std::tuple(100u, 0, 1 - write));

    // With no head ever detected the tracker halts the same way, without points.
    CTrackingState state;
    CFeatureTracker idle(state, nullptr);
    for (int i = 0; i < 100; ++i) test::Track(idle, m_frame);
    EXPECT_EQ(state.m_iDisplayWrite, 0) << "100 frames processed, each flipping the display";
    test::Track(idle, m_frame);
    EXPECT_EQ(state.m_iDisplayWrite, 0) << "frame 101: nothing happens";
}

// Points left behind where the face was (on the wall, on a hand over it) would outvote the face.
TEST_F(FeatureTrackerTest, AFaceFoundAgainAfterNoneKeepsOnlyThePointsOnIt) {
    for (int i = 0; i < 6; ++i) FrameWithHeadAt(100 + 80 * i, 240);  // points at x = 100, 180, ... 500
    FrameWithHeadAt(300, 240);                                       // found on, not again: all points stay
    EXPECT_EQ(m_tracker.Count(), 7);
    m_state.m_detect.PublishNoHead();
    test::Track(m_tracker, m_frame);
    EXPECT_EQ(m_tracker.Count(), 7) << "a face not found loses no point by that alone";
    FrameWithHeadAt(290, 240);  // x 240..341, and a tenth of that around it
    EXPECT_EQ(m_tracker.Count(), 4) << "the points at 260, 300 and 340, and the new centre";
}

TEST(FeatureTrackerFlow, MatchesOpenCvsPyramidalLucasKanadeBitForBit) {
    // The tracker builds its pyramids its own way (one per frame, derivatives only near the
    // points); the positions must still be exactly those of the library's own flow.
    // Grey shown as BGR converts back to the same grey, so the library gets what the tracker sees.
    cv::Mat grey[2] = {cv::Mat(480, 640, CV_8UC1), {}}, first, second;
    cv::randu(grey[0], 0, 256);
    cv::GaussianBlur(grey[0], grey[0], cv::Size(0, 0), 2.0);
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 1.3, 0, 1, -0.7);
    cv::warpAffine(grey[0], grey[1], shift, grey[0].size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    cv::cvtColor(grey[0], first, cv::COLOR_GRAY2BGR), cv::cvtColor(grey[1], second, cv::COLOR_GRAY2BGR);

    CTrackingState state;
    CFeatureTracker tracker(state, nullptr);
    // The middle, the four corners at the border and points between.
    const cv::Point heads[] = {{320, 240}, {12, 12},  {628, 12},  {12, 468}, {628, 468},
                               {100, 300}, {400, 30}, {600, 250}, {250, 460}};
    for (const cv::Point& head : heads) FrameWithHead(state, tracker, first, head.x, head.y);
    const auto points = [&] { return std::vector(tracker.Points(), tracker.Points() + tracker.Count()); };
    const std::vector<cv::Point2f> before = points();
    ASSERT_GE(before.size(), 6u);
    state.m_detect.m_bHeadFound = false;
    ++state.m_detect.m_iHeadDetectCount;
    test::Track(tracker, second);

    const cv::Size window(21, 21);
    std::vector<cv::Mat> pyramid[2];
    for (int k : {0, 1}) cv::buildOpticalFlowPyramid(grey[k], pyramid[k], window, 3);
    std::vector<cv::Point2f> after, expected;
    std::vector<unsigned char> status;
    cv::calcOpticalFlowPyrLK(pyramid[0], pyramid[1], before, after, status, cv::noArray(), window, 3,
                             cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, double(0.03f)));
    for (std::size_t i = 0; i < after.size(); ++i)
        if (status[i]) expected.push_back(after[i]);
    EXPECT_EQ(points(), expected);  // exactly, not nearly
}

}  // namespace
