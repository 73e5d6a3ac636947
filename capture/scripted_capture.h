// A capture layer that plays a script, for tests: a device list, each device's formats,
// failures at chosen steps, and colour frames of chosen sizes delivered on a thread of its own.
//
//   CScriptedCapture layer;
//   layer.SetDevices({{{"Cam A", "", "/dev/video0"}, {{true, 24, 640, 480}}}});
//   layer.FailRun(true);                        // Run will refuse
//   ... the code under test opens, chooses a format, runs ...
//   layer.QueueFrames({{640, 480}, {320, 240}}); // delivered in order while running
//   layer.WaitUntilDelivered();
//   layer.Calls();                              // {"Open 0", "SetFormat 0 833333", ...}
//   layer.SetControls({{.id = 1, .name = "Brightness", .maximum = 255}});
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_layer.h"

class CScriptedCapture : public ICaptureLayer {
public:
    struct Device {
        CaptureDeviceInfo info;
        std::vector<CaptureCapability> capabilities;
    };

    CScriptedCapture() = default;
    explicit CScriptedCapture(std::vector<Device> devices);
    ~CScriptedCapture() override;
    CScriptedCapture(const CScriptedCapture&) = delete;
    CScriptedCapture& operator=(const CScriptedCapture&) = delete;

    // The script. Set it while nothing runs.
    void SetDevices(std::vector<Device> devices);
    void FailOpen(bool fail);
    void FailGetCapability(int index);  // that index cannot be described
    void FailSetFormat(int index);      // that format is refused
    void FailSetFrameInterval(bool fail);
    void FailRun(bool fail);
    // The device's own settings; SetControl keeps within their ranges and flags, and a control
    // named here refuses every change with that reason.
    void SetControls(std::vector<CaptureControl> controls);
    void FailSetControl(std::uint32_t id, std::string reason);

    // Colour frames of these sizes go to the callback, in order, while running; each is filled
    // with its number in the whole run (0, 1, ...) modulo 256.
    void QueueFrames(const std::vector<cv::Size>& sizes);
    // Blocks until every queued frame has been handed over and its callback has returned.
    // Returns at once, false, when frames are queued but nothing runs.
    bool WaitUntilDelivered();

    // What happened: one line per layer call that changes something, e.g. "Open 1",
    // "SetFormat 2 333333", "SetFrameInterval 833333", "SetFrameCallback set", "Run", "Stop",
    // "SetControl 1 128", "Close". Refused calls end in " failed".
    std::vector<std::string> Calls() const;
    int OpenDevice() const;  // -1 when closed
    bool IsRunning() const;
    std::int64_t FrameInterval() const;  // of the format in use; 0 when none was set
    int FramesDelivered() const;

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

private:
    void Record(std::string call);
    void Deliver(CaptureFrameCallback callback);
    bool StopLocked(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Device> m_devices;
    bool m_bFailOpen = false;
    std::set<int> m_failedCapabilities;
    std::set<int> m_refusedFormats;
    bool m_bFailSetFrameInterval = false;
    bool m_bFailRun = false;
    std::vector<CaptureControl> m_controls;
    std::map<std::uint32_t, std::string> m_failedControls;

    std::vector<std::string> m_calls;
    int m_iOpenDevice = -1;
    int m_iFormat = -1;
    std::int64_t m_iFrameInterval = 0;
    CaptureFrameCallback m_callback;

    std::deque<cv::Size> m_queue;
    bool m_bRunning = false;
    bool m_bDelivering = false;  // a callback is in progress
    int m_iDelivered = 0;
    std::thread m_thread;
};
