#include "output/flight_link.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <thread>
#include <utility>

namespace {

constexpr float kCentreDrift = 0.9f;  // degrees a frame towards the centre
constexpr int kRetryTickLast = 30;    // after this the retry counter starts again: an attempt every 32 ticks
constexpr int kDotsMax = 15;
constexpr std::size_t kCheckingPrefix = 23;  // "Not connected, checking"
constexpr std::chrono::milliseconds kCloseFirstPause{100};
constexpr std::chrono::milliseconds kCloseSecondPause{200};

float DriftToCentre(float angle) { return angle > 0.0f ? angle - kCentreDrift : angle + kCentreDrift; }

}  // namespace

float WrapAngle(float a) {
    // Stepping by 360 would never end for infinity, nor for values so large that 360 is lost in
    // their rounding.
    if (!std::isfinite(a)) return 0.0f;
    if (std::fabs(a) > 1.0e6f) a = std::fmod(a, 360.0f);
    while (a < -180.0f) a = a + 360.0f;
    while (a > 180.0f) a = a - 360.0f;
    return a;
}

CFlightLink::CFlightLink(CSettingsMirror& settings, std::unique_ptr<ISimLink> link, Sleep sleep)
    : m_settings(settings),
      m_sleep(sleep ? std::move(sleep)
                    : Sleep([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); })),
      m_pLink(std::move(link)) {}

CFlightLink::~CFlightLink() {
    std::lock_guard lock(m_lock);
    CloseCentred();
}

void CFlightLink::CloseCentred() {
    // The simulator keeps the last view it was sent: a pilot must not be left looking sideways.
    if (!m_settings.m_bFlightConnected.exchange(false)) return;
    m_pLink->SendOrientation(0.0f, 0.0f);
    m_pLink->Close();
}

void CFlightLink::SetLink(std::unique_ptr<ISimLink> link) {
    std::lock_guard lock(m_lock);
    CloseCentred();
    m_pLink = std::move(link);
    m_iRetryCount = 0;
}

void CFlightLink::Send(float heading, float pitch) {
    if (!m_pLink->SendOrientation(heading, pitch)) m_settings.m_bFlightConnected = false;
}

void CFlightLink::MoveCamera(float x, float y, bool absolute) {
    std::lock_guard lock(m_lock);
    if (m_settings.m_bFlightAutoCenter) {
        m_fHeading = DriftToCentre(m_fHeading);
        m_fPitch = DriftToCentre(m_fPitch);
    }
    const int count = std::clamp(m_settings.m_nSliderSmoothSimFS.load(), 1, CSmoothingHistory::kSize);
    if (count != m_nSmoothCount) {
        // A new smoothing starts from rest.
        m_historyX.Clear();
        m_historyY.Clear();
        m_nSmoothCount = count;
    }
    const float averageX = m_historyX.PushAndAverage(x, m_nSmoothCount);
    const float averageY = m_historyY.PushAndAverage(y, m_nSmoothCount);
    if (absolute) {
        m_fHeading = WrapAngle(averageX);
        m_fPitch = WrapAngle(averageY);
    } else {
        m_fHeading = WrapAngle(m_fHeading + averageX);
        m_fPitch = WrapAngle(m_fPitch + averageY);
    }
    // The closing link shows the centred view; a frame must not turn it away again.
    if (!m_bClosing) Send(m_fHeading, m_fPitch);
}

void CFlightLink::EnableLink(bool on) {
    std::unique_lock lock(m_lock);
    if (on) {
        m_strStatus = kStatusInit;
        m_iRetryCount = m_iDotCount = 0;
        if (m_settings.m_bFlightConnected.exchange(false)) m_pLink->Close();
        m_fHeading = m_fPitch = 0.0f;
        return;
    }
    if (!m_settings.m_bFlightConnected) return;
    m_bClosing = true;
    m_pLink->SendOrientation(0.0f, 0.0f);
    lock.unlock();
    m_sleep(kCloseFirstPause);
    lock.lock();
    m_pLink->SendOrientation(0.0f, 0.0f);
    lock.unlock();
    m_sleep(kCloseSecondPause);
    lock.lock();
    m_pLink->Close();
    m_settings.m_bFlightConnected = false;
    m_bClosing = false;
}

void CFlightLink::OnTimer() {
    std::lock_guard lock(m_lock);
    if (m_settings.m_bFlightConnected) {
        Send(m_fHeading, m_fPitch);
        return;
    }
    if (m_iRetryCount == 0) m_settings.m_bFlightConnected = m_pLink->Open();
    if (m_iRetryCount++ > kRetryTickLast) m_iRetryCount = 0;
    if (m_settings.m_bFlightConnected) {
        m_iDotCount = 0;
        m_strStatus = kStatusConnected;
        return;
    }
    m_strStatus = std::string(std::string_view(kStatusChecking).substr(0, kCheckingPrefix + m_iDotCount));
    if (++m_iDotCount > kDotsMax) m_iDotCount = 0;
}

void CFlightLink::CentreView() {
    {
        std::lock_guard lock(m_lock);
        m_fHeading = m_fPitch = 0.0f;
    }
    if (Connected()) MoveCamera(0.0f, 0.0f, false);
}

std::string CFlightLink::StatusText() const {
    std::lock_guard lock(m_lock);
    return m_strStatus;
}
