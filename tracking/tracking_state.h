// The run-time state that the capture thread, the head detection thread and the user
// interface share. The application owns one and hands it to each part by reference.
//
// Flags and counters are atomics, each written by one side and polled by the other. Larger
// pieces cross threads whole: the head rectangle and the point display under a mutex held
// for a copy, the live-view frames in two buffers each under its own mutex.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <vector>

// Left, top, right, bottom in full-frame pixels.
struct HeadRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const HeadRect&) const = default;
};

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

// A value written by one thread and copied whole by others.
template <typename T>
class Guarded {
public:
    void Store(const T& value) {
        std::lock_guard lock(m_mutex);
        m_value = value;
    }
    T Load() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

// The two raw-frame copies of the live view: the capture thread fills one while the painter
// reads the other, the one written last.
class LiveViewBuffers {
public:
    // Copies a frame into the buffer that m_iLiveWrite names (sized on first use), then flips it.
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

// Receives each captured sample on the capture thread: the camera thread's frame preparation in
// the program, a single-threaded driver in tools.
class IFrameTarget {
public:
    virtual ~IFrameTarget() = default;
    // bytes are in the capture layout and may be rewritten in place; valid only during the call.
    virtual void ProcessFrame(std::uint8_t* bytes, std::uint32_t length) = 0;
};

struct CTrackingState {
    // Thread hand-shakes and the program-wide stop.
    std::atomic<bool> m_bStopAll{false};
    std::atomic<bool> m_bCameraThreadRunning{false};
    std::atomic<bool> m_bCameraThreadExit{false};
    std::atomic<bool> m_bHeadDetectRunning{false};
    std::atomic<bool> m_bHeadDetectStop{false};

    // The object that receives captured frames while the camera thread runs.
    std::atomic<IFrameTarget*> m_pFrameTarget{nullptr};

    // Live view (true while the camera page shows).
    std::atomic<bool> m_bLiveView{false};
    LiveViewBuffers m_liveView;

    // Reduced frame for head detection. The image is written by the capture thread only while
    // m_bDetectFrameWanted is set and read by the detection thread only after it was cleared.
    std::atomic<bool> m_bDetectFrameWanted{false};
    std::atomic<int> m_iDetectScale{1};
    cv::Mat m_pDetectImage;

    // Head detection result: the rectangle is stored before the flag and the counter.
    std::atomic<bool> m_bHeadFound{false};
    Guarded<HeadRect> m_rcHead;
    std::atomic<int> m_iHeadDetectCount{0};

    // Frame and tracking figures.
    std::atomic<int> m_iFrameCount{0};
    std::atomic<int> m_iPointCount{0};

    // The display record completed last, and which of the tracker's two records it fills next.
    std::atomic<int> m_iDisplayWrite{0};
    Guarded<PointDisplay> m_display;
};
