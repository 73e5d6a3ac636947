// The engine as the program and the tools drive it: the threaded road over a scripted camera,
// and the synchronous road over synthetic head motion with known truth, and its profile switch.
// Which output the mapped motion reaches is checked end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "camera_frame.h"
#include "engine.h"
#include "scripted_capture.h"
#include "settings_store.h"
#include "synthetic_sequence.h"
#include "test_support.h"
#include "tracking_test_support.h"

namespace {

class EngineTest : public ::testing::Test {
protected:
    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSettingsMirror m_mirror;
    test::RecordingMessages m_messages;
    test::RecordingMotionSink m_sink;
};

TEST_F(EngineTest, TheThreadedRoadRunsACameraAndStopsInOrder) {
    CEngine engine(m_mirror, m_store, m_messages, nullptr);
    ASSERT_TRUE(engine.StartThreadHeadDetect(true)) << (m_messages.texts.empty() ? "" : m_messages.texts[0]);
    ASSERT_TRUE(engine.StartThreadCamera(true));
    auto layer = std::make_unique<CScriptedCapture>();
    CScriptedCapture& camera = *layer;
    camera.SetDevices({{{"Cam", "", ""}, {{true, 24, 640, 480}}}});
    ASSERT_EQ(engine.OpenCamera(std::move(layer), 0, 640, 12), 1);
    ASSERT_TRUE(engine.AttachCamera(1) && engine.RunCamera());
    camera.QueueFrames({{640, 480}, {640, 480}});
    ASSERT_TRUE(camera.WaitUntilDelivered());
    EXPECT_EQ(std::make_pair(engine.Status().frames, engine.Status().cameraRunning), std::make_pair(2, true));

    engine.Stop();  // must return: every thread is woken, not polled
    EXPECT_TRUE(engine.StopAll());
    EXPECT_FALSE(engine.Status().cameraRunning);
}

// The synchronous road as mivex-track runs it (detection on every 10th frame), compared with the
// rendered motion from the first detection on.
TEST_F(EngineTest, TracksSyntheticHeadMotionWithinATenthOfAPixelAndKeepsMotionComing) {
    // Brightness changes break the flow's assumption: no bound on the error.
    for (const auto& [trajectory, maxError] :
         {std::pair{Trajectory::Circle, 0.15}, {Trajectory::Sweep, 1e9}, {Trajectory::Brightness, 1e9}}) {
        m_sink.calls.clear();
        CEngine engine(m_mirror, m_store, m_messages, nullptr, {.detectEvery = 10, .observer = &m_sink});
        ASSERT_EQ(engine.InitDetection(), 0) << (m_messages.texts.empty() ? "" : m_messages.texts[0]);
        engine.SetFrameSize(640, 480);
        const SyntheticSequence sequence(trajectory, 300);
        std::vector<std::uint8_t> sample;
        std::vector<int> points;
        int warm = 0, withMotion = 0, measured = 0;  // warm: after the ten frames the flow only settles on
        double errorX = 0, errorY = 0;
        for (int i = 0; i < sequence.FrameCount(); ++i) {
            ToCaptureLayout(sequence.Frame(i), sample);
            const std::size_t callsBefore = m_sink.calls.size();
            const bool detected = engine.Status().headDetectCount > 0 || !points.empty();
            ColourFrame frame(sample.data(), 640, 480);
            engine.Feed(frame);
            if (!detected) continue;
            points.push_back(engine.Status().points);
            // Each frame the flow tracks is one call; it reports motion from its eleventh on.
            warm += callsBefore >= CFeatureTracker::kFlowFramesBeforeMotion;
            if (m_sink.calls.size() == callsBefore || m_sink.calls.back().summed == 0) continue;
            if (++withMotion <= 10) continue;  // the points settle first
            const auto& call = m_sink.calls.back();
            errorX += std::abs(call.sumX / call.summed - sequence.Truth(i).dx);
            errorY += std::abs(call.sumY / call.summed - sequence.Truth(i).dy);
            ++measured;
        }
        errorX /= std::max(1, measured), errorY /= std::max(1, measured);
        ASSERT_FALSE(points.empty()) << TrajectoryName(trajectory) << ": no head detected";
        std::ranges::sort(points);
        std::ostringstream figures;
        figures << TrajectoryName(trajectory) << ": motion on " << withMotion << " of " << warm
                << " settled frames; mean error " << errorX << ", " << errorY << " px over " << measured
                << " frames; points min/median/max " << points.front() << "/" << points[points.size() / 2] << "/"
                << points.back();
        std::cout << figures.str() << "\n";
        ASSERT_GT(measured, 100) << figures.str();
        EXPECT_LT(std::max(errorX, errorY), maxError) << figures.str();
        EXPECT_GE(withMotion, 0.95 * warm) << figures.str();
    }
}

TEST_F(EngineTest, TheStoredProfileSwitchesTheProfilePathOnAtStart) {
    for (const auto& [flight, profileEnable] : {std::pair{0, 0}, {1, 0}, {0, 1}}) {
        ASSERT_TRUE(m_store.Write(Setting::kFlight, flight) && m_store.Write(Setting::kProfileEnable, profileEnable));
        CEngine engine(m_mirror, m_store, m_messages, nullptr);
        engine.LoadSpeedProfile();
        EXPECT_EQ(engine.UsesSpeedProfile(), flight || profileEnable) << flight << profileEnable;
    }
}

}  // namespace
