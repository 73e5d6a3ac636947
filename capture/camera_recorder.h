// Records what a webcam sends while the program or a tool uses it: a device in front of the
// kernel's sees every buffer the layer dequeues and hands it, untouched and with what the driver
// said of it, to the recorder, which writes a camera recording (camera_recording.h).
//
//   CCameraRecorder recorder;
//   CV4l2Capture layer(std::make_unique<RecordingV4l2Device>(MakeSystemV4l2Device(), recorder));
//   recorder.Start("face.mkv", {.duration = 10s, .bytes = 50 << 20}, error);
//   ... the layer streams; the recording ends at a limit, or when asked:
//   recorder.Stop();
//   if (recorder.Progress().state == CCameraRecorder::State::Done) ...
//
// Start, Stop and Progress may be called from any thread; the buffers come on the layer's.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/camera_recording.h"
#include "capture/v4l2_capture.h"

struct RecordingLimits {
    std::chrono::milliseconds duration{0};  // of the camera's time from the first buffer; 0: none
    std::uint64_t bytes = 0;                // of the file; 0: none
};

class CCameraRecorder {
public:
    enum class State {
        Idle,       // nothing asked
        Waiting,    // started, no buffer yet
        Recording,  // buffers are written
        Done,       // the file is in place
        Failed,     // no file: error says why
    };
    struct Status {
        State state = State::Idle;
        std::filesystem::path file;
        int buffers = 0;
        std::uint64_t bytes = 0;
        std::chrono::microseconds duration{0};  // from the first buffer's timestamp to the last's
        std::string error;
    };

    // Records from the next buffer on into path, until a limit or Stop. False, with the reason,
    // while a recording is under way.
    bool Start(const std::filesystem::path& path, RecordingLimits limits, std::string& error);
    // Ends the recording with the buffers it has; one that got none fails.
    void Stop();
    Status Progress() const;

    // From the device, on the layer's streaming thread: a buffer as dequeued, with the bytes the
    // driver used; the camera is described through device when the first one comes.
    bool Wanted() const { return m_wanted.load(); }
    void Take(IV4l2Device& device, int fd, const v4l2_buffer& buffer, std::span<const std::uint8_t> bytes);
    // A format the driver took: a recording of another format ends.
    void FormatSet(const v4l2_pix_format& format);

private:
    void End(const std::string& failure);  // with m_mutex held

    mutable std::mutex m_mutex;
    std::atomic<bool> m_wanted{false};
    CameraRecordingWriter m_writer;
    RecordingLimits m_limits;
    Status m_status;
    v4l2_pix_format m_format{};
    std::int64_t m_firstTimestamp = 0;
    std::chrono::steady_clock::time_point m_firstTime;
};

// An IV4l2Device that passes everything to another and shows the recorder each dequeued buffer.
class RecordingV4l2Device final : public IV4l2Device {
public:
    RecordingV4l2Device(std::unique_ptr<IV4l2Device> device, CCameraRecorder& recorder);

    std::vector<std::string> VideoNodes() override { return m_device->VideoNodes(); }
    int Open(const std::string& path) override { return m_device->Open(path); }
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Map(int fd, std::size_t length, std::uint32_t offset) override;
    void Unmap(void* address, std::size_t length) override;
    int Poll(int fd, int timeoutMs) override { return m_device->Poll(fd, timeoutMs); }
    void Close(int fd) override { m_device->Close(fd); }

private:
    std::unique_ptr<IV4l2Device> m_device;
    CCameraRecorder& m_recorder;
    std::mutex m_mutex;
    std::map<std::uint32_t, std::uint32_t> m_offsets;                 // of the buffers, by index (VIDIOC_QUERYBUF)
    std::map<std::uint32_t, std::pair<void*, std::size_t>> m_mapped;  // by offset
};
