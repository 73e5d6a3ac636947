// Video capture: the format search over a scripted layer, the V4L2 layer over a replayed /dev,
// a video file standing in for a camera, the decoding of each camera format, camera recordings
// and their replay, and the capture object the application drives.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "base/logging.h"
#include "capture/camera_recorder.h"
#include "capture/camera_recording.h"
#include "capture/format_search.h"
#include "capture/frame_decoder.h"
#include "capture/replay_v4l2.h"
#include "capture/replayed_camera.h"
#include "capture/scripted_capture.h"
#include "capture/v4l2_capture.h"
#include "capture/video_file_capture.h"
#include "capture/video_input_track.h"
#include "tests/support/test_support.h"
#include "tools/sequence/synthetic_sequence.h"

namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

// The diagnostic log is how a camera that will not start is diagnosed, so its lines are pinned.
class CaptureLog : public ::testing::Test {
protected:
    CaptureLog() {
        std::filesystem::create_directory(m_home.path() / "data");
        m_log.Open();
    }
    // What the log gained since the last call.
    std::string NewlyLogged() {
        const std::string log = test::ReadFile(m_log.FilePath());
        const std::string added = log.substr(std::min(m_logSeen, log.size()));
        m_logSeen = log.size();
        return added;
    }

    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CLogging m_log{m_store, m_home.path() / "data"};
    std::size_t m_logSeen = 0;
};

CaptureCapability Caps(int bits, int width, int height) {
    return CaptureCapability{true, static_cast<std::uint16_t>(bits), width, height};
}
std::string Header(int count) {
    return std::to_string(count) + " GetNumberOfCapabilities iCount\r\n" + std::to_string(sizeof(CaptureCapability)) +
           " GetNumberOfCapabilities iSize\r\n";
}
// One format as a pass sees it: its size only when its depth is the one searched for.
std::string Seen(int index, int bits, int search, int width = 0, int height = 0) {
    return std::to_string(index) + " GetStreamCaps ok\r\n" + std::to_string(bits) + " biBitCount - " +
           std::to_string(search) + " searchBit - " +
           (width ? std::to_string(width) + " width - " + std::to_string(height) + " height\r\n" : "");
}
// The end of a pass, naming the next.
std::string End(int pass) {
    const char* next[] = {", next search = 12 bit", ", next search = 16 bit", ", next search = 24, 1e width selected",
                          ", next search = 12 bit", ", next search = 16 bit", ", FATAL nothing found"};
    return "\r\nTimeout == " + std::to_string(pass) + next[pass - 1] + "\r\n";
}
const std::string kSelected = "Resolution selected\r\n";
std::string TooSmall(const std::string& size) { return size + " is too small to track, not selected\r\n"; }
std::string Refused(const std::string& size) { return size + " refused by the camera, not selected\r\n"; }

using FormatSearch = CaptureLog;

TEST_F(FormatSearch, ChoosesLogsAndAppliesTheFormat) {
    std::vector<CaptureCapability> fiftyFive;
    for (int i = 0; i < 55; ++i) fiftyFive.push_back(Caps(24, 100 + i, 50 + i));
    const struct {
        const char* name;
        std::vector<CaptureCapability> caps;
        int wantedWidth, fps, failCapability, refused;  // -1: every format can be described, taken
        int result, width, height, listed, selected;
        Resolution atSelected;  // the list's entry for the choice
        Strings setFormat;
        std::string logTail;  // one that starts with the header is the whole log
    } cases[] = {
        // One case a row, as wide as it comes.
        // clang-format off
        // Even a first-pass success writes the first pass's closing line.
        {"24 bits at the wanted width", {Caps(24, 320, 240), Caps(24, 640, 480)}, 640, 12, -1, -1, 1, 640, 480, 2, 1,
         {640, 480}, {"SetFormat 1 833333"},
         Header(2) + Seen(0, 24, 24, 320, 240) + Seen(1, 24, 24, 640, 480) + kSelected + End(1)},
        {"30 frames a second", {Caps(24, 640, 480)}, 640, 30, -1, -1, 0, 640, 480, 1, 0, {640, 480},
         {"SetFormat 0 333333"}, kSelected + End(1)},
        // The rest of the list is still collected, but only one format is applied.
        {"no wanted width", {Caps(16, 1280, 720), Caps(24, 320, 240), Caps(24, 640, 480)}, 0, 12, -1, -1, 1, 320,
         240, 2, 0, {320, 240}, {"SetFormat 1 833333"},
         Header(3) + Seen(0, 16, 24) + Seen(1, 24, 24, 320, 240) + kSelected + Seen(2, 24, 24, 640, 480) + End(1)},
        {"equal widths", {Caps(24, 640, 480), Caps(24, 640, 360)}, 640, 12, -1, -1, 0, 640, 480, 2, 0, {640, 480},
         {"SetFormat 0 833333"},
         Header(2) + Seen(0, 24, 24, 640, 480) + kSelected + Seen(1, 24, 24, 640, 360) + End(1)},
        {"16 bits only, third pass", {Caps(16, 640, 480), Caps(16, 320, 240)}, 640, 12, -1, -1, 0, 640, 480, 2, 0,
         {640, 480}, {"SetFormat 0 833333"},
         Header(2) + Seen(0, 16, 24) + Seen(1, 16, 24) + End(1) + Seen(0, 16, 12) + Seen(1, 16, 12) + End(2) +
             Seen(0, 16, 16, 640, 480) + kSelected + Seen(1, 16, 16, 320, 240) + End(3)},
        // Pass 2 lists the 12-bit format at the wrong width without choosing it.
        {"12 bits only, fifth pass", {Caps(12, 1280, 720)}, 640, 12, -1, -1, 0, 1280, 720, 1, 0, {1280, 720},
         {"SetFormat 0 833333"},
         End(1) + Seen(0, 12, 12, 1280, 720) + End(2) + Seen(0, 12, 16) + End(3) + Seen(0, 12, 24) + End(4) +
             Seen(0, 12, 12, 1280, 720) + kSelected + End(5)},
        // A format that is not video is logged as seen and nothing more.
        {"nothing usable", {Caps(8, 640, 480), CaptureCapability{false, 24, 640, 480}}, 640, 12, -1, -1, -1, 0, 0, 0,
         0, {}, {}, End(5) + Seen(0, 8, 16) + "1 GetStreamCaps ok\r\n" + End(6)},
        // The list holds 50; a later choice points at its last entry.
        {"fifty-five formats", fiftyFive, 152, 12, -1, -1, 52, 152, 102, 50, 49, {149, 99}, {"SetFormat 52 833333"},
         Seen(52, 24, 24, 152, 102) + kSelected + Seen(53, 24, 24, 153, 103) + Seen(54, 24, 24, 154, 104) + End(1)},
        // A refused format is passed over (its frames would have another size); an undescribed one
        // is skipped unlogged.
        {"undescribed and refused", {Caps(24, 640, 480), Caps(24, 640, 360), Caps(24, 640, 240)}, 640, 12, 0, 1, 2, 640,
         240, 2, 1, {640, 240}, {"SetFormat 1 833333 failed", "SetFormat 2 833333"},
         Header(3) + Seen(1, 24, 24, 640, 360) + Refused("640 x 360") + Seen(2, 24, 24, 640, 240) + kSelected + End(1)},
        // Refused at any width, the first format does not fix the width either.
        {"refused, any width", {Caps(24, 320, 240), Caps(24, 640, 480)}, 0, 12, -1, 0, 1, 640, 480, 2, 1, {640, 480},
         {"SetFormat 0 833333 failed", "SetFormat 1 833333"},
         Header(2) + Seen(0, 24, 24, 320, 240) + Refused("320 x 240") + Seen(1, 24, 24, 640, 480) + kSelected + End(1)},
        // Frames head detection could not reduce are passed over, without fixing the width.
        {"too small to track", {Caps(24, 1000, 2), Caps(24, 1000, 4)}, 1000, 12, -1, -1, 1, 1000, 4, 2, 1, {1000, 4},
         {"SetFormat 1 833333"},
         Header(2) + Seen(0, 24, 24, 1000, 2) + TooSmall("1000 x 2") + Seen(1, 24, 24, 1000, 4) + kSelected + End(1)},
        {"too small, any width", {Caps(24, 400, 1), Caps(24, 320, 240)}, 0, 12, -1, -1, 1, 320, 240, 2, 1, {320, 240},
         {"SetFormat 1 833333"},
         Header(2) + Seen(0, 24, 24, 400, 1) + TooSmall("400 x 1") + Seen(1, 24, 24, 320, 240) + kSelected + End(1)},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedCapture layer({{{"Cam", "", ""}, c.caps}});
        ASSERT_TRUE(layer.Open(0));
        if (c.failCapability >= 0) layer.FailGetCapability(c.failCapability);
        if (c.refused >= 0) layer.FailSetFormat(c.refused);
        CaptureFormat format;
        NewlyLogged();

        EXPECT_EQ(SelectCaptureFormat(layer, c.wantedWidth, c.fps, format, &m_log), c.result);
        EXPECT_EQ(std::tie(format.width, format.height, format.capabilityIndex), std::tie(c.width, c.height, c.result));
        EXPECT_EQ(std::tie(format.resolutions.count, format.resolutions.selected), std::tie(c.listed, c.selected));
        EXPECT_EQ(format.resolutions.entries[c.selected], c.atSelected);
        Strings setFormat = layer.Calls();
        std::erase_if(setFormat, [](const std::string& call) { return !call.starts_with("SetFormat"); });
        EXPECT_EQ(setFormat, c.setFormat);
        const std::string log = NewlyLogged();
        if (c.logTail.starts_with(Header(static_cast<int>(c.caps.size()))))
            EXPECT_EQ(log, c.logTail);
        else
            EXPECT_TRUE(log.ends_with(c.logTail)) << log;
    }
}

