#include "engine/engine.h"

#include <chrono>
#include <thread>

#include "base/logging.h"
#include "base/settings_store.h"
#include "capture/video_input_track.h"
#include "tracking/head_detect.h"
#include "tracking/thread_camera.h"

namespace {

using namespace std::chrono_literals;

// The camera thread is given 101 of the 300 ms steps it used to be polled in.
constexpr auto kCameraStartWait = 101 * 300ms;
// Both threads are given a moment after they report running, and capture after it stopped.
constexpr auto kSettle = 100ms;

}  // namespace

CEngine::CEngine(CSettingsMirror& mirror, const CSettingsStore& store, IMessageSink& messages, CLogging* log,
                 Options options)
    : m_mirror(mirror),
      m_store(store),
      m_messages(messages),
      m_pLog(log),
      m_options(std::move(options)),
      m_speedProfile(store),
      m_headSwitch(mirror, m_outputs, log) {
    m_pFeatureTracker = std::make_unique<CFeatureTracker>(
        m_state, m_options.observer, MotionTargets{&m_mirror, &m_speedProfile, &m_outputs, &m_headSwitch});
    m_pThreadCamera = std::make_unique<CThreadCamera>(m_state, m_pFeatureTracker.get());
    if (m_options.detectEvery > 0) {
        UseSequentialOpenCv();
        m_pInlineDetect = std::make_unique<CHeadDetect>(m_state.m_detect, m_messages, m_options.cascadeDirectory);
        m_state.m_pFrameTarget = this;
    }
}

CEngine::CEngine(CSettingsMirror& mirror, const CSettingsStore& store, IMessageSink& messages, CLogging* log)
    : CEngine(mirror, store, messages, log, Options{}) {}

CEngine::~CEngine() { Stop(); }

void CEngine::Log(const char* text) const {
    if (m_pLog) m_pLog->Write(text, true);
}

bool CEngine::StartThreadHeadDetect(bool wait) {
    if (!m_pThreadHeadDetect)
        m_pThreadHeadDetect = std::make_unique<CThreadHeadDetect>(m_state, m_messages, m_options.cascadeDirectory);
    if (!m_pThreadHeadDetect->Start(wait)) return false;
    if (wait) std::this_thread::sleep_for(kSettle);
    Log("THDB OK");
    return true;
}

bool CEngine::StartThreadCamera(bool wait) {
    m_state.m_bCameraThreadExit = false;
    m_pThreadCamera->Start();
    if (wait) {
        if (!m_state.m_bCameraThreadRunning.WaitFor(true, kCameraStartWait)) return false;
        std::this_thread::sleep_for(kSettle);
    }
    Log("TCB OK");
    return true;
}

int CEngine::OpenCamera(std::unique_ptr<ICaptureLayer> layer, int cameraIndex, int wantedWidth, int fps,
                        int wantedHeight) {
    m_pVideoTrack = std::make_unique<CNCVideoInputTrack>(std::move(layer), m_state.m_pFrameTarget, m_pLog);
    return m_pVideoTrack->Open(cameraIndex, wantedWidth, fps, wantedHeight);
}

bool CEngine::AttachCamera(WindowToken window) {
    if (!m_pVideoTrack || !m_pVideoTrack->AttachWindow(window)) return false;
    SetFrameSize(m_pVideoTrack->Width(), m_pVideoTrack->Height());
    return true;
}

bool CEngine::RunCamera() {
    m_bCameraRunning = m_pVideoTrack && m_pVideoTrack->Run();
    return m_bCameraRunning;
}

void CEngine::LoadSpeedProfile() {
    m_speedProfile.BuildSpeedTables();
    // A curve the user applied is wanted after a restart too, not only with the flight option.
    UseSpeedProfile(m_store.ReadBool(Setting::kFlight) || m_store.ReadBool(Setting::kProfileEnable));
}

int CEngine::InitDetection() { return m_pInlineDetect ? m_pInlineDetect->Init() : -1; }

void CEngine::SetFrameSize(int width, int height) { m_pThreadCamera->SetFrameSize(width, height); }

void CEngine::Feed(CameraFrame& frame) {
    if (!m_pInlineDetect) return;
    if (m_options.frames) m_options.frames->BeforeFrame();
    const bool detecting = m_iFramesFed++ % m_options.detectEvery == 0;
    if (detecting) m_state.m_detect.Request();
    m_pThreadCamera->ProcessFrame(frame);
    if (detecting && m_state.m_detect.Served())
        m_pInlineDetect->Detect(m_state.m_detect.Image(), m_state.m_detect.Scale());
    if (m_options.frames) m_options.frames->AfterFrame();
}

void CEngine::Stop() {
    if (m_bStopped) return;
    m_bStopped = true;
    if (m_pVideoTrack) {
        m_pVideoTrack->Stop();
        std::this_thread::sleep_for(kSettle);
    }
    m_state.m_bStopAll = true;
    m_bCameraRunning = false;
    if (m_pThreadHeadDetect && m_pThreadHeadDetect->Stop(true)) std::this_thread::sleep_for(kSettle);
    if (m_state.m_bCameraThreadRunning) {
        m_pThreadCamera->Stop();
        std::this_thread::sleep_for(kSettle);
    }

    m_pVideoTrack.reset();
    m_state.m_pFrameTarget = nullptr;
    m_pThreadCamera.reset();
    m_pThreadHeadDetect.reset();
    m_pInlineDetect.reset();
    m_state.m_detect.Clear(true);
    m_pFeatureTracker.reset();
}

EngineStatus CEngine::Status() const {
    return {.frames = m_state.m_iFrameCount,
            .points = m_state.m_iPointCount,
            .headFound = m_state.m_detect.m_bHeadFound,
            .head = m_state.m_detect.m_rcHead.Load(),
            .headDetectCount = m_state.m_detect.m_iHeadDetectCount,
            .accelerating = m_mirror.m_bAccelerating,
            .cameraRunning = m_bCameraRunning};
}

PointDisplay CEngine::Display() const { return m_state.m_display.Load(); }

void CEngine::SetLiveView(bool on) { m_state.m_bLiveView = on; }

bool CEngine::ReadLiveView(std::vector<std::uint8_t>& out) const { return m_state.m_liveView.ReadLatest(out); }

void CEngine::AllowMorePoints() {
    if (m_pFeatureTracker) m_pFeatureTracker->m_bAllowMorePoints = true;
}

void CEngine::UseSpeedProfile(bool on) {
    if (m_pFeatureTracker) m_pFeatureTracker->m_bUseProfile = on;
}

bool CEngine::UsesSpeedProfile() const { return m_pFeatureTracker && m_pFeatureTracker->m_bUseProfile; }

void CEngine::ResetProfile() {
    if (m_pFeatureTracker) m_pFeatureTracker->ResetProfile();
}
