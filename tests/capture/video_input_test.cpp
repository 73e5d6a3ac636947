#include "video_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "logging.h"
#include "scripted_capture.h"
#include "settings_store.h"
#include "test_support.h"
#include "video_input_track.h"

namespace {

constexpr std::uint32_t kVga = 640 * 480 * 3;   // 921,600
constexpr std::uint32_t kQvga = 320 * 240 * 3;  // 230,400
constexpr WindowToken kWindow = 0x1234;

CScriptedCapture::Device Camera(const std::string& name, std::vector<CaptureCapability> caps = {
                                                             {true, 24, 320, 240},
                                                             {true, 24, 640, 480}}) {
    return {{name, "", ""}, std::move(caps)};
}

// Counts the frames capture hands over.
class CountingTarget : public IFrameTarget {
public:
    void ProcessFrame(std::uint8_t*, std::uint32_t) override { ++frames; }
    std::atomic<int> frames{0};
};

class VideoInputTest : public ::testing::Test {
protected:
    VideoInputTest() {
        std::filesystem::create_directory(m_home.path() / "data");
        m_log = std::make_unique<CLogging>(m_store, m_home.path() / "data");
        m_log->Open();
        auto layer = std::make_unique<CScriptedCapture>();
        m_layer = layer.get();
        m_track = std::make_unique<CNCVideoInputTrack>(std::move(layer), m_frameTarget, m_log.get());
    }
    ~VideoInputTest() override {
        m_track.reset();  // capture ends before the frame target goes
        m_frameTarget = nullptr;
    }

