#include "capture/video_input_track.h"

#include <utility>

CNCVideoInputTrack::CNCVideoInputTrack(std::unique_ptr<ICaptureLayer> layer, FrameTargetSlot& frameTarget,
                                       CLogging* log)
    : m_input(std::move(layer), frameTarget, log) {}

int CNCVideoInputTrack::Open(int cameraIndex, int wantedWidth, int fps, int wantedHeight) {
    m_iCameraCount = m_input.EnumerateDevices();
    if (cameraIndex + 1 > m_iCameraCount) cameraIndex = 0;
    // A failed build shows as a width of 0, which the caller checks.
    if (m_iCameraCount != 0) m_input.BuildGraph(cameraIndex, wantedWidth, fps, wantedHeight);

    const CaptureDeviceInfo* device = m_input.Device(cameraIndex);
    if (!device) {
        m_iSelectedCamera = -1;
        m_strCameraName.clear();
        return 0;
    }
    m_iSelectedCamera = cameraIndex;
    m_strCameraName = device->friendlyName;
    m_iWidth = m_input.Width();
    m_iHeight = m_input.Height();
    return m_iCameraCount;
}

bool CNCVideoInputTrack::AttachWindow(WindowToken window) { return m_input.AttachWindow(window, 0, 0); }

bool CNCVideoInputTrack::Run() { return m_input.Run(); }

bool CNCVideoInputTrack::Stop() { return m_input.Stop(false); }

void CNCVideoInputTrack::SetFrameRate(int fps, int capabilityIndex) { m_input.SetFrameRate(fps, capabilityIndex); }

int CNCVideoInputTrack::GetResolution(int entry, int& width, int& height, int& selectedEntry) const {
    const ResolutionList& list = m_input.Resolutions();
    if (entry >= 0 && entry < list.count) {
        width = list.entries[entry].width;
        height = list.entries[entry].height;
        selectedEntry = list.selected;
    }
    return list.count;
}

int CNCVideoInputTrack::GetCameraName(int cameraIndex, std::string& name, int& selectedCamera) const {
    selectedCamera = m_iSelectedCamera;
    if (cameraIndex < 0 || cameraIndex >= CNCVideoInput::kNamedCameras) return -1;
    name = m_input.CameraName(cameraIndex + 1);
    return m_iCameraCount;
}
