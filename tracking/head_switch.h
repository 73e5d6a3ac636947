// Head control switched on and off by a head shake, the same switch as the activation hotkey
// (m_bMouseActive), so the hotkey, the tray, the tab and `mivex --action toggle` all see it.
//
//   CHeadSwitch headSwitch(mirror, outputs, &log);
//   headSwitch.OnMotion(summed, sumX, sumY, frameWidth);   // capture thread, every tracked frame
//
// While m_bShakeToggle is on and the motion goes to the pointer (no simulator view, no socket
// client), the head is watched whether control is on or off. A shake that switches control off
// lets go of held buttons and takes the pointer back to where it was when the shake began: the
// pointer's own whole steps since then, undone one a frame, newest first, so the desktop's
// pointer acceleration treats them as it treated the steps they undo. A shake that switches
// control on does so once the head has come to rest (at most kSettleLimit later), so the end of
// the shake does not move the pointer either.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <vector>

#include "base/motion_output.h"
#include "base/settings_mirror.h"
#include "tracking/motion_outputs.h"
#include "tracking/shake_detector.h"

class CLogging;

class CHeadSwitch {
public:
    // The detector works in pixels of a picture this wide.
    static constexpr int kReferenceWidth = 640;
    // Resting: within this many reference pixels of one place for kSettleTime.
    static constexpr float kSettleBand = 2.0f;
    static constexpr double kSettleTime = 0.2;
    static constexpr double kSettleLimit = 1.5;

    // settings, outputs and log (which may be null) must outlive the switch.
    CHeadSwitch(CSettingsMirror& settings, const MotionOutputs& outputs, CLogging* log);

    // One tracked frame: n points summed to (sumX, sumY), in pixels of a frame frameWidth wide.
    // Called before the frame's motion is mapped, so a switch takes effect on this frame.
    void OnMotion(int n, float sumX, float sumY, int frameWidth);

    // Seconds on the program's steady clock, unless a tool sets its own (the frame's time in a
    // video). Set before the first frame.
    void SetClock(std::function<double()> clock) { m_clock = std::move(clock); }

    // Shakes that switched control, since the start; any thread.
    int Switches() const { return m_switches; }

private:
    struct TravelAt {
        double t;
        PointerTravel travel;  // before that frame's move
    };

    void Stop();
    void Switch(double now, double gestureStart);

    CSettingsMirror& m_settings;
    const MotionOutputs& m_outputs;
    CLogging* const m_pLog;
    std::function<double()> m_clock;

    CShakeDetector m_detector;
    bool m_bWatching = false;
    float m_fHeadX = 0.0f, m_fHeadY = 0.0f;  // reference pixels, summed
    std::deque<TravelAt> m_travel;           // the last few seconds
    std::vector<PointerTravel> m_return;     // steps still to undo, the next at the back
    bool m_bTurningOn = false;
    float m_fQuietX = 0.0f, m_fQuietY = 0.0f;  // where the head has been resting since m_quietSince
    double m_quietSince = 0, m_turnOnBy = 0;
    std::atomic<int> m_switches{0};
};
