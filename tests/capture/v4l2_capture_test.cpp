#include "v4l2_capture.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
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
    bool openFails = false, queryFails = false;
    std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::optional<std::uint32_t> deviceCaps;  // sets V4L2_CAP_DEVICE_CAPS
    std::string driver = "uvcvideo", card = "Scripted Camera", bus = "usb-0000:00:14.0-1";
    std::vector<ScriptedFormat> formats;
    v4l2_pix_format current{};  // what G_FMT tells
    bool timePerFrame = true;
    bool adjustsSize = false;  // S_FMT answers with another size
    std::vector<ScriptedControl> controls;
    // What the layer set.
    std::optional<v4l2_pix_format> setFormat;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> setIntervals;
    std::map<std::uint32_t, std::int32_t> setControls;
};

void CopyText(const std::string& text, __u8* field, std::size_t size) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size));  // full-width text has no NUL
}

// A /dev of scripted nodes; the descriptor of node i is 100 + i.
class ScriptedV4l2 final : public IV4l2Device {
public:
    ScriptedV4l2(std::vector<ScriptedNode>& nodes, int& openDescriptors) : m_nodes(nodes), m_open(openDescriptors) {}

    std::vector<std::string> VideoNodes() override {
        std::vector<std::string> paths;
        for (const auto& node : m_nodes) paths.push_back(node.path);
        return paths;
    }
    int Open(const std::string& path) override {
        for (std::size_t i = 0; i < m_nodes.size(); ++i) {
            if (m_nodes[i].path != path || m_nodes[i].openFails) continue;
            ++m_open;
            return 100 + static_cast<int>(i);
        }
        return -1;
    }
    void Close(int) override { --m_open; }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        ScriptedNode& node = m_nodes.at(static_cast<std::size_t>(fd - 100));
        switch (request) {
            case VIDIOC_QUERYCAP: {
                if (node.queryFails) return ENOTTY;
                auto& cap = *static_cast<v4l2_capability*>(arg);
                CopyText(node.driver, cap.driver, sizeof cap.driver);
                CopyText(node.card, cap.card, sizeof cap.card);
                CopyText(node.bus, cap.bus_info, sizeof cap.bus_info);
                cap.capabilities = node.capabilities | (node.deviceCaps ? V4L2_CAP_DEVICE_CAPS : 0);
                cap.device_caps = node.deviceCaps.value_or(0);
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto& format = *static_cast<v4l2_fmtdesc*>(arg);
                if (format.index >= node.formats.size()) return EINVAL;
                format.pixelformat = node.formats[format.index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto& size = *static_cast<v4l2_frmsizeenum*>(arg);
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
            case VIDIOC_G_FMT: static_cast<v4l2_format*>(arg)->fmt.pix = node.current; return 0;
            case VIDIOC_S_FMT: {
                auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
                if (node.adjustsSize) pix.width += 8;
                node.setFormat = pix;
                return 0;
            }
            case VIDIOC_G_PARM:
                static_cast<v4l2_streamparm*>(arg)->parm.capture.capability = node.timePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
                return 0;
            case VIDIOC_S_PARM: {
                const v4l2_fract f = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
                node.setIntervals.emplace_back(f.numerator, f.denominator);
                return 0;
            }
            case VIDIOC_QUERYCTRL: {
                auto& query = *static_cast<v4l2_queryctrl*>(arg);
                const ScriptedControl* found = nullptr;
                const bool next = query.id & V4L2_CTRL_FLAG_NEXT_CTRL;
                const std::uint32_t id = query.id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
                for (const auto& c : node.controls)  // scripted in ascending id
                    if (next ? c.query.id > id && !found : c.query.id == id) found = &c;
                if (!found) return EINVAL;
                query = found->query;
                return 0;
            }
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
    static const ScriptedControl* Find(const ScriptedNode& node, std::uint32_t id) {
        for (const auto& control : node.controls)
            if (control.query.id == id) return &control;
        return nullptr;
    }

    std::vector<ScriptedNode>& m_nodes;
    int& m_open;
};

ScriptedControl Control(std::uint32_t id, std::uint32_t type, std::int32_t minimum, std::int32_t maximum,
                        std::int32_t value, std::uint32_t flags = 0) {
    ScriptedControl control;
    control.query.id = id;
    control.query.type = type;
    control.query.minimum = control.query.default_value = minimum;
    control.query.maximum = maximum;
    control.query.step = 1;
    control.query.flags = flags;
    std::snprintf(reinterpret_cast<char*>(control.query.name), sizeof control.query.name, "Control %x", id);
    control.value = value;
    return control;
}

// Scripted nodes and the layer over them.
struct ScriptedDev {
    explicit ScriptedDev(std::vector<ScriptedNode> scripted) : nodes(std::move(scripted)) {}
    std::vector<ScriptedNode> nodes;
    int openDescriptors = 0;
    CV4l2Capture layer{std::make_unique<ScriptedV4l2>(nodes, openDescriptors)};
};

TEST(V4l2PixelFormats, BitsPerPixelByFormatAndNoneForTheRest) {
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_MJPEG})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), 24);
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_RGB565})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), 16);
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_NV12})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), 12);
    for (std::uint32_t fourcc : {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_H264, V4L2_PIX_FMT_NV21, std::uint32_t{0}})
        EXPECT_EQ(V4l2BitsPerPixel(fourcc), std::nullopt) << std::hex << fourcc;
}

