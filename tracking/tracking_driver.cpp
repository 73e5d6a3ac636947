#include "tracking_driver.h"

#include "paths.h"

CTrackingDriver::CTrackingDriver(int width, int height, int detectEvery, IMotionSink* observer,
                                 IMessageSink& messages, std::filesystem::path cascadeDirectory,
                                 MotionTargets targets)
    : m_tracker(m_state, observer, targets),
      m_camera(m_state, &m_tracker, width, height),
      m_detect(m_state, messages, std::move(cascadeDirectory)),
      m_iDetectEvery(detectEvery < 1 ? 1 : detectEvery) {
    UseSequentialOpenCv();
}

CTrackingDriver::CTrackingDriver(int width, int height, int detectEvery, IMotionSink* observer,
                                 IMessageSink& messages, MotionTargets targets)
    : CTrackingDriver(width, height, detectEvery, observer, messages, DataDirectory(), targets) {}

int CTrackingDriver::Init() { return m_detect.Init(); }

void CTrackingDriver::Feed(std::uint8_t* bytes, std::uint32_t length) {
    const bool detecting = m_iFrame++ % m_iDetectEvery == 0;
    if (detecting) m_state.m_bDetectFrameWanted = true;
    m_camera.ProcessFrame(bytes, length);
    if (detecting && !m_state.m_bDetectFrameWanted && !m_state.m_pDetectImage.empty())
        m_detect.Detect(m_state.m_pDetectImage, m_state.m_iDetectScale);
}