TEST_F(FormatSearch, TheChosenHeightPicksBetweenFormatsOfTheChosenWidth) {
    // Wanted height, then the format chosen; a height not offered (or none) leaves the first.
    const std::pair<int, int> cases[] = {{480, 1}, {360, 2}, {0, 1}, {720, 1}};
    for (const auto& [height, chosen] : cases) {
        SCOPED_TRACE(height);
        CScriptedCapture layer({{{"Cam", "", ""}, {Caps(24, 320, 240), Caps(24, 640, 480), Caps(24, 640, 360)}}});
        ASSERT_TRUE(layer.Open(0));
        CaptureFormat format;
        EXPECT_EQ(SelectCaptureFormat(layer, 640, 12, format, nullptr, height), chosen);
        EXPECT_EQ(format.resolutions.selected, chosen);
    }
    // At any width the height plays no part.
    CScriptedCapture layer({{{"Cam", "", ""}, {Caps(16, 640, 480), Caps(24, 320, 240), Caps(24, 320, 180)}}});
    ASSERT_TRUE(layer.Open(0));
    CaptureFormat format;
    EXPECT_EQ(SelectCaptureFormat(layer, 800, 12, format, nullptr, 180), 1);
}

// The V4L2 layer over a replayed /dev.
class V4l2Capture : public ::testing::Test {
protected:
    std::unique_ptr<ReplayV4l2> m_owned = std::make_unique<ReplayV4l2>();
    ReplayV4l2& m_dev = *m_owned;
    CV4l2Capture m_layer{std::move(m_owned)};
};

TEST(V4l2SystemDevice, ListsVideoNodesInNumericOrder) {
    test::TempDir dev;
    for (const char* name : {"video10", "video2", "video0", "video", "videox", "video1a", "vbi0"})
        test::WriteFile(dev.path() / name, "not a device");
    auto device = MakeSystemV4l2Device(dev.path().string());
    EXPECT_EQ(device->VideoNodes(), (Strings{dev.path() / "video0", dev.path() / "video2", dev.path() / "video10"}));
    // Regular files open but answer no VIDIOC_QUERYCAP.
    CV4l2Capture layer(std::move(device));
    EXPECT_TRUE(layer.EnumerateDevices().empty());
    EXPECT_FALSE(layer.Open(0));
    EXPECT_TRUE(MakeSystemV4l2Device((dev.path() / "missing").string())->VideoNodes().empty());
}

TEST_F(V4l2Capture, ListsCapturingNodesAndSkipsWhatCannotBeOpenedQueriedOrCapture) {
    auto& nodes = m_dev.nodes;
    nodes.resize(6);
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i].path = "/dev/video" + std::to_string(i);
    nodes[0].openFails = true;
    nodes[1].queryFails = true;
    nodes[2].capabilities = V4L2_CAP_VIDEO_OUTPUT;
    // A camera's capture node, then its metadata node: the device as a whole captures, the node not.
    nodes[3].capabilities = nodes[4].capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE;
    nodes[3].deviceCaps = V4L2_CAP_VIDEO_CAPTURE;
    nodes[4].deviceCaps = V4L2_CAP_META_CAPTURE;
    nodes[3].card = std::string(32, 'C');                                        // fills the field: no terminating NUL
    nodes[5].card = "Old Camera", nodes[5].bus = "", nodes[5].driver = "gspca";  // an old driver without device caps

    Strings listed;
    for (const auto& d : m_layer.EnumerateDevices())
        listed.push_back(d.friendlyName + "|" + d.description + "|" + d.devicePath);
    EXPECT_EQ(listed, (Strings{std::string(32, 'C') + "|uvcvideo, usb-0000:00:14.0-1|/dev/video3",
                               "Old Camera|gspca|/dev/video5"}));
    EXPECT_EQ(m_dev.openDescriptors, 0);

    // Positions count listed devices only; a failed Open leaves the previous device closed.
    EXPECT_TRUE(m_layer.Open(1));
    EXPECT_EQ(m_dev.openDescriptors, 1);
    EXPECT_FALSE(m_layer.Open(2) || m_layer.Open(-1));
    EXPECT_EQ(m_dev.openDescriptors, 0);
    EXPECT_TRUE(m_layer.Open(0));
    m_layer.Close();
    EXPECT_EQ(std::make_tuple(m_dev.openDescriptors, m_layer.CapabilityCount()), std::make_tuple(0, 0));
}

ReplayV4l2::Control Control(std::uint32_t id, const char* name, std::uint32_t type, int maximum,
                            std::uint32_t flags = 0) {
    v4l2_queryctrl query{};
    query.id = id, query.type = type, query.maximum = maximum, query.step = 1, query.flags = flags;
    std::snprintf(reinterpret_cast<char*>(query.name), sizeof query.name, "%s", name);
    return {query, {}};
}

TEST_F(V4l2Capture, ListsTheSettingsWithTheirMenusAndStatesAndSaysWhyOneCannotBeReadOrSet) {
    m_dev.nodes.resize(1);
    // clang-format off
    m_dev.controls = {Control(1, "Brightness", V4L2_CTRL_TYPE_INTEGER, 255), Control(2, "Power Line", V4L2_CTRL_TYPE_MENU, 2),
                      Control(3, "Exposure", V4L2_CTRL_TYPE_INTEGER, 5000, V4L2_CTRL_FLAG_INACTIVE),
                      Control(4, "Gain", V4L2_CTRL_TYPE_INTEGER, 100, V4L2_CTRL_FLAG_READ_ONLY),
                      Control(5, "Serial", V4L2_CTRL_TYPE_STRING, 16), Control(6, "Focus", V4L2_CTRL_TYPE_BOOLEAN, 1)};
    // clang-format on
    m_dev.controls[1].menu = {"Disabled", "", "60 Hz"};
    m_dev.controls[1].setError = EBUSY;
    m_dev.controls[5].getError = EIO;
    ASSERT_TRUE(m_layer.Open(0));
    Strings listed;
    for (const CaptureControl& c : m_layer.Controls())
        listed.push_back(c.name + (c.inactive ? " inactive" : "") + (c.readOnly ? " read-only" : "") + c.error);
    EXPECT_EQ(listed,
              (Strings{"Brightness", "Power Line", "Exposure inactive", "Gain read-only", "FocusInput/output error"}));
    EXPECT_EQ(m_layer.Controls()[1].menu, (std::vector<CaptureControl::MenuEntry>{{0, "Disabled"}, {2, "60 Hz"}}));

    // clang-format off
    const std::tuple<std::uint32_t, int, std::string> changes[] = {{1, 200, ""}, {1, 256, "outside 0..255"},
        {2, 2, "Device or resource busy"}, {3, 10, "inactive while another setting rules it"}, {4, 1, "read-only"},
        {9, 1, "Invalid argument"}};
    // clang-format on
    for (const auto& [id, value, reason] : changes) {
        std::string error;
        EXPECT_EQ(std::make_pair(m_layer.SetControl(id, value, error), error), std::make_pair(reason.empty(), reason));
    }
    EXPECT_EQ(m_layer.Controls()[0].value, 200);
}

TEST_F(V4l2Capture, AFormatTheDriverAdjustsIsPassedOverAndEveryRateItCannotSetIsLogged) {
    m_dev.nodes.resize(1);
    m_dev.formats[0].sizes = {{640, 480}, {640, 360}};
    m_dev.adjust[{640, 480}] = {640, 400};
    m_dev.rateCapability = 0;
    Strings logged;
    m_layer.SetLog([&](const std::string& line) { logged.push_back(line); });
    ASSERT_TRUE(m_layer.Open(0));
    CaptureFormat format;
    EXPECT_EQ(SelectCaptureFormat(m_layer, 640, 30, format, nullptr), 1);
    EXPECT_EQ(std::tie(format.width, format.height), std::make_tuple(640, 360));
    EXPECT_EQ(logged, (Strings{"Camera refused 640 x 480 BGR3: its driver offers 640 x 400 BGR3 instead",
                               "Camera keeps its own frame rate: its driver cannot set 30 frames a second"}));

    // A driver that refuses a rate leaves the format in use and says why.
    m_dev.rateCapability = V4L2_CAP_TIMEPERFRAME;
    m_dev.setRateError = EBUSY;
    EXPECT_FALSE(m_layer.SetFrameInterval(FrameIntervalFor(15)));
    EXPECT_TRUE(m_layer.SetFormat(1, FrameIntervalFor(15)));
    EXPECT_EQ(logged.back(), "Camera refused 15 frames a second: Device or resource busy");
    m_dev.setRateError = 0;
    // The rate the driver settles on, as it gives it.
    for (const auto& [given, text] : {std::pair(v4l2_fract{1, 25}, "25"), std::pair(v4l2_fract{2, 25}, "12.5"),
                                      std::pair(v4l2_fract{1001, 30000}, "29.97")}) {
        m_dev.rateGiven = given;
        EXPECT_TRUE(m_layer.SetFrameInterval(FrameIntervalFor(5)));
        EXPECT_EQ(logged.back(),
                  "Camera runs at " + std::string(text) + " frames a second, not the 5 frames a second asked");
    }
    EXPECT_EQ(logged.size(), 7u);
}

