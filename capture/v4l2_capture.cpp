#include "v4l2_capture.h"

#include "frame_conversion.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <utility>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "camera_frame.h"

namespace {

class SystemV4l2Device final : public IV4l2Device {
public:
    explicit SystemV4l2Device(std::string devDirectory) : m_devDirectory(std::move(devDirectory)) {}

    std::vector<std::string> VideoNodes() override {
        std::vector<std::pair<unsigned, std::string>> numbered;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(m_devDirectory, error)) {
            const std::string name = entry.path().filename().string();
            if (name.size() <= 5 || name.compare(0, 5, "video") != 0) continue;
            unsigned number = 0;
            const char* first = name.data() + 5;
            const char* last = name.data() + name.size();
            auto [end, result] = std::from_chars(first, last, number);
            if (result != std::errc() || end != last) continue;
            numbered.emplace_back(number, entry.path().string());
        }
        std::sort(numbered.begin(), numbered.end());
        std::vector<std::string> nodes;
        for (auto& [number, path] : numbered) nodes.push_back(std::move(path));
        return nodes;
    }

    int Open(const std::string& path) override { return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC); }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        int result;
        do result = ::ioctl(fd, request, arg);
        while (result == -1 && errno == EINTR);
        return result == -1 ? errno : 0;
    }

    void Close(int fd) override { ::close(fd); }

private:
    std::string m_devDirectory;
};

// Driver strings are fixed-size arrays that need not end in a NUL.
template <std::size_t N>
std::string FixedString(const __u8 (&text)[N]) {
    const char* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, N));
}
template <std::size_t N>
std::string FixedString(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// The sizes offered from a stepwise or continuous range: the usual webcam sizes that fit it.
constexpr std::pair<std::uint32_t, std::uint32_t> kCommonSizes[] = {
    {160, 120}, {320, 240}, {352, 288}, {640, 480}, {800, 600}, {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080},
};

bool InRange(std::uint32_t value, std::uint32_t minimum, std::uint32_t maximum, std::uint32_t step) {
    if (value < minimum || value > maximum) return false;
    return step <= 1 || (value - minimum) % step == 0;
}

// 100-ns units as a reduced fraction of a second that fits the kernel's 32-bit fields.
std::optional<v4l2_fract> TimePerFrame(std::int64_t frameInterval100ns) {
    if (frameInterval100ns <= 0) return std::nullopt;
    // 10,000,000 / fps truncates; a whole rate is given back as 1/fps, as drivers list theirs.
    const std::int64_t framesPerSecond = std::llround(10'000'000.0 / static_cast<double>(frameInterval100ns));
    if (framesPerSecond > 0 && 10'000'000 / framesPerSecond == frameInterval100ns)
        return v4l2_fract{1, static_cast<__u32>(framesPerSecond)};
    const std::int64_t divisor = std::gcd(frameInterval100ns, std::int64_t{10'000'000});
    const std::int64_t numerator = frameInterval100ns / divisor;
    const std::int64_t denominator = 10'000'000 / divisor;
    if (numerator > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return v4l2_fract{static_cast<__u32>(numerator), static_cast<__u32>(denominator)};
}

// OpenCV's V4L2 backend takes whole frames per second.
double FramesPerSecond(std::int64_t frameInterval100ns) {
    return std::max(1.0, std::round(10'000'000.0 / static_cast<double>(frameInterval100ns)));
}

// The control types the settings dialog can show; others (strings, 64-bit values, class
// headings) are left out.
std::optional<CaptureControl::Kind> ControlKind(std::uint32_t type) {
    switch (type) {
        case V4L2_CTRL_TYPE_INTEGER:
            return CaptureControl::Kind::Integer;
        case V4L2_CTRL_TYPE_BOOLEAN:
            return CaptureControl::Kind::Boolean;
        case V4L2_CTRL_TYPE_MENU:
            return CaptureControl::Kind::Menu;
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            return CaptureControl::Kind::IntegerMenu;
        case V4L2_CTRL_TYPE_BUTTON:
            return CaptureControl::Kind::Button;
        default:
            return std::nullopt;
    }
}

// The entries of a menu control; drivers may leave gaps in the index range, which are skipped.
std::vector<CaptureControl::MenuEntry> MenuEntries(IV4l2Device& device, int fd, const v4l2_queryctrl& control) {
    std::vector<CaptureControl::MenuEntry> entries;
    for (std::int64_t index = control.minimum; index <= control.maximum; ++index) {
        v4l2_querymenu item{};
        item.id = control.id;
        item.index = static_cast<__u32>(index);
        if (device.Ioctl(fd, VIDIOC_QUERYMENU, &item) != 0) continue;
        const std::string text = control.type == V4L2_CTRL_TYPE_INTEGER_MENU
                                     ? std::to_string(static_cast<long long>(item.value))
                                     : FixedString(item.name);
        entries.push_back({static_cast<std::int32_t>(index), text});
    }
    return entries;
}

// "640 x 480 YUYV": a mode as the log shows it.
std::string ModeText(std::uint32_t width, std::uint32_t height, std::uint32_t fourcc) {
    std::string text = std::to_string(width) + " x " + std::to_string(height) + " ";
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((fourcc >> shift) & 0xff);
        text += c > ' ' && c < 0x7f ? c : '?';
    }
    return text;
}

std::string RateText(double framesPerSecond) {
    return std::to_string(std::lround(framesPerSecond)) + " frames a second";
}
std::string RateText(std::int64_t frameInterval100ns) { return RateText(FramesPerSecond(frameInterval100ns)); }

bool CanCapture(const v4l2_capability& capability) {
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

}  // namespace

std::unique_ptr<IV4l2Device> MakeSystemV4l2Device(std::string devDirectory) {
    return std::make_unique<SystemV4l2Device>(std::move(devDirectory));
}

std::optional<std::uint16_t> V4l2BitsPerPixel(std::uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24:
        case V4L2_PIX_FMT_MJPEG:
            return 24;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
        case V4L2_PIX_FMT_RGB565:
            return 16;
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
        case V4L2_PIX_FMT_NV12:
            return 12;
        default:
            return std::nullopt;
    }
}

