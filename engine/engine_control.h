// What the settings pages may do with the running frame road: read its status and live view,
// grant the tracker more points, reach the camera, switch and centre the speed profile, and
// register the outputs of mapped motion. CEngine implements it; page tests hand in a fake.
//
// Every call runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <vector>

#include "base/motion_output.h"
#include "tracking/detect_mailbox.h"
#include "tracking/tracking_state.h"

class CNCVideoInputTrack;
class CSpeedProfile;

// Fewer tracked points than this: the camera page warns that tracking is poor, and auto click
// takes the head as not followed.
inline constexpr int kTrackingPointsGood = 4;

// A snapshot of the frame road for the status texts and warnings.
struct EngineStatus {
    int frames = 0;           // frames prepared since the camera thread started
    int points = 0;           // points tracked after the last frame
    bool headFound = false;   // the last detection found a face
    HeadRect head;            // where, in frame pixels
    int headDetectCount = 0;  // detections in a row that found a face
    bool accelerating = false;
    bool cameraRunning = false;
};

class IEngineControl {
public:
    virtual ~IEngineControl() = default;

    virtual EngineStatus Status() const = 0;
    // The tracked points and head position of the display record completed last.
    virtual PointDisplay Display() const = 0;

    // While on, every frame is copied for the live view, in capture order.
    virtual void SetLiveView(bool on) = 0;
    // Copies the live-view frame written last into out; false when there is none yet.
    virtual bool ReadLiveView(std::vector<std::uint8_t>& out) const = 0;

    // Lets the tracker keep its larger number of points on the next frame.
    virtual void AllowMorePoints() = 0;

    // The camera the road was opened on (names, formats, frame rate, its own settings), or null
    // before a camera was opened.
    virtual CNCVideoInputTrack* Camera() = 0;

    // The response curves: switched on or off for the mapping, their tables, and centring.
    virtual void UseSpeedProfile(bool on) = 0;
    virtual bool UsesSpeedProfile() const = 0;
    virtual CSpeedProfile& SpeedProfile() = 0;
    virtual void ResetProfile() = 0;

    // The consumers of mapped motion; nullptr empties a slot. See MotionOutputs for lifetimes.
    virtual void RegisterPointer(IPointerOutput* output) = 0;
    virtual void RegisterView(IViewOutput* output) = 0;
    virtual void RegisterSocket(ISocketOutput* output) = 0;
};
