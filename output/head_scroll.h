// Scrolling by head, as a browser's middle-button autoscroll does with the pointer: how far the
// head has gone from where scrolling began sets how fast the window under the pointer scrolls,
// nothing within a small dead zone round the start, then faster the further it goes. Up and down
// turn the wheel, left and right the horizontal wheel; a head held still away from the start
// keeps scrolling.
//
//   CHeadScroll scroll;
//   scroll.Start(now);
//   WheelTurn turn = scroll.Step(dx, dy, now, speed);   // every frame: the head's motion
//   if (turn.vertical) injector.Send(InputEvent::Wheel(MOUSEEVENTF_WHEEL, turn.vertical));
//   if (scroll.HasLeftStart() && scroll.NearStart()) ... // back in the dead zone
//
// Head motion is in the tracker's units (frame pixels times the size multiplier, the pointer's
// directions: x to the right, y down), without the pointer's gains or the speed profile. Not
// thread-safe: the mouse keeps one under its lock.
#pragma once

#include <chrono>
#include <cstdint>

// Wheel amounts in WHEEL_DELTA a notch, signed as the wheel's: vertical positive scrolls up,
// horizontal positive to the right.
struct WheelTurn {
    std::int32_t vertical = 0;
    std::int32_t horizontal = 0;

    friend bool operator==(const WheelTurn&, const WheelTurn&) = default;
};

// Notches a second for a head `distance` from the start along one axis (either sign), at scroll
// speed `speed` (the Auto click page's slider: 10 is 100 %): 0 up to the dead zone, then growing
// smoothly and ever faster (half a notch a second per unit beyond it, plus a sixteenth of the
// square), up to a limit that a lost or jumping track cannot pass.
double ScrollNotchesPerSecond(float distance, int speed);

class CHeadScroll {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr float kDeadZone = 4.0f;      // per axis, in head units
    static constexpr double kLimit = 60.0;        // notches a second at speed 10
    static constexpr double kLongestStep = 0.25;  // seconds one step may cover
    static constexpr int kNormalSpeed = 10;       // the speed the curve is made for

    // Scrolling begins where the head is now.
    void Start(Clock::time_point now);
    // One frame's head motion; the wheel turn for the time since the last step (or the start), at
    // most kLongestStep, so a pause in the frames does not come out as one jump. The part of a
    // wheel unit left over is carried to the next step.
    WheelTurn Step(float dx, float dy, Clock::time_point now, int speed);
    // The head is within the dead zone round the start on both axes.
    bool NearStart() const;
    // The head has been outside the dead zone since the start.
    bool HasLeftStart() const { return m_bLeft; }

    float OffsetX() const { return m_fOffsetX; }
    float OffsetY() const { return m_fOffsetY; }

private:
    float m_fOffsetX = 0.0f;
    float m_fOffsetY = 0.0f;
    double m_vertical = 0.0;  // wheel units not yet sent
    double m_horizontal = 0.0;
    Clock::time_point m_last{};
    bool m_bLeft = false;
};