TEST_F(V4l2Capture, ARangeOfSizesStartsWhereACameraListingItsSizesWould) {
    m_dev.nodes.resize(1);
    m_dev.formats = {{V4L2_PIX_FMT_YUYV, {}, v4l2_frmsize_stepwise{160, 1920, 1, 120, 1080, 1}}};
    ASSERT_TRUE(m_layer.Open(0));
    EXPECT_EQ(m_layer.CapabilityCount(), 9);
    CaptureFormat format;
    EXPECT_EQ(SelectCaptureFormat(m_layer, 0, 30, format, nullptr), 0);
    EXPECT_EQ(std::tie(format.width, format.height), std::make_tuple(640, 480));
}

TEST_F(V4l2Capture, SizesAboveTheLimitAreNeitherOfferedNorStreamed) {
    constexpr __u32 kHuge = 70000;
    m_dev.nodes.resize(1);
    m_dev.formats = {{V4L2_PIX_FMT_YUYV, {{kHuge, kHuge}, {8, CV4l2Capture::kMaxFrameSide + 1}, {8, 8}}}};
    Strings logged;
    m_layer.SetLog([&](const std::string& line) { logged.push_back(line); });
    ASSERT_TRUE(m_layer.Open(0));
    CaptureCapability offered;
    EXPECT_EQ(m_layer.CapabilityCount(), 1);
    EXPECT_TRUE(m_layer.GetCapability(0, offered) && offered.biWidth == 8 && offered.biHeight == 8);
    // A driver that settles on a larger size than it offered.
    m_dev.adjust[{8, 8}] = {kHuge, kHuge};
    EXPECT_FALSE(m_layer.SetFormat(0, FrameIntervalFor(30)));
    EXPECT_FALSE(m_layer.Run());
    EXPECT_EQ(logged.back(), "Camera delivers 70000 x 70000 YUYV, larger than 16384 pixels a side");
    EXPECT_FALSE(m_dev.HoldsBuffers());
}

// The V4L2 layer streaming a replayed camera that serves frames one by one as the test releases
// them: what reached the frame callback and the log.
class V4l2Streaming : public V4l2Capture {
protected:
    struct Seen {
        int width, height;
        Bytes grey, colour;
    };
    void SetUp() override {
        m_dev.nodes.resize(1);
        m_layer.SetLog([this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_logged.push_back(line);
        });
    }
    // Opens the camera offering fourcc at these sizes and serving frames; the callback reads each
    // frame's grey and colour image when read is set.
    void Open(__u32 fourcc, std::vector<ReplayV4l2::Size> sizes, std::vector<Bytes> frames, bool read = true) {
        m_dev.formats = {{fourcc, std::move(sizes)}};
        m_dev.Serve(std::move(frames), ReplayV4l2::Pace::Gated);
        ASSERT_TRUE(m_layer.Open(0));
        m_layer.SetFrameCallback([this, read](CameraFrame& frame) {
            Seen seen{frame.Width(), frame.Height(), {}, {}};
            if (read) {
                cv::Mat grey(frame.Height(), frame.Width(), CV_8UC1);
                if (frame.Grey(grey)) seen.grey.assign(grey.datastart, grey.dataend);
                if (const std::uint8_t* colour = frame.Colour()) seen.colour.assign(colour, colour + frame.Length());
            }
            std::lock_guard lock(m_mutex);
            m_seen.push_back(std::move(seen));
        });
    }
    // Waits, generously, until the callback saw count frames or the log gained a line that ends
    // delivery.
    bool WaitFor(std::size_t count, const std::string& logged = "") {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard lock(m_mutex);
                if (logged.empty() ? m_seen.size() >= count : std::ranges::count(m_logged, logged) > 0) return true;
            }
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }
    std::vector<Seen> Frames() {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }
    Strings Logged() {
        std::lock_guard lock(m_mutex);
        return m_logged;
    }

    std::mutex m_mutex;
    std::vector<Seen> m_seen;
    Strings m_logged;
};

// A YUYV frame of noise: every byte differs from its neighbours' by chance only.
Bytes YuyvFrame(int width, int height, int seed) {
    cv::Mat yuyv(height, 2 * width, CV_8UC1);
    cv::theRNG().state = static_cast<std::uint64_t>(seed);
    cv::randu(yuyv, 0, 256);
    return Bytes(yuyv.datastart, yuyv.dataend);
}

TEST_F(V4l2Streaming, FramesArriveInOrderAtTheSizeReallySetWithTheYSamplesAsGreyAndOpenCvsColour) {
    // 34 pixels make 102 bytes a colour row: two bytes of padding.
    constexpr int kW = 34, kH = 24;
    const std::vector<Bytes> served{YuyvFrame(kW, kH, 1), YuyvFrame(kW, kH, 2), YuyvFrame(kW, kH, 3)};
    m_dev.adjust[{64, 48}] = {64, 40};
    m_dev.rateGiven = {1, 25};
    Open(V4L2_PIX_FMT_YUYV, {{64, 48}, {kW, kH}}, served);
    EXPECT_FALSE(m_layer.SetFormat(0, FrameIntervalFor(30)));
    ASSERT_TRUE(m_layer.SetFormat(1, FrameIntervalFor(30)) && m_layer.Run());
    m_dev.Release(4);
    ASSERT_TRUE(WaitFor(4));
    // A new rate restarts the stream on the layer's thread; frames go on in order.
    EXPECT_TRUE(m_layer.SetFrameInterval(FrameIntervalFor(5)));
    m_dev.Release(2);
    ASSERT_TRUE(WaitFor(6));
    EXPECT_TRUE(m_layer.Stop());
    EXPECT_FALSE(m_dev.HoldsBuffers()) << "buffers left mapped or requested";
    // Paced, from the first frame again.
    m_dev.Serve(served, ReplayV4l2::Pace::Interval, 2ms);
    ASSERT_TRUE(m_layer.Run());
    ASSERT_TRUE(WaitFor(9));
    EXPECT_TRUE(m_layer.Stop());

    const std::vector<Seen> seen = Frames();
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        const cv::Mat yuyv(kH, kW, CV_8UC2, const_cast<std::uint8_t*>(served[i % 3].data()));
        cv::Mat y, bgr;
        cv::extractChannel(yuyv, y, 0);
        cv::cvtColor(yuyv, bgr, cv::COLOR_YUV2BGR_YUYV);
        Bytes colour;
        ToCaptureLayout(bgr, colour);
        EXPECT_EQ(std::tie(seen[i].width, seen[i].height), std::make_tuple(kW, kH));
        EXPECT_EQ(seen[i].grey, Bytes(y.datastart, y.dataend));
        EXPECT_EQ(seen[i].colour, colour);
    }
    EXPECT_EQ(Logged(), (Strings{"Camera refused 64 x 48 YUYV: its driver offers 64 x 40 YUYV instead",
                                 "Camera runs at 25 frames a second, not the 30 frames a second asked",
                                 "Camera runs at 25 frames a second, not the 5 frames a second asked"}));
}

TEST_F(V4l2Streaming, StopDuringAPollReturnsWithinItsTimeOut) {
    Open(V4L2_PIX_FMT_YUYV, {{8, 8}}, {YuyvFrame(8, 8, 1)});
    ASSERT_TRUE(m_layer.SetFormat(0, FrameIntervalFor(30)) && m_layer.Run());
    std::this_thread::sleep_for(50ms);  // into a poll that no frame ends
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(m_layer.Stop());
    // The poll's time-out with room for a busy machine, far below the silence that would end
    // delivery by itself.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * CV4l2Capture::kPollMs + 200));
    EXPECT_TRUE(Logged().empty());
}

TEST_F(V4l2Streaming, AnUnpluggedCameraEndsDeliveryAndALaterRunStartsAfresh) {
    const std::pair<ReplayV4l2::Unplugged, std::string> unplugs[] = {
        {ReplayV4l2::Unplugged::Gone, "Camera delivery ended: No such device"},
        {ReplayV4l2::Unplugged::Silent, "Camera delivery ended: no frame for 5 seconds"},
    };
    m_dev.rateGiven = {1, 25};
    Open(V4L2_PIX_FMT_YUYV, {{8, 8}}, {YuyvFrame(8, 8, 1)});
    ASSERT_TRUE(m_layer.SetFormat(0, FrameIntervalFor(30)));
    for (const auto& [how, ended] : unplugs) {
        SCOPED_TRACE(ended);
        const std::size_t before = Frames().size();
        m_dev.Unplug(ReplayV4l2::Unplugged::No);
        ASSERT_TRUE(m_layer.Run());
        m_dev.Release(1);
        ASSERT_TRUE(WaitFor(before + 1));
        m_dev.Unplug(how);
        ASSERT_TRUE(WaitFor(0, ended));
        EXPECT_EQ(Frames().size(), before + 1);
        EXPECT_FALSE(m_dev.HoldsBuffers()) << "buffers left mapped or requested";
    }
    // A rate asked for once delivery ended holds for the next.
    m_dev.Unplug(ReplayV4l2::Unplugged::No);
    EXPECT_TRUE(m_layer.SetFrameInterval(FrameIntervalFor(15)));
    ASSERT_TRUE(m_layer.Run());
    EXPECT_EQ(Logged().back(), "Camera runs at 25 frames a second, not the 15 frames a second asked");
    m_dev.Release(1);
    ASSERT_TRUE(WaitFor(3));
}

