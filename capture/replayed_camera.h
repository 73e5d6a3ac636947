// A camera recording (camera_recording.h) played as the only camera, through the same V4L2 layer,
// streaming and frame decoding a webcam goes through: its buffers come out of a replayed device
// (ReplayV4l2) with their recorded flags, timestamps and sequence numbers, at their recorded
// timing, and the device offers the recorded formats, rate and settings, delivering only the
// recorded stream. What comes downstream is what came from the camera.
//
//   CReplayedCamera camera("face.mkv", {.loop = false});
//   if (camera.EnumerateDevices().empty()) print(camera.LastError());
//   camera.Open(0);  ... choose a format and run as with any layer ...
//   camera.WaitUntilFinished();   // the last buffer was handled, or delivery ended before
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "capture/capture_layer.h"

class CCameraRecorder;
class CV4l2Capture;
class ReplayV4l2;

struct ReplayedCameraOptions {
    bool loop = true;   // from the first buffer again after the last; else delivery ends there
    bool paced = true;  // at the recorded timing; else as fast as the handler takes the buffers
    // Records what the replayed device delivers, as a webcam's recorder does; may be null.
    CCameraRecorder* recorder = nullptr;
};

class CReplayedCamera final : public ICaptureLayer {
public:
    explicit CReplayedCamera(std::filesystem::path file, ReplayedCameraOptions options = {});
    ~CReplayedCamera() override;
    CReplayedCamera(const CReplayedCamera&) = delete;
    CReplayedCamera& operator=(const CReplayedCamera&) = delete;

    // The recording as one device named after the file and the recorded camera, once it was read;
    // none when it cannot be (LastError says why).
    std::vector<CaptureDeviceInfo> EnumerateDevices() override;
    bool Open(int deviceIndex) override;
    int CapabilityCount() override;
    bool GetCapability(int index, CaptureCapability& capability) override;
    bool SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) override;
    bool SetFrameInterval(std::int64_t frameInterval100ns) override;
    void SetFrameCallback(CaptureFrameCallback callback) override;
    bool Run() override;
    bool Stop() override;
    std::vector<CaptureControl> Controls() override;
    bool SetControl(std::uint32_t id, std::int32_t value, std::string& error) override;
    void Close() override;
    void SetLog(CaptureLog log) override;

    // Without looping: waits until the last buffer was handled (true) or delivery ended before it
    // (false; the log has said why). Returns at once, false, when nothing was read.
    bool WaitUntilFinished();
    // Why the recording could not be read; empty once it was.
    const std::string& LastError() const { return m_lastError; }

private:
    bool Load();

    const std::filesystem::path m_file;
    const ReplayedCameraOptions m_options;
    std::string m_lastError;
    std::string m_name;
    CaptureLog m_log;
    ReplayV4l2* m_device = nullptr;  // owned by m_layer
    std::unique_ptr<CV4l2Capture> m_layer;
};
