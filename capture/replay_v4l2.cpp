#include "capture/replay_v4l2.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

template <std::size_t N>
void CopyText(const std::string& text, __u8 (&field)[N]) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));  // full-width text has no NUL
}

// Buffers are found by their offset, one page apart as a driver places them.
constexpr std::uint32_t kOffsetStep = 4096;

}  // namespace

std::pair<__u32, __u32> ReplayV4l2::Lengths(__u32 fourcc, __u32 width, __u32 height) {
    switch (fourcc) {
        case V4L2_PIX_FMT_MJPEG:
            return {0, std::max(width * height * 2, 1u << 16)};  // room for the largest compressed frame
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
        case V4L2_PIX_FMT_NV12:
            return {width, width * height * 3 / 2};
        case V4L2_PIX_FMT_GREY:
            return {width, width * height};
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24:
            return {width * 3, width * height * 3};
        default:
            return {width * 2, width * height * 2};
    }
}

std::unique_ptr<ReplayV4l2> ReplayV4l2::Webcam(__u32 fourcc, Size size, std::vector<std::vector<std::uint8_t>> frames) {
    auto camera = std::make_unique<ReplayV4l2>();
    camera->nodes.resize(1);
    camera->nodes[0].path = "/dev/video0";
    camera->formats = {{fourcc, {size}}};
    camera->Serve(std::move(frames), Pace::Gated);
    return camera;
}

std::vector<std::string> ReplayV4l2::VideoNodes() {
    std::vector<std::string> paths;
    for (const Node& node : nodes) paths.push_back(node.path);
    return paths;
}

int ReplayV4l2::Open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].path == path && !nodes[i].openFails) return ++openDescriptors, 100 + static_cast<int>(i);
    return -1;
}

void ReplayV4l2::Close(int) {
    std::lock_guard lock(m_mutex);
    --openDescriptors;
}

int ReplayV4l2::Ioctl(int fd, unsigned long request, void* arg) {
    std::lock_guard lock(m_mutex);
    const Node& node = nodes.at(static_cast<std::size_t>(fd - 100));
    // Gone, it still lets its buffers go.
    if (m_unplugged == Unplugged::Gone && request != VIDIOC_STREAMOFF && request != VIDIOC_REQBUFS) return ENODEV;
    switch (request) {
        case VIDIOC_QUERYCAP:
            return node.queryFails ? ENOTTY : Describe(node, *static_cast<v4l2_capability*>(arg));
        case VIDIOC_ENUM_FMT:
        case VIDIOC_ENUM_FRAMESIZES:
            return EnumerateFormats(request, arg);
        case VIDIOC_S_FMT:
            return SetFormat(*static_cast<v4l2_format*>(arg));
        case VIDIOC_G_FMT:
            return static_cast<v4l2_format*>(arg)->fmt.pix = m_format, 0;
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM:
            return Rate(request, *static_cast<v4l2_streamparm*>(arg));
        case VIDIOC_QUERYCTRL:
        case VIDIOC_QUERYMENU:
            return QueryControl(request, arg);
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
            return ReadOrSetControl(request, *static_cast<v4l2_control*>(arg));
        default:
            return Stream(request, arg);
    }
}

int ReplayV4l2::Describe(const Node& node, v4l2_capability& capability) const {
    CopyText(node.driver, capability.driver), CopyText(node.card, capability.card);
    CopyText(node.bus, capability.bus_info);
    capability.capabilities = node.capabilities | (node.deviceCaps ? V4L2_CAP_DEVICE_CAPS : 0);
    capability.device_caps = node.deviceCaps.value_or(0);
    return 0;
}

int ReplayV4l2::EnumerateFormats(unsigned long request, void* arg) const {
    if (request == VIDIOC_ENUM_FMT) {
        auto& format = *static_cast<v4l2_fmtdesc*>(arg);
        if (format.index >= formats.size()) return EINVAL;
        return format.pixelformat = formats[format.index].fourcc, 0;
    }
    auto& size = *static_cast<v4l2_frmsizeenum*>(arg);
    const auto format = std::ranges::find(formats, size.pixel_format, &Format::fourcc);
    if (format != formats.end() && format->range) {
        if (size.index > 0) return EINVAL;
        return size.type = V4L2_FRMSIZE_TYPE_CONTINUOUS, size.stepwise = *format->range, 0;
    }
    if (format == formats.end() || size.index >= format->sizes.size()) return EINVAL;
    size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    return std::tie(size.discrete.width, size.discrete.height) = format->sizes[size.index], 0;
}

int ReplayV4l2::SetFormat(v4l2_format& format) {
    if (!m_buffers.empty()) return EBUSY;
    auto& pix = format.fmt.pix;
    if (stream) return m_format = pix = *stream, 0;
    // Like a driver, take the nearest it has: the first format for one it does not offer.
    if (!formats.empty() && std::ranges::find(formats, pix.pixelformat, &Format::fourcc) == formats.end())
        pix.pixelformat = formats.front().fourcc;
    if (const auto adjusted = adjust.find({pix.width, pix.height}); adjusted != adjust.end())
        std::tie(pix.width, pix.height) = adjusted->second;
    std::tie(pix.bytesperline, pix.sizeimage) = Lengths(pix.pixelformat, pix.width, pix.height);
    pix.field = V4L2_FIELD_NONE;
    m_format = pix;
    return 0;
}