CV4l2Capture::CV4l2Capture() : CV4l2Capture(MakeSystemV4l2Device()) {}

CV4l2Capture::CV4l2Capture(std::unique_ptr<IV4l2Device> device) : m_device(std::move(device)) {}

CV4l2Capture::~CV4l2Capture() { Close(); }

std::vector<CV4l2Capture::Node> CV4l2Capture::CapturingNodes() {
    std::vector<Node> nodes;
    for (const std::string& path : m_device->VideoNodes()) {
        const int fd = m_device->Open(path);
        if (fd < 0) continue;
        v4l2_capability capability{};
        const bool described = m_device->Ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
        m_device->Close(fd);
        if (!described || !CanCapture(capability)) continue;
        Node node;
        node.path = path;
        node.info.friendlyName = FixedString(capability.card);
        node.info.description = FixedString(capability.driver);
        const std::string bus = FixedString(capability.bus_info);
        if (!bus.empty()) node.info.description += ", " + bus;
        node.info.devicePath = path;
        nodes.push_back(std::move(node));
    }
    return nodes;
}

std::vector<CaptureDeviceInfo> CV4l2Capture::EnumerateDevices() {
    std::vector<CaptureDeviceInfo> devices;
    for (Node& node : CapturingNodes()) devices.push_back(std::move(node.info));
    return devices;
}

