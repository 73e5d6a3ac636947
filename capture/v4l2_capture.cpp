#include "capture/v4l2_capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <new>
#include <numeric>
#include <utility>

#include "base/camera_frame.h"
#include "capture/driver_text.h"
#include "capture/frame_decoder.h"

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

    void* Map(int fd, std::size_t length, std::uint32_t offset) override {
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? nullptr : address;
    }

    void Unmap(void* address, std::size_t length) override { ::munmap(address, length); }

    int Poll(int fd, int timeoutMs) override {
        pollfd watched{fd, POLLIN, 0};
        int result;
        do result = ::poll(&watched, 1, timeoutMs);
        while (result == -1 && errno == EINTR);
        if (result == -1) return errno;
        return result == 0 ? ETIMEDOUT : 0;  // POLLERR and POLLHUP too: the dequeue says what went wrong
    }

    void Close(int fd) override { ::close(fd); }

private:
    std::string m_devDirectory;
};

// The sizes offered from a stepwise or continuous range: the usual webcam sizes that fit it, the
// usual default first, as webcams that list their sizes put it, so that a camera with no size
// chosen starts there; then the others, smallest first.
constexpr std::pair<std::uint32_t, std::uint32_t> kCommonSizes[] = {
    {640, 480}, {160, 120}, {320, 240}, {352, 288}, {800, 600}, {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080},
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

// Whole frames per second, as the log gives rates.
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
// A driver's rate as it gives it, fraction and all: "12.5 frames a second", "29.97 frames a second".
std::string RateText(const v4l2_fract& timePerFrame) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(timePerFrame.denominator) / timePerFrame.numerator);
    std::string rate = text;
    rate.erase(rate.find_last_not_of('0') + 1);
    if (rate.back() == '.') rate.pop_back();
    return rate + " frames a second";
}

// Frames of one kind of fault a camera sent (that could not be decoded; that decoded whole despite
// a flaw): the first is logged at once with its reason, later ones counted and summed up at most
// once per kSummaryEvery, so a flaky camera cannot flood the log.
class BadFrameLog {
public:
    static constexpr std::chrono::seconds kSummaryEvery{10};

    // one, many: "a frame that ...", "frames that ...".
    BadFrameLog(const CaptureLog& log, const char* one, const char* many) : m_log(log), m_one(one), m_many(many) {}
    BadFrameLog(const BadFrameLog&) = delete;
    BadFrameLog& operator=(const BadFrameLog&) = delete;

    void Count(const std::string& reason) {
        if (!m_any) {
            m_any = true;
            Write(std::string("Camera sent ") + m_one + ": " + reason);
            return;
        }
        ++m_unlogged;
        m_lastReason = reason;
        if (std::chrono::steady_clock::now() - m_lastLine >= kSummaryEvery) Flush();
    }
    void Flush() {
        if (m_unlogged == 0) return;
        Write("Camera sent " + std::to_string(m_unlogged) + " more " + m_many + ", the last: " + m_lastReason);
        m_unlogged = 0;
    }

private:
    void Write(const std::string& line) {
        if (m_log) m_log(line);
        m_lastLine = std::chrono::steady_clock::now();
    }

    const CaptureLog& m_log;
    const char* const m_one;
    const char* const m_many;
    bool m_any = false;
    int m_unlogged = 0;
    std::string m_lastReason;
    std::chrono::steady_clock::time_point m_lastLine;
};

bool CanCapture(const v4l2_capability& capability) {
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

}  // namespace

std::unique_ptr<IV4l2Device> MakeSystemV4l2Device(std::string devDirectory) {
    return std::make_unique<SystemV4l2Device>(std::move(devDirectory));
}

