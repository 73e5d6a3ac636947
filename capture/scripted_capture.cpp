#include "capture/scripted_capture.h"

#include <algorithm>
#include <utility>

CScriptedCapture::CScriptedCapture(std::vector<Device> devices) : m_devices(std::move(devices)) {}

CScriptedCapture::~CScriptedCapture() { Close(); }

void CScriptedCapture::SetDevices(std::vector<Device> devices) {
    std::lock_guard lock(m_mutex);
    m_devices = std::move(devices);
}

void CScriptedCapture::FailOpen(bool fail) {
    std::lock_guard lock(m_mutex);
    m_bFailOpen = fail;
}

void CScriptedCapture::FailGetCapability(int index) {
    std::lock_guard lock(m_mutex);
    m_failedCapabilities.insert(index);
}

void CScriptedCapture::FailSetFormat(int index) {
    std::lock_guard lock(m_mutex);
    m_refusedFormats.insert(index);
}

void CScriptedCapture::FailSetFrameInterval(bool fail) {
    std::lock_guard lock(m_mutex);
    m_bFailSetFrameInterval = fail;
}

void CScriptedCapture::FailRun(bool fail) {
    std::lock_guard lock(m_mutex);
    m_bFailRun = fail;
}

void CScriptedCapture::QueueFrames(const std::vector<cv::Size>& sizes) {
    std::lock_guard lock(m_mutex);
    m_queue.insert(m_queue.end(), sizes.begin(), sizes.end());
    m_changed.notify_all();
}

bool CScriptedCapture::WaitUntilDelivered() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return (m_queue.empty() || !m_bRunning) && !m_bDelivering; });
    return m_queue.empty();
}

std::vector<std::string> CScriptedCapture::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

int CScriptedCapture::OpenDevice() const {
    std::lock_guard lock(m_mutex);
    return m_iOpenDevice;
}

bool CScriptedCapture::IsRunning() const {
    std::lock_guard lock(m_mutex);
    return m_bRunning;
}

std::int64_t CScriptedCapture::FrameInterval() const {
    std::lock_guard lock(m_mutex);
    return m_iFrameInterval;
}

int CScriptedCapture::FramesDelivered() const {
    std::lock_guard lock(m_mutex);
    return m_iDelivered;
}

std::vector<CaptureDeviceInfo> CScriptedCapture::EnumerateDevices() {
    std::lock_guard lock(m_mutex);
    std::vector<CaptureDeviceInfo> infos;
    for (const Device& device : m_devices) infos.push_back(device.info);
    return infos;
}

bool CScriptedCapture::Open(int deviceIndex) {
    std::unique_lock lock(m_mutex);
    const bool ok = !m_bFailOpen && deviceIndex >= 0 && deviceIndex < static_cast<int>(m_devices.size());
    m_calls.push_back("Open " + std::to_string(deviceIndex) + (ok ? "" : " failed"));
    if (!ok) return false;
    StopLocked(lock);
    m_iOpenDevice = deviceIndex;
    m_iFormat = -1;
    m_iFrameInterval = 0;
    return true;
}

int CScriptedCapture::CapabilityCount() {
    std::lock_guard lock(m_mutex);
    if (m_iOpenDevice < 0) return 0;
    return static_cast<int>(m_devices[m_iOpenDevice].capabilities.size());
}

bool CScriptedCapture::GetCapability(int index, CaptureCapability& capability) {
    std::lock_guard lock(m_mutex);
    if (m_iOpenDevice < 0 || m_failedCapabilities.count(index)) return false;
    const auto& list = m_devices[m_iOpenDevice].capabilities;
    if (index < 0 || index >= static_cast<int>(list.size())) return false;
    capability = list[index];
    return true;
}

bool CScriptedCapture::SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) {
    std::lock_guard lock(m_mutex);
    const bool ok = !m_refusedFormats.count(capabilityIndex) && m_iOpenDevice >= 0 && capabilityIndex >= 0 &&
                    capabilityIndex < static_cast<int>(m_devices[m_iOpenDevice].capabilities.size());
    m_calls.push_back("SetFormat " + std::to_string(capabilityIndex) + " " + std::to_string(frameInterval100ns) +
                      (ok ? "" : " failed"));
    if (!ok) return false;
    m_iFormat = capabilityIndex;
    m_iFrameInterval = frameInterval100ns;
    return true;
}

