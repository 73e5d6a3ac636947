#include "engine/tracking_health.h"

#include <algorithm>

CTrackingHealth::State CTrackingHealth::Tick(const EngineStatus& status, int settleTicks) {
    if (status.frames != m_iLastFrames) {
        m_iLastFrames = status.frames;
        m_iTicksWithoutFrame = 0;
    } else if (m_iTicksWithoutFrame < kFrameGapTicks) {
        ++m_iTicksWithoutFrame;
    }
    const bool followed =
        status.headFound && status.points >= kTrackingPointsGood && m_iTicksWithoutFrame < kFrameGapTicks;
    if (!followed) {
        m_iFollowedTicks = 0;
        return State::Lost;
    }
    settleTicks = std::max(settleTicks, 0);
    // Counts no further than it needs, so a long session cannot overflow it.
    m_iFollowedTicks = std::min(m_iFollowedTicks + 1, settleTicks + 1);
    return m_iFollowedTicks > settleTicks ? State::Followed : State::Settling;
}