std::vector<V4l2Mode> CV4l2Capture::ListModes(int fd) {
    std::vector<V4l2Mode> modes;
    for (__u32 formatIndex = 0;; ++formatIndex) {
        v4l2_fmtdesc format{};
        format.index = formatIndex;
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (m_device->Ioctl(fd, VIDIOC_ENUM_FMT, &format) != 0) break;
        const auto bits = V4l2BitsPerPixel(format.pixelformat);
        if (!bits) continue;
        auto add = [&](std::uint32_t width, std::uint32_t height) {
            if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return;
            modes.push_back(
                {format.pixelformat, *bits, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)});
        };

        bool listedSizes = false;
        for (__u32 sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size{};
            size.index = sizeIndex;
            size.pixel_format = format.pixelformat;
            if (m_device->Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
            listedSizes = true;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(size.discrete.width, size.discrete.height);
                continue;
            }
            // A range is described once, at index 0.
            const v4l2_frmsize_stepwise& range = size.stepwise;
            const bool continuous = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
            for (const auto& [width, height] : kCommonSizes) {
                if (InRange(width, range.min_width, range.max_width, continuous ? 1 : range.step_width) &&
                    InRange(height, range.min_height, range.max_height, continuous ? 1 : range.step_height))
                    add(width, height);
            }
            break;
        }
        if (listedSizes) continue;
        // A driver that cannot list sizes still tells the one in use.
        v4l2_format current{};
        current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (m_device->Ioctl(fd, VIDIOC_G_FMT, &current) == 0 && current.fmt.pix.pixelformat == format.pixelformat)
            add(current.fmt.pix.width, current.fmt.pix.height);
    }
    return modes;
}

bool CV4l2Capture::Open(int deviceIndex) {
    Close();
    if (deviceIndex < 0) return false;
    std::vector<Node> nodes = CapturingNodes();
    if (deviceIndex >= static_cast<int>(nodes.size())) return false;
    const std::string& path = nodes[static_cast<std::size_t>(deviceIndex)].path;
    const int fd = m_device->Open(path);
    if (fd < 0) return false;
    v4l2_capability capability{};
    if (m_device->Ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0 || !CanCapture(capability)) {
        m_device->Close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_modes = ListModes(fd);
    return true;
}

int CV4l2Capture::CapabilityCount() { return static_cast<int>(m_modes.size()); }

bool CV4l2Capture::GetCapability(int index, CaptureCapability& capability) {
    if (index < 0 || index >= CapabilityCount()) return false;
    const V4l2Mode& mode = m_modes[static_cast<std::size_t>(index)];
    capability.isVideo = true;
    capability.biBitCount = mode.bits;
    capability.biWidth = mode.width;
    capability.biHeight = mode.height;
    return true;
}

void CV4l2Capture::Log(const std::string& line) const {
    if (m_log) m_log(line);
}

bool CV4l2Capture::ApplyInterval(std::int64_t frameInterval100ns) {
    const auto timePerFrame = TimePerFrame(frameInterval100ns);
    if (!timePerFrame) return false;
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_device->Ioctl(m_fd, VIDIOC_G_PARM, &parameters) != 0 ||
        !(parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        // The driver keeps its own rate; frames still come, only their pace is not ours.
        Log("Camera keeps its own frame rate: its driver cannot set " + RateText(frameInterval100ns));
        m_interval = frameInterval100ns;
        return true;
    }
    parameters.parm.capture.timeperframe = *timePerFrame;
    if (const int error = m_device->Ioctl(m_fd, VIDIOC_S_PARM, &parameters); error != 0) {
        Log("Camera refused " + RateText(frameInterval100ns) + ": " + std::strerror(error));
        return false;
    }
    // Drivers take the nearest rate they offer and write it back.
    const v4l2_fract given = parameters.parm.capture.timeperframe;
    if (std::uint64_t{given.numerator} * timePerFrame->denominator !=
        std::uint64_t{given.denominator} * timePerFrame->numerator)
        Log("Camera runs at " +
            (given.numerator ? RateText(double(given.denominator) / given.numerator) : "its own rate") + ", not the " +
            RateText(frameInterval100ns) + " asked");
    m_interval = frameInterval100ns;
    return true;
}

bool CV4l2Capture::SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) {
    if (m_fd < 0 || capabilityIndex < 0 || capabilityIndex >= CapabilityCount()) return false;
    if (!TimePerFrame(frameInterval100ns)) return false;
    const bool wasRunning = m_thread.joinable();
    if (wasRunning && !Stop()) return false;

    const V4l2Mode& mode = m_modes[static_cast<std::size_t>(capabilityIndex)];
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = mode.fourcc;
    format.fmt.pix.width = static_cast<__u32>(mode.width);
    format.fmt.pix.height = static_cast<__u32>(mode.height);
    format.fmt.pix.field = V4L2_FIELD_ANY;
    const std::string wanted = ModeText(format.fmt.pix.width, format.fmt.pix.height, mode.fourcc);
    if (const int error = m_device->Ioctl(m_fd, VIDIOC_S_FMT, &format); error != 0) {
        Log("Camera refused " + wanted + ": " + std::strerror(error));
        return false;
    }
    // Frames must have the chosen size, so a driver that adjusts the request has refused it.
    if (format.fmt.pix.pixelformat != mode.fourcc || format.fmt.pix.width != static_cast<__u32>(mode.width) ||
        format.fmt.pix.height != static_cast<__u32>(mode.height)) {
        Log("Camera refused " + wanted + ": its driver offers " +
            ModeText(format.fmt.pix.width, format.fmt.pix.height, format.fmt.pix.pixelformat) + " instead");
        return false;
    }
    m_mode = mode;
    // The format is in use whatever the rate: a rate refused was logged and the driver's stays.
    ApplyInterval(frameInterval100ns);
    return wasRunning ? Run() : true;
}

