// A video file standing in for a camera: one device, named after the file, that delivers the
// file's frames in the capture layout on a thread of the layer.
//
//   CVideoFileCapture camera("/tmp/sweep.avi", {.loop = false, .paced = false});
//   camera.Open(0);
//   camera.SetFrameCallback(handler);
//   camera.Run();
//   camera.WaitUntilFinished();                       // after the last frame was handled
//
// Capabilities: 24 bits at the file's size, then at half that size (area-averaged). Frames are
// paced at the file's frame rate until SetFormat or SetFrameInterval set another.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_layer.h"

namespace cv {
class Mat;
class VideoCapture;
}  // namespace cv

struct VideoFileCaptureOptions {
    bool loop = true;   // start again at the first frame after the last; else delivery ends there
    bool paced = true;  // one frame per frame interval; else as fast as the handler takes them
};

class CVideoFileCapture final : public ICaptureLayer {
public:
    // Used when the file states no usable rate.
    static constexpr double kFallbackFramesPerSecond = 30.0;

    explicit CVideoFileCapture(std::filesystem::path file, VideoFileCaptureOptions options = {});
    ~CVideoFileCapture() override;
    CVideoFileCapture(const CVideoFileCapture&) = delete;
    CVideoFileCapture& operator=(const CVideoFileCapture&) = delete;

    // The file as one device when it can be opened and its first frame decoded; else none.
    std::vector<CaptureDeviceInfo> EnumerateDevices() override;
    // Fails for any index but 0 and for a file that cannot be opened or decoded.
    bool Open(int deviceIndex) override;
    int CapabilityCount() override;
    bool GetCapability(int index, CaptureCapability& capability) override;
    // While running, the new size applies from the next frame.
    bool SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) override;
    bool SetFrameInterval(std::int64_t frameInterval100ns) override;
    // Taken by Run; a change while running applies from the next Run.
    void SetFrameCallback(CaptureFrameCallback callback) override;
    // Starts at the file's first frame. Fails when the file no longer opens.
    bool Run() override;
    // Called from inside the frame callback it only asks delivery to end and returns false, as
    // the thread cannot wait for itself.
    bool Stop() override;
    // A file has no settings of its own.
    std::vector<CaptureControl> Controls() override { return {}; }
    bool SetControl(std::uint32_t, std::int32_t, std::string& error) override {
        error = "a video file has no controls";
        return false;
    }
    void Close() override;

    // Waits until delivery has ended (the last frame's callback returned, without looping) or was
    // stopped; returns at once when not running. With looping, only Stop from another thread ends it.
    void WaitUntilFinished();
    // The file's own rate, known after Open.
    double FileFramesPerSecond() const { return m_fileFps; }
    // Why the last EnumerateDevices or Open found no usable file ("no such file", "permission
    // denied", "not a video OpenCV can read", ...); empty after a success.
    const std::string& LastError() const { return m_lastError; }

private:
    // reason, when given, says why the file did not open.
    bool OpenFile(cv::VideoCapture& capture, std::string* reason = nullptr) const;
    bool ReadFirstFrame(cv::VideoCapture& capture, cv::Mat& frame);
    void Stream(CaptureFrameCallback callback);
    bool WaitForNextFrame(std::chrono::steady_clock::time_point& due);

    const std::filesystem::path m_file;
    const VideoFileCaptureOptions m_options;

    bool m_open = false;
    int m_width = 0;
    int m_height = 0;
    double m_fileFps = 0;
    std::string m_lastError;
    std::atomic<int> m_capability{0};
    std::atomic<std::int64_t> m_interval{0};  // 100-ns units
    CaptureFrameCallback m_callback;

    std::unique_ptr<cv::VideoCapture> m_capture;  // owned by the streaming thread while it runs
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stopRequested = false;  // guarded by m_lock
    bool m_finished = true;        // guarded by m_lock: no delivery in progress
};
