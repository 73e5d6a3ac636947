#include "capture/camera_recorder.h"

#include <algorithm>
#include <utility>

bool CCameraRecorder::Start(const std::filesystem::path& path, RecordingLimits limits, std::string& error) {
    std::lock_guard lock(m_mutex);
    if (m_status.state == State::Waiting || m_status.state == State::Recording) {
        error = "a recording is under way";
        return false;
    }
    m_limits = limits;
    m_status = Status();
    m_status.state = State::Waiting;
    m_status.file = path;
    m_wanted.store(true);
    return true;
}

void CCameraRecorder::Stop() {
    std::lock_guard lock(m_mutex);
    if (m_status.state == State::Waiting) End("no frame came from the camera");
    if (m_status.state == State::Recording) End("");
}

CCameraRecorder::Status CCameraRecorder::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

void CCameraRecorder::End(const std::string& failure) {
    m_wanted.store(false);
    std::string error = failure;
    if (m_writer.IsOpen()) {
        m_status.bytes = m_writer.Bytes();
        if (!m_writer.Finish(error) && failure.empty()) error = "cannot write " + m_status.file.string() + ": " + error;
    }
    m_status.state = error.empty() ? State::Done : State::Failed;
    m_status.error = error;
    if (m_status.state == State::Done) {
        std::error_code unknown;
        const auto size = std::filesystem::file_size(m_status.file, unknown);
        if (!unknown) m_status.bytes = size;
    }
}

void CCameraRecorder::Take(IV4l2Device& device, int fd, const v4l2_buffer& buffer,
                           std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    if (!m_wanted.load()) return;
    const std::int64_t timestamp =
        std::int64_t{buffer.timestamp.tv_sec} * 1'000'000 + std::int64_t{buffer.timestamp.tv_usec};
    std::string error;
    if (!m_writer.IsOpen()) {
        const RecordedCamera camera = DescribeCamera(device, fd);
        if (!m_writer.Open(m_status.file, camera, error)) {
            End("cannot write " + m_status.file.string() + ": " + error);
            return;
        }
        m_format = camera.format;
        m_firstTimestamp = timestamp;
        m_firstTime = std::chrono::steady_clock::now();
        m_status.state = State::Recording;
    }
    // The camera's own clock, or ours where its timestamps stand still.
    std::chrono::microseconds elapsed(timestamp - m_firstTimestamp);
    if (timestamp == m_firstTimestamp && m_status.buffers > 0)
        elapsed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_firstTime);
    constexpr std::uint64_t kTrailerRoom = 64 * 1024;  // the file's end: its index and lengths
    if ((m_limits.duration.count() > 0 && elapsed >= m_limits.duration) ||
        (m_limits.bytes > 0 && m_writer.Bytes() + bytes.size() + kTrailerRoom > m_limits.bytes)) {
        End("");
        return;
    }
    if (!m_writer.Write(bytes, timestamp, buffer.flags, buffer.sequence, error)) {
        End("cannot write " + m_status.file.string() + ": " + error);
        return;
    }
    ++m_status.buffers;
    m_status.bytes = m_writer.Bytes();
    m_status.duration = elapsed;
}

void CCameraRecorder::FormatSet(const v4l2_pix_format& format) {
    std::lock_guard lock(m_mutex);
    if (!m_writer.IsOpen()) return;
    if (std::tie(format.pixelformat, format.width, format.height, format.bytesperline) !=
        std::tie(m_format.pixelformat, m_format.width, m_format.height, m_format.bytesperline))
        End("");  // what came before the change is a recording of its own
}

RecordingV4l2Device::RecordingV4l2Device(std::unique_ptr<IV4l2Device> device, CCameraRecorder& recorder)
    : m_device(std::move(device)), m_recorder(recorder) {}

int RecordingV4l2Device::Ioctl(int fd, unsigned long request, void* arg) {
    const int result = m_device->Ioctl(fd, request, arg);
    if (result != 0) return result;
    if (request == VIDIOC_QUERYBUF) {
        const auto& buffer = *static_cast<const v4l2_buffer*>(arg);
        std::lock_guard lock(m_mutex);
        m_offsets[buffer.index] = buffer.m.offset;
    } else if (request == VIDIOC_DQBUF && m_recorder.Wanted()) {
        const auto& buffer = *static_cast<const v4l2_buffer*>(arg);
        std::pair<void*, std::size_t> mapped{nullptr, 0};
        {
            std::lock_guard lock(m_mutex);
            if (const auto offset = m_offsets.find(buffer.index); offset != m_offsets.end())
                if (const auto found = m_mapped.find(offset->second); found != m_mapped.end()) mapped = found->second;
        }
        if (mapped.first)
            m_recorder.Take(*m_device, fd, buffer,
                            {static_cast<const std::uint8_t*>(mapped.first),
                             std::min<std::size_t>(buffer.bytesused, mapped.second)});
    } else if (request == VIDIOC_S_FMT) {
        m_recorder.FormatSet(static_cast<const v4l2_format*>(arg)->fmt.pix);
    }
    return result;
}

void* RecordingV4l2Device::Map(int fd, std::size_t length, std::uint32_t offset) {
    void* address = m_device->Map(fd, length, offset);
    if (address) {
        std::lock_guard lock(m_mutex);
        m_mapped[offset] = {address, length};
    }
    return address;
}

void RecordingV4l2Device::Unmap(void* address, std::size_t length) {
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_mapped, [address](const auto& entry) { return entry.second.first == address; });
    }
    m_device->Unmap(address, length);
}