TEST(V4l2SystemDevices, ListsVideoNodesInNumericOrderAndNoCameraOnThisMachine) {
    // The machines that run the tests have no camera: nothing is listed, and nothing fails.
    const std::vector<std::string> nodes = MakeSystemV4l2Device()->VideoNodes();
    const auto devices = CV4l2Capture().EnumerateDevices();
    EXPECT_TRUE(devices.empty() || !nodes.empty());
    for (const auto& device : devices) EXPECT_NE(std::find(nodes.begin(), nodes.end(), device.devicePath), nodes.end());

    test::TempDir dev;
    for (const char* name : {"video10", "video2", "video0", "video", "videox", "video1a", "vbi0"})
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
    std::vector<ScriptedNode> nodes(6);
    for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i].path = "/dev/video" + std::to_string(i);
    nodes[0].openFails = true;
    nodes[1].queryFails = true;
    nodes[2].capabilities = V4L2_CAP_VIDEO_OUTPUT;
    // A camera's capture node, then its metadata node: the device as a whole captures, the node not.
    nodes[3].capabilities = nodes[4].capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE;
    nodes[3].deviceCaps = V4L2_CAP_VIDEO_CAPTURE;
    nodes[4].deviceCaps = V4L2_CAP_META_CAPTURE;
    nodes[3].card = std::string(32, 'C');  // fills the field: no terminating NUL
    nodes[5].card = "Old Camera";  // an old driver without device caps
    nodes[5].bus = "";
    nodes[5].driver = "gspca";
    ScriptedDev dev(nodes);

    auto devices = dev.layer.EnumerateDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(std::tie(devices[0].friendlyName, devices[0].description, devices[0].devicePath),
              std::make_tuple(std::string(32, 'C'), "uvcvideo, usb-0000:00:14.0-1", "/dev/video3"));
    EXPECT_EQ(std::tie(devices[1].friendlyName, devices[1].description, devices[1].devicePath),
              std::make_tuple("Old Camera", "gspca", "/dev/video5"));
    EXPECT_EQ(dev.openDescriptors, 0);

    // Positions count listed devices only; a failed Open leaves the previous device closed.
    EXPECT_TRUE(dev.layer.Open(1));
    EXPECT_EQ(dev.openDescriptors, 1);
    EXPECT_FALSE(dev.layer.Open(2));
    EXPECT_FALSE(dev.layer.Open(-1));
    EXPECT_EQ(dev.openDescriptors, 0);
    EXPECT_TRUE(dev.layer.Open(0));
    dev.layer.Close();
    EXPECT_EQ(dev.openDescriptors, 0);
    EXPECT_EQ(dev.layer.CapabilityCount(), 0);
}

