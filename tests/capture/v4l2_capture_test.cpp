#include "v4l2_capture.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

struct ScriptedFormat {
    std::uint32_t fourcc = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> discrete;
    std::uint32_t rangeType = 0;  // V4L2_FRMSIZE_TYPE_STEPWISE or _CONTINUOUS, with range
    v4l2_frmsize_stepwise range{};
};

struct ScriptedControl {
    v4l2_queryctrl query{};
    std::int32_t value = 0;
    bool readFails = false;
};

struct ScriptedNode {
    std::string path;
    bool openFails = false;
    bool queryFails = false;
    std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::optional<std::uint32_t> deviceCaps;  // sets V4L2_CAP_DEVICE_CAPS
    std::string driver = "uvcvideo";
    std::string card = "Scripted Camera";
    std::string bus = "usb-0000:00:14.0-1";
    std::vector<ScriptedFormat> formats;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> currentFormat;  // fourcc, size below
    std::uint32_t currentWidth = 0, currentHeight = 0;
    bool timePerFrame = true;
    bool adjustsSize = false;  // S_FMT answers with another size
    std::vector<ScriptedControl> controls;

    // What the layer set.
    std::optional<v4l2_pix_format> setFormat;
    std::vector<v4l2_fract> setIntervals;
    std::map<std::uint32_t, std::int32_t> setControls;
};

struct ScriptedState {
    std::vector<ScriptedNode> nodes;
    int openDescriptors = 0;
};

// A /dev of scripted nodes; the descriptor of node i is 100 + i.
class ScriptedV4l2 final : public IV4l2Device {
public:
    explicit ScriptedV4l2(std::shared_ptr<ScriptedState> state) : m_state(std::move(state)) {}

