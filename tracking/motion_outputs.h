// Where mapped head motion goes: at most one of these per frame, chosen by the motion mapping.
// Called on the capture thread inside the frame; implementations must not block.
#pragma once

class IMotionOutputs {
public:
    virtual ~IMotionOutputs() = default;
    // A relative pointer movement, before the mouse output's own smoothing and limits.
    virtual void MouseMove(float dx, float dy) = 0;
    // The flight simulator view: added to heading (x) and pitch (y), or replacing them.
    virtual void MoveCamera(float x, float y, bool absolute) = 0;
    // A sample for programs reading the local socket.
    virtual void SdkPush(float x, float y) = 0;
};