class V4l2OpenCamera : public ::testing::Test {
protected:
    static std::vector<ScriptedNode> Camera() {
        ScriptedNode node;
        node.path = "/dev/video0";
        node.formats = {
            {V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}, 0, {}},
            {V4L2_PIX_FMT_H264, {{1920, 1080}}, 0, {}},
            {V4L2_PIX_FMT_MJPEG, {}, V4L2_FRMSIZE_TYPE_STEPWISE, {320, 1280, 16, 240, 720, 8}},
            {V4L2_PIX_FMT_NV12, {}, V4L2_FRMSIZE_TYPE_CONTINUOUS, {100, 700, 1, 100, 500, 1}},
            {V4L2_PIX_FMT_GREY, {{640, 480}}, 0, {}},
            {V4L2_PIX_FMT_RGB24, {}, 0, {}},  // lists no sizes at all
        };
        node.current.pixelformat = V4L2_PIX_FMT_RGB24;
        node.current.width = 352;
        node.current.height = 288;
        return {node};
    }
    void SetUp() override { ASSERT_TRUE(dev.layer.Open(0)); }
    ScriptedNode& Node() { return dev.nodes[0]; }

    ScriptedDev dev{Camera()};
};

TEST_F(V4l2OpenCamera, CapabilitiesAreEveryOfferedFormatAtEverySizeInTheDriversOrder) {
    std::vector<std::tuple<int, int, int>> listed;
    CaptureCapability capability;
    for (int i = 0; dev.layer.GetCapability(i, capability); ++i) {
        EXPECT_TRUE(capability.isVideo);
        listed.emplace_back(capability.biBitCount, capability.biWidth, capability.biHeight);
    }
    const std::vector<std::tuple<int, int, int>> expected = {
        {16, 640, 480}, {16, 320, 240},                                                   // YUYV, discrete
        {24, 320, 240}, {24, 352, 288}, {24, 640, 480}, {24, 800, 600}, {24, 1280, 720},  // MJPEG, stepwise
        {12, 160, 120}, {12, 320, 240}, {12, 352, 288}, {12, 640, 480},                   // NV12, continuous
        {24, 352, 288},                                                                   // RGB24, its current size
    };
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(dev.layer.CapabilityCount(), 12);
    EXPECT_FALSE(dev.layer.GetCapability(-1, capability));
}