    std::vector<std::string> VideoNodes() override {
        std::vector<std::string> paths;
        for (const auto& node : m_state->nodes) paths.push_back(node.path);
        return paths;
    }
    int Open(const std::string& path) override {
        for (std::size_t i = 0; i < m_state->nodes.size(); ++i) {
            if (m_state->nodes[i].path != path) continue;
            if (m_state->nodes[i].openFails) return -1;
            ++m_state->openDescriptors;
            return 100 + static_cast<int>(i);
        }
        return -1;
    }
    void Close(int) override { --m_state->openDescriptors; }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        ScriptedNode& node = m_state->nodes.at(static_cast<std::size_t>(fd - 100));
        switch (request) {
            case VIDIOC_QUERYCAP: return QueryCap(node, *static_cast<v4l2_capability*>(arg));
            case VIDIOC_ENUM_FMT: {
                auto& format = *static_cast<v4l2_fmtdesc*>(arg);
                if (format.index >= node.formats.size()) return EINVAL;
                format.pixelformat = node.formats[format.index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: return EnumSizes(node, *static_cast<v4l2_frmsizeenum*>(arg));
            case VIDIOC_G_FMT: {
                if (!node.currentFormat) return EINVAL;
                auto& format = *static_cast<v4l2_format*>(arg);
                format.fmt.pix.pixelformat = node.currentFormat->first;
                format.fmt.pix.width = node.currentWidth;
                format.fmt.pix.height = node.currentHeight;
                return 0;
            }
            case VIDIOC_S_FMT: {
                auto& format = *static_cast<v4l2_format*>(arg);
                if (node.adjustsSize) format.fmt.pix.width += 8;
                node.setFormat = format.fmt.pix;
                return 0;
            }
            case VIDIOC_G_PARM: {
                auto& parameters = *static_cast<v4l2_streamparm*>(arg);
                parameters.parm.capture.capability = node.timePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
                return 0;
            }
            case VIDIOC_S_PARM:
                node.setIntervals.push_back(static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe);
                return 0;
            case VIDIOC_QUERYCTRL: return QueryControl(node, *static_cast<v4l2_queryctrl*>(arg));
            case VIDIOC_G_CTRL: {
                auto& control = *static_cast<v4l2_control*>(arg);
                const ScriptedControl* found = Find(node, control.id);
                if (!found || found->readFails) return EACCES;
                control.value = found->value;
                return 0;
            }
            case VIDIOC_S_CTRL: {
                auto& control = *static_cast<v4l2_control*>(arg);
                if (!Find(node, control.id)) return EINVAL;
                node.setControls[control.id] = control.value;
                return 0;
            }
            default: return ENOTTY;
        }
    }

private:
    static void Copy(const std::string& text, __u8* field, std::size_t size) {
        std::memset(field, 0, size);
        std::memcpy(field, text.data(), std::min(text.size(), size));  // full-width text has no NUL
    }
    static int QueryCap(const ScriptedNode& node, v4l2_capability& capability) {
        if (node.queryFails) return ENOTTY;
        Copy(node.driver, capability.driver, sizeof capability.driver);
        Copy(node.card, capability.card, sizeof capability.card);
        Copy(node.bus, capability.bus_info, sizeof capability.bus_info);
        capability.capabilities = node.capabilities;
        if (node.deviceCaps) {
            capability.capabilities |= V4L2_CAP_DEVICE_CAPS;
            capability.device_caps = *node.deviceCaps;
        }
        return 0;
    }
    static int EnumSizes(const ScriptedNode& node, v4l2_frmsizeenum& size) {
        auto format = std::find_if(node.formats.begin(), node.formats.end(),
                                   [&](const ScriptedFormat& f) { return f.fourcc == size.pixel_format; });
        if (format == node.formats.end()) return EINVAL;
        if (format->rangeType != 0) {
            if (size.index != 0) return EINVAL;
            size.type = format->rangeType;
            size.stepwise = format->range;
            return 0;
        }
        if (size.index >= format->discrete.size()) return EINVAL;
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {format->discrete[size.index].first, format->discrete[size.index].second};
        return 0;
    }
    static const ScriptedControl* Find(const ScriptedNode& node, std::uint32_t id) {
        for (const auto& control : node.controls)
            if (control.query.id == id) return &control;
        return nullptr;
    }
    static int QueryControl(const ScriptedNode& node, v4l2_queryctrl& query) {
        const ScriptedControl* found = nullptr;
        if (query.id & V4L2_CTRL_FLAG_NEXT_CTRL) {
            const std::uint32_t after = query.id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
            for (const auto& control : node.controls)
                if (control.query.id > after && (!found || control.query.id < found->query.id)) found = &control;
        } else {
            found = Find(node, query.id);
        }
        if (!found) return EINVAL;
        query = found->query;
        return 0;
    }

    std::shared_ptr<ScriptedState> m_state;
};

std::unique_ptr<CV4l2Capture> LayerOver(const std::shared_ptr<ScriptedState>& state) {
    return std::make_unique<CV4l2Capture>(std::make_unique<ScriptedV4l2>(state));
}

ScriptedNode Camera(std::string path) {
    ScriptedNode node;
    node.path = std::move(path);
    return node;
}

ScriptedControl Control(std::uint32_t id, const char* name, std::uint32_t type, std::int32_t minimum,
                        std::int32_t maximum, std::int32_t value, std::uint32_t flags = 0) {
    ScriptedControl control;
    control.query.id = id;
    control.query.type = type;
    std::strncpy(reinterpret_cast<char*>(control.query.name), name, sizeof control.query.name);
    control.query.minimum = minimum;
    control.query.maximum = maximum;
    control.query.step = 1;
    control.query.default_value = minimum;
    control.query.flags = flags;
    control.value = value;
    return control;
}

std::vector<CaptureCapability> Capabilities(ICaptureLayer& layer) {
    std::vector<CaptureCapability> all(static_cast<std::size_t>(layer.CapabilityCount()));
    for (int i = 0; i < layer.CapabilityCount(); ++i) EXPECT_TRUE(layer.GetCapability(i, all[static_cast<std::size_t>(i)]));
    return all;
}

TEST(V4l2PixelFormats, BitsPerPixelByFormatAndNoneForTheRest) {
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_MJPEG})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), 24);
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_RGB565})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), 16);
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_NV12})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), 12);
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_H264, V4L2_PIX_FMT_NV21, V4L2_PIX_FMT_JPEG,
                                 V4L2_PIX_FMT_YUV422P, std::uint32_t{0}})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), std::nullopt) << std::hex << fourcc;
}

