// The application's handle on the camera: open one, attach the live view, run, stop, change
// the frame rate, and read the names and resolutions for the camera page.
//
//   CNCVideoInputTrack track(std::move(layer), frameTarget, &log);
//   // the camera's own settings: track.Input().Controls(), track.Input().SetControl(...)
//   if (track.Open(cameraIndex, wantedWidth, fps) > 0 && track.Width() != 0) {
//       track.AttachWindow(liveView);
//       track.Run();
//   }
//
// All operations run on the user-interface thread.
#pragma once

#include <memory>
#include <string>

#include "capture/video_input.h"

class CNCVideoInputTrack {
public:
    CNCVideoInputTrack(std::unique_ptr<ICaptureLayer> layer, FrameTargetSlot& frameTarget, CLogging* log);
    CNCVideoInputTrack(const CNCVideoInputTrack&) = delete;
    CNCVideoInputTrack& operator=(const CNCVideoInputTrack&) = delete;

    // Lists the cameras and opens cameraIndex, or camera 0 when the index is past the list.
    // Returns the number of cameras; 0, with no camera selected, when there is none to open.
    // wantedHeight picks between formats of the wanted width (0: none chosen).
    int Open(int cameraIndex, int wantedWidth, int fps = CNCVideoInput::kDefaultFrameRate, int wantedHeight = 0);
    bool AttachWindow(WindowToken window);
    bool Run();
    bool Stop();
    void SetFrameRate(int fps, int capabilityIndex);

    // Returns the number of resolution entries; for an entry below it, writes its size and the
    // index of the chosen entry, otherwise writes nothing.
    int GetResolution(int entry, int& width, int& height, int& selectedEntry) const;
    // Always writes the selected camera index. Returns -1 for an index outside 0..9; otherwise
    // writes that camera's name (empty when there is none) and returns the number of cameras.
    int GetCameraName(int cameraIndex, std::string& name, int& selectedCamera) const;

    int SelectedCamera() const { return m_iSelectedCamera; }
    const std::string& CameraName() const { return m_strCameraName; }
    int Width() const { return m_iWidth; }
    int Height() const { return m_iHeight; }
    // The chosen format's position in the camera's list (-1 when none), for SetFrameRate.
    int CapabilityIndex() const { return m_input.CapabilityIndex(); }

    CNCVideoInput& Input() { return m_input; }

private:
    CNCVideoInput m_input;
    std::string m_strCameraName;
    int m_iCameraCount = 0;
    int m_iSelectedCamera = -1;
    int m_iWidth = 0;
    int m_iHeight = 0;
};