TEST_F(V4l2Streaming, BadFramesAreCountedAndLoggedOnceThenSummedUpAndOnlyBadFramesEndDelivery) {
    Bytes jpeg;
    cv::imencode(".jpg", cv::Mat(8, 8, CV_8UC3, cv::Scalar(40, 90, 160)), jpeg);
    const std::tuple<__u32, Bytes, Bytes, std::string> cases[] = {
        {V4L2_PIX_FMT_YUYV, YuyvFrame(8, 8, 1), Bytes(10), "a short frame: 10 of 128 bytes"},
        {V4L2_PIX_FMT_MJPEG, jpeg, Bytes(100, 'x'), "not a JPEG frame: Not a JPEG file: starts with 0x78 0x78"},
    };
    for (const auto& [fourcc, good, bad, reason] : cases) {
        SCOPED_TRACE(reason);
        const std::string first = "Camera sent a frame that cannot be decoded: " + reason;
        auto start = [&](std::vector<Bytes> frames, bool read) {
            m_layer.Close();
            {
                std::lock_guard lock(m_mutex);
                m_seen.clear(), m_logged.clear();
            }
            Open(fourcc, {{8, 8}}, std::move(frames), read);
            return m_layer.SetFormat(0, FrameIntervalFor(30)) && m_layer.Run();
        };
        ASSERT_TRUE(start({bad, bad, good, bad}, true));
        m_dev.Release(8);
        ASSERT_TRUE(WaitFor(8));
        EXPECT_TRUE(m_layer.Stop());
        EXPECT_EQ(Logged(), (Strings{first, "Camera sent 5 more frames that cannot be decoded, the last: " + reason}));
        EXPECT_EQ(std::ranges::count_if(Frames(), [](const Seen& seen) { return seen.grey.empty(); }), 6);

        // Frames nobody reads are neither good nor bad; nothing but bad frames ends delivery.
        for (bool read : {false, true}) {
            ASSERT_TRUE(start({bad}, read));
            m_dev.Release(CV4l2Capture::kBadFramesLimit + 1);
            if (!read) {
                ASSERT_TRUE(WaitFor(CV4l2Capture::kBadFramesLimit + 1));
                EXPECT_TRUE(Logged().empty());
                continue;
            }
            ASSERT_TRUE(WaitFor(0, "Camera delivery ended: 30 frames in a row could not be decoded"));
            EXPECT_EQ(Logged(),
                      (Strings{first, "Camera sent 29 more frames that cannot be decoded, the last: " + reason,
                               "Camera delivery ended: 30 frames in a row could not be decoded"}));
        }
    }
}

TEST_F(V4l2Streaming, FramesTheDriverMarksDamagedAreBadAndFlawedFramesAreUsedAndLogged) {
    Bytes jpeg;
    cv::imencode(".jpg", cv::Mat(8, 8, CV_8UC3, cv::Scalar(40, 90, 160)), jpeg);
    const Bytes unended(jpeg.begin(), jpeg.end() - 2);  // without its end marker
    Open(V4L2_PIX_FMT_MJPEG, {{8, 8}}, {});
    m_dev.Serve({{jpeg}, {jpeg, 0, V4L2_BUF_FLAG_ERROR}, {unended}}, ReplayV4l2::Pace::Gated);
    ASSERT_TRUE(m_layer.SetFormat(0, FrameIntervalFor(30)) && m_layer.Run());
    m_dev.Release(6);
    ASSERT_TRUE(WaitFor(4));
    EXPECT_TRUE(m_layer.Stop());
    const std::vector<Seen> seen = Frames();
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_TRUE(std::ranges::all_of(seen, [](const Seen& frame) { return frame.grey.size() == 64; }));
    EXPECT_EQ(
        Logged(),
        (Strings{"Camera sent a frame that cannot be decoded: its driver marked it as damaged",
                 "Camera sent a flawed frame, used as every row of it decoded: Premature end of JPEG file",
                 "Camera sent 1 more frames that cannot be decoded, the last: its driver marked it as damaged",
                 "Camera sent 1 more flawed frames, used as every row decoded, the last: Premature end of JPEG file"}));
}

TEST_F(V4l2Streaming, AHandlerThatThrowsEndsDeliveryWithALogLine) {
    Open(V4L2_PIX_FMT_YUYV, {{8, 8}}, {YuyvFrame(8, 8, 1)});
    m_layer.SetFrameCallback([](CameraFrame&) { throw std::runtime_error("no room for the frame"); });
    ASSERT_TRUE(m_layer.SetFormat(0, FrameIntervalFor(30)) && m_layer.Run());
    m_dev.Release(2);
    EXPECT_TRUE(WaitFor(0, "Camera delivery ended: the frame handler failed: no room for the frame"));
}

TEST_F(V4l2Streaming, AFormatRefusedWhileStreamingLeavesDeliveryGoingInTheFormatInUse) {
    m_dev.adjust[{16, 16}] = {16, 12};
    Open(V4L2_PIX_FMT_YUYV, {{8, 8}, {16, 16}}, {YuyvFrame(16, 16, 1)});
    ASSERT_TRUE(m_layer.SetFormat(0, FrameIntervalFor(30)) && m_layer.Run());
    m_dev.Release(1);
    ASSERT_TRUE(WaitFor(1));
    EXPECT_FALSE(m_layer.SetFormat(1, FrameIntervalFor(30)));
    m_dev.Release(1);
    ASSERT_TRUE(WaitFor(2));
    EXPECT_TRUE(m_layer.Stop());
    const std::vector<Seen> seen = Frames();
    EXPECT_EQ(std::tie(seen.back().width, seen.back().height), std::make_tuple(8, 8));
    EXPECT_EQ(seen.back().grey.size(), 64u);
}

// 322 pixels make 966 bytes a row, so every row carries two bytes of padding.
constexpr int kWidth = 322, kHeight = 242, kFrames = 5;

class VideoFileCamera : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir.emplace();
        WriteSequence(SyntheticSequence(Trajectory::Circle, kFrames, {kWidth, kHeight}), s_dir->path() / "circle");
        cv::VideoCapture reader(File().string());
        for (cv::Mat frame; reader.read(frame);) s_decoded.push_back(frame.clone());
    }
    static void TearDownTestSuite() { s_decoded.clear(), s_dir.reset(); }
    void SetUp() override { ASSERT_EQ(s_decoded.size(), std::size_t{kFrames}) << "cannot decode " << File(); }
    static std::filesystem::path File() { return s_dir->path() / "circle.avi"; }

    // Compares with the decoded file, independently of the code under test: top-down BGR rows,
    // each padded to a multiple of four bytes.
    void ExpectFramesOf(const std::vector<cv::Mat>& topDown, std::size_t first, std::size_t count) {
        for (std::size_t frame = 0; frame < count; ++frame) {
            const cv::Mat& picture = topDown[frame % topDown.size()];
            const Bytes& sample = m_frames.at(first + frame);
            const int step = (3 * picture.cols + 3) / 4 * 4;
            ASSERT_EQ(sample.size(), static_cast<std::size_t>(step * picture.rows)) << frame;
            for (int row = 0; row < picture.rows; ++row) {
                const std::uint8_t* stored = sample.data() + static_cast<std::size_t>(row * step);
                ASSERT_EQ(std::memcmp(stored, picture.ptr(row), 3 * static_cast<std::size_t>(picture.cols)), 0)
                    << "frame " << frame << ", row " << row;
            }
        }
    }

    void Keep(CameraFrame& frame) {
        const std::uint8_t* colour = frame.Colour();
        m_frames.emplace_back(colour, colour + frame.Length());
    }

    static inline std::optional<test::TempDir> s_dir;
    static inline std::vector<cv::Mat> s_decoded;
    std::vector<Bytes> m_frames;
};

