// The three consumers of mapped head motion, registered with the engine: the pointer, the
// flight simulator view and the local socket. The motion mapping sends each frame's motion to at
// most one of them. Every call comes on the capture thread inside the frame: it must not block.
#pragma once

// The whole pointer units moved so far, summed on each axis: where taking motion back starts.
struct PointerTravel {
    long long x = 0;
    long long y = 0;
};

class IPointerOutput {
public:
    virtual ~IPointerOutput() = default;
    // A relative pointer movement, before the pointer's own smoothing and limits.
    virtual void Move(float dx, float dy) = 0;
    // While true the pointer is held and the head's motion goes to Scroll instead of Move.
    virtual bool Scrolling() const = 0;
    // The head's motion of one frame, without gains or speed profile: frame pixels times the size
    // multiplier, in the pointer's directions (x to the right, y down).
    virtual void Scroll(float dx, float dy) = 0;

    // The pointer's whole moves summed: for taking recent motion back when head control is
    // switched off by a gesture, and for telling whether the pointer stays in place.
    virtual PointerTravel Travelled() const = 0;
    // One step back, as it is (no smoothing, limits or clicks), after forgetting the motion
    // still being smoothed, which would otherwise come out when control is on again.
    virtual void MoveBack(int dx, int dy) = 0;
    // Lets go of every button the program holds down.
    virtual void ReleaseButtons() = 0;
};

class IViewOutput {
public:
    virtual ~IViewOutput() = default;
    // Added to the view's heading (x) and pitch (y), or replacing them when absolute.
    virtual void MoveCamera(float x, float y, bool absolute) = 0;
};

// The centre hotkey's request to the simulator view: heading and pitch back to 0, and the
// centred view sent at once while the view link is connected. Called on the user-interface
// thread.
class IViewCentre {
public:
    virtual ~IViewCentre() = default;
    virtual void CentreView() = 0;
};

class ISocketOutput {
public:
    virtual ~ISocketOutput() = default;
    // One motion sample for the programs that read the local socket.
    virtual void Push(float x, float y) = 0;
};
