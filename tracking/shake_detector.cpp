#include "tracking/shake_detector.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kRecentSeconds = 3.0;  // longer than a shake with its turns
constexpr double kSparseStep = 0.1;     // s between the range's samples
// Near a turning point, as shares of the swing size: within the loose band the head counts as
// staying at the turn; the shake begins when it leaves the tight band around its resting place.
constexpr float kTurnBand = 0.2f;
constexpr float kStartBand = 0.1f;
// A rest: this long within the tight band (but never less than kRestBandFloor pixels wide).
constexpr double kRestTime = 0.15;
constexpr float kRestBandFloor = 0.5f;
constexpr double kLongAgo = -std::numeric_limits<double>::infinity();

}  // namespace

CShakeDetector::CShakeDetector(const Rules& rules) : m_rules(rules), m_swing(rules.smallestSwing) {}

void CShakeDetector::Reset() {
    m_started = false;
    m_direction = 0;
    m_turns.clear();
    m_recent.clear();
}

void CShakeDetector::UpdateRange(double t, float x) {
    if (!m_sparse.empty() && t - m_sparse.back().t < kSparseStep) return;
    m_sparse.push_back({t, x, 0.0f});
    while (t - m_sparse.front().t > m_rules.rangeSeconds) m_sparse.pop_front();
    // The middle 80 %: a glance aside now and then does not make every shake harder.
    m_scratch.clear();
    for (const Sample& s : m_sparse) m_scratch.push_back(s.x);
    const auto at = [this](double share) {
        const auto k = static_cast<std::ptrdiff_t>(share * static_cast<double>(m_scratch.size() - 1));
        std::nth_element(m_scratch.begin(), m_scratch.begin() + k, m_scratch.end());
        return m_scratch[static_cast<std::size_t>(k)];
    };
    const float low = at(0.1), high = at(0.9);
    m_swing =
        std::clamp(static_cast<float>(m_rules.rangeShare) * (high - low), m_rules.smallestSwing, m_rules.largestSwing);
}

bool CShakeDetector::Feed(double t, float x, float y) {
    UpdateRange(t, x);
    m_recent.push_back({t, x, y});
    while (t - m_recent.front().t > kRecentSeconds) m_recent.pop_front();
    if (t < m_quietUntil) return false;
    if (!m_started) {
        m_started = true;
        m_direction = 0;
        m_high = m_low = x;
        m_highAt = m_lowAt = t;
        return false;
    }

    // Turning points of the path, ignoring reversals smaller than half a swing.
    const float half = 0.5f * m_swing;
    if (x > m_high) m_high = x, m_highAt = t;
    if (x < m_low) m_low = x, m_lowAt = t;
    if (m_direction >= 0 && m_high - x >= half) {
        ConfirmTurn(true);
        m_direction = -1;
        m_low = x, m_lowAt = t;
    } else if (m_direction <= 0 && x - m_low >= half) {
        ConfirmTurn(false);
        m_direction = +1;
        m_high = x, m_highAt = t;
    }

    if (m_turns.size() < 3 || m_evaluated || std::abs(x - m_turns.back().x) < m_swing) return false;
    m_evaluated = true;
    if (!IsShake(t)) return false;
    m_quietUntil = t + m_rules.refractory;
    m_started = false;
    m_turns.clear();
    return true;
}

void CShakeDetector::ConfirmTurn(bool high) {
    const float e = high ? m_high : m_low;
    const double at = high ? m_highAt : m_lowAt;
    Turn turn{e, kLongAgo, at, at};
    const auto k = std::find_if(m_recent.begin(), m_recent.end(), [at](const Sample& s) { return s.t >= at; });
    if (k != m_recent.end() && k->t == at) {
        const float loose = kTurnBand * m_swing;
        auto first = k;
        while (first != m_recent.begin() && std::abs(std::prev(first)->x - e) <= loose) --first;
        turn.arrive = first == m_recent.begin() ? kLongAgo : first->t;
        // The turn's last moment; and, should it be a shake's resting place, the moment the head
        // set off from it, having moved no more than noise before.
        for (auto i = k; i != m_recent.end() && std::abs(i->x - e) <= loose; ++i) turn.leave = i->t;
        const float tight = kStartBand * m_swing;
        for (auto i = k; i != m_recent.end() && std::abs(i->x - e) <= tight; ++i) turn.start = i->t;
    }
    m_turns.push_back(turn);
    if (m_turns.size() > 3) m_turns.pop_front();
    m_evaluated = false;
}

CShakeDetector::Sample CShakeDetector::SetOff(const Turn& before, const Turn& first) const {
    const float band = std::max(kStartBand * m_swing, kRestBandFloor);
    for (auto i = m_recent.rbegin(); i != m_recent.rend() && i->t > before.start; ++i) {
        if (i->t >= first.arrive) continue;
        float low = i->x, high = i->x;
        for (auto j = i; j != m_recent.rend() && high - low <= band; ++j) {
            if (i->t - j->t >= kRestTime) return *i;
            low = std::min(low, j->x), high = std::max(high, j->x);
        }
    }
    return {before.start, before.x, 0.0f};
}

bool CShakeDetector::IsShake(double t) {
    const Turn& first = m_turns[1];
    const Turn& second = m_turns[2];
    const Sample start = SetOff(m_turns[0], first);
    m_gestureStart = start.t;
    const double duration = t - start.t;
    if (duration > m_rules.window || duration < m_rules.shortest) return false;
    if (std::abs(first.x - start.x) < 0.5f * m_swing || std::abs(second.x - first.x) < m_swing) return false;
    for (const Turn* turn : {&first, &second})
        if (turn->leave - turn->arrive > m_rules.turnRest) return false;

    float top = -std::numeric_limits<float>::infinity(), bottom = std::numeric_limits<float>::infinity();
    const Sample* before = nullptr;
    for (const Sample& s : m_recent) {
        if (s.t < start.t) continue;
        top = std::max(top, s.y), bottom = std::min(bottom, s.y);
        if (before && std::hypot(s.x - before->x, s.y - before->y) > m_rules.fastest * (s.t - before->t)) return false;
        before = &s;
    }
    // Of the full swing made: the third is only as wide as the swing size yet.
    return top - bottom <= m_rules.verticalShare * std::abs(second.x - first.x);
}
