// The run-time state that the capture thread, the head detection thread and the user
// interface share. The engine owns one and hands it to each part by reference.
//
// Flags and counters are atomics, each written by one side and read by the other; the running
// flags of the two threads can be waited for. Larger
// pieces cross threads whole: the head rectangle and the point display under a mutex held
// for a copy, the live-view frames in two buffers each under its own mutex.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/camera_frame.h"
#include "tracking/detect_mailbox.h"
#include "tracking/handover.h"

// What the live view draws: the tracked points of one frame and the integrated head position.
struct PointDisplay {
    struct Point {
        int x = 0;
        int y = 0;
        bool operator==(const Point&) const = default;
    };
    static constexpr int kCapacity = 30;

    std::array<Point, kCapacity> points{};
    int headX = 0;
    int headY = 0;
    int count = 0;
};

// The two raw-frame copies of the live view: the capture thread fills one while the painter
// reads the other, the one written last.
class LiveViewBuffers {
public:
    // Copies a frame into the buffer that m_iLiveWrite names (sized on first use).
    void Write(const std::uint8_t* bytes, std::size_t length);
    // Copies the frame written last into out; false when no frame has been copied yet.
    bool ReadLatest(std::vector<std::uint8_t>& out) const;
    // Frees both buffers and starts again with buffer 1.
    void Reset();

    std::atomic<int> m_iLiveWrite{1};  // 1 or 2: the buffer the next copy goes to

private:
    struct Buffer {
        mutable std::mutex mutex;
        std::vector<std::uint8_t> bytes;
    };
    std::array<Buffer, 2> m_buffers;
};

struct CTrackingState {
    // Thread hand-shakes and the program-wide stop.
    std::atomic<bool> m_bStopAll{false};
    WaitableFlag m_bCameraThreadRunning;
    std::atomic<bool> m_bCameraThreadExit{false};
    WaitableFlag m_bHeadDetectRunning;
    std::atomic<bool> m_bHeadDetectStop{false};

    // The object that receives captured frames while the camera thread runs.
    FrameTargetSlot m_pFrameTarget{nullptr};

    // Live view (true while the camera page shows).
    std::atomic<bool> m_bLiveView{false};
    LiveViewBuffers m_liveView;

    // The reduced frame for head detection and the head it found.
    CDetectMailbox m_detect;

    // Frame and tracking figures.
    std::atomic<int> m_iFrameCount{0};
    std::atomic<int> m_iPointCount{0};

    // The display record completed last, and which of the tracker's two records it fills next.
    std::atomic<int> m_iDisplayWrite{0};
    Guarded<PointDisplay> m_display;
};
