#include "tracking/head_switch.h"

#include <chrono>
#include <cmath>

#include "base/logging.h"

namespace {

constexpr double kTravelSeconds = 3.0;  // longer than any shake

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CHeadSwitch::CHeadSwitch(CSettingsMirror& settings, const MotionOutputs& outputs, CLogging* log)
    : m_settings(settings), m_outputs(outputs), m_pLog(log), m_clock(SteadySeconds) {}

void CHeadSwitch::Stop() {
    m_bWatching = false;
    m_detector.Reset();
    m_travel.clear();
    m_return.clear();
    m_bTurningOn = false;
}

void CHeadSwitch::OnMotion(int n, float sumX, float sumY, int frameWidth) {
    if (!m_settings.m_bShakeToggle || m_settings.m_bFlightConnected || m_settings.m_bSdkActive || frameWidth <= 0) {
        if (m_bWatching) Stop();
        return;
    }
    m_bWatching = true;
    const double now = m_clock();
    const float scale = static_cast<float>(kReferenceWidth) / static_cast<float>(frameWidth);
    if (n > 0) {
        m_fHeadX += sumX / static_cast<float>(n) * scale;
        m_fHeadY += sumY / static_cast<float>(n) * scale;
    }

    IPointerOutput* pointer = m_outputs.pointer.load();
    const bool active = m_settings.m_bMouseActive;
    if (pointer != nullptr) {
        m_travel.push_back({now, pointer->Travelled()});
        while (now - m_travel.front().t > kTravelSeconds) m_travel.pop_front();
        // Switched on meanwhile (by the hotkey): the pointer is the user's again.
        if (active) m_return.clear();
        if (!m_return.empty()) {
            pointer->MoveBack(static_cast<int>(m_return.back().x), static_cast<int>(m_return.back().y));
            m_return.pop_back();
        }
    }

    if (m_bTurningOn) {
        if (std::hypot(m_fHeadX - m_fQuietX, m_fHeadY - m_fQuietY) > kSettleBand) {
            m_fQuietX = m_fHeadX, m_fQuietY = m_fHeadY;
            m_quietSince = now;
        }
        if (active) {
            m_bTurningOn = false;  // the hotkey was quicker
        } else if (now - m_quietSince >= kSettleTime || now >= m_turnOnBy) {
            m_bTurningOn = false;
            m_settings.m_bMouseActive = true;
        }
    }

    if (m_detector.Feed(now, m_fHeadX, m_fHeadY)) Switch(now, m_detector.GestureStart());
}

void CHeadSwitch::Switch(double now, double gestureStart) {
    ++m_switches;
    const bool on = m_settings.m_bMouseActive || m_bTurningOn;
    if (m_pLog) m_pLog->Write(on ? "Head shake: head control off" : "Head shake: head control on", true);
    if (!on) {
        m_bTurningOn = true;
        m_fQuietX = m_fHeadX, m_fQuietY = m_fHeadY;
        m_quietSince = now;
        m_turnOnBy = now + kSettleLimit;
        return;
    }
    m_bTurningOn = false;
    m_settings.m_bMouseActive = false;
    IPointerOutput* pointer = m_outputs.pointer.load();
    if (pointer == nullptr) return;
    pointer->ReleaseButtons();
    // The steps each frame since the shake began, to be undone newest first.
    m_return.clear();
    for (std::size_t k = 0; k + 1 < m_travel.size(); ++k) {
        if (m_travel[k].t < gestureStart) continue;
        const TravelAt& from = m_travel[k];
        const TravelAt& to = m_travel[k + 1];
        m_return.push_back({from.travel.x - to.travel.x, from.travel.y - to.travel.y});
    }
    // Forgets the shake's motion still being smoothed, even when there is nothing to undo.
    if (m_return.empty()) pointer->MoveBack(0, 0);
}
