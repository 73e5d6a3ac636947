#include "capture/replayed_camera.h"

#include <utility>

#include "capture/camera_recorder.h"
#include "capture/camera_recording.h"
#include "capture/replay_v4l2.h"
#include "capture/v4l2_capture.h"

CReplayedCamera::CReplayedCamera(std::filesystem::path file, ReplayedCameraOptions options)
    : m_file(std::move(file)), m_options(options) {}

CReplayedCamera::~CReplayedCamera() = default;

bool CReplayedCamera::Load() {
    if (m_layer) return true;
    std::optional<CameraRecording> recording = ReadCameraRecording(m_file, m_lastError);
    if (!recording) return false;
    m_lastError.clear();
    RecordedCamera& camera = recording->camera;
    auto device = std::make_unique<ReplayV4l2>();
    device->nodes.resize(1);
    ReplayV4l2::Node& node = device->nodes[0];
    node.path = "/dev/video0";
    std::tie(node.card, node.driver, node.bus) = std::tie(camera.card, camera.driver, camera.bus);
    device->formats = std::move(camera.formats);
    device->stream = camera.format;
    device->rateGiven = camera.timePerFrame;
    device->controls = std::move(camera.controls);
    device->Serve(std::move(recording->buffers), m_options.paced ? ReplayV4l2::Pace::Recorded : ReplayV4l2::Pace::Fast,
                  {}, m_options.loop);
    m_device = device.get();
    m_name = "Recording " + m_file.filename().string() + (camera.card.empty() ? "" : " of " + camera.card);
    std::unique_ptr<IV4l2Device> played = std::move(device);
    if (m_options.recorder) played = std::make_unique<RecordingV4l2Device>(std::move(played), *m_options.recorder);
    m_layer = std::make_unique<CV4l2Capture>(std::move(played));
    m_layer->SetLog(m_log);
    return true;
}

std::vector<CaptureDeviceInfo> CReplayedCamera::EnumerateDevices() {
    if (!Load()) return {};
    std::vector<CaptureDeviceInfo> devices = m_layer->EnumerateDevices();
    for (CaptureDeviceInfo& device : devices) {
        device.friendlyName = m_name;
        device.devicePath = m_file.string();
    }
    return devices;
}

bool CReplayedCamera::Open(int deviceIndex) { return Load() && m_layer->Open(deviceIndex); }

int CReplayedCamera::CapabilityCount() { return m_layer ? m_layer->CapabilityCount() : 0; }

bool CReplayedCamera::GetCapability(int index, CaptureCapability& capability) {
    return m_layer && m_layer->GetCapability(index, capability);
}

bool CReplayedCamera::SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) {
    return m_layer && m_layer->SetFormat(capabilityIndex, frameInterval100ns);
}

bool CReplayedCamera::SetFrameInterval(std::int64_t frameInterval100ns) {
    return m_layer && m_layer->SetFrameInterval(frameInterval100ns);
}

void CReplayedCamera::SetFrameCallback(CaptureFrameCallback callback) {
    if (m_layer) m_layer->SetFrameCallback(std::move(callback));
}

bool CReplayedCamera::Run() { return m_layer && m_layer->Run(); }

bool CReplayedCamera::Stop() { return !m_layer || m_layer->Stop(); }

std::vector<CaptureControl> CReplayedCamera::Controls() {
    return m_layer ? m_layer->Controls() : std::vector<CaptureControl>{};
}

bool CReplayedCamera::SetControl(std::uint32_t id, std::int32_t value, std::string& error) {
    if (m_layer) return m_layer->SetControl(id, value, error);
    error = "the recording is not open";
    return false;
}

void CReplayedCamera::Close() {
    if (m_layer) m_layer->Close();
}

void CReplayedCamera::SetLog(CaptureLog log) {
    m_log = std::move(log);
    if (m_layer) m_layer->SetLog(m_log);
}

bool CReplayedCamera::WaitUntilFinished() { return m_device && m_device->WaitUntilPlayed(); }