TEST(V4l2SystemDevices, ListsOnlyCapturingNodesOfThisMachine) {
    // The machines that run the tests have no camera: nothing is listed, and nothing fails.
    std::vector<std::string> nodes = MakeSystemV4l2Device()->VideoNodes();
    auto devices = CV4l2Capture().EnumerateDevices();
    EXPECT_LE(devices.size(), nodes.size());
    if (nodes.empty()) {
        EXPECT_TRUE(devices.empty());
    }
    for (const auto& device : devices) {
        EXPECT_FALSE(device.friendlyName.empty());
        EXPECT_NE(std::find(nodes.begin(), nodes.end(), device.devicePath), nodes.end());
    }
}

TEST(V4l2SystemDevices, NodesAreVideoNumbersInNumericOrderAndFilesThatAreNoDeviceAreSkipped) {
    test::TempDir dev;
    for (const char* name : {"video10", "video2", "video0", "video", "videox", "video1a", "vbi0", "media0"})
        test::WriteFile(dev.path() / name, "not a device");
    auto device = MakeSystemV4l2Device(dev.path().string());
    EXPECT_EQ(device->VideoNodes(), (std::vector<std::string>{(dev.path() / "video0").string(),
                                                               (dev.path() / "video2").string(),
                                                               (dev.path() / "video10").string()}));
    // Regular files open but answer no VIDIOC_QUERYCAP.
    CV4l2Capture layer(std::move(device));
    EXPECT_TRUE(layer.EnumerateDevices().empty());
    EXPECT_FALSE(layer.Open(0));
    EXPECT_TRUE(MakeSystemV4l2Device((dev.path() / "missing").string())->VideoNodes().empty());
}

TEST(V4l2Enumeration, ListsCapturingNodesAndSkipsWhatCannotBeOpenedQueriedOrCapture) {
    auto state = std::make_shared<ScriptedState>();
    state->nodes.push_back(Camera("/dev/video0"));
    state->nodes.back().openFails = true;
    state->nodes.push_back(Camera("/dev/video1"));
    state->nodes.back().queryFails = true;
    state->nodes.push_back(Camera("/dev/video2"));
    state->nodes.back().capabilities = V4L2_CAP_VIDEO_OUTPUT;
    state->nodes.push_back(Camera("/dev/video3"));  // the capture node of a camera
    state->nodes.back().capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE;
    state->nodes.back().deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    state->nodes.back().card = std::string(32, 'C');  // fills the field: no terminating NUL
    state->nodes.push_back(Camera("/dev/video4"));  // its metadata node: the device as a whole captures, the node not
    state->nodes.back().capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE;
    state->nodes.back().deviceCaps = V4L2_CAP_META_CAPTURE;
    state->nodes.push_back(Camera("/dev/video5"));  // an old driver without device caps
    state->nodes.back().card = "Old Camera";
    state->nodes.back().bus = "";
    state->nodes.back().driver = "gspca";

    auto layer = LayerOver(state);
    auto devices = layer->EnumerateDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].friendlyName, std::string(32, 'C'));
    EXPECT_EQ(devices[0].description, "uvcvideo, usb-0000:00:14.0-1");
    EXPECT_EQ(devices[0].devicePath, "/dev/video3");
    EXPECT_EQ(devices[1].friendlyName, "Old Camera");
    EXPECT_EQ(devices[1].description, "gspca");
    EXPECT_EQ(devices[1].devicePath, "/dev/video5");
    EXPECT_EQ(state->openDescriptors, 0);

    // Positions count listed devices only.
    EXPECT_TRUE(layer->Open(1));
    EXPECT_EQ(state->openDescriptors, 1);
    EXPECT_FALSE(layer->Open(2));
    EXPECT_FALSE(layer->Open(-1));
    EXPECT_EQ(state->openDescriptors, 0);  // a failed Open leaves the previous device closed
    EXPECT_TRUE(layer->Open(0));
    layer->Close();
    EXPECT_EQ(state->openDescriptors, 0);
    EXPECT_EQ(layer->CapabilityCount(), 0);
    EXPECT_TRUE(layer->Controls().empty());
}