std::vector<CaptureControl::MenuEntry> V4l2MenuEntries(IV4l2Device& device, int fd, const v4l2_queryctrl& control) {
    std::vector<CaptureControl::MenuEntry> entries;
    for (std::int32_t index = std::max(0, control.minimum); index <= std::min(control.maximum, kV4l2MenuLimit - 1);
         ++index) {
        v4l2_querymenu item{};
        item.id = control.id;
        item.index = static_cast<__u32>(index);
        if (device.Ioctl(fd, VIDIOC_QUERYMENU, &item) != 0) continue;
        const std::string text = control.type == V4L2_CTRL_TYPE_INTEGER_MENU
                                     ? std::to_string(static_cast<long long>(item.value))
                                     : FixedString(item.name);
        entries.push_back({index, text});
    }
    return entries;
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
        // 8 bits in truth; counted with the depth the search asks for last, so a colour format of
        // the same size is preferred and a grey camera still gets a format.
        case V4L2_PIX_FMT_GREY:
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
        if (!bits || (m_onlyFourcc != 0 && format.pixelformat != m_onlyFourcc)) continue;
        auto add = [&](std::uint32_t width, std::uint32_t height) {
            if (width == 0 || height == 0 || width > CV4l2Capture::kMaxFrameSide ||
                height > CV4l2Capture::kMaxFrameSide)
                return;
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

bool CV4l2Capture::ApplyInterval(std::int64_t frameInterval100ns) const {
    const auto timePerFrame = TimePerFrame(frameInterval100ns);
    if (!timePerFrame) return false;
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_device->Ioctl(m_fd, VIDIOC_G_PARM, &parameters) != 0 ||
        !(parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        // The driver keeps its own rate; frames still come, only their pace is not ours.
        Log("Camera keeps its own frame rate: its driver cannot set " + RateText(frameInterval100ns));
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
        Log("Camera runs at " + (given.numerator ? RateText(given) : "its own rate") + ", not the " +
            RateText(frameInterval100ns) + " asked");
    return true;
}

bool CV4l2Capture::SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) {
    if (m_fd < 0 || capabilityIndex < 0 || capabilityIndex >= CapabilityCount()) return false;
    if (!TimePerFrame(frameInterval100ns)) return false;
    const bool wasRunning = m_thread.joinable();
    if (wasRunning && !Stop()) return false;

    const V4l2Mode& mode = m_modes[static_cast<std::size_t>(capabilityIndex)];
    if (!ApplyMode(mode)) {
        // Delivery goes on in the format in use, as if nothing had been asked.
        if (wasRunning && m_mode && ApplyMode(*m_mode)) Run();
        return false;
    }
    m_mode = mode;
    // The format is in use whatever the rate: a rate refused was logged and the driver's stays.
    ApplyInterval(frameInterval100ns);
    return wasRunning ? Run() : true;
}

bool CV4l2Capture::ApplyMode(const V4l2Mode& mode) {
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
    return true;
}

bool CV4l2Capture::SetFrameInterval(std::int64_t frameInterval100ns) {
    if (m_fd < 0 || !m_mode || !TimePerFrame(frameInterval100ns)) return false;
    if (m_thread.joinable()) {
        // The driver refuses a new rate while streaming; the streaming thread restarts its stream.
        m_pendingInterval.store(frameInterval100ns);
        return true;
    }
    return ApplyInterval(frameInterval100ns);
}

void CV4l2Capture::SetFrameCallback(CaptureFrameCallback callback) { m_callback = std::move(callback); }

bool CV4l2Capture::StartStream() {
    // Frames have the size of the format the driver really has, whatever was asked.
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int error = m_device->Ioctl(m_fd, VIDIOC_G_FMT, &format); error != 0) {
        Log("Camera cannot tell its format: " + std::string(std::strerror(error)));
        return false;
    }
    const v4l2_pix_format& pix = format.fmt.pix;
    const std::string delivers = "Camera delivers " + ModeText(pix.width, pix.height, pix.pixelformat);
    if (pix.width > kMaxFrameSide || pix.height > kMaxFrameSide) {
        Log(delivers + ", larger than " + std::to_string(kMaxFrameSide) + " pixels a side");
        return false;
    }
    try {
        m_decoder = FrameDecoder::For(pix.pixelformat, static_cast<int>(pix.width), static_cast<int>(pix.height),
                                      pix.bytesperline);
    } catch (const std::bad_alloc&) {
        Log(delivers + ", too large for the memory there is");
        return false;
    }
    if (!m_decoder) {
        Log(delivers + ", which cannot be decoded");
        return false;
    }
    constexpr __u32 kBuffers = 4;  // one being read, the rest for the driver to fill meanwhile
    v4l2_requestbuffers request{};
    request.count = kBuffers;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    int error = m_device->Ioctl(m_fd, VIDIOC_REQBUFS, &request);
    if (error == 0 && request.count == 0) error = ENOMEM;
    for (__u32 index = 0; error == 0 && index < request.count; ++index) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        error = m_device->Ioctl(m_fd, VIDIOC_QUERYBUF, &buffer);
        if (error != 0) break;
        void* address = m_device->Map(m_fd, buffer.length, buffer.m.offset);
        if (!address)
            error = ENOMEM;
        else
            m_buffers.push_back({address, buffer.length});
    }
    if (error == 0) error = QueueAndStream();
    if (error != 0) {
        Log("Camera cannot stream: " + std::string(std::strerror(error)));
        EndStream();
        return false;
    }
    return true;
}

