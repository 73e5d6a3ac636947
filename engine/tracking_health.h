// Whether the head is being followed well enough for a rest of the pointer to mean anything:
// a face found by the last detection, enough tracked points, and frames still arriving. Looked
// at once per dwell tick, from the engine's status.
//
//   CTrackingHealth health;
//   switch (health.Tick(engine.Status(), settleTicks)) { ... }   // every 100 ms
//
// Without a face the tracker's points lie on the wall or on whatever covers the face, they report
// no motion, and a still pointer would be read as a rest. Used from one thread.
#pragma once

#include "engine/engine_control.h"

class CTrackingHealth {
public:
    // Ticks without a new frame after which the camera counts as stalled: a camera that gives
    // fewer than two frames a second is one the camera page cannot rate either.
    static constexpr int kFrameGapTicks = 5;

    enum class State {
        Lost,      // no face, too few points, or no frames
        Settling,  // followed again, for less than the settle time
        Followed,  // followed for longer than the settle time: a rest counts
    };

    // One tick: Followed from the (settleTicks + 1)-th tick in a row that finds the head followed.
    State Tick(const EngineStatus& status, int settleTicks);

private:
    int m_iLastFrames = -1;
    int m_iTicksWithoutFrame = 0;
    int m_iFollowedTicks = 0;
};
