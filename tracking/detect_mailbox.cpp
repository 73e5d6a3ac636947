#include "tracking/detect_mailbox.h"

#include <opencv2/imgproc.hpp>

#include "base/camera_frame.h"

void CDetectMailbox::Request() {
    std::lock_guard lock(m_mutex);
    m_bDetectFrameWanted = true;
}

bool CDetectMailbox::WaitServed(const std::function<bool()>& stopped) {
    std::unique_lock lock(m_mutex);
    m_served.wait(lock, [&] { return !m_bDetectFrameWanted || stopped(); });
    return !m_bDetectFrameWanted;
}

void CDetectMailbox::Wake() {
    // Taken, so the wake-up cannot fall between the waiter's test and its wait.
    m_mutex.lock();
    m_mutex.unlock();
    m_served.notify_all();
}

void CDetectMailbox::Clear(bool freeImage) {
    std::lock_guard lock(m_mutex);
    m_bDetectFrameWanted = false;
    if (freeImage) {
        m_pDetectImage.release();
        m_iDetectScale = 1;
    }
}

void CDetectMailbox::Serve(const cv::Mat& frame) {
    {
        std::lock_guard lock(m_mutex);
        if (m_pDetectImage.empty()) {
            m_iDetectScale = DetectReduction(frame.cols);
            const int scale = m_iDetectScale;
            m_pDetectImage.create(frame.rows / scale, frame.cols / scale, CV_8UC(frame.channels()));
        }
        if (m_iDetectScale > 1)
            cv::resize(frame, m_pDetectImage, m_pDetectImage.size(), 0, 0, cv::INTER_LINEAR);
        else
            frame.copyTo(m_pDetectImage);
        m_bDetectFrameWanted = false;
    }
    m_served.notify_all();
}

void CDetectMailbox::PublishHead(const HeadRect& head) {
    m_rcHead.Store(head);
    m_bHeadFound = true;
    ++m_iHeadDetectCount;
}

void CDetectMailbox::PublishNoHead() {
    m_bHeadFound = false;
    m_iHeadDetectCount = 0;
}