class V4l2OpenCamera : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_shared<ScriptedState>();
        state->nodes.push_back(Camera("/dev/video0"));
        ScriptedNode& node = state->nodes.back();
        node.formats.push_back({V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}, 0, {}});
        node.formats.push_back({V4L2_PIX_FMT_H264, {{1920, 1080}}, 0, {}});
        node.formats.push_back({V4L2_PIX_FMT_MJPEG, {}, V4L2_FRMSIZE_TYPE_STEPWISE, {320, 1280, 16, 240, 720, 8}});
        node.formats.push_back({V4L2_PIX_FMT_NV12, {}, V4L2_FRMSIZE_TYPE_CONTINUOUS, {100, 700, 1, 100, 500, 1}});
        node.formats.push_back({V4L2_PIX_FMT_GREY, {{640, 480}}, 0, {}});
        node.formats.push_back({V4L2_PIX_FMT_RGB24, {}, 0, {}});  // lists no sizes at all
        node.currentFormat = {{V4L2_PIX_FMT_RGB24, 0}};
        node.currentWidth = 352;
        node.currentHeight = 288;
        layer = LayerOver(state);
        ASSERT_TRUE(layer->Open(0));
    }
    ScriptedNode& Node() { return state->nodes[0]; }

    std::shared_ptr<ScriptedState> state;
    std::unique_ptr<CV4l2Capture> layer;
};

TEST_F(V4l2OpenCamera, CapabilitiesAreEveryOfferedFormatAtEverySizeInTheDriversOrder) {
    std::vector<std::tuple<int, int, int>> listed;
    for (const auto& capability : Capabilities(*layer)) {
        EXPECT_TRUE(capability.isVideo);
        listed.emplace_back(capability.biBitCount, capability.biWidth, capability.biHeight);
    }
    const std::vector<std::tuple<int, int, int>> expected = {
        {16, 640, 480}, {16, 320, 240},                                            // YUYV, discrete
        {24, 320, 240}, {24, 352, 288}, {24, 640, 480}, {24, 800, 600}, {24, 1280, 720},  // MJPEG, stepwise
        {12, 160, 120}, {12, 320, 240}, {12, 352, 288}, {12, 640, 480},           // NV12, continuous
        {24, 352, 288},                                                            // RGB24, its current size
    };
    EXPECT_EQ(listed, expected);

    CaptureCapability capability;
    EXPECT_FALSE(layer->GetCapability(-1, capability));
    EXPECT_FALSE(layer->GetCapability(layer->CapabilityCount(), capability));
}

