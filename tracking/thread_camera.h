// Frame preparation: every captured frame passes through CThreadCamera::ProcessFrame on the
// capture thread, which copies its colour image for the live view, serves a reduced copy to head
// detection on request, hands the frame to the tracker (which reads its grey image) and counts
// it. Colour is asked of the frame only for those two, so most frames are never decoded to it.
//
//   CThreadCamera camera(state, &tracker, width, height);
//   camera.Start();                         // publishes itself as the frame target
//
// The engine starts the thread before the camera is open and gives the size later:
//   CThreadCamera camera(state, &tracker);  camera.Start();  ...  camera.SetFrameSize(w, h);
//   ... capture calls state.m_pFrameTarget.load()->ProcessFrame(frame) ...
//   camera.Stop();                          // after capture has stopped
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <thread>

#include "tracking/tracking_state.h"

class CFeatureTracker;

class CThreadCamera final : public IFrameTarget {
public:
    // width and height are those of the negotiated capture format.
    CThreadCamera(CTrackingState& state, CFeatureTracker* tracker, int width, int height);
    // Frames are dropped until SetFrameSize gives the size.
    CThreadCamera(CTrackingState& state, CFeatureTracker* tracker);
    ~CThreadCamera();
    CThreadCamera(const CThreadCamera&) = delete;
    CThreadCamera& operator=(const CThreadCamera&) = delete;

    // Called by capture once per accepted frame. A frame that cannot be decoded is not counted.
    void ProcessFrame(CameraFrame& frame) override;

    // The size of the negotiated capture format; set before capture runs.
    void SetFrameSize(int width, int height);

    // Starts the thread that publishes this object as the frame target and waits, in 1000 ms
    // steps, for m_bCameraThreadExit. RequestExit sets the flag and wakes the thread at once;
    // Stop also joins. Capture must be stopped first.
    void Start();
    void RequestExit();
    void Stop();

    // The thread's start-up and exit routines.
    void InitInstance();
    void ExitInstance();

private:
    CTrackingState& m_state;
    CFeatureTracker* const m_pTracker;
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::thread m_thread;
    std::mutex m_exitMutex;
    std::condition_variable m_exitWake;
};
