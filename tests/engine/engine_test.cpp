// The engine as the program and the tools drive it: the threaded road over a scripted camera,
// and the synchronous road over synthetic head motion with known truth, its outputs and profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "camera_frame.h"
#include "engine.h"
#include "scripted_capture.h"
#include "settings_store.h"
#include "synthetic_sequence.h"
#include "test_support.h"
#include "tracking_test_support.h"

namespace {

struct Moves : IPointerOutput, IViewOutput, ISocketOutput {
    void Move(float dx, float dy) override { pointer.push_back({dx, dy}); }
    void MoveCamera(float x, float y, bool) override { view.push_back({x, y}); }
    void Push(float x, float y) override { socket.push_back({x, y}); }
    std::vector<cv::Point2f> pointer, view, socket;
};

// Tracking against the rendered motion, from the first detection on.
struct Accuracy {
    int framesWarm = 0;  // after the ten frames on which the flow only settles
    int framesWithMotion = 0;
    int measured = 0;  // frames compared with the truth
    double errorX = 0, errorY = 0;
    std::vector<int> points;
    std::string Describe() const {
        std::vector<int> counts = points;
        std::sort(counts.begin(), counts.end());
        return "motion on " + std::to_string(framesWithMotion) + " of " + std::to_string(framesWarm) +
               " settled frames; mean error " + std::to_string(errorX) + ", " + std::to_string(errorY) + " px over " +
               std::to_string(measured) + " frames; points min/median/max " + std::to_string(counts.front()) + "/" +
               std::to_string(counts[counts.size() / 2]) + "/" + std::to_string(counts.back());
    }
};

class EngineTest : public ::testing::Test {
protected:
    // The synchronous road as mivex-track runs it: detection on every 10th frame.
    std::unique_ptr<CEngine> SyncEngine() {
        auto engine = std::make_unique<CEngine>(m_mirror, m_store, m_messages, nullptr,
                                                CEngine::Options{.detectEvery = 10, .observer = &m_sink});
        EXPECT_EQ(engine->InitDetection(), 0) << (m_messages.texts.empty() ? "" : m_messages.texts[0]);
        engine->SetFrameSize(640, 480);
        return engine;
    }

    Accuracy Feed(CEngine& engine, Trajectory trajectory, int frames) {
        const SyntheticSequence sequence(trajectory, frames);
        Accuracy figures;
        std::vector<std::uint8_t> sample;
        int motionFrames = 0;
        for (int i = 0; i < frames; ++i) {
            ToCaptureLayout(sequence.Frame(i), sample);
            const std::size_t callsBefore = m_sink.calls.size();
            const bool detected = engine.Status().headDetectCount > 0 || !figures.points.empty();
            engine.Feed(sample.data(), static_cast<std::uint32_t>(sample.size()));
            if (!detected) continue;
            figures.points.push_back(engine.Status().points);
            // Each frame the flow tracks is one call; it reports motion from its eleventh on.
            figures.framesWarm += callsBefore >= CFeatureTracker::kFlowFramesBeforeMotion;
            if (m_sink.calls.size() == callsBefore || m_sink.calls.back().summed == 0) continue;
            ++figures.framesWithMotion;
            if (++motionFrames <= 10) continue;  // the points settle first
            const auto& call = m_sink.calls.back();
            figures.errorX += std::abs(call.sumX / call.summed - sequence.Truth(i).dx);
            figures.errorY += std::abs(call.sumY / call.summed - sequence.Truth(i).dy);
            ++figures.measured;
        }
        figures.errorX /= std::max(1, figures.measured);
        figures.errorY /= std::max(1, figures.measured);
        return figures;
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSettingsMirror m_mirror;
    test::RecordingMessages m_messages;
    test::RecordingMotionSink m_sink;
    Moves m_moves;
};

TEST_F(EngineTest, TheThreadedRoadRunsACameraAndStopsInOrder) {
    CEngine engine(m_mirror, m_store, m_messages, nullptr);
    ASSERT_TRUE(engine.StartThreadHeadDetect(true)) << (m_messages.texts.empty() ? "" : m_messages.texts[0]);
    ASSERT_TRUE(engine.StartThreadCamera(true));
    auto layer = std::make_unique<CScriptedCapture>();
    CScriptedCapture& camera = *layer;
    camera.SetDevices({{{"Cam", "", ""}, {{true, 24, 640, 480}}}});
    ASSERT_EQ(engine.OpenCamera(std::move(layer), 0, 640, 12), 1);
    ASSERT_TRUE(engine.AttachCamera(1));
    ASSERT_TRUE(engine.RunCamera());
    camera.QueueFrames({CaptureFrameLength(640, 480), CaptureFrameLength(640, 480)});
    ASSERT_TRUE(camera.WaitUntilDelivered());
    EXPECT_EQ(engine.Status().frames, 2);
    EXPECT_TRUE(engine.Status().cameraRunning);

    engine.Stop();  // must return: every thread is woken, not polled
    EXPECT_TRUE(engine.StopAll());
    EXPECT_FALSE(engine.Status().cameraRunning);
}

TEST_F(EngineTest, TracksSyntheticHeadMotionWithinATenthOfAPixelAndKeepsMotionComing) {
    struct Case {
        Trajectory trajectory;
        double maxError;  // brightness changes break the flow's assumption: no bound
    };
    for (const Case c :
         {Case{Trajectory::Circle, 0.15}, Case{Trajectory::Sweep, 1e9}, Case{Trajectory::Brightness, 1e9}}) {
        m_sink.calls.clear();
        const Accuracy figures = Feed(*SyncEngine(), c.trajectory, 300);
        std::cout << TrajectoryName(c.trajectory) << ": " << figures.Describe() << "\n";
        ASSERT_GT(figures.measured, 100) << figures.Describe();
        EXPECT_LT(figures.errorX, c.maxError) << figures.Describe();
        EXPECT_LT(figures.errorY, c.maxError) << figures.Describe();
        EXPECT_GE(figures.framesWithMotion, 0.95 * figures.framesWarm) << figures.Describe();
    }
}

TEST_F(EngineTest, MappedMotionGoesToTheRegisteredOutputThatTheSwitchesPick) {
    m_mirror.m_bMouseActive = true;
    for (const bool sdkActive : {false, true}) {
        m_moves = {};
        m_mirror.m_bSdkActive = sdkActive;
        const auto engine = SyncEngine();
        engine->RegisterPointer(&m_moves);
        engine->RegisterSocket(&m_moves);
        Feed(*engine, Trajectory::Sweep, 60);
        EXPECT_GT((sdkActive ? m_moves.socket : m_moves.pointer).size(), 10u) << "socket on: " << sdkActive;
        EXPECT_TRUE((sdkActive ? m_moves.pointer : m_moves.socket).empty()) << "socket on: " << sdkActive;
        EXPECT_TRUE(m_moves.view.empty());
    }
}

TEST_F(EngineTest, TheStoredProfileSwitchesTheProfilePathOnAtStart) {
    for (const auto& [flight, profileEnable] : {std::pair{0, 0}, {1, 0}, {0, 1}}) {
        ASSERT_TRUE(m_store.Write(Setting::kFlight, flight));
        ASSERT_TRUE(m_store.Write(Setting::kProfileEnable, profileEnable));
        CEngine engine(m_mirror, m_store, m_messages, nullptr);
        engine.LoadSpeedProfile();
        EXPECT_EQ(engine.UsesSpeedProfile(), flight || profileEnable) << flight << profileEnable;
    }
}

}  // namespace