TEST_F(VideoFileCamera, IsOneDeviceOfferingItsSizeAndHalfOfIt) {
    CVideoFileCapture camera(File());
    EXPECT_EQ(std::make_tuple(camera.EnumerateDevices().size(), camera.CapabilityCount()), std::make_tuple(1u, 0));
    EXPECT_FALSE(camera.Open(1) || camera.Open(-1));
    ASSERT_TRUE(camera.Open(0));
    EXPECT_DOUBLE_EQ(camera.FileFramesPerSecond(), 30.0);
    std::vector<std::tuple<bool, int, int, int>> offered;
    for (CaptureCapability c; camera.GetCapability(static_cast<int>(offered.size()), c);)
        offered.emplace_back(c.isVideo, c.biBitCount, c.biWidth, c.biHeight);
    EXPECT_EQ(offered, (std::vector<std::tuple<bool, int, int, int>>{{true, 24, kWidth, kHeight},
                                                                     {true, 24, kWidth / 2, kHeight / 2}}));
    EXPECT_FALSE(camera.SetFormat(2, 333'333) || camera.SetFormat(0, 0) || camera.SetFrameInterval(-5));

    EXPECT_EQ(camera.LastError(), "");

    test::WriteFile(s_dir->path() / "notes.avi", "RIFF but not a video at all");
    const std::pair<std::filesystem::path, std::string> unreadables[] = {
        {s_dir->path() / "missing.avi", "no such file"},
        {s_dir->path(), "not a regular file"},
        {s_dir->path() / "notes.avi", "not a video OpenCV can read"},
    };
    for (const auto& [path, reason] : unreadables) {
        CVideoFileCapture unreadable(path);
        EXPECT_TRUE(unreadable.EnumerateDevices().empty()) << path;
        EXPECT_EQ(unreadable.LastError(), reason);
        EXPECT_FALSE(unreadable.Open(0) || unreadable.Run()) << path;
        EXPECT_EQ(unreadable.LastError(), reason);
    }
}

TEST_F(VideoFileCamera, DeliversEveryFrameOnceInColourAndPaddedThenAgainAtHalfSize) {
    CVideoFileCapture camera(File(), {.loop = false, .paced = false});
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback([this](CameraFrame& frame) { Keep(frame); });
    ASSERT_TRUE(camera.Run());
    camera.WaitUntilFinished();
    ASSERT_EQ(m_frames.size(), std::size_t{kFrames});
    ExpectFramesOf(s_decoded, 0, kFrames);

    // Run after the end starts again at the first frame; half size is the area average.
    ASSERT_TRUE(camera.SetFormat(1, 10'000'000 / 30) && camera.Run());
    camera.WaitUntilFinished();
    ASSERT_EQ(m_frames.size(), std::size_t{2 * kFrames});
    std::vector<cv::Mat> halves(kFrames);
    for (int i = 0; i < kFrames; ++i)
        cv::resize(s_decoded[i], halves[i], {kWidth / 2, kHeight / 2}, 0, 0, cv::INTER_AREA);
    ExpectFramesOf(halves, kFrames, kFrames);
}

TEST_F(VideoFileCamera, LoopsUntilStopOrCloseWhichReturnOnlyAfterTheLastCallbackReturned) {
    CVideoFileCapture camera(File(), {.loop = true, .paced = false});
    // Plain data on purpose: only Stop's guarantee makes reading it here safe, which
    // ThreadSanitizer checks in the thread build.
    bool inCallback = false;
    std::atomic<std::size_t> handled{0};
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback([&](CameraFrame& frame) {
        inCallback = true;
        Keep(frame);
        std::this_thread::sleep_for(10ms);
        inCallback = false;
        ++handled;
    });
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Stop");
        m_frames.clear(), handled = 0;
        ASSERT_TRUE(camera.Run());
        EXPECT_TRUE(camera.Run());  // already running
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (handled < 2 * kFrames + 1 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        if (close)
            camera.Close();
        else
            EXPECT_TRUE(camera.Stop() && camera.Stop());
        EXPECT_FALSE(inCallback);
        const std::size_t delivered = m_frames.size();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(m_frames.size(), delivered) << "a frame came after delivery ended";
        ASSERT_GE(delivered, std::size_t{2 * kFrames + 1}) << "frames stopped coming";
        ExpectFramesOf(s_decoded, 0, delivered);  // back to the first frame after the last
        camera.WaitUntilFinished();               // returns at once when stopped
    }
    EXPECT_EQ(camera.CapabilityCount(), 0);
    EXPECT_FALSE(camera.Run());
}

TEST_F(VideoFileCamera, StopFromTheCallbackEndsDeliveryWithoutWaitingForItself) {
    CVideoFileCapture camera(File(), {.loop = true, .paced = false});
    std::atomic<int> calls{0};
    std::atomic<bool> stopResult{true};
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback([&](CameraFrame&) {
        if (++calls == 2) stopResult = camera.Stop();
    });
    ASSERT_TRUE(camera.Run());
    camera.WaitUntilFinished();
    EXPECT_FALSE(stopResult.load());
    EXPECT_EQ(calls.load(), 2);
    EXPECT_TRUE(camera.Stop());
}

// Frames of every camera format: grey written in place into a view (as into a pyramid level with
// a border), colour exactly as OpenCV makes it from the same data.
class FrameDecoding : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_jpeg = Jpeg(s_face = SyntheticSequence(Trajectory::Circle, 1, {kWidth, kHeight}).Frame(0));
    }
    static Bytes Jpeg(const cv::Mat& bgr) {
        Bytes jpeg;
        cv::imencode(".jpg", bgr, jpeg, {cv::IMWRITE_JPEG_QUALITY, 80});
        return jpeg;
    }
    // tolerance: the mean difference allowed, in levels, between the decoded and the expected
    // images, beside their own grey pixels (exact).
    static void ExpectDecoded(std::uint32_t fourcc, std::uint32_t bytesPerLine, const Bytes& data,
                              const cv::Mat& colour, const cv::Mat& grey, double tolerance = 0) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&fourcc), 4) + " " + std::to_string(bytesPerLine));
        const auto decoder = FrameDecoder::For(fourcc, kWidth, kHeight, bytesPerLine);
        ASSERT_TRUE(decoder);
        CameraFrame& frame = decoder->Frame(data.data(), data.size());
        const cv::Rect place(5, 3, kWidth, kHeight);
        cv::Mat level(kHeight + 6, kWidth + 10, CV_8UC1, cv::Scalar(7)), expected = level.clone(), view = level(place);
        grey.copyTo(expected(place));
        EXPECT_TRUE(frame.Grey(view)) << frame.Failure();
        auto difference = [&](const cv::Mat& a, const cv::Mat& b) {
            return tolerance == 0 ? cv::norm(a, b, cv::NORM_INF)
                                  : cv::norm(a, b, cv::NORM_L1) / double(a.total() * a.channels());
        };
        EXPECT_LE(difference(view, grey), tolerance);
        cv::Mat outside(level.size(), CV_8UC1, cv::Scalar(255));
        outside(place).setTo(0);
        EXPECT_EQ(cv::norm(level, expected, cv::NORM_INF, outside), 0) << "written outside the view";
        const std::uint8_t* decoded = frame.Colour();
        ASSERT_TRUE(decoded && decoded == frame.Colour()) << frame.Failure();
        EXPECT_LE(difference(CaptureImage(decoded, kWidth, kHeight), colour), tolerance);
        EXPECT_TRUE(frame.Decoded() && frame.Failure().empty()) << frame.Failure();
        // A grey image of another size is refused, never written past.
        cv::Mat small(kHeight - 1, kWidth, CV_8UC1);
        EXPECT_FALSE(decoder->Frame(data.data(), data.size()).Grey(small));
        EXPECT_EQ(frame.Failure(), "the grey image does not have the frame's size");
    }

    static inline cv::Mat s_face;
    static inline Bytes s_jpeg;
};

// Where a marker segment of the header starts (its 0xFF); 0 when there is none.
std::size_t Segment(const Bytes& jpeg, std::uint8_t marker) {
    for (std::size_t at = 2; at + 3 < jpeg.size() && jpeg[at] == 0xFF;) {
        if (jpeg[at + 1] == marker) return at;
        at += 2 + static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
    }
    return 0;
}
Bytes Without(Bytes jpeg, std::size_t tail) { return jpeg.resize(jpeg.size() - tail), jpeg; }
Bytes With(Bytes jpeg, std::size_t beforeEnd, std::size_t afterEnd) {
    jpeg.insert(jpeg.end() - 2, beforeEnd, 0);
    jpeg.insert(jpeg.end(), afterEnd, 0);
    return jpeg;
}
// As many webcams send their frames: without Huffman tables, the library's standard ones.
Bytes WithoutHuffmanTables(Bytes jpeg) {
    for (std::size_t at; (at = Segment(jpeg, 0xC4)) != 0;)
        jpeg.erase(jpeg.begin() + static_cast<long>(at),
                   jpeg.begin() + static_cast<long>(at + 2 + (jpeg[at + 2] << 8 | jpeg[at + 3])));
    return jpeg;
}

