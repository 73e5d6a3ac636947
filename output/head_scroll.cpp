#include "output/head_scroll.h"

#include <algorithm>
#include <cmath>

#include "output/input_event.h"

namespace {

constexpr double kLinear = 0.5;          // notches a second per unit beyond the dead zone
constexpr double kQuadratic = 1.0 / 16;  // and per unit squared

std::int32_t TakeWhole(double& rest) {
    const double whole = std::trunc(rest);
    rest -= whole;
    return static_cast<std::int32_t>(whole);
}

}  // namespace

double ScrollNotchesPerSecond(float distance, int speed) {
    const double beyond = std::abs(distance) - CHeadScroll::kDeadZone;
    if (beyond <= 0 || speed <= 0) return 0.0;
    const double scale = static_cast<double>(speed) / CHeadScroll::kNormalSpeed;
    return scale * std::min(CHeadScroll::kLimit, kLinear * beyond + kQuadratic * beyond * beyond);
}

void CHeadScroll::Start(Clock::time_point now) {
    m_fOffsetX = m_fOffsetY = 0.0f;
    m_vertical = m_horizontal = 0.0;
    m_last = now;
    m_bLeft = false;
}

WheelTurn CHeadScroll::Step(float dx, float dy, Clock::time_point now, int speed) {
    m_fOffsetX += dx;
    m_fOffsetY += dy;
    if (!NearStart()) m_bLeft = true;
    const double seconds = std::clamp(std::chrono::duration<double>(now - m_last).count(), 0.0, kLongestStep);
    m_last = now;
    const double units = seconds * WHEEL_DELTA;
    // The head going down scrolls down, toward the end of the page: the wheel turned toward the user.
    m_vertical -= std::copysign(ScrollNotchesPerSecond(m_fOffsetY, speed), m_fOffsetY) * units;
    m_horizontal += std::copysign(ScrollNotchesPerSecond(m_fOffsetX, speed), m_fOffsetX) * units;
    return {TakeWhole(m_vertical), TakeWhole(m_horizontal)};
}

bool CHeadScroll::NearStart() const { return std::abs(m_fOffsetX) <= kDeadZone && std::abs(m_fOffsetY) <= kDeadZone; }
