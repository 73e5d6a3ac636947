// Frame preparation, tracking and head detection driven from one thread: detection runs
// synchronously on every Nth frame instead of on its own thread, so a run over recorded
// frames is repeatable. Tools, tests and benchmarks use it; the program uses the threads.
//
//   CTrackingDriver driver(640, 480, 10, &sink, messages);
//   if (driver.Init() != 0) return;           // the cascade could not be loaded
//   for (...) driver.Feed(sample.data(), sample.size());
#pragma once

#include <cstdint>
#include <filesystem>

#include "feature_tracker.h"
#include "head_detect.h"
#include "thread_camera.h"
#include "tracking_state.h"

class CTrackingDriver {
public:
    // observer sees each frame's summed motion; targets, when given, let the tracker map it.
    CTrackingDriver(int width, int height, int detectEvery, IMotionSink* observer, IMessageSink& messages,
                    std::filesystem::path cascadeDirectory, MotionTargets targets = {});
    CTrackingDriver(int width, int height, int detectEvery, IMotionSink* observer, IMessageSink& messages,
                    MotionTargets targets = {});

    // Loads the cascade: 0, or -1 after telling the message sink.
    int Init();
    // One captured sample in the capture layout; rewritten (flipped) in place.
    void Feed(std::uint8_t* bytes, std::uint32_t length);

    CTrackingState& State() { return m_state; }
    CFeatureTracker& Tracker() { return m_tracker; }

private:
    CTrackingState m_state;
    CFeatureTracker m_tracker;
    CThreadCamera m_camera;
    CHeadDetect m_detect;
    const int m_iDetectEvery;
    int m_iFrame = 0;
};
