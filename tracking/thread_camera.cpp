#include "tracking/thread_camera.h"

#include <chrono>

#include "base/camera_frame.h"
#include "tracking/feature_tracker.h"

namespace {

constexpr auto kExitPoll = std::chrono::milliseconds(1000);

}  // namespace

CThreadCamera::CThreadCamera(CTrackingState& state, CFeatureTracker* tracker, int width, int height)
    : m_state(state), m_pTracker(tracker), m_iWidth(width), m_iHeight(height) {}

CThreadCamera::CThreadCamera(CTrackingState& state, CFeatureTracker* tracker) : CThreadCamera(state, tracker, 0, 0) {}

CThreadCamera::~CThreadCamera() { Stop(); }

void CThreadCamera::SetFrameSize(int width, int height) {
    m_iWidth = width;
    m_iHeight = height;
}

void CThreadCamera::ProcessFrame(CameraFrame& frame) {
    if (m_state.m_bCameraThreadExit || m_state.m_bHeadDetectStop) return;

    // Everything below is sized by the negotiated format.
    if (m_iWidth == 0 || frame.Width() != m_iWidth || frame.Height() != m_iHeight) return;

    const bool liveView = m_state.m_bLiveView;
    const bool detect = m_state.m_detect.Wanted();
    if (liveView || detect) {
        const std::uint8_t* colour = frame.Colour();
        if (!colour) return;  // undecodable: capture counts it
        if (liveView) m_state.m_liveView.Write(colour, frame.Length());
        if (detect) m_state.m_detect.Serve(CaptureImage(colour, m_iWidth, m_iHeight));
    }

    if (m_pTracker && !m_pTracker->OnFrame(frame)) return;
    ++m_state.m_iFrameCount;
}

void CThreadCamera::Start() {
    if (m_thread.joinable()) return;
    m_thread = std::thread([this] {
        InitInstance();
        ExitInstance();
    });
}

void CThreadCamera::RequestExit() {
    {
        // Under the lock, so the wake-up cannot fall between the thread's test and its wait.
        std::lock_guard lock(m_exitMutex);
        m_state.m_bCameraThreadExit = true;
    }
    m_exitWake.notify_all();
}

void CThreadCamera::Stop() {
    if (!m_thread.joinable()) return;
    RequestExit();
    m_thread.join();
}

void CThreadCamera::InitInstance() {
    m_state.m_pFrameTarget = this;
    m_state.m_liveView.Reset();
    m_state.m_bCameraThreadRunning = true;
    std::unique_lock lock(m_exitMutex);
    while (!m_state.m_bCameraThreadExit) m_exitWake.wait_for(lock, kExitPoll);
}

void CThreadCamera::ExitInstance() {
    m_state.m_bCameraThreadRunning = false;
    m_state.m_liveView.Reset();
    m_state.m_pFrameTarget = nullptr;
}
