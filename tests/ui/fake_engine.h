// The frame road as a page sees it, with nothing running behind it: the status, display record
// and live-view frame are whatever the test sets, and the camera is the capture facade over a
// scripted layer.
#pragma once

#include <memory>
#include <vector>

#include "capture/scripted_capture.h"
#include "capture/video_input_track.h"
#include "engine/engine_control.h"
#include "profile/speed_profile.h"

class FakeEngine final : public IEngineControl {
public:
    explicit FakeEngine(const CSettingsStore& store) : profile(store) {}
    EngineStatus Status() const override { return status; }
    PointDisplay Display() const override { return display; }
    void SetLiveView(bool on) override { liveView = on; }
    bool ReadLiveView(std::vector<std::uint8_t>& out) const override { return !(out = liveFrame).empty(); }
    void AllowMorePoints() override { ++morePointsGranted; }
    CNCVideoInputTrack* Camera() override { return camera.get(); }
    void UseSpeedProfile(bool on) override { useProfile = on; }
    bool UsesSpeedProfile() const override { return useProfile; }
    CSpeedProfile& SpeedProfile() override { return profile; }
    void ResetProfile() override { ++resets; }
    void RegisterPointer(IPointerOutput*) override {}
    void RegisterView(IViewOutput*) override {}
    void RegisterSocket(ISocketOutput*) override {}

    // Opens camera `index` of these devices at the format nearest `width` and runs it, as start-up
    // does; the scripted layer stays reachable for the test.
    CScriptedCapture& RunCamera(std::vector<CScriptedCapture::Device> devices, int index = 0, int width = 640) {
        auto scripted = std::make_unique<CScriptedCapture>(std::move(devices));
        CScriptedCapture& layer = *scripted;
        camera = std::make_unique<CNCVideoInputTrack>(std::move(scripted), frameTarget, nullptr);
        status.cameraRunning = camera->Open(index, width, 12) > 0 && camera->AttachWindow(1) && camera->Run();
        return layer;
    }

    EngineStatus status;
    PointDisplay display;
    std::vector<std::uint8_t> liveFrame;
    bool liveView = false, useProfile = false;
    int morePointsGranted = 0;
    int resets = 0;
    CSpeedProfile profile;
    FrameTargetSlot frameTarget{nullptr};
    std::unique_ptr<CNCVideoInputTrack> camera;
};