bool CV4l2Capture::SetFrameInterval(std::int64_t frameInterval100ns) {
    if (m_fd < 0 || !m_mode || !TimePerFrame(frameInterval100ns)) return false;
    if (m_thread.joinable()) {
        // The driver refuses a new rate while streaming; the streaming thread restarts its stream.
        m_interval = frameInterval100ns;
        m_pendingInterval.store(frameInterval100ns);
        return true;
    }
    return ApplyInterval(frameInterval100ns);
}

void CV4l2Capture::SetFrameCallback(CaptureFrameCallback callback) { m_callback = std::move(callback); }

bool CV4l2Capture::StartStream() {
    auto capture = std::make_unique<cv::VideoCapture>();
    if (!capture->open(m_path, cv::CAP_V4L2)) return false;
    if (m_mode) {
        capture->set(cv::CAP_PROP_FOURCC, m_mode->fourcc);  // V4L2 and OpenCV share the encoding
        capture->set(cv::CAP_PROP_FRAME_WIDTH, m_mode->width);
        capture->set(cv::CAP_PROP_FRAME_HEIGHT, m_mode->height);
    }
    if (!capture->isOpened()) return false;
    if (m_interval > 0 && !capture->set(cv::CAP_PROP_FPS, FramesPerSecond(m_interval)))
        Log("Camera refused " + RateText(m_interval) + " when delivery started");
    m_capture = std::move(capture);
    return true;
}

bool CV4l2Capture::Run() {
    if (m_fd < 0) return false;
    if (m_thread.joinable()) {
        if (m_streaming.load()) return true;
        m_thread.join();  // delivery ended on its own (the camera stopped answering): start afresh
        m_capture.reset();
    }
    if (!StartStream()) return false;
    m_stopRequested.store(false);
    m_streaming.store(true);
    m_pendingInterval.store(0);
    m_thread = std::thread(&CV4l2Capture::Stream, this, m_callback);
    return true;
}

void CV4l2Capture::ChangeRate(cv::VideoCapture& capture, std::int64_t frameInterval100ns) const {
    if (!capture.set(cv::CAP_PROP_FPS, FramesPerSecond(frameInterval100ns))) {
        Log("Camera refused " + RateText(frameInterval100ns) + " while delivering");
        return;
    }
    // The backend reads back the rate the driver settled on.
    if (const double given = capture.get(cv::CAP_PROP_FPS);
        std::lround(given) != std::lround(FramesPerSecond(frameInterval100ns)))
        Log("Camera runs at " + RateText(given) + ", not the " + RateText(frameInterval100ns) + " asked");
}

