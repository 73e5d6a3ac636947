#include "head_detect.h"

#include <chrono>
#include <opencv2/core/utility.hpp>

#include "paths.h"

namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr auto kCyclePause = std::chrono::milliseconds(300);

}  // namespace

CHeadDetect::CHeadDetect(CTrackingState& state, IMessageSink& messages)
    : CHeadDetect(state, messages, DataDirectory()) {}

CHeadDetect::CHeadDetect(CTrackingState& state, IMessageSink& messages, std::filesystem::path cascadeDirectory)
    : m_state(state), m_messages(messages), m_cascadeDirectory(std::move(cascadeDirectory)) {
    m_state.m_bHeadFound = false;
}

std::string CHeadDetect::MissingCascadeMessage(const std::filesystem::path& tried) {
    return std::string("ERROR: file: [") + kCascadeFile + "] not found in the following location: " + tried.string();
}

void UseSequentialOpenCv() { cv::setNumThreads(0); }

int CHeadDetect::Init() {
    m_bCascadeLoaded = false;
    m_bFacesValid = false;
    m_state.m_pDetectImage.release();
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
        m_cascade.detectMultiScale(image, m_faces, kScaleFactor, kMinNeighbours, cv::CASCADE_DO_CANNY_PRUNING,
                                   cv::Size(kMinFaceSize, kMinFaceSize));
        m_bFacesValid = true;
    }
    if (!m_bFacesValid) return 0;
    // With several faces the last one stays; the rectangle is published before the flag and count.
    if (!m_faces.empty()) {
        const cv::Rect& face = m_faces.back();
        m_state.m_rcHead.Store(
            {face.x * scale, face.y * scale, (face.x + face.width) * scale, (face.y + face.height) * scale});
        m_state.m_bHeadFound = true;
        ++m_state.m_iHeadDetectCount;
    } else {
        m_state.m_bHeadFound = false;
        m_state.m_iHeadDetectCount = 0;
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

namespace {

// Polls a flag in 100 ms steps for at most 10 seconds.
template <typename Done>
bool WaitFor(Done done) {
    for (int waited = 0; waited < CThreadHeadDetect::kStartWaitMs; waited += 100) {
        if (done()) return true;
        std::this_thread::sleep_for(kPoll);
    }
    return done();
}

}  // namespace

bool CThreadHeadDetect::Start(bool wait) {
    if (m_thread.joinable()) return m_state.m_bHeadDetectRunning;
    UseSequentialOpenCv();  // before any other thread works with OpenCV
    m_state.m_bHeadDetectStop = false;
    m_state.m_bDetectFrameWanted = false;
    m_thread = std::thread([this] { Run(); });
    return !wait || WaitFor([this] { return m_state.m_bHeadDetectRunning.load(); });
}

bool CThreadHeadDetect::Stop(bool wait) {
    m_state.m_bHeadDetectStop = true;
    if (!wait) return true;
    const bool ended = WaitFor([this] { return !m_state.m_bHeadDetectRunning.load(); });
    // A detector whose cascade failed never ran its loop, and its thread has nothing left to do.
    if (ended && m_thread.joinable()) m_thread.join();
    return ended;
}

void CThreadHeadDetect::Run() {
    m_state.m_iDetectScale = 1;
    CHeadDetect detect(m_state, m_messages, m_cascadeDirectory);
    if (detect.Init() == -1) return;  // told the user; the program goes on without tracking
    std::this_thread::sleep_for(kPoll);
    m_state.m_bHeadDetectRunning = true;
    while (!m_state.m_bStopAll) {
        if (m_state.m_bHeadDetectStop) break;
        if (m_state.m_bDetectFrameWanted) {  // a request is still open: do not spin on it
            std::this_thread::sleep_for(kPoll);
            continue;
        }
        m_state.m_bDetectFrameWanted = true;
        std::this_thread::sleep_for(kPoll);
        while (m_state.m_bDetectFrameWanted && !m_state.m_bStopAll && !m_state.m_bHeadDetectStop)
            std::this_thread::sleep_for(kPoll);
        // Only a delivered frame is read: after a stop the capture thread may still be writing it.
        if (!m_state.m_bDetectFrameWanted && !m_state.m_pDetectImage.empty())
            detect.Detect(m_state.m_pDetectImage, m_state.m_iDetectScale);
        std::this_thread::sleep_for(kCyclePause);
    }
    m_state.m_bHeadDetectRunning = false;
}