    // What the log gained since the last call.
    std::string NewlyLogged() {
        const std::string log = test::ReadFile(m_log->FilePath());
        const std::string added = log.substr(std::min(m_logSeen, log.size()));
        m_logSeen = log.size();
        return added;
    }
    CNCVideoInput& Input() { return m_track->Input(); }
    int Count(const std::string& call) const {
        const auto calls = m_layer->Calls();
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }
    // A running 640x480 camera.
    void StartVga() {
        m_layer->SetDevices({Camera("Cam")});
        ASSERT_EQ(m_track->Open(0, 640), 1);
        ASSERT_TRUE(m_track->AttachWindow(kWindow));
        ASSERT_TRUE(m_track->Run());
    }
    void Deliver(const std::vector<std::uint32_t>& lengths) {
        m_layer->QueueFrames(lengths);
        ASSERT_TRUE(m_layer->WaitUntilDelivered());
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    std::unique_ptr<CLogging> m_log;
    std::size_t m_logSeen = 0;
    FrameTargetSlot m_frameTarget{nullptr};
    CountingTarget m_target;
    CScriptedCapture* m_layer = nullptr;
    std::unique_ptr<CNCVideoInputTrack> m_track;
};

TEST_F(VideoInputTest, EnumerationLogsEveryTextAndNamesTheFirstTenCameras) {
    std::vector<CScriptedCapture::Device> devices{{{"Front", "USB camera", "/dev/video0"}, {}}};
    for (int i = 1; i < 11; ++i) devices.push_back(Camera("Cam " + std::to_string(i)));
    m_layer->SetDevices(devices);
    NewlyLogged();

    EXPECT_EQ(Input().EnumerateDevices(), 11);
    EXPECT_EQ(Input().CameraName(1), "Front");
    EXPECT_EQ(Input().CameraName(10), "Cam 9");
    EXPECT_EQ(Input().CameraName(11), "");
    const std::string log = NewlyLogged();
    EXPECT_TRUE(log.starts_with("Camera found: Front\r\nCamera found: USB camera\r\n"
                                "Camera found: /dev/video0\r\nCamera found: Cam 1\r\n"));
    EXPECT_TRUE(log.ends_with("Camera found: Cam 10\r\n"));

    // The eleventh camera has no name but can still be opened.
    EXPECT_TRUE(Input().BuildGraph(10, 640));
    EXPECT_EQ(m_layer->OpenDevice(), 10);

    // A second enumeration starts from nothing.
    m_layer->SetDevices({Camera("Only")});
    EXPECT_EQ(Input().EnumerateDevices(), 1);
    EXPECT_EQ(Input().CameraName(2), "");
}

TEST_F(VideoInputTest, BuildGraphOpensTheCameraAndLogsItsSteps) {
    m_layer->SetDevices({Camera("A"), Camera("Bare", {})});
    ASSERT_EQ(Input().EnumerateDevices(), 2);
    NewlyLogged();

    // A camera without formats opens with no size chosen, so the next build searches again.
    EXPECT_TRUE(Input().BuildGraph(1, 640));
    EXPECT_EQ(Input().Width(), 0);
    EXPECT_EQ(Input().CapabilityIndex(), -1);
    EXPECT_EQ(NewlyLogged(), "GetDeviceDescr\r\nBindToObject IID_IBaseFilter\r\niBitDepth=24\r\n"
                             "FindInterface MEDIATYPE_Interleaved ERROR\r\nFindInterface MEDIATYPE_Video ERROR\r\n"
                             "RenderStream OK\r\n");

    EXPECT_TRUE(Input().BuildGraph(0, 640));
    EXPECT_EQ(Input().CurrentDevice(), 0);
    EXPECT_EQ(Input().Width(), 640);
    const std::string log = NewlyLogged();
    EXPECT_TRUE(log.starts_with("GetDeviceDescr\r\nBindToObject IID_IBaseFilter\r\niBitDepth=24\r\n"
                                "FindInterface MEDIATYPE_Interleaved ERROR\r\n2 GetNumberOfCapabilities iCount\r\n"))
        << log;
    EXPECT_TRUE(log.ends_with("Timeout == 1, next search = 12 bit\r\nRenderStream OK\r\n")) << log;

    // Building again detaches first and keeps the first choice of format.
    ASSERT_TRUE(Input().AttachWindow(kWindow, 0, 0));
    ASSERT_TRUE(Input().Run());
    EXPECT_TRUE(Input().BuildGraph(0, 320));
    EXPECT_EQ(Input().Owner(), 0u);
    EXPECT_FALSE(m_layer->IsRunning());
    EXPECT_EQ(Input().Width(), 640);
    EXPECT_EQ(Count("SetFormat 1 833333"), 1);

    // -1 closes the camera and builds nothing; an index past the list fails before logging.
    NewlyLogged();
    EXPECT_TRUE(Input().BuildGraph(-1, 640));
    EXPECT_EQ(Input().CurrentDevice(), -1);
    EXPECT_EQ(m_layer->OpenDevice(), -1);
    EXPECT_FALSE(Input().BuildGraph(2, 640));
    EXPECT_EQ(NewlyLogged(), "GetDeviceDescr\r\n");

    // A device that cannot be opened fails after the lookup.
    m_layer->FailOpen(true);
    EXPECT_FALSE(Input().BuildGraph(0, 640));
    EXPECT_EQ(Input().CurrentDevice(), -1);
    EXPECT_EQ(NewlyLogged(), "GetDeviceDescr\r\n");
    EXPECT_FALSE(Input().AttachWindow(kWindow, 0, 0));
}

TEST_F(VideoInputTest, OpenFallsBackToTheFirstCameraAndReportsNamesAndResolutions) {
    m_layer->SetDevices({Camera("A"), Camera("B", {{true, 24, 800, 600}})});
    EXPECT_EQ(m_track->Open(5, 640), 2);
    EXPECT_EQ(std::make_tuple(m_track->SelectedCamera(), m_track->CameraName()), std::make_tuple(0, std::string("A")));
    EXPECT_EQ(m_layer->OpenDevice(), 0);
    EXPECT_EQ(std::make_tuple(m_track->Width(), m_track->Height(), m_track->CapabilityIndex()),
              std::make_tuple(640, 480, 1));

    // Resolution entries outside the list write nothing.
    int width = -7, height = -7, entry = -7;
    EXPECT_EQ(m_track->GetResolution(2, width, height, entry), 2);
    EXPECT_EQ(m_track->GetResolution(-1, width, height, entry), 2);
    EXPECT_EQ(std::tie(width, height, entry), std::make_tuple(-7, -7, -7));
    EXPECT_EQ(m_track->GetResolution(0, width, height, entry), 2);
    EXPECT_EQ(std::tie(width, height, entry), std::make_tuple(320, 240, 1));

    EXPECT_EQ(m_track->Open(1, 640), 2);
    EXPECT_EQ(std::make_tuple(m_track->SelectedCamera(), m_track->CameraName()), std::make_tuple(1, std::string("B")));
    EXPECT_EQ(m_layer->OpenDevice(), 1);

    // The selected camera is always written; the name only for an index 0..9.
    std::string name = "unchanged";
    int selected = 99;
    EXPECT_EQ(m_track->GetCameraName(0, name, selected), 2);
    EXPECT_EQ(std::tie(name, selected), std::make_tuple("A", 1));
    EXPECT_EQ(m_track->GetCameraName(9, name, selected), 2);
    EXPECT_EQ(name, "");
    name = "unchanged";
    selected = 99;
    EXPECT_EQ(m_track->GetCameraName(10, name, selected), -1);
    EXPECT_EQ(m_track->GetCameraName(-1, name, selected), -1);
    EXPECT_EQ(std::tie(name, selected), std::make_tuple("unchanged", 1));

    m_layer->SetDevices({});
    EXPECT_EQ(m_track->Open(0, 640), 0);
    EXPECT_EQ(m_track->SelectedCamera(), -1);
    EXPECT_EQ(m_track->GetCameraName(0, name, selected), 0);
    EXPECT_EQ(std::tie(name, selected), std::make_tuple("", -1));
    EXPECT_EQ(Count("Open 0"), 1);  // no camera, nothing opened
}

TEST_F(VideoInputTest, RunAndStopFollowTheAttachedWindow) {
    m_layer->SetDevices({Camera("A")});
    EXPECT_FALSE(m_track->AttachWindow(kWindow));  // no camera open
    ASSERT_EQ(m_track->Open(0, 640), 1);
    EXPECT_FALSE(m_track->Run());  // no window
    EXPECT_FALSE(m_track->AttachWindow(0));
    ASSERT_TRUE(m_track->AttachWindow(kWindow));
    EXPECT_FALSE(m_track->AttachWindow(kWindow + 1));

    EXPECT_TRUE(m_track->Run());
    EXPECT_FALSE(m_track->Run());
    EXPECT_TRUE(m_layer->IsRunning());
    EXPECT_TRUE(m_track->Stop());
    EXPECT_FALSE(m_track->Stop());
    EXPECT_EQ(std::make_tuple(Count("Run"), Count("Stop")), std::make_tuple(1, 1));
    EXPECT_FALSE(m_layer->IsRunning());

    // A camera that will not start is reported, and stays stopped.
    m_layer->FailRun(true);
    EXPECT_FALSE(m_track->Run());
    EXPECT_FALSE(m_track->Stop());
    m_layer->FailRun(false);
    EXPECT_TRUE(m_track->Run());

    EXPECT_EQ(Input().DetachWindow(), kWindow);
    EXPECT_EQ(Input().DetachWindow(), 0u);
    EXPECT_FALSE(m_layer->IsRunning());
    EXPECT_EQ(Count("SetFrameCallback cleared"), 1);
    EXPECT_FALSE(m_track->Run());

    // A torn-down capture cannot be attached or run until it is built again.
    ASSERT_TRUE(m_track->AttachWindow(kWindow));
    ASSERT_TRUE(m_track->Run());
    EXPECT_FALSE(m_track->ShowProperties(kWindow));  // no settings dialog yet: nothing happens
    EXPECT_TRUE(m_layer->IsRunning());
    Input().TearDownGraph();
    EXPECT_FALSE(m_layer->IsRunning());
    EXPECT_EQ(m_layer->OpenDevice(), -1);
    EXPECT_FALSE(m_track->AttachWindow(kWindow));
    EXPECT_FALSE(m_track->Run());
    ASSERT_TRUE(Input().BuildGraph(0, 640));
    EXPECT_TRUE(m_track->AttachWindow(kWindow));
    EXPECT_TRUE(m_track->Run());
}

TEST_F(VideoInputTest, FramesOfTheFirstLengthReachThePublishedTarget) {
    m_frameTarget = &m_target;
    // Empty buffers neither count nor fix the first length.
    Input().BufferCB(nullptr, kVga);
    std::uint8_t byte = 0;
    Input().BufferCB(&byte, 0);
    StartVga();
    Deliver({kVga, kQvga, kVga});
    EXPECT_EQ(Input().FirstBufferLength(), kVga);
    EXPECT_EQ(m_target.frames, 2);
    // The first length holds for the object's life, whatever the camera delivers later.
    Deliver({kQvga, kQvga});
    EXPECT_EQ(m_target.frames, 2);
}

TEST_F(VideoInputTest, FramesAreDroppedWhileNoTargetIsPublishedOrStopped) {
    StartVga();
    Deliver({kQvga, kVga});
    EXPECT_EQ(m_target.frames, 0);
    EXPECT_EQ(Input().FirstBufferLength(), kQvga);  // fixed even though it had nowhere to go

    m_frameTarget = &m_target;
    Deliver({kQvga, kVga, kQvga});
    EXPECT_EQ(m_target.frames, 2);

    ASSERT_TRUE(m_track->Stop());
    m_layer->QueueFrames({kQvga});
    EXPECT_FALSE(m_layer->WaitUntilDelivered());
    ASSERT_TRUE(m_track->Run());
    ASSERT_TRUE(m_layer->WaitUntilDelivered());
    EXPECT_EQ(m_target.frames, 3);
}

TEST_F(VideoInputTest, FrameRateChangesGoToTheOpenCamera) {
    m_track->SetFrameRate(30, 0);  // nothing open: nothing to change
    EXPECT_TRUE(m_layer->Calls().empty());

    m_layer->SetDevices({Camera("A")});
    ASSERT_EQ(m_track->Open(0, 640, 30), 1);
    EXPECT_EQ(m_layer->FrameInterval(), 333'333);
    m_track->SetFrameRate(12, m_track->CapabilityIndex());
    EXPECT_EQ(m_layer->FrameInterval(), 833'333);

    NewlyLogged();
    m_layer->FailSetFrameInterval(true);
    m_track->SetFrameRate(5, m_track->CapabilityIndex());
    EXPECT_EQ(NewlyLogged(), "SetFormat can't set fps\r\n");
}

}  // namespace