TEST_F(V4l2OpenCamera, SetFormatAppliesPixelFormatSizeAndTimePerFrame) {
    using Fractions = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    // A driver that adjusts the size has refused it, and leaves no format in use.
    Node().adjustsSize = true;
    EXPECT_FALSE(dev.layer.SetFormat(0, 333'333));
    EXPECT_FALSE(dev.layer.SetFrameInterval(333'333));
    Node().adjustsSize = false;

    ASSERT_TRUE(dev.layer.SetFormat(3, 10'000'000 / 15));  // MJPEG 352x288
    ASSERT_TRUE(Node().setFormat);
    EXPECT_EQ(std::tie(Node().setFormat->pixelformat, Node().setFormat->width, Node().setFormat->height),
              std::make_tuple(V4L2_PIX_FMT_MJPEG, 352u, 288u));
    ASSERT_TRUE(dev.layer.SetFrameInterval(10'000'000 / 30));
    ASSERT_TRUE(dev.layer.SetFrameInterval(400'001));  // no whole rate: the exact fraction
    ASSERT_TRUE(dev.layer.SetFrameInterval(2'500'000));
    EXPECT_EQ(Node().setIntervals, (Fractions{{1, 15}, {1, 30}, {400'001, 10'000'000}, {1, 4}}));

    EXPECT_FALSE(dev.layer.SetFormat(dev.layer.CapabilityCount(), 333'333));
    EXPECT_FALSE(dev.layer.SetFormat(0, 0));
    EXPECT_FALSE(dev.layer.SetFrameInterval(-1));
    EXPECT_EQ(Node().setIntervals.size(), 4u);

    // A driver without frame rates keeps its own.
    Node().timePerFrame = false;
    EXPECT_TRUE(dev.layer.SetFormat(0, 333'333));
    EXPECT_TRUE(dev.layer.SetFrameInterval(666'666));
    EXPECT_EQ(Node().setIntervals.size(), 4u);

    // The scripted node exists for the ioctls only; OpenCV finds no such device to stream.
    EXPECT_FALSE(dev.layer.Run());
    EXPECT_TRUE(dev.layer.Stop());
}

TEST_F(V4l2OpenCamera, ControlsAreTheReadableIntegerBooleanAndMenuControls) {
    Node().controls = {
        Control(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, 0, 0, 0),
        Control(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, -64, 64, 10),
        Control(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, 0, 100, 50, V4L2_CTRL_FLAG_DISABLED),
        Control(V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, 0, 100, 60),
        Control(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1),
        Control(V4L2_CID_DO_WHITE_BALANCE, V4L2_CTRL_TYPE_BUTTON, 0, 0, 0),
        Control(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, 0, 2, 1),
        Control(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, 1, 5000, 156, V4L2_CTRL_FLAG_READ_ONLY),
        Control(V4L2_CID_PAN_RELATIVE, V4L2_CTRL_TYPE_INTEGER, -10, 10, 0, V4L2_CTRL_FLAG_WRITE_ONLY),
        Control(V4L2_CID_PIXEL_RATE, V4L2_CTRL_TYPE_INTEGER64, 0, 0, 0),
    };
    Node().controls[3].readFails = true;  // saturation

    const std::vector<CaptureControl> controls = dev.layer.Controls();
    std::vector<std::uint32_t> ids;
    for (const auto& control : controls) ids.push_back(control.id);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{V4L2_CID_BRIGHTNESS, V4L2_CID_AUTO_WHITE_BALANCE,
                                                V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CID_EXPOSURE_ABSOLUTE}));
    const CaptureControl& b = controls.at(0);
    EXPECT_EQ(std::tie(b.name, b.minimum, b.maximum, b.step, b.defaultValue, b.value),
              std::make_tuple("Control 980900", -64, 64, 1, -64, 10));

    EXPECT_TRUE(dev.layer.SetControl(V4L2_CID_BRIGHTNESS, -64));
    EXPECT_TRUE(dev.layer.SetControl(V4L2_CID_POWER_LINE_FREQUENCY, 2));
    EXPECT_FALSE(dev.layer.SetControl(V4L2_CID_BRIGHTNESS, 65));  // outside the range
    EXPECT_FALSE(dev.layer.SetControl(V4L2_CID_POWER_LINE_FREQUENCY, -1));
    EXPECT_FALSE(dev.layer.SetControl(V4L2_CID_CONTRAST, 10));            // disabled
    EXPECT_FALSE(dev.layer.SetControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100));  // read-only
    EXPECT_FALSE(dev.layer.SetControl(V4L2_CID_DO_WHITE_BALANCE, 0));     // not a value
    EXPECT_FALSE(dev.layer.SetControl(V4L2_CID_HUE, 0));                  // unknown
    EXPECT_EQ(Node().setControls, (std::map<std::uint32_t, std::int32_t>{{V4L2_CID_BRIGHTNESS, -64},
                                                                          {V4L2_CID_POWER_LINE_FREQUENCY, 2}}));
    dev.layer.Close();
    EXPECT_TRUE(dev.layer.Controls().empty());
}

}  // namespace