TEST_F(FrameDecoding, JpegFramesWhoseEveryRowCameFromTheirDataDecodeAsTheIntactFrameWithTheirWarning) {
    Bytes restarts, progressive;
    cv::imencode(".jpg", s_face, restarts, {cv::IMWRITE_JPEG_QUALITY, 80, cv::IMWRITE_JPEG_RST_INTERVAL, 3});
    cv::imencode(".jpg", s_face, progressive, {cv::IMWRITE_JPEG_QUALITY, 80, cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    // The last scan of the progressive frame, which completes the image.
    std::size_t lastScan = 0;
    for (std::size_t at = 0; at + 1 < progressive.size(); ++at)
        if (progressive[at] == 0xFF && progressive[at + 1] == 0xDA) lastScan = at;
    ASSERT_GT(lastScan, 0u);
    // The library counts the padding from where its reading stopped.
    const std::string noEnd = "Premature end of JPEG file", padded = "extraneous bytes before marker 0xd9";
    const struct {
        const char* name;
        Bytes jpeg, intact;
        std::string warning;  // how the frame's warning ends; "bad": the frame fails
    } cases[] = {
        // clang-format off
        {"intact", s_jpeg, s_jpeg, ""},
        {"no end marker", Without(s_jpeg, 2), s_jpeg, noEnd},
        {"padding before the end marker", With(s_jpeg, 16, 0), s_jpeg, padded},
        {"padding after the end marker", With(s_jpeg, 0, 40), s_jpeg, ""},
        {"padding and no end marker", With(Without(s_jpeg, 2), 0, 16), s_jpeg, noEnd},
        {"no Huffman tables", WithoutHuffmanTables(s_jpeg), s_jpeg, ""},
        {"no Huffman tables, no end marker", Without(WithoutHuffmanTables(s_jpeg), 2), s_jpeg, noEnd},
        {"restart markers", restarts, restarts, ""},
        {"restart markers, no end marker", Without(restarts, 2), restarts, noEnd},
        {"progressive", progressive, progressive, ""},
        {"progressive, padding before the end marker", With(progressive, 16, 0), progressive, padded},
        {"progressive, no end marker", Without(progressive, 2), progressive, noEnd},
        // Data that ends before the last row: the library would make the rest up.
        {"cut in half", Bytes(s_jpeg.begin(), s_jpeg.begin() + static_cast<long>(s_jpeg.size() / 2)), s_jpeg, "bad"},
        {"last bytes of data missing", Without(s_jpeg, 12), s_jpeg, "bad"},
        {"restart markers, last interval cut", Without(restarts, 40), restarts, "bad"},
        {"progressive, last scan missing", Bytes(progressive.begin(), progressive.begin() + static_cast<long>(lastScan)), progressive, "bad"},
        {"progressive, last scan cut", Without(progressive, 12), progressive, "bad"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.warning != "bad") {
            ExpectDecoded(V4L2_PIX_FMT_MJPEG, 0, c.jpeg, cv::imdecode(c.intact, cv::IMREAD_COLOR),
                          cv::imdecode(c.intact, cv::IMREAD_GRAYSCALE));
            const auto decoder = FrameDecoder::For(V4L2_PIX_FMT_MJPEG, kWidth, kHeight, 0);
            CameraFrame& frame = decoder->Frame(c.jpeg.data(), c.jpeg.size());
            EXPECT_TRUE(frame.Colour()) << frame.Failure();
            EXPECT_TRUE(c.warning.empty() ? frame.Warning().empty() : frame.Warning().ends_with(c.warning))
                << frame.Warning();
            continue;
        }
        const auto decoder = FrameDecoder::For(V4L2_PIX_FMT_MJPEG, kWidth, kHeight, 0);
        CameraFrame& frame = decoder->Frame(c.jpeg.data(), c.jpeg.size());
        cv::Mat grey(kHeight, kWidth, CV_8UC1);
        EXPECT_FALSE(frame.Grey(grey) || frame.Colour() || frame.Decoded());
        EXPECT_TRUE(frame.Failure().starts_with("a bad JPEG frame: ")) << frame.Failure();
    }
}

TEST_F(FrameDecoding, AJpegFrameWithABadHeaderLeavesTheDecoderReadyForTheNext) {
    const std::size_t frame = Segment(s_jpeg, 0xC0), table = Segment(s_jpeg, 0xC4);
    ASSERT_TRUE(frame && table);
    auto damaged = [&](std::size_t at, std::vector<std::uint8_t> bytes, bool insert = false) {
        Bytes jpeg = s_jpeg;
        if (insert)
            jpeg.insert(jpeg.begin() + static_cast<long>(at), bytes.begin(), bytes.end());
        else
            std::ranges::copy(bytes, jpeg.begin() + static_cast<long>(at));
        return jpeg;
    };
    const std::pair<const char*, Bytes> cases[] = {
        {"unknown marker", damaged(2, {0xFF, 0x02}, true)},
        {"damaged segment length", damaged(frame + 2, {0x00, 0x03})},
        {"65535x65535", damaged(frame + 5, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"12-bit precision", damaged(frame + 4, {12})},
        {"broken Huffman table", damaged(table + 5, {0xFF})},
    };
    const cv::Mat intact = cv::imdecode(s_jpeg, cv::IMREAD_GRAYSCALE);
    for (const auto& [name, bad] : cases) {
        SCOPED_TRACE(name);
        const auto decoder = FrameDecoder::For(V4L2_PIX_FMT_MJPEG, kWidth, kHeight, 0);
        for (const Bytes* data : std::initializer_list<const Bytes*>{&s_jpeg, &bad, &s_jpeg, &s_jpeg}) {
            cv::Mat grey(kHeight, kWidth, CV_8UC1, cv::Scalar(7));
            CameraFrame& decoded = decoder->Frame(data->data(), data->size());
            const bool good = data != &bad;
            EXPECT_EQ(decoded.Grey(grey), good) << decoded.Failure();
            if (good) {
                EXPECT_EQ(cv::norm(grey, intact, cv::NORM_INF), 0);
                EXPECT_TRUE(decoded.Colour()) << decoded.Failure();
            }
        }
    }
}

// The device's data of each raw format, made from one picture by the format's own definition
// (V4L2's byte layouts, the limited-range BT.601 YUV of webcams), each row of the given length;
// grey: the picture's grey image as the format carries it (empty: made from colour).
struct RawSample {
    std::uint32_t fourcc;
    Bytes data;
    std::vector<std::size_t> rows;
    cv::Mat grey;
};
std::vector<RawSample> RawSamples(const cv::Mat& bgr) {
    const int w = bgr.cols, h = bgr.rows;
    cv::Mat i420, grey;
    cv::cvtColor(bgr, i420, cv::COLOR_BGR2YUV_I420);  // Y, then U and V at half size each way
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    const cv::Mat y = i420.rowRange(0, h).clone();
    const std::uint8_t* u = i420.ptr(h);
    const std::uint8_t* v = u + w * h / 4;
    auto at = [&](const std::uint8_t* plane, int row, int column) { return plane[row / 2 * (w / 2) + column / 2]; };
    auto rows = [](int count, int length, std::vector<std::size_t> more = {}) {
        std::vector<std::size_t> all(static_cast<std::size_t>(count), static_cast<std::size_t>(length));
        return all.insert(all.end(), more.begin(), more.end()), all;
    };
    Bytes yuyv, uyvy, nv12(y.datastart, y.dataend), rgb, rgb565;
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; column += 2) {
            const std::uint8_t y0 = y.at<std::uint8_t>(row, column), y1 = y.at<std::uint8_t>(row, column + 1);
            const std::uint8_t cb = at(u, row, column), cr = at(v, row, column);
            yuyv.insert(yuyv.end(), {y0, cb, y1, cr});
            uyvy.insert(uyvy.end(), {cb, y0, cr, y1});
        }
    for (int row = 0; row < h; row += 2)
        for (int column = 0; column < w; column += 2) nv12.insert(nv12.end(), {at(u, row, column), at(v, row, column)});
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; ++column) {
            const cv::Vec3b pixel = bgr.at<cv::Vec3b>(row, column);
            rgb.insert(rgb.end(), {pixel[2], pixel[1], pixel[0]});
            // Little-endian 16 bits: red in the top five, green in the middle six, blue at the bottom.
            const unsigned packed = (pixel[2] >> 3) << 11 | (pixel[1] >> 2) << 5 | pixel[0] >> 3;
            rgb565.insert(rgb565.end(), {static_cast<std::uint8_t>(packed), static_cast<std::uint8_t>(packed >> 8)});
        }
    Bytes yvu420(i420.datastart, i420.dataend);
    std::swap_ranges(yvu420.begin() + w * h, yvu420.begin() + w * h * 5 / 4, yvu420.begin() + w * h * 5 / 4);
    const cv::Mat none;
    return {
        {V4L2_PIX_FMT_YUYV, yuyv, rows(h, 2 * w), y},
        {V4L2_PIX_FMT_UYVY, uyvy, rows(h, 2 * w), y},
        {V4L2_PIX_FMT_YUV420, Bytes(i420.datastart, i420.dataend), rows(h, w, rows(h, w / 2)), y},
        {V4L2_PIX_FMT_YVU420, yvu420, rows(h, w, rows(h, w / 2)), y},
        {V4L2_PIX_FMT_NV12, nv12, rows(h, w, rows(h / 2, w)), y},
        {V4L2_PIX_FMT_BGR24, Bytes(bgr.datastart, bgr.dataend), rows(h, 3 * w), none},
        {V4L2_PIX_FMT_RGB24, rgb, rows(h, 3 * w), none},
        {V4L2_PIX_FMT_RGB565, rgb565, rows(h, 2 * w), none},
        {V4L2_PIX_FMT_GREY, Bytes(grey.datastart, grey.dataend), rows(h, w), grey},
    };
}

TEST_F(FrameDecoding, EveryRawFormatDecodesGreyIntoPlaceAndColourNearThePictureItWasMadeFrom) {
    for (const RawSample& raw : RawSamples(s_face)) {
        // Grey formats are seen in colour as grey; YUV loses a little to chroma sharing, RGB565 to
        // its fewer bits.
        cv::Mat colour = s_face, grey = raw.grey;
        if (raw.fourcc == V4L2_PIX_FMT_GREY) cv::cvtColor(raw.grey, colour, cv::COLOR_GRAY2BGR);
        const bool exact =
            raw.fourcc == V4L2_PIX_FMT_BGR24 || raw.fourcc == V4L2_PIX_FMT_RGB24 || raw.fourcc == V4L2_PIX_FMT_GREY;
        if (grey.empty()) cv::cvtColor(s_face, grey, cv::COLOR_BGR2GRAY);
        // The same rows, each padded in proportion to its length as drivers pad them.
        const std::size_t line = raw.rows.front(), padding = 16;
        Bytes padded;
        for (std::size_t row = 0, offset = 0; row < raw.rows.size(); offset += raw.rows[row++]) {
            padded.insert(padded.end(), raw.data.begin() + static_cast<long>(offset),
                          raw.data.begin() + static_cast<long>(offset + raw.rows[row]));
            padded.resize(padded.size() + raw.rows[row] * padding / line);
        }
        ExpectDecoded(raw.fourcc, 0, raw.data, colour, grey, exact ? 0 : 4.0);
        ExpectDecoded(raw.fourcc, static_cast<std::uint32_t>(line + padding), padded, colour, grey, exact ? 0 : 4.0);
    }
}

TEST_F(FrameDecoding, BadFramesFailWithTheirReasonAndTheNextFrameDecodes) {
    Bytes truncated(s_jpeg.begin(), s_jpeg.begin() + static_cast<long>(s_jpeg.size() / 2)), corrupt = s_jpeg;
    std::fill_n(corrupt.begin() + static_cast<long>(corrupt.size() / 2), 64, 0xFF);
    cv::Mat half;
    cv::resize(s_face, half, {kWidth / 2, kHeight / 2});
    const std::size_t pixels = kWidth * kHeight;
    const std::tuple<std::uint32_t, Bytes, std::string> cases[] = {
        {V4L2_PIX_FMT_MJPEG, truncated, "a bad JPEG frame: its data ends before its last row"},
        {V4L2_PIX_FMT_MJPEG, corrupt, "a bad JPEG frame: Corrupt JPEG data: premature end of data segment"},
        {V4L2_PIX_FMT_MJPEG, Bytes(4000, 'x'), "not a JPEG frame: Not a JPEG file: starts with 0x78 0x78"},
        {V4L2_PIX_FMT_MJPEG, Jpeg(half), "a JPEG frame of 161x121 in a 322x242 format"},
        {V4L2_PIX_FMT_MJPEG, {}, "an empty frame"},
        {V4L2_PIX_FMT_YUYV, Bytes(2 * pixels - 1), "a short frame: 155847 of 155848 bytes"},
        {V4L2_PIX_FMT_NV12, Bytes(pixels * 3 / 2 - 2), "a short frame: 116884 of 116886 bytes"},
        {V4L2_PIX_FMT_RGB24, Bytes(pixels), "a short frame: 77924 of 233772 bytes"},
    };
    for (const auto& [fourcc, data, failure] : cases) {
        const auto decoder = FrameDecoder::For(fourcc, kWidth, kHeight, 0);
        ASSERT_TRUE(decoder) << failure;
        CameraFrame& frame = decoder->Frame(data.data(), data.size());
        cv::Mat grey(kHeight, kWidth, CV_8UC1);
        EXPECT_FALSE(frame.Grey(grey) || frame.Colour() || frame.Decoded()) << failure;
        EXPECT_EQ(frame.Failure(), failure);
        const Bytes good = fourcc == V4L2_PIX_FMT_MJPEG ? s_jpeg : Bytes(3 * pixels);
        CameraFrame& next = decoder->Frame(good.data(), good.size());
        EXPECT_TRUE(next.Grey(grey) && next.Colour() && next.Failure().empty()) << next.Failure();
    }
    // Sizes the YUV formats cannot have; a format nobody decodes.
    EXPECT_FALSE(FrameDecoder::For(V4L2_PIX_FMT_YUYV, 321, 240, 0) ||
                 FrameDecoder::For(V4L2_PIX_FMT_NV12, 320, 241, 0) ||
                 FrameDecoder::For(V4L2_PIX_FMT_H264, 320, 240, 0));
}

const cv::Size kVga(640, 480), kQvga(320, 240);
constexpr WindowToken kWindow = 0x1234;

CScriptedCapture::Device Camera(const std::string& name,
                                std::vector<CaptureCapability> caps = {Caps(24, 320, 240), Caps(24, 640, 480)}) {
    return {{name, "", ""}, std::move(caps)};
}

// Counts the frames capture hands over.
class CountingTarget : public IFrameTarget {
public:
    void ProcessFrame(CameraFrame&) override { ++frames; }
    std::atomic<int> frames{0};
};

// The camera as the application drives it, over a scripted layer.
class VideoInput : public CaptureLog {
protected:
    ~VideoInput() override {
        m_track.reset();  // capture ends before the frame target goes
        m_frameTarget = nullptr;
    }
    int Count(const std::string& call) const { return static_cast<int>(std::ranges::count(m_layer.Calls(), call)); }
    void Deliver(const std::vector<cv::Size>& sizes) {
        m_layer.QueueFrames(sizes);
        ASSERT_TRUE(m_layer.WaitUntilDelivered());
    }

    FrameTargetSlot m_frameTarget{nullptr};
    CountingTarget m_target;
    std::unique_ptr<CScriptedCapture> m_owned = std::make_unique<CScriptedCapture>();
    CScriptedCapture& m_layer = *m_owned;
    std::unique_ptr<CNCVideoInputTrack> m_track =
        std::make_unique<CNCVideoInputTrack>(std::move(m_owned), m_frameTarget, &m_log);
};

TEST_F(VideoInput, OpenListsAndNamesTheCamerasAndKeepsTheFirstFormatChosen) {
    std::vector<CScriptedCapture::Device> devices{{{"Front", "USB camera", "/dev/video0"}, {Caps(24, 800, 600)}}};
    for (int i = 1; i < 11; ++i) devices.push_back(Camera("Cam " + std::to_string(i)));
    // A camera without formats opens with no size chosen, so the next opening searches again.
    m_layer.SetDevices({Camera("Bare", {})});
    EXPECT_EQ(m_track->Open(0, 640), 1);
    EXPECT_EQ(std::make_tuple(m_track->Width(), m_track->CapabilityIndex()), std::make_tuple(0, -1));
    m_layer.SetDevices(devices);
    NewlyLogged();
    EXPECT_EQ(m_track->Open(11, 640), 11);  // past the list: the first camera
    const std::string log = NewlyLogged();
    EXPECT_TRUE(
        log.starts_with("Camera found: Front\r\nCamera found: USB camera\r\n"
                        "Camera found: /dev/video0\r\nCamera found: Cam 1\r\n"))
        << log;
    EXPECT_NE(log.find("Camera found: Cam 10\r\nGetDeviceDescr\r\n"), std::string::npos) << log;
    EXPECT_EQ(std::make_tuple(m_track->SelectedCamera(), m_track->CameraName(), m_layer.OpenDevice(), m_track->Width(),
                              m_track->Height()),
              std::make_tuple(0, std::string("Front"), 0, 800, 600));
    // Only the first ten get a camera name, but the eleventh opens.
    auto& input = m_track->Input();
    EXPECT_EQ(std::tie(input.CameraName(1), input.CameraName(10), input.CameraName(11)),
              std::make_tuple("Front", "Cam 9", ""));
    // Opening again stops delivery first and keeps the size chosen first.
    ASSERT_TRUE(m_track->AttachWindow(kWindow) && m_track->Run());
    EXPECT_EQ(m_track->Open(10, 640), 11);
    EXPECT_EQ(std::make_tuple(m_track->SelectedCamera(), m_track->CameraName(), m_layer.OpenDevice(),
                              m_layer.IsRunning(), m_track->Width()),
              std::make_tuple(10, std::string("Cam 10"), 10, false, 800));
    EXPECT_EQ(Count("SetFormat 0 833333"), 1);

    // A camera that cannot be opened leaves no size and nothing to attach.
    m_layer.FailOpen(true);
    EXPECT_EQ(m_track->Open(0, 640), 11);
    EXPECT_EQ(std::make_tuple(m_layer.OpenDevice(), m_track->AttachWindow(kWindow)), std::make_tuple(-1, false));
    m_layer.SetDevices({});
    EXPECT_EQ(m_track->Open(0, 640), 0);
    EXPECT_EQ(std::make_tuple(m_track->SelectedCamera(), input.CameraName(1)), std::make_tuple(-1, std::string()));
}

TEST_F(VideoInput, OnlyFramesOfTheFirstLengthReachThePublishedTargetWhileRunning) {
    // Empty frames neither count nor fix the first length.
    ColourFrame empty(nullptr, 0, 0);
    m_track->Input().BufferCB(empty);
    m_layer.SetDevices({Camera("Cam")});
    ASSERT_EQ(m_track->Open(0, 640), 1);
    ASSERT_TRUE(m_track->AttachWindow(kWindow) && m_track->Run());
    Deliver({kQvga, kVga});
    EXPECT_EQ(m_target.frames, 0);  // no target published: dropped
    EXPECT_EQ(m_track->Input().FirstBufferLength(),
              CaptureFrameLength(320, 240));  // fixed even though it had nowhere to go

    m_frameTarget = &m_target;
    Deliver({kQvga, kVga, kQvga});
    EXPECT_EQ(m_target.frames, 2);
    ASSERT_TRUE(m_track->Stop());
    m_layer.QueueFrames({kQvga});
    EXPECT_FALSE(m_layer.WaitUntilDelivered());
    ASSERT_TRUE(m_track->Run());
    ASSERT_TRUE(m_layer.WaitUntilDelivered());
    EXPECT_EQ(m_target.frames, 3);
    // The first length holds for the object's life, whatever the camera delivers later.
    Deliver({kVga, kVga});
    EXPECT_EQ(m_target.frames, 3);
}

TEST_F(VideoInput, FrameRateChangesGoToTheOpenCamera) {
    m_track->SetFrameRate(30, 0);  // nothing open: nothing to change
    EXPECT_TRUE(m_layer.Calls().empty());
    m_layer.SetDevices({Camera("A")});
    ASSERT_EQ(m_track->Open(0, 640), 1);
    for (auto [fps, interval] : {std::pair(30, 333'333), std::pair(0, 10'000'000), std::pair(-5, 10'000'000)}) {
        m_track->SetFrameRate(fps, m_track->CapabilityIndex());
        EXPECT_EQ(m_layer.FrameInterval(), interval) << fps << " frames a second";  // below 1 counts as 1
    }
    NewlyLogged();
    m_layer.FailSetFrameInterval(true);
    m_track->SetFrameRate(5, m_track->CapabilityIndex());
    EXPECT_EQ(NewlyLogged(), "SetFormat can't set fps\r\n");
}

// Camera recordings: what a webcam sent, kept in a file and played again through the V4L2 layer.
class CameraRecordings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const SyntheticSequence sequence(Trajectory::Circle, 3, {kWidth, kHeight});
        for (int i = 0; i < 3; ++i) s_pictures.push_back(sequence.Frame(i));
    }
    // Six buffers as the camera sends them: timestamps to the microsecond with an uneven gap,
    // one marked damaged, two dropped in the sequence.
    static std::vector<RecordedBuffer> Sent(__u32 fourcc, int count = 6) {
        std::vector<RecordedBuffer> sent;
        for (int i = 0; i < count; ++i) {
            const cv::Mat& picture = s_pictures[static_cast<std::size_t>(i) % s_pictures.size()];
            Bytes bytes;
            if (fourcc == V4L2_PIX_FMT_MJPEG)
                cv::imencode(".jpg", picture, bytes);
            else
                for (RawSample& raw : RawSamples(picture))
                    if (raw.fourcc == fourcc) bytes = std::move(raw.data);
            const std::uint32_t flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | (i == 2 ? V4L2_BUF_FLAG_ERROR : 0u);
            sent.push_back({std::move(bytes), 1'700'000'123'457 + i * 33'367 + (i >= 4 ? 40'001 : 0), flags,
                            static_cast<std::uint32_t>(i < 4 ? i : i + 2)});
        }
        return sent;
    }
    // A webcam streaming those buffers once, with a second format and two settings.
    static std::unique_ptr<ReplayV4l2> Webcam(__u32 fourcc, std::vector<RecordedBuffer> buffers) {
        auto camera = ReplayV4l2::Webcam(fourcc, {kWidth, kHeight}, {});
        camera->nodes[0].card = "Test Cam";
        camera->formats.push_back({V4L2_PIX_FMT_YUV420, {}, v4l2_frmsize_stepwise{16, 1920, 16, 16, 1080, 8}});
        camera->controls = {Control(0x980900, "Brightness", V4L2_CTRL_TYPE_INTEGER, 255),
                            Control(0x980918, "Power Line Frequency", V4L2_CTRL_TYPE_MENU, 2)};
        camera->controls[0].value = 77;
        camera->controls[1].menu = {"Disabled", "", "60 Hz"};
        camera->controls[1].getError = EIO;
        camera->rateGiven = {1, 30};
        camera->Serve(std::move(buffers), ReplayV4l2::Pace::Fast, {}, false);
        return camera;
    }
    // Opens the layer's camera in the first format it takes and runs it until played() returns;
    // the grey images of the frames handed over.
    static std::vector<Bytes> Play(ICaptureLayer& layer, const std::function<bool()>& played) {
        std::vector<Bytes> greys;
        EXPECT_TRUE(layer.Open(0));
        bool set = false;
        for (int i = 0; i < layer.CapabilityCount() && !set; ++i) set = layer.SetFormat(i, FrameIntervalFor(30));
        EXPECT_TRUE(set);
        layer.SetFrameCallback([&greys](CameraFrame& frame) {
            cv::Mat grey(frame.Height(), frame.Width(), CV_8UC1);
            greys.push_back(frame.Grey(grey) ? Bytes(grey.datastart, grey.dataend) : Bytes{});
        });
        EXPECT_TRUE(layer.Run());
        EXPECT_TRUE(played());
        layer.Close();  // after the last callback: the images are this thread's again
        return greys;
    }

    static inline std::vector<cv::Mat> s_pictures;
    test::TempDir m_dir;
    CCameraRecorder m_recorder;
    std::string m_error;
};

