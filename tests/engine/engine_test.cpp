// The engine as the program and the tools drive it: the threaded road over a scripted camera,
// and the synchronous road over a face moving to the left, with its outputs and profile switch.
#include <gtest/gtest.h>

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

class EngineTest : public ::testing::Test {
protected:
    // The synchronous road over a sweep, detection every 10 frames; the count of moves per output.
    void FeedSweep(CEngine& engine, int frames) {
        ASSERT_EQ(engine.InitDetection(), 0) << (m_messages.texts.empty() ? "" : m_messages.texts[0]);
        engine.SetFrameSize(640, 480);
        const SyntheticSequence sequence(Trajectory::Sweep, frames);
        std::vector<std::uint8_t> sample;
        for (int i = 0; i < frames; ++i) {
            ToCaptureLayout(sequence.Frame(i), sample);
            engine.Feed(sample.data(), static_cast<std::uint32_t>(sample.size()));
        }
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSettingsMirror m_mirror;
    test::RecordingMessages m_messages;
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

    engine.Stop();
    EXPECT_TRUE(engine.StopAll());
    EXPECT_FALSE(engine.Status().cameraRunning);
}

TEST_F(EngineTest, MappedMotionGoesToTheRegisteredOutputThatTheSwitchesPick) {
    for (const bool sdkActive : {false, true}) {
        m_moves = {};
        m_mirror.m_bMouseActive = true;
        m_mirror.m_bSdkActive = sdkActive;
        CEngine engine(m_mirror, m_store, m_messages, nullptr, {.detectEvery = 10});
        engine.RegisterPointer(&m_moves);
        engine.RegisterSocket(&m_moves);
        FeedSweep(engine, 60);
        const auto& chosen = sdkActive ? m_moves.socket : m_moves.pointer;
        const auto& other = sdkActive ? m_moves.pointer : m_moves.socket;
        EXPECT_GT(chosen.size(), 10u) << "socket on: " << sdkActive;
        EXPECT_TRUE(other.empty()) << "socket on: " << sdkActive;
        EXPECT_TRUE(m_moves.view.empty());
    }
    // An empty slot drops the motion.
    m_mirror.m_bSdkActive = false;
    CEngine engine(m_mirror, m_store, m_messages, nullptr, {.detectEvery = 10});
    FeedSweep(engine, 30);
    EXPECT_GT(engine.Status().points, 0);
}

TEST_F(EngineTest, TheStoredProfileSwitchesTheProfilePathOnAtStart) {
    struct Case {
        int flight;
        int profileEnable;
        bool used;
    };
    for (const Case c : {Case{0, 0, false}, Case{1, 0, true}, Case{0, 1, true}}) {
        ASSERT_TRUE(m_store.Write(Setting::kFlight, c.flight));
        ASSERT_TRUE(m_store.Write(Setting::kProfileEnable, c.profileEnable));
        CEngine engine(m_mirror, m_store, m_messages, nullptr);
        engine.LoadSpeedProfile();
        EXPECT_EQ(engine.UsesSpeedProfile(), c.used) << "flight " << c.flight << ", profile " << c.profileEnable;
    }
}

}  // namespace
