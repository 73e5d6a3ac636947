// The frame road, owned in one place: the camera (capture facade), frame preparation
// (CThreadCamera), head detection, the feature tracker with its motion mapping and speed
// profile, and the registered consumers of mapped motion. The program and mivex-track both
// drive it, so the two cannot wire the road differently.
//
// The program, in its start-up and shutdown order:
//   CEngine engine(mirror, store, messages, &log);
//   engine.RegisterPointer(&mouse);
//   engine.StartThreadHeadDetect(true);
//   engine.StartThreadCamera(true);
//   if (engine.OpenCamera(std::move(layer), index, width, fps) > 0 && engine.AttachCamera(window))
//       engine.RunCamera();
//   engine.LoadSpeedProfile();
//   ...
//   engine.Stop();
//
// A tool, on one thread and repeatable: head detection runs on every Nth frame, inline.
//   CEngine engine(mirror, store, messages, nullptr, {.detectEvery = 10, .observer = &sink});
//   if (engine.InitDetection() == 0) { engine.SetFrameSize(w, h); for (...) engine.Feed(frame); }
//
// Everything but Feed runs on the user-interface thread; Feed runs where the frames come from.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "base/paths.h"
#include "capture/video_input.h"
#include "engine/engine_control.h"
#include "profile/speed_profile.h"
#include "tracking/feature_tracker.h"
#include "tracking/head_switch.h"
#include "tracking/tracking_state.h"

class CHeadDetect;
class CLogging;
class CNCVideoInputTrack;
class CSettingsStore;
class CThreadCamera;
class CThreadHeadDetect;
class ICaptureLayer;
class IMessageSink;

// Follows every frame through a synchronous road (tools): called on the frame's thread.
class IFrameObserver {
public:
    virtual ~IFrameObserver() = default;
    virtual void BeforeFrame() = 0;
    virtual void AfterFrame() = 0;
};

class CEngine final : public IEngineControl, private IFrameTarget {
public:
    struct Options {
        // 0: head detection on its own thread, as the program runs it. N > 0: inline on every
        // Nth frame, with no thread of the engine's own.
        int detectEvery = 0;
        std::filesystem::path cascadeDirectory = DataDirectory();
        // Sees each frame's summed point motion.
        IMotionSink* observer = nullptr;
        // Called around every frame of the synchronous road.
        IFrameObserver* frames = nullptr;
    };

    // mirror, store, messages and log (which may be null) must outlive the engine. The store
    // is read for the speed profile only.
    CEngine(CSettingsMirror& mirror, const CSettingsStore& store, IMessageSink& messages, CLogging* log,
            Options options);
    CEngine(CSettingsMirror& mirror, const CSettingsStore& store, IMessageSink& messages, CLogging* log);
    ~CEngine() override;
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    // The program-wide stop: set when the program ends or its camera failed to start. Every
    // worker loop leaves when it sees it.
    std::atomic<bool>& StopAll() { return m_state.m_bStopAll; }

    // The threaded road's start-up steps, each logged when done ("THDB OK", "TCB OK"). With
    // wait, false when the thread was not running within its time (about 10 s and 30 s).
    bool StartThreadHeadDetect(bool wait);
    bool StartThreadCamera(bool wait);

    // Opens the camera as the capture facade does: the number of cameras found, 0 when none
    // could be opened. The facade stays for the camera page (Camera()). wantedHeight picks
    // between formats of the wanted width (0: none chosen).
    int OpenCamera(std::unique_ptr<ICaptureLayer> layer, int cameraIndex, int wantedWidth, int fps,
                   int wantedHeight = 0);
    CNCVideoInputTrack* Camera() override { return m_pVideoTrack.get(); }
    // Enables delivery to the road at the opened format's size; then RunCamera starts it.
    bool AttachCamera(WindowToken window);
    bool RunCamera();
    bool CameraRunning() const { return m_bCameraRunning; }

    // The stored curves into the lookup tables, and the profile path switched on when the
    // flight option or "profile enable" is stored on.
    void LoadSpeedProfile();

    // The synchronous road: loads the cascade (0, or -1 after telling the message sink), the
    // frame size of what Feed gets, and one frame.
    int InitDetection();
    void SetFrameSize(int width, int height);
    void Feed(CameraFrame& frame);

    // Shutdown: stops capture, sets the program-wide stop, ends head detection and then the
    // camera thread, and releases the road. Called once; the destructor calls it otherwise.
    void Stop();

    EngineStatus Status() const override;
    PointDisplay Display() const override;
    void SetLiveView(bool on) override;
    bool ReadLiveView(std::vector<std::uint8_t>& out) const override;
    void AllowMorePoints() override;
    void UseSpeedProfile(bool on) override;
    bool UsesSpeedProfile() const override;
    CSpeedProfile& SpeedProfile() override { return m_speedProfile; }
    void ResetProfile() override;
    void RegisterPointer(IPointerOutput* output) override { m_outputs.pointer = output; }
    void RegisterView(IViewOutput* output) override { m_outputs.view = output; }
    void RegisterSocket(ISocketOutput* output) override { m_outputs.socket = output; }

    // The head shake that switches control; tools set its clock to the frames' time.
    CHeadSwitch& HeadSwitch() { return m_headSwitch; }

private:
    // Capture's frames in the synchronous road.
    void ProcessFrame(CameraFrame& frame) override { Feed(frame); }
    void Log(const char* text) const;

    CSettingsMirror& m_mirror;
    const CSettingsStore& m_store;
    IMessageSink& m_messages;
    CLogging* const m_pLog;
    const Options m_options;

    CTrackingState m_state;
    MotionOutputs m_outputs;
    CSpeedProfile m_speedProfile;
    CHeadSwitch m_headSwitch;
    std::unique_ptr<CFeatureTracker> m_pFeatureTracker;
    std::unique_ptr<CThreadCamera> m_pThreadCamera;
    std::unique_ptr<CThreadHeadDetect> m_pThreadHeadDetect;
    std::unique_ptr<CHeadDetect> m_pInlineDetect;  // the synchronous road's detector
    std::unique_ptr<CNCVideoInputTrack> m_pVideoTrack;
    std::atomic<bool> m_bCameraRunning{false};  // read by tools on the capture thread
    bool m_bStopped = false;
    int m_iFramesFed = 0;
};