int ReplayV4l2::Rate(unsigned long request, v4l2_streamparm& parameters) {
    auto& rate = parameters.parm.capture;
    if (request == VIDIOC_G_PARM) {
        rate.capability = rateCapability;
        rate.timeperframe = m_timePerFrame.numerator ? m_timePerFrame : rateGiven;
        return 0;
    }
    if (m_streaming) return EBUSY;
    if (rateGiven.numerator) rate.timeperframe = rateGiven;
    if (setRateError == 0) m_timePerFrame = rate.timeperframe;
    return setRateError;
}

ReplayV4l2::Control* ReplayV4l2::Find(std::uint32_t id, bool next) {
    for (Control& control : controls)
        if (next ? control.query.id > id : control.query.id == id) return &control;
    return nullptr;
}

int ReplayV4l2::QueryControl(unsigned long request, void* arg) {
    if (request == VIDIOC_QUERYCTRL) {
        auto& query = *static_cast<v4l2_queryctrl*>(arg);
        const Control* control = Find(query.id & ~V4L2_CTRL_FLAG_NEXT_CTRL, (query.id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0);
        return control ? (query = control->query, 0) : EINVAL;
    }
    auto& item = *static_cast<v4l2_querymenu*>(arg);
    const Control* control = Find(item.id, false);
    if (!control || item.index >= control->menu.size() || control->menu[item.index].empty()) return EINVAL;
    const std::string& text = control->menu[item.index];
    // An integer menu lists numbers, kept as their text.
    if (control->query.type == V4L2_CTRL_TYPE_INTEGER_MENU)
        return item.value = std::strtoll(text.c_str(), nullptr, 10), 0;
    std::memcpy(item.name, text.c_str(), std::min(text.size() + 1, sizeof item.name));
    return 0;
}

int ReplayV4l2::ReadOrSetControl(unsigned long request, v4l2_control& value) {
    Control* control = Find(value.id, false);
    if (!control) return EINVAL;
    if (request == VIDIOC_G_CTRL) return control->getError ? control->getError : (value.value = control->value, 0);
    return control->setError ? control->setError : (control->value = value.value, 0);
}

int ReplayV4l2::Stream(unsigned long request, void* arg) {
    if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (m_buffers.empty()) return EINVAL;
        m_streaming = request == VIDIOC_STREAMON;
        m_delivered = m_delivered || m_streaming;
        if (!m_streaming) m_queued.clear();  // every buffer back to the caller
        m_due = Clock::now() + m_interval;
        m_changed.notify_all();
        return 0;
    }
    if (request == VIDIOC_REQBUFS) {
        auto& wanted = *static_cast<v4l2_requestbuffers*>(arg);
        if (wanted.memory != V4L2_MEMORY_MMAP) return EINVAL;
        if (m_streaming || m_mapped > 0) return EBUSY;
        m_queued.clear();
        wanted.count = std::min<__u32>(wanted.count, 8);
        m_buffers.assign(wanted.count, std::vector<std::uint8_t>(m_format.sizeimage));
        m_changed.notify_all();
        return 0;
    }
    auto& buffer = *static_cast<v4l2_buffer*>(arg);
    if (request == VIDIOC_QUERYBUF || request == VIDIOC_QBUF) {
        if (buffer.index >= m_buffers.size()) return EINVAL;
        if (request == VIDIOC_QBUF) {
            if (std::ranges::find(m_queued, buffer.index) != m_queued.end()) return EINVAL;
            m_queued.push_back(buffer.index);
            m_changed.notify_all();
        }
        buffer.length = static_cast<__u32>(m_buffers[buffer.index].size());
        buffer.m.offset = buffer.index * kOffsetStep;
        return 0;
    }
    if (request != VIDIOC_DQBUF) return ENOTTY;
    if (!m_streaming) return EINVAL;
    if (!Ready()) return EAGAIN;
    buffer.index = m_queued.front();
    m_queued.erase(m_queued.begin());
    std::vector<std::uint8_t>& filled = m_buffers[buffer.index];
    const std::size_t count = m_frames.size(), position = m_served % count, loops = m_served / count;
    const RecordedBuffer& recorded = m_frames[position];
    buffer.flags = recorded.flags;
    buffer.bytesused = static_cast<__u32>(std::min(recorded.bytes.size(), filled.size()));
    std::copy_n(recorded.bytes.begin(), buffer.bytesused, filled.begin());
    // Played again, the recording goes on in time and count from its last buffer.
    const RecordedBuffer &first = m_frames.front(), &last = m_frames.back();
    const std::int64_t timestamp =
        recorded.timestampUs +
        static_cast<std::int64_t>(loops) * (last.timestampUs - first.timestampUs + GapAfter(count - 1).count());
    buffer.timestamp.tv_sec = timestamp / 1'000'000;
    buffer.timestamp.tv_usec = timestamp % 1'000'000;
    buffer.sequence = recorded.sequence + static_cast<__u32>(loops) * (last.sequence - first.sequence + 1);
    ++m_served;
    buffer.length = static_cast<__u32>(filled.size());
    if (m_pace == Pace::Gated) --m_released;
    const auto gap = m_pace == Pace::Recorded ? GapAfter(position) : m_interval;
    m_due = std::max(m_due + gap, Clock::now());  // a late reader gets no burst to catch up
    m_changed.notify_all();
    return 0;
}

