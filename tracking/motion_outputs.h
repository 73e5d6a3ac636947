// The consumers of mapped head motion registered with the engine, one slot per kind. The motion
// mapping picks at most one kind per frame and hands the motion to what is registered there;
// an empty slot drops it.
//
// A slot may be filled or emptied on any thread. An output must stay alive while frames can still
// reach it: empty its slot only while capture is stopped, or keep the output until the engine ends.
#pragma once

#include <atomic>

#include "base/motion_output.h"

class MotionOutputs {
public:
    std::atomic<IPointerOutput*> pointer{nullptr};
    std::atomic<IViewOutput*> view{nullptr};
    std::atomic<ISocketOutput*> socket{nullptr};

    // The pointer's move, or while the pointer scrolls, the head's own motion.
    void MouseMove(float dx, float dy, float headDx, float headDy) const {
        IPointerOutput* out = pointer.load();
        if (!out) return;
        if (out->Scrolling())
            out->Scroll(headDx, headDy);
        else
            out->Move(dx, dy);
    }
    void MoveCamera(float x, float y, bool absolute) const {
        if (IViewOutput* out = view.load()) out->MoveCamera(x, y, absolute);
    }
    void SdkPush(float x, float y) const {
        if (ISocketOutput* out = socket.load()) out->Push(x, y);
    }
};
