// The engine as the program and the tools drive it: the threaded road over a scripted camera,
// and the synchronous road over synthetic head motion with known truth, and its profile switch.
// Which output the mapped motion reaches is checked end to end.
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <vector>

#include "base/camera_frame.h"
#include "base/settings_store.h"
#include "capture/replay_v4l2.h"
#include "capture/scripted_capture.h"
#include "engine/engine.h"
#include "tests/support/frame_counter.h"
#include "tests/support/test_support.h"
#include "tests/tracking/tracking_test_support.h"
#include "tools/sequence/synthetic_sequence.h"

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

// How closely the road's motion follows the rendered one, from the first detection on.
struct Accuracy {
    double errorX = 0, errorY = 0;               // mean absolute error per frame, px
    int warm = 0, withMotion = 0, measured = 0;  // warm: after the ten frames the flow only settles on
    std::vector<int> points;
    std::string figures;
    int notTaken = -1;  // the frame the road did not take, which ended the measuring
};

// The synchronous road as mivex-track runs it (detection on every 10th frame); feed(i) hands
// frame i to it and returns once it has been taken: false when it was not, which ends the
// measuring there.
Accuracy Measure(CEngine& engine, const test::RecordingMotionSink& sink, const SyntheticSequence& sequence,
                 const std::function<bool(int)>& feed) {
    Accuracy a;
    for (int i = 0; i < sequence.FrameCount(); ++i) {
        const std::size_t callsBefore = sink.calls.size();
        const bool detected = engine.Status().headDetectCount > 0 || !a.points.empty();
        if (!feed(i)) {
            a.notTaken = i;
            break;
        }
        if (!detected) continue;
        a.points.push_back(engine.Status().points);
        // Each frame the flow tracks is one call; it reports motion from its eleventh on.
        a.warm += callsBefore >= CFeatureTracker::kFlowFramesBeforeMotion;
        if (sink.calls.size() == callsBefore || sink.calls.back().summed == 0) continue;
        if (++a.withMotion <= 10) continue;  // the points settle first
        const auto& call = sink.calls.back();
        a.errorX += std::abs(call.sumX / call.summed - sequence.Truth(i).dx);
        a.errorY += std::abs(call.sumY / call.summed - sequence.Truth(i).dy);
        ++a.measured;
    }
    a.errorX /= std::max(1, a.measured), a.errorY /= std::max(1, a.measured);
    std::ranges::sort(a.points);
    std::ostringstream figures;
    figures << TrajectoryName(sequence.GetTrajectory()) << ": motion on " << a.withMotion << " of " << a.warm
            << " settled frames; mean error " << a.errorX << ", " << a.errorY << " px over " << a.measured << " frames";
    if (!a.points.empty())
        figures << "; points min/median/max " << a.points.front() << "/" << a.points[a.points.size() / 2] << "/"
                << a.points.back();
    a.figures = figures.str();
    return a;
}

// Compared with the rendered motion.
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
        const Accuracy a = Measure(engine, m_sink, sequence, [&](int i) {
            ToCaptureLayout(sequence.Frame(i), sample);
            ColourFrame frame(sample.data(), 640, 480);
            engine.Feed(frame);
            return true;
        });
        std::cout << a.figures << "\n";
        ASSERT_FALSE(a.points.empty()) << TrajectoryName(trajectory) << ": no head detected";
        ASSERT_GT(a.measured, 100) << a.figures;
        EXPECT_LT(std::max(a.errorX, a.errorY), maxError) << a.figures;
        EXPECT_GE(a.withMotion, 0.95 * a.warm) << a.figures;
    }
}

// A webcam's MJPEG frames reach the tracker as their luminance plane, which differs from the
// grey of the colour they decode to by rounding only: tracking must be as accurate within 5 %.
TEST_F(EngineTest, TracksAWebcamsMjpegFramesAsAccuratelyAsTheSameFramesDecodedToColour) {
    for (const Trajectory trajectory : {Trajectory::Circle, Trajectory::Sweep}) {
        const SyntheticSequence sequence(trajectory, 300);
        std::vector<std::vector<std::uint8_t>> jpegs(static_cast<std::size_t>(sequence.FrameCount()));
        for (int i = 0; i < sequence.FrameCount(); ++i)
            cv::imencode(".jpg", sequence.Frame(i), jpegs[static_cast<std::size_t>(i)], {cv::IMWRITE_JPEG_QUALITY, 80});

        m_sink.calls.clear();
        CEngine colourFirst(m_mirror, m_store, m_messages, nullptr, {.detectEvery = 10, .observer = &m_sink});
        ASSERT_EQ(colourFirst.InitDetection(), 0);
        colourFirst.SetFrameSize(640, 480);
        std::vector<std::uint8_t> sample;
        const Accuracy decoded = Measure(colourFirst, m_sink, sequence, [&](int i) {
            ToCaptureLayout(cv::imdecode(jpegs[static_cast<std::size_t>(i)], cv::IMREAD_COLOR), sample);
            ColourFrame frame(sample.data(), 640, 480);
            colourFirst.Feed(frame);
            return true;
        });

        m_sink.calls.clear();
        test::FrameCounter taken;
        CEngine webcam(m_mirror, m_store, m_messages, nullptr,
                       {.detectEvery = 10, .observer = &m_sink, .frames = &taken});
        ASSERT_EQ(webcam.InitDetection(), 0);
        auto owned = ReplayV4l2::Webcam(V4L2_PIX_FMT_MJPEG, {640, 480}, jpegs);
        ReplayV4l2& camera = *owned;
        ASSERT_EQ(webcam.OpenCamera(std::make_unique<CV4l2Capture>(std::move(owned)), 0, 640, 30), 1);
        ASSERT_TRUE(webcam.AttachCamera(1) && webcam.RunCamera());
        const Accuracy replayed = Measure(webcam, m_sink, sequence, [&](int i) {
            camera.Release(1);
            return taken.WaitFor(i + 1);
        });
        webcam.Stop();
        ASSERT_EQ(replayed.notTaken, -1) << "the camera stopped at frame " << replayed.notTaken;

        std::cout << "decoded to colour: " << decoded.figures << "\nreplayed MJPEG:    " << replayed.figures << "\n";
        ASSERT_GT(replayed.measured, 100) << replayed.figures;
        EXPECT_LE(replayed.errorX + replayed.errorY, 1.05 * (decoded.errorX + decoded.errorY))
            << replayed.figures << "\nagainst " << decoded.figures;
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
