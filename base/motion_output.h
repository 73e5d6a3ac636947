// The three consumers of mapped head motion, registered with the engine: the pointer, the
// flight simulator view and the local socket. The motion mapping sends each frame's motion to at
// most one of them. Every call comes on the capture thread inside the frame: it must not block.
#pragma once

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