std::chrono::microseconds ReplayV4l2::GapAfter(std::size_t position) const {
    const std::size_t count = m_frames.size();
    std::int64_t gap = 0;
    if (position + 1 < count)
        gap = m_frames[position + 1].timestampUs - m_frames[position].timestampUs;
    else if (count > 1)  // from the last to the first again: as long as the mean gap
        gap = (m_frames.back().timestampUs - m_frames.front().timestampUs) / static_cast<std::int64_t>(count - 1);
    if (gap > 0) return std::chrono::microseconds(gap);
    const v4l2_fract rate = m_timePerFrame.numerator ? m_timePerFrame : rateGiven;
    if (rate.numerator && rate.denominator)
        return std::chrono::microseconds(std::int64_t{1'000'000} * rate.numerator / rate.denominator);
    return std::chrono::microseconds(1'000'000 / 30);
}

bool ReplayV4l2::Ready() const {
    if (!m_streaming || m_queued.empty() || m_frames.empty() || PlayedAll() || m_unplugged != Unplugged::No)
        return false;
    switch (m_pace) {
        case Pace::Gated:
            return m_released > 0;
        case Pace::Interval:
        case Pace::Recorded:
            return Clock::now() >= m_due;
        default:
            return true;
    }
}

void* ReplayV4l2::Map(int, std::size_t length, std::uint32_t offset) {
    std::lock_guard lock(m_mutex);
    const std::size_t index = offset / kOffsetStep;
    if (offset % kOffsetStep != 0 || index >= m_buffers.size() || length > m_buffers[index].size()) return nullptr;
    ++m_mapped;
    return m_buffers[index].data();
}

void ReplayV4l2::Unmap(void*, std::size_t) {
    std::lock_guard lock(m_mutex);
    --m_mapped;
}

int ReplayV4l2::Poll(int, int timeoutMs) {
    std::unique_lock lock(m_mutex);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Ready()) {
        if (m_unplugged == Unplugged::Gone) return 0;  // readable with an error, as a driver says it
        if (Clock::now() >= deadline) return ETIMEDOUT;
        // A paced frame falls due without anything changing.
        auto wake = deadline;
        const bool paced = m_pace == Pace::Interval || m_pace == Pace::Recorded;
        if (paced && m_due < wake && m_streaming && !m_queued.empty() && !PlayedAll()) wake = m_due;
        m_changed.wait_until(lock, wake);
    }
    return 0;
}

void ReplayV4l2::Serve(std::vector<std::vector<std::uint8_t>> frames, Pace pace, std::chrono::microseconds interval) {
    std::vector<RecordedBuffer> buffers(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        buffers[i].bytes = std::move(frames[i]);
        buffers[i].timestampUs = static_cast<std::int64_t>(i) * interval.count();
        buffers[i].sequence = static_cast<std::uint32_t>(i);
    }
    Serve(std::move(buffers), pace, interval);
}

void ReplayV4l2::Serve(std::vector<RecordedBuffer> buffers, Pace pace, std::chrono::microseconds interval, bool loop) {
    std::lock_guard lock(m_mutex);
    m_frames = std::move(buffers);
    m_loop = loop;
    m_delivered = false;
    m_served = 0;
    m_released = 0;
    m_pace = pace;
    m_interval = interval;
    m_due = Clock::now() + interval;
    m_changed.notify_all();
}

void ReplayV4l2::Release(int count) {
    std::lock_guard lock(m_mutex);
    m_released += count;
    m_changed.notify_all();
}

void ReplayV4l2::Unplug(Unplugged how) {
    std::lock_guard lock(m_mutex);
    m_unplugged = how;
    m_changed.notify_all();
}

bool ReplayV4l2::HoldsBuffers() const {
    std::lock_guard lock(m_mutex);
    return m_streaming || m_mapped > 0 || !m_buffers.empty();
}

bool ReplayV4l2::WaitUntilPlayed() {
    std::unique_lock lock(m_mutex);
    // Every buffer queued again: the handler of the last one has returned.
    m_changed.wait(lock, [this] {
        return (PlayedAll() && !m_buffers.empty() && m_queued.size() == m_buffers.size()) ||
               (m_delivered && m_buffers.empty());
    });
    return !m_buffers.empty();
}