TEST_F(CameraRecordings, KeepEveryBufferWithItsFlagsAndMicrosecondsAndPlayAgainAsTheCameraSentThem) {
    const std::filesystem::path file = m_dir.path() / "rec.mkv", again = m_dir.path() / "again.mkv";
    for (__u32 fourcc : {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_NV12}) {
        SCOPED_TRACE(FourccText(fourcc));
        const std::vector<RecordedBuffer> sent = Sent(fourcc);
        ASSERT_TRUE(m_recorder.Start(file, {}, m_error));
        auto webcam = Webcam(fourcc, sent);
        ReplayV4l2& device = *webcam;
        CV4l2Capture layer(std::make_unique<RecordingV4l2Device>(std::move(webcam), m_recorder));
        const std::vector<Bytes> greys = Play(layer, [&] { return device.WaitUntilPlayed(); });
        m_recorder.Stop();
        ASSERT_EQ(m_recorder.Progress().state, CCameraRecorder::State::Done) << m_recorder.Progress().error;
        EXPECT_EQ(greys.size(), 5u) << "the damaged buffer is recorded, not handed over";

        const std::optional<CameraRecording> recording = ReadCameraRecording(file, m_error);
        ASSERT_TRUE(recording) << m_error;
        EXPECT_EQ(recording->buffers, sent);
        const RecordedCamera& camera = recording->camera;
        EXPECT_EQ(std::tie(camera.card, camera.driver, camera.format.pixelformat, camera.format.width),
                  std::make_tuple("Test Cam", "uvcvideo", fourcc, kWidth));
        ASSERT_EQ(std::make_pair(camera.formats.size(), camera.controls.size()), std::make_pair(2ul, 2ul));
        EXPECT_EQ(camera.formats[1].range->max_height, 1080u);
        EXPECT_EQ(std::tie(camera.controls[0].value, camera.controls[1].getError, camera.controls[1].menu[2]),
                  std::make_tuple(77, EIO, "60 Hz"));

        // Played again as the camera: the same frames come and decode the same, and what the
        // replayed camera sends records into the very same file.
        ASSERT_TRUE(m_recorder.Start(again, {}, m_error));
        CReplayedCamera replay(file, {.loop = false, .paced = false, .recorder = &m_recorder});
        EXPECT_EQ(replay.EnumerateDevices().at(0).friendlyName, "Recording rec.mkv of Test Cam");
        EXPECT_EQ(Play(replay, [&] { return replay.WaitUntilFinished(); }), greys);
        m_recorder.Stop();
        EXPECT_TRUE(test::ReadFile(again) == test::ReadFile(file)) << "the replay differs from the camera";
    }

    // At its recorded pace, and in a loop that goes on in time and count from its last buffer.
    const std::vector<RecordedBuffer> sent = Sent(V4L2_PIX_FMT_MJPEG);
    const auto start = std::chrono::steady_clock::now();
    CReplayedCamera paced(file, {.loop = false});
    Play(paced, [&] { return paced.WaitUntilFinished(); });
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::microseconds(sent.back().timestampUs - sent.front().timestampUs));
    ASSERT_TRUE(m_recorder.Start(again, {}, m_error));
    CReplayedCamera looped(file, {.paced = false, .recorder = &m_recorder});
    Play(looped, [&] {
        while (m_recorder.Progress().buffers < 12) std::this_thread::sleep_for(1ms);
        return true;
    });
    m_recorder.Stop();
    const std::optional<CameraRecording> twice = ReadCameraRecording(again, m_error);
    ASSERT_TRUE(twice) << m_error;
    const std::int64_t lap =
        sent.back().timestampUs - sent.front().timestampUs + (sent.back().timestampUs - sent.front().timestampUs) / 5;
    for (std::size_t i = 6; i < 12; ++i) {
        EXPECT_EQ(twice->buffers[i].timestampUs, sent[i - 6].timestampUs + lap) << i;
        EXPECT_EQ(twice->buffers[i].sequence, sent[i - 6].sequence + 8) << i;
    }
}