bool CScriptedCapture::SetFrameInterval(std::int64_t frameInterval100ns) {
    std::lock_guard lock(m_mutex);
    const bool ok = !m_bFailSetFrameInterval && m_iOpenDevice >= 0 && m_iFormat >= 0;
    m_calls.push_back("SetFrameInterval " + std::to_string(frameInterval100ns) + (ok ? "" : " failed"));
    if (ok) m_iFrameInterval = frameInterval100ns;
    return ok;
}

void CScriptedCapture::SetFrameCallback(CaptureFrameCallback callback) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(callback ? "SetFrameCallback set" : "SetFrameCallback cleared");
    // The running thread keeps the callback it started with, as a layer's streaming thread would.
    m_callback = std::move(callback);
}

bool CScriptedCapture::Run() {
    std::lock_guard lock(m_mutex);
    const bool ok = !m_bFailRun && m_iOpenDevice >= 0;
    m_calls.push_back(ok ? "Run" : "Run failed");
    if (!ok) return false;
    if (m_bRunning) return true;
    m_bRunning = true;
    m_thread = std::thread(&CScriptedCapture::Deliver, this, m_callback);
    return true;
}

bool CScriptedCapture::Stop() {
    std::unique_lock lock(m_mutex);
    m_calls.push_back("Stop");
    return StopLocked(lock);
}

bool CScriptedCapture::StopLocked(std::unique_lock<std::mutex>& lock) {
    if (!m_bRunning) return false;
    m_bRunning = false;
    m_changed.notify_all();
    std::thread thread = std::move(m_thread);
    lock.unlock();
    thread.join();  // the callback in progress returns first
    lock.lock();
    m_changed.notify_all();
    return true;
}

void CScriptedCapture::SetControls(std::vector<CaptureControl> controls) {
    std::lock_guard lock(m_mutex);
    m_controls = std::move(controls);
}

void CScriptedCapture::FailSetControl(std::uint32_t id, std::string reason) {
    std::lock_guard lock(m_mutex);
    m_failedControls[id] = std::move(reason);
}

std::vector<CaptureControl> CScriptedCapture::Controls() {
    std::lock_guard lock(m_mutex);
    return m_iOpenDevice < 0 ? std::vector<CaptureControl>{} : m_controls;
}

bool CScriptedCapture::SetControl(std::uint32_t id, std::int32_t value, std::string& error) {
    std::lock_guard lock(m_mutex);
    const auto control = std::find_if(m_controls.begin(), m_controls.end(), [id](auto& c) { return c.id == id; });
    if (m_iOpenDevice < 0 || control == m_controls.end())
        error = "no such control";
    else if (const auto failed = m_failedControls.find(id); failed != m_failedControls.end())
        error = failed->second;
    else if (!control->Changeable())
        error = "read-only";
    else if (value < control->minimum || value > control->maximum)
        error = "outside the range";
    else
        error.clear();
    m_calls.push_back("SetControl " + std::to_string(id) + " " + std::to_string(value) +
                      (error.empty() ? "" : " failed"));
    if (!error.empty()) return false;
    control->value = value;
    return true;
}

void CScriptedCapture::Close() {
    std::unique_lock lock(m_mutex);
    if (m_iOpenDevice < 0 && !m_bRunning) return;
    m_calls.push_back("Close");
    StopLocked(lock);
    m_iOpenDevice = -1;
    m_iFormat = -1;
}

void CScriptedCapture::Deliver(CaptureFrameCallback callback) {
    std::vector<std::uint8_t> buffer;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_bRunning || !m_queue.empty(); });
        if (!m_bRunning) return;
        const cv::Size size = m_queue.front();
        m_queue.pop_front();
        buffer.assign(CaptureFrameLength(size.width, size.height), static_cast<std::uint8_t>(m_iDelivered));
        ++m_iDelivered;
        m_bDelivering = true;
        lock.unlock();
        ColourFrame frame(buffer.data(), size.width, size.height);
        if (callback) callback(frame);
        lock.lock();
        m_bDelivering = false;
        m_changed.notify_all();
    }
}
