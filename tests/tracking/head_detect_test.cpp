#include "head_detect.h"

#include <gtest/gtest.h>

#include "paths.h"
#include "test_support.h"
#include "tracking_test_support.h"

namespace {

class HeadDetectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(DataDirectory() / CHeadDetect::kCascadeFile))
            << "the build installs the face cascade beside the test programs";
    }
    CTrackingState m_state;
    test::RecordingMessages m_messages;
};

TEST_F(HeadDetectTest, AFaceIsPublishedInFullFramePixels) {
    CHeadDetect detect(m_state.m_detect, m_messages);
    ASSERT_EQ(detect.Init(), 0);
    const cv::Mat reduced = test::ReducedFaceFrame();

    EXPECT_EQ(detect.Detect(reduced, 1), 0);
    ASSERT_TRUE(m_state.m_detect.m_bHeadFound);
    const HeadRect reducedRect = m_state.m_detect.m_rcHead.Load();
    // The face is about 60 reduced pixels wide, at the left edge of the pasted photo.
    EXPECT_NEAR(reducedRect.right - reducedRect.left, 60, 10);
    EXPECT_GT(reducedRect.left, 20);

    detect.Detect(reduced, 4);
    EXPECT_EQ(m_state.m_detect.m_rcHead.Load(), (HeadRect{reducedRect.left * 4, reducedRect.top * 4, reducedRect.right * 4,
                                                 reducedRect.bottom * 4}));
    EXPECT_EQ(m_state.m_detect.m_iHeadDetectCount, 2);
    EXPECT_TRUE(m_messages.texts.empty());
}

TEST_F(HeadDetectTest, TheLastFaceFoundWins) {
    CHeadDetect detect(m_state.m_detect, m_messages);
    ASSERT_EQ(detect.Init(), 0);
    detect.Detect(test::ReducedFaceFrame(true), 1);
    ASSERT_TRUE(m_state.m_detect.m_bHeadFound);
    // The detector lists the two faces in its own order; the published one is its last.
    cv::CascadeClassifier cascade((DataDirectory() / CHeadDetect::kCascadeFile).string());
    std::vector<cv::Rect> faces;
    cascade.detectMultiScale(test::ReducedFaceFrame(true), faces, 1.1, 2, cv::CASCADE_DO_CANNY_PRUNING, cv::Size(40, 40));
    ASSERT_EQ(faces.size(), 2u);
    const cv::Rect& last = faces.back();
    EXPECT_EQ(m_state.m_detect.m_rcHead.Load(), (HeadRect{last.x, last.y, last.x + last.width, last.y + last.height}));
}

TEST_F(HeadDetectTest, TheCounterCountsSuccessesAndResetsOnAMiss) {
    CHeadDetect detect(m_state.m_detect, m_messages);
    ASSERT_EQ(detect.Init(), 0);
    for (int i = 0; i < 3; ++i) detect.Detect(test::ReducedFaceFrame(), 4);
    EXPECT_EQ(m_state.m_detect.m_iHeadDetectCount, 3);
    const HeadRect found = m_state.m_detect.m_rcHead.Load();

    const cv::Mat empty(120, 160, CV_8UC3, cv::Scalar(90, 90, 90));
    detect.Detect(empty, 4);
    EXPECT_FALSE(m_state.m_detect.m_bHeadFound);
    EXPECT_EQ(m_state.m_detect.m_iHeadDetectCount, 0);
    EXPECT_EQ(m_state.m_detect.m_rcHead.Load(), found) << "a miss leaves the last rectangle";
    detect.Detect(empty, 4);
    EXPECT_EQ(m_state.m_detect.m_iHeadDetectCount, 0);

    // A new detector starts with no head.
    m_state.m_detect.m_bHeadFound = true;
    CHeadDetect fresh(m_state.m_detect, m_messages);
    EXPECT_FALSE(m_state.m_detect.m_bHeadFound);
}

TEST_F(HeadDetectTest, AMissingCascadeIsReportedWithThePathTried) {
    test::TempDir dir;
    CHeadDetect detect(m_state.m_detect, m_messages, dir.path());
    EXPECT_EQ(detect.Init(), -1);
    ASSERT_EQ(m_messages.texts.size(), 1u);
    EXPECT_EQ(m_messages.texts[0], "ERROR: file: [cascade_ff_d.xml] not found in the following location: " +
                                       (dir.path() / "cascade_ff_d.xml").string());
    detect.Detect(test::ReducedFaceFrame(), 4);
    EXPECT_FALSE(m_state.m_detect.m_bHeadFound) << "no cascade, no detection";

    // A file that is not a cascade reads as missing too.
    test::WriteFile(dir.path() / "cascade_ff_d.xml", "<not a cascade");
    CHeadDetect broken(m_state.m_detect, m_messages, dir.path());
    EXPECT_EQ(broken.Init(), -1);
    EXPECT_EQ(m_messages.texts.size(), 2u);
}

TEST_F(HeadDetectTest, AThreadWithoutACascadeTellsOnceAndNeverRuns) {
    test::TempDir dir;
    CThreadHeadDetect thread(m_state, m_messages, dir.path());
    EXPECT_FALSE(thread.Start(false) && m_state.m_bHeadDetectRunning);
    EXPECT_TRUE(thread.Stop(true));
    EXPECT_EQ(m_messages.texts.size(), 1u);
    EXPECT_FALSE(m_state.m_bHeadDetectRunning);
}

}  // namespace
