#include "capture/video_input.h"

#include <utility>

#include "base/logging.h"

CNCVideoInput::CNCVideoInput(std::unique_ptr<ICaptureLayer> layer, FrameTargetSlot& frameTarget, CLogging* log)
    : m_layer(std::move(layer)), m_frameTarget(frameTarget), m_pLog(log) {
    // The log is safe from any thread and outlives the layer, which this object closes first.
    m_layer->SetLog([log](const std::string& line) {
        if (log) log->Write(line, true);
    });
}

CNCVideoInput::~CNCVideoInput() { ReleaseAll(); }

void CNCVideoInput::Log(const std::string& text) {
    if (m_pLog) m_pLog->Write(text, true);
}

int CNCVideoInput::EnumerateDevices() {
    for (std::string& name : m_cameraNames) name.clear();
    m_devices = m_layer->EnumerateDevices();
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const CaptureDeviceInfo& device = m_devices[i];
        // Absent texts are not logged, as a device that lacks the property does not report it.
        for (const std::string* text : {&device.friendlyName, &device.description, &device.devicePath})
            if (!text->empty()) Log("Camera found: " + *text);
        if (i < m_cameraNames.size()) m_cameraNames[i] = device.friendlyName;
    }
    return DeviceCount();
}

const CaptureDeviceInfo* CNCVideoInput::Device(int index) const {
    if (index < 0 || index >= DeviceCount()) return nullptr;
    return &m_devices[index];
}

const std::string& CNCVideoInput::CameraName(int number) const {
    static const std::string none;
    if (number < 1 || number > kNamedCameras) return none;
    return m_cameraNames[number - 1];
}

void CNCVideoInput::CloseDevice() {
    if (m_bOpen) m_layer->Close();
    m_bOpen = false;
}

bool CNCVideoInput::BuildGraph(int deviceIndex, int wantedWidth, int fps, int wantedHeight) {
    DetachWindow();
    if (deviceIndex != -1 && !Device(deviceIndex)) return false;
    Log("GetDeviceDescr");

    CloseDevice();
    m_iDevice = -1;
    if (deviceIndex == -1) return true;

    // The layer opens the device and makes its frames readable as grey or colour in one step; the
    // log keeps the lines of the steps it stands for.
    if (!m_layer->Open(deviceIndex)) return false;
    m_bOpen = true;
    Log("BindToObject IID_IBaseFilter");
    Log("iBitDepth=24");

    // A layer offers the camera's video formats only; there is no interleaved stream.
    Log("FindInterface MEDIATYPE_Interleaved ERROR");
    if (m_layer->CapabilityCount() > 0)
        SelectCaptureFormat(*m_layer, wantedWidth, fps, m_format, m_pLog, wantedHeight);
    else
        Log("FindInterface MEDIATYPE_Video ERROR");  // the camera's default format stays

    Log("RenderStream OK");
    m_iDevice = deviceIndex;
    return true;
}

bool CNCVideoInput::AttachWindow(WindowToken owner, int /*mode*/, WindowToken /*drain*/) {
    if (m_owner != 0 || owner == 0 || m_iDevice == -1) return false;
    m_owner = owner;
    m_layer->SetFrameCallback([this](CameraFrame& frame) { BufferCB(frame); });
    return true;
}

bool CNCVideoInput::Run() {
    if (m_owner == 0 || !m_bStopped) return false;
    if (!m_layer->Run()) return false;
    m_bStopped = false;
    return true;
}

bool CNCVideoInput::Stop(bool /*whenReady*/) {
    if (m_owner == 0 || m_bStopped) return false;
    m_layer->Stop();  // returns after the last callback
    m_bStopped = true;
    return true;
}

WindowToken CNCVideoInput::DetachWindow() {
    if (m_owner == 0) return 0;
    Stop(false);
    m_layer->SetFrameCallback(nullptr);
    return std::exchange(m_owner, 0);
}

void CNCVideoInput::TearDownGraph() {
    DetachWindow();
    CloseDevice();
    // Nothing can run until BuildGraph opens a camera again.
    m_iDevice = -1;
}

std::vector<CaptureControl> CNCVideoInput::Controls() {
    if (!m_bOpen) return {};
    return m_layer->Controls();
}

bool CNCVideoInput::SetControl(std::uint32_t id, std::int32_t value, std::string& error) {
    if (!m_bOpen) {
        error = "no camera is open";
        return false;
    }
    return m_layer->SetControl(id, value, error);
}

void CNCVideoInput::ReleaseAll() {
    DetachWindow();
    m_devices.clear();
    for (std::string& name : m_cameraNames) name.clear();
    m_format.width = 0;
    m_format.height = 0;
    m_iDevice = -1;
    CloseDevice();
}

void CNCVideoInput::SetFrameRate(int fps, int capabilityIndex) {
    if (!m_bOpen) return;
    ::SetFrameRate(*m_layer, fps, capabilityIndex, m_pLog);
}

void CNCVideoInput::BufferCB(CameraFrame& frame) noexcept {
    try {
        const std::uint32_t length = frame.Length();
        if (length == 0) return;
        std::uint32_t first = 0;
        if (!m_iFirstBufferLength.compare_exchange_strong(first, length)) {
            // Every later frame must match the first: the frame chain is sized by it.
            if (length != first) return;
        }
        if (IFrameTarget* target = m_frameTarget.load()) target->ProcessFrame(frame);
    } catch (...) {
        // The layer's streaming thread must go on; the frame is lost.
    }
}
