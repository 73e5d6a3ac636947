// Head detection: finds the face in the reduced frame with a Haar cascade and publishes its
// rectangle in full-frame pixels, a found flag and a counter of successful detections.
//
//   CHeadDetect detect(state.m_detect, messages);
//   if (detect.Init() == 0) detect.Detect(state.m_detect.Image(), state.m_detect.Scale());
//
// CThreadHeadDetect runs that in a loop on its own thread, asking frame preparation for a
// reduced frame every cycle through the detection mailbox.
#pragma once

#include <filesystem>
#include <opencv2/objdetect.hpp>
#include <string>
#include <thread>
#include <vector>

#include "base/message_sink.h"
#include "tracking/tracking_state.h"

// Makes OpenCV run each call on the calling thread. Detection is meant to run beside the capture
// thread, not to spread over both cores in bursts and take them from the frames. The setting is
// process-wide and not thread-safe: call it before any other thread uses OpenCV.
void UseSequentialOpenCv();

class CHeadDetect {
public:
    static constexpr const char* kCascadeFile = "cascade_ff_d.xml";
    static constexpr double kScaleFactor = 1.1;
    static constexpr int kMinNeighbours = 2;
    static constexpr int kMinFaceSize = 40;  // pixels of the reduced image

    // The cascade is looked for in cascadeDirectory (by default data/ beside the executable).
    CHeadDetect(CDetectMailbox& mailbox, IMessageSink& messages);
    CHeadDetect(CDetectMailbox& mailbox, IMessageSink& messages, std::filesystem::path cascadeDirectory);
    virtual ~CHeadDetect() = default;

    // Loads the cascade: 0 on success, -1 (after telling the user) when it cannot be loaded.
    int Init();
    // Detects on the reduced image and publishes the last face found, scaled back. Returns 0.
    int Detect(const cv::Mat& image, int scale);

    static std::string MissingCascadeMessage(const std::filesystem::path& tried);

private:
    CDetectMailbox& m_mailbox;
    IMessageSink& m_messages;
    const std::filesystem::path m_cascadeDirectory;
    cv::CascadeClassifier m_cascade;
    bool m_bCascadeLoaded = false;
    bool m_bFacesValid = false;
    std::vector<cv::Rect> m_faces;
};

// The detection loop on its own thread.
class CThreadHeadDetect {
public:
    static constexpr int kStartWaitMs = 10000;

    CThreadHeadDetect(CTrackingState& state, IMessageSink& messages, std::filesystem::path cascadeDirectory);
    CThreadHeadDetect(CTrackingState& state, IMessageSink& messages);
    ~CThreadHeadDetect();
    CThreadHeadDetect(const CThreadHeadDetect&) = delete;
    CThreadHeadDetect& operator=(const CThreadHeadDetect&) = delete;

    // Starts the loop; with wait, returns whether it was running within 10 seconds.
    bool Start(bool wait);
    // Asks the loop to end; with wait, returns whether it ended within 10 seconds.
    bool Stop(bool wait);

private:
    void Run();

    CTrackingState& m_state;
    IMessageSink& m_messages;
    const std::filesystem::path m_cascadeDirectory;
    std::thread m_thread;
};