TEST_F(V4l2OpenCamera, SetFormatAppliesPixelFormatSizeAndTimePerFrame) {
    ASSERT_TRUE(layer->SetFormat(3, 10'000'000 / 15));  // MJPEG 352x288
    ASSERT_TRUE(Node().setFormat);
    EXPECT_EQ(Node().setFormat->pixelformat, V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(Node().setFormat->width, 352u);
    EXPECT_EQ(Node().setFormat->height, 288u);
    ASSERT_EQ(Node().setIntervals.size(), 1u);
    EXPECT_EQ(Node().setIntervals[0].numerator, 1u);
    EXPECT_EQ(Node().setIntervals[0].denominator, 15u);

    ASSERT_TRUE(layer->SetFrameInterval(10'000'000 / 30));
    ASSERT_TRUE(layer->SetFrameInterval(400'001));  // no whole rate: the exact fraction
    ASSERT_TRUE(layer->SetFrameInterval(2'500'000));
    ASSERT_EQ(Node().setIntervals.size(), 4u);
    EXPECT_EQ(Node().setIntervals[1].numerator, 1u);
    EXPECT_EQ(Node().setIntervals[1].denominator, 30u);
    EXPECT_EQ(Node().setIntervals[2].numerator, 400'001u);
    EXPECT_EQ(Node().setIntervals[2].denominator, 10'000'000u);
    EXPECT_EQ(Node().setIntervals[3].numerator, 1u);
    EXPECT_EQ(Node().setIntervals[3].denominator, 4u);

    EXPECT_FALSE(layer->SetFormat(layer->CapabilityCount(), 333'333));
    EXPECT_FALSE(layer->SetFormat(0, 0));
    EXPECT_FALSE(layer->SetFrameInterval(-1));
    EXPECT_EQ(Node().setIntervals.size(), 4u);
}

TEST_F(V4l2OpenCamera, SetFormatFailsWhenTheDriverChangesTheSize) {
    Node().adjustsSize = true;
    EXPECT_FALSE(layer->SetFormat(0, 333'333));
    EXPECT_FALSE(layer->SetFrameInterval(333'333));  // no format in use
}

TEST_F(V4l2OpenCamera, ADriverWithoutFrameRatesKeepsItsOwnRate) {
    Node().timePerFrame = false;
    EXPECT_TRUE(layer->SetFormat(0, 333'333));
    EXPECT_TRUE(layer->SetFrameInterval(666'666));
    EXPECT_TRUE(Node().setIntervals.empty());
}

TEST_F(V4l2OpenCamera, RunFailsWhenTheNodeCannotStream) {
    // The scripted node exists for the ioctls only; OpenCV finds no such device.
    ASSERT_TRUE(layer->SetFormat(0, 333'333));
    EXPECT_FALSE(layer->Run());
    EXPECT_TRUE(layer->Stop());
}

TEST_F(V4l2OpenCamera, ControlsAreTheReadableIntegerBooleanAndMenuControls) {
    Node().controls = {
        Control(V4L2_CID_USER_CLASS, "User Controls", V4L2_CTRL_TYPE_CTRL_CLASS, 0, 0, 0),
        Control(V4L2_CID_BRIGHTNESS, "Brightness", V4L2_CTRL_TYPE_INTEGER, -64, 64, 10),
        Control(V4L2_CID_CONTRAST, "Contrast", V4L2_CTRL_TYPE_INTEGER, 0, 100, 50, V4L2_CTRL_FLAG_DISABLED),
        Control(V4L2_CID_SATURATION, "Saturation", V4L2_CTRL_TYPE_INTEGER, 0, 100, 60),
        Control(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance, Auto", V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1),
        Control(V4L2_CID_DO_WHITE_BALANCE, "Do White Balance", V4L2_CTRL_TYPE_BUTTON, 0, 0, 0),
        Control(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", V4L2_CTRL_TYPE_MENU, 0, 2, 1),
        Control(V4L2_CID_PAN_RELATIVE, "Pan, Relative", V4L2_CTRL_TYPE_INTEGER, -10, 10, 0,
                V4L2_CTRL_FLAG_WRITE_ONLY),
        Control(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure (Absolute)", V4L2_CTRL_TYPE_INTEGER, 1, 5000, 156,
                V4L2_CTRL_FLAG_READ_ONLY),
        Control(V4L2_CID_PIXEL_RATE, "Pixel Rate", V4L2_CTRL_TYPE_INTEGER64, 0, 0, 0),
    };
    Node().controls[3].readFails = true;  // saturation
    Node().controls[9].query.name[0] = 0;

    std::vector<std::uint32_t> ids;
    for (const auto& control : layer->Controls()) ids.push_back(control.id);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{V4L2_CID_BRIGHTNESS, V4L2_CID_AUTO_WHITE_BALANCE,
                                                V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CID_EXPOSURE_ABSOLUTE}));
    const CaptureControl brightness = layer->Controls().at(0);
    EXPECT_EQ(brightness.name, "Brightness");
    EXPECT_EQ(brightness.minimum, -64);
    EXPECT_EQ(brightness.maximum, 64);
    EXPECT_EQ(brightness.step, 1);
    EXPECT_EQ(brightness.defaultValue, -64);
    EXPECT_EQ(brightness.value, 10);

    EXPECT_TRUE(layer->SetControl(V4L2_CID_BRIGHTNESS, -64));
    EXPECT_TRUE(layer->SetControl(V4L2_CID_POWER_LINE_FREQUENCY, 2));
    EXPECT_FALSE(layer->SetControl(V4L2_CID_BRIGHTNESS, 65));           // outside the range
    EXPECT_FALSE(layer->SetControl(V4L2_CID_POWER_LINE_FREQUENCY, -1));
    EXPECT_FALSE(layer->SetControl(V4L2_CID_CONTRAST, 10));             // disabled
    EXPECT_FALSE(layer->SetControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100));   // read-only
    EXPECT_FALSE(layer->SetControl(V4L2_CID_DO_WHITE_BALANCE, 0));      // not a value
    EXPECT_FALSE(layer->SetControl(V4L2_CID_HUE, 0));                   // unknown
    EXPECT_EQ(Node().setControls, (std::map<std::uint32_t, std::int32_t>{{V4L2_CID_BRIGHTNESS, -64},
                                                                          {V4L2_CID_POWER_LINE_FREQUENCY, 2}}));
}

}  // namespace