void CV4l2Capture::Stream(CaptureFrameCallback callback) {
    // A camera that stops answering (unplugged) ends delivery rather than spinning.
    constexpr int kMaxFailedReads = 50;
    cv::VideoCapture& capture = *m_capture;
    cv::Mat frame;
    cv::Mat sized;
    std::vector<std::uint8_t> sample;
    int failedReads = 0;
    while (!m_stopRequested.load()) {
        if (const std::int64_t interval = m_pendingInterval.exchange(0); interval > 0) ChangeRate(capture, interval);
        if (!capture.read(frame) || frame.empty()) {
            if (++failedReads >= kMaxFailedReads) {
                Log("Camera delivery ended: " + std::to_string(kMaxFailedReads) + " reads in a row brought no frame");
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        failedReads = 0;
        // Every frame must have the chosen format's length, whatever the backend settled on.
        const cv::Size size = m_mode ? cv::Size(m_mode->width, m_mode->height) : frame.size();
        const std::uint8_t* colour = DecodedToLayout(frame, size, sized, sample);
        if (!colour || !callback) continue;
        try {
            ColourFrame handed(colour, size.width, size.height);
            callback(handed);
        } catch (...) {
            break;  // a handler that throws broke its contract; no further frame can be trusted to it
        }
    }
    m_streaming.store(false);
}

bool CV4l2Capture::Stop() {
    if (!m_thread.joinable()) return true;
    m_stopRequested.store(true);
    if (m_thread.get_id() == std::this_thread::get_id()) return false;
    m_thread.join();
    m_capture.reset();
    return true;
}

std::vector<CaptureControl> CV4l2Capture::Controls() {
    std::vector<CaptureControl> controls;
    if (m_fd < 0) return controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (m_device->Ioctl(m_fd, VIDIOC_QUERYCTRL, &query) == 0) {
        const v4l2_queryctrl found = query;
        query = {};
        query.id = found.id | V4L2_CTRL_FLAG_NEXT_CTRL;
        const auto kind = ControlKind(found.type);
        if (!kind || (found.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_WRITE_ONLY))) continue;
        CaptureControl control;
        control.id = found.id;
        control.name = FixedString(found.name);
        control.kind = *kind;
        control.minimum = found.minimum;
        control.maximum = found.maximum;
        control.step = std::max<std::int32_t>(1, found.step);
        control.defaultValue = found.default_value;
        control.inactive = (found.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
        control.readOnly = (found.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
        if (*kind == CaptureControl::Kind::Menu || *kind == CaptureControl::Kind::IntegerMenu)
            control.menu = MenuEntries(*m_device, m_fd, found);
        if (*kind != CaptureControl::Kind::Button) {
            v4l2_control value{};
            value.id = found.id;
            if (const int error = m_device->Ioctl(m_fd, VIDIOC_G_CTRL, &value); error != 0)
                control.error = std::strerror(error);
            else
                control.value = value.value;
        }
        controls.push_back(std::move(control));
    }
    return controls;
}

bool CV4l2Capture::SetControl(std::uint32_t id, std::int32_t value, std::string& error) {
    if (m_fd < 0) {
        error = "the camera is not open";
        return false;
    }
    v4l2_queryctrl query{};
    query.id = id;
    if (const int failed = m_device->Ioctl(m_fd, VIDIOC_QUERYCTRL, &query); failed != 0 || query.id != id) {
        error = failed != 0 ? std::strerror(failed) : "no such control";
        return false;
    }
    if (!ControlKind(query.type) || (query.flags & V4L2_CTRL_FLAG_DISABLED)) {
        error = "not a control that can be set here";
        return false;
    }
    if (query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED | V4L2_CTRL_FLAG_INACTIVE)) {
        error = (query.flags & V4L2_CTRL_FLAG_INACTIVE) ? "inactive while another setting rules it" : "read-only";
        return false;
    }
    if (query.type != V4L2_CTRL_TYPE_BUTTON && (value < query.minimum || value > query.maximum)) {
        error = "outside " + std::to_string(query.minimum) + ".." + std::to_string(query.maximum);
        return false;
    }
    v4l2_control control{};
    control.id = id;
    control.value = value;
    if (const int failed = m_device->Ioctl(m_fd, VIDIOC_S_CTRL, &control); failed != 0) {
        error = std::strerror(failed);
        return false;
    }
    return true;
}

void CV4l2Capture::Close() {
    Stop();
    if (m_thread.joinable()) return;  // called from the frame callback; the thread still runs
    if (m_fd >= 0) m_device->Close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_modes.clear();
    m_mode.reset();
    m_interval = 0;
}
