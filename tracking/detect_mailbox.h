// The hand-over between frame preparation and head detection: detection asks for a reduced copy
// of the next frame, frame preparation serves it on the capture thread, detection works on it
// and publishes the head it found, which the tracker reads on every frame.
//
//   detection thread                             capture thread
//   mailbox.Request();                           if (mailbox.Wanted()) mailbox.Serve(frame);
//   if (mailbox.WaitServed(stopped))
//       detect.Detect(mailbox.Image(), mailbox.Scale());   // PublishHead / PublishNoHead
//
// The image is written by the capture thread only while a request is open and read by the
// detection side only after it was served, so it needs no lock of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <opencv2/core/mat.hpp>

#include "tracking/handover.h"

// Left, top, right, bottom in full-frame pixels.
struct HeadRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const HeadRect&) const = default;
};

class CDetectMailbox {
public:
    // Detection side: opens a request for the next frame.
    void Request();
    // Detection side: waits until the request was served (true) or stopped() holds (false).
    // stopped is tested at the start and whenever Wake is called.
    bool WaitServed(const std::function<bool()>& stopped);
    // Wakes a waiting WaitServed so that it tests its stop condition again.
    void Wake();
    // True when the last request was served and an image exists.
    bool Served() const { return !m_bDetectFrameWanted && !m_pDetectImage.empty(); }
    // The served reduced frame and its reduction; valid until the next request is served.
    const cv::Mat& Image() const { return m_pDetectImage; }
    int Scale() const { return m_iDetectScale; }
    // Withdraws an open request; with the image, frees it too (a new detector starts afresh).
    void Clear(bool freeImage);

    // Capture side: whether a request is open.
    bool Wanted() const { return m_bDetectFrameWanted; }
    // Capture side: fills the reduced copy of a top-down frame and closes the request. The
    // reduction is fixed by the first frame served: by 2 above 300 pixels of width, 4 above 500.
    void Serve(const cv::Mat& frame);

    // The detection result: the rectangle is stored before the flag and the counter.
    void PublishHead(const HeadRect& head);
    void PublishNoHead();

    std::atomic<bool> m_bHeadFound{false};
    Guarded<HeadRect> m_rcHead;
    std::atomic<int> m_iHeadDetectCount{0};

private:
    std::atomic<bool> m_bDetectFrameWanted{false};
    std::atomic<int> m_iDetectScale{1};
    cv::Mat m_pDetectImage;
    std::mutex m_mutex;
    std::condition_variable m_served;
};
