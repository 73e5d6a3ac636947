// Recognises a quick head shake, left-right-left or right-left-right, in the head's position
// over time: the gesture that switches head control on and off without a key.
//
//   CShakeDetector shake;
//   if (shake.Feed(seconds, x, y))            // once per frame, position in reference pixels
//       UndoMotionSince(shake.GestureStart());
//
// A shake is three alternating horizontal swings: the first (out of the resting place) at least
// half the swing size, the other two at least the swing size, all within a second, turning
// without a pause, with little vertical motion and no jump of the tracking among them. The
// swing size is a share of the range the head used in the last minute (the middle 80 % of its
// horizontal places), kept between a floor and a ceiling: a head that roams widely must shake
// harder than one that keeps still. Pointing, reading and looking around rarely turn three times
// that fast without resting at a target; tools/gesture/mivex-gesture-rates measures how rarely.
//
// Positions are in pixels of a 640-pixel-wide picture (the caller scales other sizes), x and y
// as the picture has them. Time is in seconds from any start and never goes back.
#pragma once

#include <deque>
#include <optional>
#include <vector>

class CShakeDetector {
public:
    struct Rules {
        double window = 1.0;         // s: the start of the first swing to the third reaching its size
        double shortest = 0.25;      // s: faster than that is tracking noise, not a head
        double turnRest = 0.25;      // s: longest stay at either turn
        double rangeShare = 0.2;     // of the last minute's range: the swing size
        double rangeSeconds = 60.0;  // how far back the range looks
        float smallestSwing = 8.0f;  // px: the swing size's floor
        float largestSwing = 12.0f;  // px: its ceiling
        float verticalShare = 0.6f;  // the vertical spread allowed, of the full swing
        float fastest = 2000.0f;     // px/s: no head turns faster; a jump of the tracking
        double refractory = 1.0;     // s after a shake in which no other one begins
    };

    CShakeDetector() : CShakeDetector(Rules{}) {}
    explicit CShakeDetector(const Rules& rules);

    // One position; true on the sample that completes a shake.
    bool Feed(double seconds, float x, float y);
    // When the shake found last began: its first swing left its resting place.
    double GestureStart() const { return m_gestureStart; }
    // The swing size now (px).
    float SwingSize() const { return m_swing; }
    // Forgets the swings under way (not the range): a break in tracking.
    void Reset();

private:
    struct Sample {
        double t;
        float x, y;
    };
    struct Turn {
        float x;
        double arrive, leave;  // first and last moment near the turning point
        double start;          // the moment the head set off from it
    };

    void UpdateRange(double t, float x);
    // The extreme of the current leg becomes a turn; the samples near it give its times.
    void ConfirmTurn(bool high);
    // Where the first swing began: when the head rested on its way from the turn before, the
    // end of that rest, else the moment it left that turn.
    Sample SetOff(const Turn& before, const Turn& first) const;
    // Records where the shake began when it is one.
    bool IsShake(double t);

    Rules m_rules;
    std::deque<Sample> m_recent;  // the last few seconds
    std::deque<Sample> m_sparse;  // the last minute, ten a second
    std::vector<float> m_scratch;
    float m_swing;

    int m_direction = 0;  // +1 rising, -1 falling, 0 not known yet
    float m_high = 0, m_low = 0;
    double m_highAt = 0, m_lowAt = 0;
    bool m_started = false;
    std::deque<Turn> m_turns;  // the last three, oldest first
    bool m_evaluated = false;  // the newest turn's third swing was judged
    double m_quietUntil = -1e300;
    double m_gestureStart = 0;
};
