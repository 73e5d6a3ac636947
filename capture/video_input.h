// The capture of one camera: the device list, opening a device with a chosen format, frame
// delivery to the camera thread, and run/stop. The application uses it through
// CNCVideoInputTrack.
//
//   CNCVideoInput input(std::move(layer), frameTarget, &log);
//   if (input.EnumerateDevices() > 0 && input.BuildGraph(0, 640)) {
//       input.AttachWindow(window, 0, 0);  // enables delivery
//       input.Run();                       // frames reach the target published in frameTarget
//       input.Stop(false);
//   }
//
// Every operation but BufferCB runs on the user-interface thread. BufferCB runs on the layer's
// streaming thread; Stop and DetachWindow end delivery before the capture is changed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/camera_frame.h"
#include "base/settings_keys.h"
#include "capture/capture_layer.h"
#include "capture/format_search.h"

class CLogging;

// A window of the application, opaque to the capture; 0 is none.
using WindowToken = std::uintptr_t;

class CNCVideoInput {
public:
    static constexpr int kNamedCameras = 10;

    // log may be null.
    CNCVideoInput(std::unique_ptr<ICaptureLayer> layer, FrameTargetSlot& frameTarget, CLogging* log);
    ~CNCVideoInput();
    CNCVideoInput(const CNCVideoInput&) = delete;
    CNCVideoInput& operator=(const CNCVideoInput&) = delete;

    // Lists the cameras again; returns how many there are. The first ten get a camera name.
    int EnumerateDevices();
    static constexpr int kDefaultFrameRate = 12;

    // Opens camera deviceIndex (0-based) and chooses its format, applied at fps frames per
    // second (wantedHeight picks between formats of the wanted width; 0: none chosen); -1 closes
    // the camera and succeeds. False for an index past the list or a device that cannot be opened.
    bool BuildGraph(int deviceIndex, int wantedWidth, int fps = kDefaultFrameRate, int wantedHeight = 0);
    // Enables delivery to the frame target. False when a window is already attached, the window
    // is 0 or no camera is open. mode and drain are kept for the callers' sake and unused.
    bool AttachWindow(WindowToken owner, int mode, WindowToken drain);
    // Starts delivery; false when no window is attached, already running, or the camera refused.
    bool Run();
    // Stops delivery and returns once the last frame has been handled; false when no window is
    // attached or already stopped. whenReady is accepted for the callers' sake and unused.
    bool Stop(bool whenReady);
    // Stops and disables delivery; returns the window that was attached, or 0.
    WindowToken DetachWindow();
    // Detaches and closes the camera; BuildGraph opens it again.
    void TearDownGraph();
    // The open camera's own settings (none while no camera is open), and a change of one: false,
    // with the reason in error, when refused.
    std::vector<CaptureControl> Controls();
    bool SetControl(std::uint32_t id, std::int32_t value, std::string& error);
    // Detaches, closes the camera, forgets the devices and the chosen size.
    void ReleaseAll();
    // Changes the frame rate of the format in use; does nothing while no camera is open.
    void SetFrameRate(int fps, int capabilityIndex);

    // The layer's frame callback. Accepts frames of the first frame's length (in the colour
    // layout) only and hands them to the published frame target; drops them while none is
    // published. Never throws.
    void BufferCB(CameraFrame& frame) noexcept;

    int DeviceCount() const { return static_cast<int>(m_devices.size()); }
    // The device at that position, or null.
    const CaptureDeviceInfo* Device(int index) const;
    // Camera name number 1..10; empty for others and for cameras not found.
    const std::string& CameraName(int number) const;
    int CurrentDevice() const { return m_iDevice; }
    std::int32_t Width() const { return m_format.width; }
    std::int32_t Height() const { return m_format.height; }
    int CapabilityIndex() const { return m_format.capabilityIndex; }
    const ResolutionList& Resolutions() const { return m_format.resolutions; }
    // The colour layout's length of the first frame (CameraFrame::Length, whatever the device's
    // own buffer held), which every later frame must have; 0 until a frame arrived.
    std::uint32_t FirstBufferLength() const { return m_iFirstBufferLength.load(); }
    bool IsStopped() const { return m_bStopped; }
    WindowToken Owner() const { return m_owner; }

private:
    void Log(const std::string& text);
    void CloseDevice();

    std::unique_ptr<ICaptureLayer> m_layer;
    FrameTargetSlot& m_frameTarget;
    CLogging* const m_pLog;

    std::vector<CaptureDeviceInfo> m_devices;
    std::array<std::string, kNamedCameras> m_cameraNames;
    CaptureFormat m_format;
    WindowToken m_owner = 0;
    int m_iDevice = -1;
    bool m_bOpen = false;  // the layer holds a device open
    bool m_bStopped = true;
    // Written by the streaming thread, read by anyone.
    std::atomic<std::uint32_t> m_iFirstBufferLength{0};
};

// A stored camera choice names one of the cameras the program keeps names of.
static_assert(Setting::kCameraSelected.maxValue == CNCVideoInput::kNamedCameras - 1);
