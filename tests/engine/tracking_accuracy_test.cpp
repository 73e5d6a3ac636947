// Tracking accuracy on synthetic head motion with known truth: the whole frame road (capture
// layout, preparation, detection every 10 frames, flow) against the motion that was rendered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "camera_frame.h"
#include "engine.h"
#include "settings_store.h"
#include "synthetic_sequence.h"
#include "test_support.h"
#include "tracking_test_support.h"

namespace {

struct AccuracyFigures {
    int framesAfterDetection = 0;  // frames tracked since the first detection
    int framesWarm = 0;            // of these, frames after the ten on which the flow only settles
    int framesWithMotion = 0;
    int measured = 0;  // frames compared with the truth
    double meanErrorX = 0;
    double meanErrorY = 0;
    std::vector<int> pointCounts;  // after each frame since the first detection
};

AccuracyFigures Track(Trajectory trajectory, int frames) {
    const SyntheticSequence sequence(trajectory, frames);
    test::RecordingMessages messages;
    test::RecordingMotionSink sink;
    test::TempConfigHome home;
    CSettingsStore store;
    CSettingsMirror mirror;
    CEngine engine(mirror, store, messages, nullptr, {.detectEvery = 10, .observer = &sink});
    EXPECT_EQ(engine.InitDetection(), 0) << (messages.texts.empty() ? "" : messages.texts[0]);
    engine.SetFrameSize(640, 480);

    AccuracyFigures figures;
    std::vector<std::uint8_t> sample;
    int motionFrames = 0;
    for (int i = 0; i < frames; ++i) {
        ToCaptureLayout(sequence.Frame(i), sample);
        const std::size_t callsBefore = sink.calls.size();
        const bool detected = engine.Status().headDetectCount > 0 || figures.framesAfterDetection > 0;
        // The flow reports motion from its eleventh frame with points on; each such frame is one call.
        const bool warm = callsBefore >= CFeatureTracker::kFlowFramesBeforeMotion;
        engine.Feed(sample.data(), static_cast<std::uint32_t>(sample.size()));
        if (!detected) continue;
        ++figures.framesAfterDetection;
        figures.framesWarm += warm;
        figures.pointCounts.push_back(engine.Status().points);
        if (sink.calls.size() == callsBefore || sink.calls.back().summed == 0) continue;
        ++figures.framesWithMotion;
        // The first tracked frames settle the points; compare from the eleventh frame with motion.
        if (++motionFrames <= 10) continue;
        const auto& call = sink.calls.back();
        const FrameTruth truth = sequence.Truth(i);
        figures.meanErrorX += std::abs(call.sumX / call.summed - truth.dx);
        figures.meanErrorY += std::abs(call.sumY / call.summed - truth.dy);
        ++figures.measured;
    }
    if (figures.measured > 0) {
        figures.meanErrorX /= figures.measured;
        figures.meanErrorY /= figures.measured;
    }
    return figures;
}

std::string Describe(const AccuracyFigures& figures) {
    std::vector<int> counts = figures.pointCounts;
    std::sort(counts.begin(), counts.end());
    std::ostringstream text;
    text << "motion on " << figures.framesWithMotion << " of " << figures.framesAfterDetection
         << " frames after the first detection (" << figures.framesWarm << " after the flow settled); mean error " << figures.meanErrorX << ", " << figures.meanErrorY
         << " px over " << figures.measured << " frames; points min/median/max " << counts.front() << "/"
         << counts[counts.size() / 2] << "/" << counts.back();
    return text.str();
}

TEST(TrackingAccuracy, TheSlowCircleIsFollowedWithinATenthOfAPixel) {
    const AccuracyFigures figures = Track(Trajectory::Circle, 300);
    std::cout << "circle: " << Describe(figures) << "\n";
    ASSERT_GT(figures.measured, 100) << Describe(figures);
    EXPECT_LT(figures.meanErrorX, 0.15) << Describe(figures);
    EXPECT_LT(figures.meanErrorY, 0.15) << Describe(figures);
    EXPECT_GE(figures.framesWithMotion, 0.95 * figures.framesWarm) << Describe(figures);
}

TEST(TrackingAccuracy, FastSweepsAndBrightnessChangesKeepMotionComing) {
    for (const Trajectory trajectory : {Trajectory::Sweep, Trajectory::Brightness}) {
        const AccuracyFigures figures = Track(trajectory, 300);
        std::cout << TrajectoryName(trajectory) << ": " << Describe(figures) << "\n";
        ASSERT_GT(figures.measured, 100) << Describe(figures);
        EXPECT_GE(figures.framesWithMotion, 0.95 * figures.framesWarm) << Describe(figures);
    }
}

}  // namespace