TEST_F(CameraRecordings, EndAtTheirLengthOrSizeAndFailWithoutAFrameOrAFolder) {
    std::vector<RecordedBuffer> sent = Sent(V4L2_PIX_FMT_YUYV, 20);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i].timestampUs = static_cast<std::int64_t>(i) * 100'000;
    const std::uint64_t frame = sent[0].bytes.size();
    const std::filesystem::path file = m_dir.path() / "rec.mkv";
    const struct {
        RecordingLimits limits;
        std::filesystem::path file;
        int buffers;  // -1: fails
        std::string error;
    } cases[] = {
        {{.duration = 1s}, file, 10, ""},  // the buffer at 1 s ends it
        {{.bytes = 64 * 1024 + 5 * frame + frame / 2}, file, 5, ""},
        {{},
         m_dir.path() / "missing" / "rec.mkv",
         -1,
         "cannot write " + (m_dir.path() / "missing" / "rec.mkv").string() + ": No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.buffers);
        ASSERT_TRUE(m_recorder.Start(c.file, c.limits, m_error));
        EXPECT_FALSE(m_recorder.Start(c.file, c.limits, m_error));
        EXPECT_EQ(m_error, "a recording is under way");
        auto webcam = Webcam(V4L2_PIX_FMT_YUYV, sent);
        ReplayV4l2& device = *webcam;
        CV4l2Capture layer(std::make_unique<RecordingV4l2Device>(std::move(webcam), m_recorder));
        Play(layer, [&] { return device.WaitUntilPlayed(); });
        const CCameraRecorder::Status status = m_recorder.Progress();
        EXPECT_EQ(status.error, c.error);
        if (c.buffers < 0) continue;
        EXPECT_EQ(std::make_tuple(status.state, status.buffers, status.bytes),
                  std::make_tuple(CCameraRecorder::State::Done, c.buffers, std::filesystem::file_size(file)));
        if (c.limits.bytes) {
            EXPECT_LE(status.bytes, c.limits.bytes);
        }
        const std::optional<CameraRecording> recording = ReadCameraRecording(file, m_error);
        ASSERT_TRUE(recording) << m_error;
        EXPECT_EQ(recording->buffers, std::vector(sent.begin(), sent.begin() + c.buffers));
    }
    ASSERT_TRUE(m_recorder.Start(file, {}, m_error));
    m_recorder.Stop();
    const CCameraRecorder::Status nothing = m_recorder.Progress();
    EXPECT_EQ(std::tie(nothing.state, nothing.error),
              std::make_tuple(CCameraRecorder::State::Failed, "no frame came from the camera"));
}

}  // namespace
