#include "tracking/head_detect.h"

#include <chrono>
#include <opencv2/core/utility.hpp>

#include "base/paths.h"

namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr auto kCyclePause = std::chrono::milliseconds(300);
constexpr auto kStartWait = std::chrono::milliseconds(CThreadHeadDetect::kStartWaitMs);

}  // namespace

CHeadDetect::CHeadDetect(CDetectMailbox& mailbox, IMessageSink& messages)
    : CHeadDetect(mailbox, messages, DataDirectory()) {}

CHeadDetect::CHeadDetect(CDetectMailbox& mailbox, IMessageSink& messages, std::filesystem::path cascadeDirectory)
    : m_mailbox(mailbox), m_messages(messages), m_cascadeDirectory(std::move(cascadeDirectory)) {
    m_mailbox.m_bHeadFound = false;
}

std::string CHeadDetect::MissingCascadeMessage(const std::filesystem::path& tried) {
    return std::string("ERROR: file: [") + kCascadeFile + "] not found in the following location: " + tried.string();
}

void UseSequentialOpenCv() { cv::setNumThreads(0); }

int CHeadDetect::Init() {
    m_bCascadeLoaded = false;
    m_bFacesValid = false;
    m_mailbox.Clear(true);
    const std::filesystem::path path = m_cascadeDirectory / kCascadeFile;
    // A broken file makes OpenCV throw; either way the user gets the same message.
    try {
        m_bCascadeLoaded = m_cascade.load(path.string());
    } catch (const cv::Exception&) {
        m_bCascadeLoaded = false;
    }
    if (!m_bCascadeLoaded) {
        m_messages.Show(MissingCascadeMessage(path));
        return -1;
    }
    return 0;
}

int CHeadDetect::Detect(const cv::Mat& image, int scale) {
    if (m_bCascadeLoaded) {
        m_faces.clear();
        // Canny pruning is asked for, but OpenCV 4 runs every cascade, ours too, in its new
        // implementation, which ignores the flag: the faces and the time are the same without it.
        m_cascade.detectMultiScale(image, m_faces, kScaleFactor, kMinNeighbours, cv::CASCADE_DO_CANNY_PRUNING,
                                   cv::Size(kMinFaceSize, kMinFaceSize));
        m_bFacesValid = true;
    }
    if (!m_bFacesValid) return 0;
    // With several faces the last one stays; the rectangle is published before the flag and count.
    if (!m_faces.empty()) {
        const cv::Rect& face = m_faces.back();
        m_mailbox.PublishHead(
            {face.x * scale, face.y * scale, (face.x + face.width) * scale, (face.y + face.height) * scale});
    } else {
        m_mailbox.PublishNoHead();
    }
    return 0;
}

CThreadHeadDetect::CThreadHeadDetect(CTrackingState& state, IMessageSink& messages,
                                     std::filesystem::path cascadeDirectory)
    : m_state(state), m_messages(messages), m_cascadeDirectory(std::move(cascadeDirectory)) {}

CThreadHeadDetect::CThreadHeadDetect(CTrackingState& state, IMessageSink& messages)
    : CThreadHeadDetect(state, messages, DataDirectory()) {}

CThreadHeadDetect::~CThreadHeadDetect() {
    m_state.m_bHeadDetectStop = true;
    if (m_thread.joinable()) m_thread.join();
}

bool CThreadHeadDetect::Start(bool wait) {
    if (m_thread.joinable()) return m_state.m_bHeadDetectRunning;
    UseSequentialOpenCv();  // before any other thread works with OpenCV
    m_state.m_bHeadDetectStop = false;
    m_state.m_detect.Clear(false);
    m_thread = std::thread([this] { Run(); });
    return !wait || m_state.m_bHeadDetectRunning.WaitFor(true, kStartWait);
}

bool CThreadHeadDetect::Stop(bool wait) {
    m_state.m_bHeadDetectStop = true;
    m_state.m_detect.Wake();
    if (!wait) return true;
    const bool ended = m_state.m_bHeadDetectRunning.WaitFor(false, kStartWait);
    // A detector whose cascade failed never ran its loop, and its thread has nothing left to do.
    if (ended && m_thread.joinable()) m_thread.join();
    return ended;
}

void CThreadHeadDetect::Run() {
    CHeadDetect detect(m_state.m_detect, m_messages, m_cascadeDirectory);
    if (detect.Init() == -1) return;  // told the user; the program goes on without tracking
    std::this_thread::sleep_for(kPoll);
    m_state.m_bHeadDetectRunning = true;
    while (!m_state.m_bStopAll) {
        if (m_state.m_bHeadDetectStop) break;
        m_state.m_detect.Request();
        std::this_thread::sleep_for(kPoll);
        // Only a served frame is read: after a stop the capture thread may still be writing it.
        const bool served =
            m_state.m_detect.WaitServed([this] { return m_state.m_bStopAll || m_state.m_bHeadDetectStop; });
        if (served) detect.Detect(m_state.m_detect.Image(), m_state.m_detect.Scale());
        std::this_thread::sleep_for(kCyclePause);
    }
    m_state.m_bHeadDetectRunning = false;
}