int CV4l2Capture::QueueAndStream() {
    for (std::size_t index = 0; index < m_buffers.size(); ++index) {
        v4l2_buffer buffer{};
        buffer.index = static_cast<__u32>(index);
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (const int error = m_device->Ioctl(m_fd, VIDIOC_QBUF, &buffer); error != 0) return error;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return m_device->Ioctl(m_fd, VIDIOC_STREAMON, &type);
}

void CV4l2Capture::EndStream() {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    m_device->Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
    for (const Buffer& buffer : m_buffers) m_device->Unmap(buffer.address, buffer.length);
    m_buffers.clear();
    v4l2_requestbuffers none{};
    none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    none.memory = V4L2_MEMORY_MMAP;
    m_device->Ioctl(m_fd, VIDIOC_REQBUFS, &none);
    m_decoder.reset();
}

bool CV4l2Capture::Run() {
    if (m_fd < 0) return false;
    if (m_thread.joinable()) {
        if (m_streaming.load()) return true;
        JoinStream();  // delivery ended on its own (the camera stopped answering): start afresh
    }
    if (!StartStream()) return false;
    m_stopRequested.store(false);
    m_streaming.store(true);
    m_thread = std::thread(&CV4l2Capture::Stream, this, m_callback);
    return true;
}

int CV4l2Capture::ChangeRate(std::int64_t frameInterval100ns) {
    // Drivers take a new rate only while not streaming; the refusals are logged as outside delivery.
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    m_device->Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
    ApplyInterval(frameInterval100ns);
    return QueueAndStream();
}

void CV4l2Capture::Stream(CaptureFrameCallback callback) {
    using Clock = std::chrono::steady_clock;
    BadFrameLog badFrames(m_log, "a frame that cannot be decoded", "frames that cannot be decoded");
    BadFrameLog flawedFrames(m_log, "a flawed frame, used as every row of it decoded",
                             "flawed frames, used as every row decoded");
    int badInRow = 0;
    auto lastFrame = Clock::now();
    std::string ended;  // why delivery ended by itself
    while (!m_stopRequested.load() && ended.empty()) {
        if (const std::int64_t interval = m_pendingInterval.exchange(0); interval > 0) {
            if (const int error = ChangeRate(interval); error != 0) {
                ended = std::strerror(error);
                break;
            }
        }
        int error = m_device->Poll(m_fd, kPollMs);
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (error == 0) error = m_device->Ioctl(m_fd, VIDIOC_DQBUF, &buffer);
        if (error == ETIMEDOUT || error == EAGAIN) {
            if (Clock::now() - lastFrame >= std::chrono::milliseconds(kSilenceLimitMs))
                ended = "no frame for " + std::to_string(kSilenceLimitMs / 1000) + " seconds";
            continue;
        }
        if (error == 0 && buffer.index >= m_buffers.size()) error = EINVAL;
        if (error != 0) {
            ended = std::strerror(error);
            break;
        }
        lastFrame = Clock::now();
        const Buffer& mapped = m_buffers[buffer.index];
        CameraFrame& frame = m_decoder->Frame(static_cast<const std::uint8_t*>(mapped.address),
                                              std::min<std::size_t>(buffer.bytesused, mapped.length));
        // A frame the driver marks as damaged never reaches the handler: its rows may be stale.
        std::string failure = (buffer.flags & V4L2_BUF_FLAG_ERROR) ? "its driver marked it as damaged" : "";
        try {
            if (callback && failure.empty()) callback(frame);
        } catch (const std::exception& error) {
            // A handler that throws broke its contract; no further frame can be trusted to it.
            ended = std::string("the frame handler failed: ") + error.what();
            break;
        } catch (...) {
            ended = "the frame handler failed";
            break;
        }
        if (failure.empty()) failure = frame.Failure();
        if (!failure.empty()) {
            badFrames.Count(failure);
            if (++badInRow >= kBadFramesLimit)
                ended = std::to_string(kBadFramesLimit) + " frames in a row could not be decoded";
        } else if (frame.Decoded()) {
            badInRow = 0;
            if (!frame.Warning().empty()) flawedFrames.Count(frame.Warning());
        }
        if (const int requeue = m_device->Ioctl(m_fd, VIDIOC_QBUF, &buffer); requeue != 0 && ended.empty())
            ended = std::strerror(requeue);
    }
    badFrames.Flush();
    flawedFrames.Flush();
    if (!ended.empty()) Log("Camera delivery ended: " + ended);
    EndStream();
    m_streaming.store(false);
}

bool CV4l2Capture::Stop() {
    if (!m_thread.joinable()) return true;
    m_stopRequested.store(true);
    if (m_thread.get_id() == std::this_thread::get_id()) return false;
    JoinStream();
    return true;
}

void CV4l2Capture::JoinStream() {
    m_thread.join();
    // A rate the thread had no time to apply still holds for the next delivery.
    if (const std::int64_t interval = m_pendingInterval.exchange(0); interval > 0) ApplyInterval(interval);
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
            control.menu = V4l2MenuEntries(*m_device, m_fd, found);
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
    m_modes.clear();
    m_mode.reset();
}
