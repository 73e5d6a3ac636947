// The motion mapping of CFeatureTracker: turns a frame's summed point motion into at most one
// output, the pointer, the flight simulator view or the local socket.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "base/truncate.h"
#include "tracking/feature_tracker.h"

namespace {

// The speed-table index of an offset: its whole part times the size multiplier.
std::int32_t SpeedIndex(float offset, int m) {
    const long long index = static_cast<long long>(TruncateToInt32(offset)) * m;
    return static_cast<std::int32_t>(std::clamp<long long>(index, std::numeric_limits<std::int32_t>::min(),
                                                           std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void CFeatureTracker::MapMotion(int n, float sumX, float sumY, int m) {
    if (!m_targets.settings || !m_targets.outputs) return;
    CSettingsMirror& settings = *m_targets.settings;
    const bool keepPictureX = settings.m_bLrMouse;

    if (settings.m_bFlightConnected) {
        if (n <= 0) return;
        const float ax = sumX / static_cast<float>(n);
        const float ay = sumY / static_cast<float>(n);
        const float kx = static_cast<float>(settings.m_nSliderLrSimFS * m) * kHeadSpeedDivisor;
        const float ky = static_cast<float>(settings.m_nSliderUdSimFS * m) * kHeadSpeedDivisor;
        const float x = keepPictureX ? ax * kx : -(ax * kx);
        const float y = ay * ky;
        m_fHeadX += x;
        m_fHeadY += y;
        if (settings.m_bMouseActive) m_targets.outputs->MoveCamera(x, y, false);
        return;
    }

    const int gx = settings.m_nSliderLrMouse * m;
    const int gy = settings.m_nSliderUdMouse * m;
    if (n > 0) {
        float ax = sumX / static_cast<float>(n);
        float ay = sumY / static_cast<float>(n);
        // Scrolling takes the head's motion as it is: no gains, no acceleration.
        const float headX = ax * static_cast<float>(m), headY = ay * static_cast<float>(m);
        bool accelerating = false;
        if (settings.m_bAccMouse) {
            // Signed sum of both axes: equal motion up-and-right cancels in it.
            const int v = TruncateToInt32(8.0f * ax + 8.0f * ay);
            if (std::abs(static_cast<long long>(v)) > 18 - settings.m_nSliderAccWindowMouse) {
                accelerating = true;
                const double factor = settings.m_nSliderAccMouse * 0.25;
                ax = static_cast<float>(ax * factor);
                ay = static_cast<float>(ay * factor);
            }
        }
        settings.m_bAccelerating = accelerating;

        const float x = static_cast<float>(gx) * ax;
        const float y = static_cast<float>(gy) * ay;
        m_fHeadX += keepPictureX ? x : -x;
        m_fHeadY += y;
        if (settings.m_bSdkActive)
            m_targets.outputs->SdkPush(-x, y);  // the socket always gets the mirrored x
        else if (settings.m_bMouseActive)
            m_targets.outputs->MouseMove(keepPictureX ? x : -x, y, keepPictureX ? headX : -headX, headY);
    }
    m_fHeadX = std::clamp(m_fHeadX, 0.0f, static_cast<float>(m_frameSize.width));
    m_fHeadY = std::clamp(m_fHeadY, 0.0f, static_cast<float>(m_frameSize.height));
}

void CFeatureTracker::MapMotionProfile(int n, float sumX, float sumY, int m) {
    // A reset asked for by another thread is done here, between two steps of this path.
    if (m_bResetRequested.exchange(false)) {
        m_fAccX = m_fLastX = m_fAccY = m_fLastY = 0.0f;
        m_bResetProfile = true;
    }
    if (!m_targets.settings || !m_targets.outputs) return;
    CSettingsMirror& settings = *m_targets.settings;

    float headX = 0.0f, headY = 0.0f;  // the frame's motion before the profile, for scrolling
    if (n != 0) {
        headX = sumX / static_cast<float>(n);
        headY = sumY / static_cast<float>(n);
        m_fAccX += headX;
        m_fAccY += headY;
    }
    if (settings.m_bFlightAutoCenter) {
        // x settles around 0, y around 0.01.
        m_fAccX = static_cast<float>(m_fAccX > 0.0f ? m_fAccX - kAutoCentreDrift : m_fAccX + kAutoCentreDrift);
        m_fAccY = static_cast<float>(m_fAccY > 0.01f ? m_fAccY - kAutoCentreDrift : m_fAccY + kAutoCentreDrift);
    }
    const CSpeedProfile* profile = m_targets.profile;
    const float fx = profile ? profile->GetSpeedFactor(0, SpeedIndex(m_fAccX, m)) : 1.0f;
    const float fy = profile ? profile->GetSpeedFactor(1, SpeedIndex(m_fAccY, m)) : 1.0f;
    const float px = m_fAccX * fx;
    const float py = m_fAccY * fy;

    const int gx = settings.m_nSliderLrMouse * m;
    const int gy = settings.m_nSliderUdMouse * m;
    const float kx = static_cast<float>(settings.m_nSliderLrSimFS * m) * kHeadSpeedDivisor;
    const float ky = static_cast<float>(settings.m_nSliderUdSimFS * m) * kHeadSpeedDivisor;
    const bool keepPictureX = settings.m_bLrMouse;

    // Whole steps only; the fraction stays in the offset and comes out in later frames.
    const int dx = TruncateToInt32(px - m_fLastX);
    const int dy = TruncateToInt32(py - m_fLastY);
    if (m_bResetProfile) {
        m_bResetProfile = false;
    } else if (settings.m_bSdkActive) {
        m_targets.outputs->SdkPush(static_cast<float>(-(dx * gx)), static_cast<float>(dy * gy));
    } else if (settings.m_bMouseActive && settings.m_bFlightConnected) {
        m_targets.outputs->MoveCamera(keepPictureX ? px * kx : -(px * kx), py * ky, true);
    } else if (settings.m_bMouseActive) {
        m_targets.outputs->MouseMove(static_cast<float>(keepPictureX ? dx * gx : -(dx * gx)),
                                     static_cast<float>(dy * gy), (keepPictureX ? headX : -headX) * m, headY * m);
    }
    m_fLastX += static_cast<float>(dx);
    m_fLastY += static_cast<float>(dy);
}
