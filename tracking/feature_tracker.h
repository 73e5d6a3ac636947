// The feature tracker: follows up to 17 points on the face with pyramidal Lucas-Kanade flow and
// turns their motion into one displacement per frame, which its motion mapping sends to the
// pointer, the flight simulator view or the local socket. Points come only from head
// detection: the centre of the detected head is offered as a new point on every frame. A face
// found again after none keeps only the points on it, and tracking that halted for want of
// news from detection starts afresh.
//
//   CFeatureTracker tracker(state, nullptr, {&mirror, &speedProfile, &outputs});
//   tracker.OnFrame(frame);             // on the capture thread, once per frame
#pragma once

#include <array>
#include <atomic>
#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>
#include <vector>

#include "base/settings_mirror.h"
#include "profile/speed_profile.h"
#include "tracking/motion_outputs.h"
#include "tracking/tracking_state.h"

// Sees each frame's summed point motion as it goes to the plain or the speed-profile mapping
// (tools and tests follow the tracker with it). Called on the capture thread; must not block.
class IMotionSink {
public:
    virtual ~IMotionSink() = default;
    // summed: points whose motion was summed; sumX, sumY: their summed displacement in frame
    // pixels; sizeMultiplier: 2 for frames at most 600 pixels wide, else 1.
    virtual void MapMotion(int summed, float sumX, float sumY, int sizeMultiplier) = 0;
    virtual void MapMotionProfile(int summed, float sumX, float sumY, int sizeMultiplier) = 0;
};

class CHeadSwitch;

// What the motion mapping works with besides the tracker. Without settings or outputs the
// tracker tracks but maps nothing; without a profile every speed factor is 1.
struct MotionTargets {
    CSettingsMirror* settings = nullptr;  // read every frame; m_bAccelerating is written
    const CSpeedProfile* profile = nullptr;
    const MotionOutputs* outputs = nullptr;
    CHeadSwitch* headSwitch = nullptr;  // sees each frame's motion before it is mapped
};

class CFeatureTracker {
public:
    static constexpr int kCapacity = 50;           // slots of the position and status arrays
    static constexpr int kPointLimit = 10;         // points kept normally
    static constexpr int kPointLimitGranted = 17;  // for one frame, when m_bAllowMorePoints is set
    static constexpr int kStaleFrameLimit = 100;   // frames without news from detection before halting
    static constexpr int kFlowFramesBeforeMotion = 10;
    static constexpr float kMergeDistanceSquared = 10.0f;  // a point this close to the centre is dropped
    static constexpr int kWindowSize = 10;                 // half-window of flow and corner refinement
    static constexpr int kPyramidLevels = 3;
    static constexpr int kPyramidBorder = 2 * kWindowSize + 1;  // the flow window, as the builder borders levels
    static constexpr int kSizeMultiplierWidth = 600;
    // A face found again keeps only the points within its rectangle grown by this share of its
    // size on each side.
    static constexpr float kHeadMargin = 0.1f;

    static constexpr float kHeadSpeedDivisor = 0.0625f;  // view speeds are sixteenths
    static constexpr double kAutoCentreDrift = static_cast<double>(0.01f);

    CFeatureTracker(CTrackingState& state, IMotionSink* observer, MotionTargets targets = {});
    virtual ~CFeatureTracker();
    CFeatureTracker(const CFeatureTracker&) = delete;
    CFeatureTracker& operator=(const CFeatureTracker&) = delete;

    // Tracks one frame, on its grey image. False when that cannot be decoded: the frame is lost.
    bool OnFrame(CameraFrame& frame);

    // The two mappings of a frame's motion: n points summed to (sumX, sumY), size multiplier m.
    void MapMotion(int n, float sumX, float sumY, int m);
    void MapMotionProfile(int n, float sumX, float sumY, int m);
    // Centres the speed-profile path: its next step starts from zero and is discarded.
    // Safe on any thread; takes effect at the next profile mapping.
    void ResetProfile() { m_bResetRequested = true; }

    // Set by the user interface.
    std::atomic<bool> m_bAllowMorePoints{false};
    std::atomic<bool> m_bUseProfile{false};

    // For the motion mapping and for inspection; capture thread only.
    int Count() const { return m_iCount; }
    const cv::Point2f* Points() const { return m_pPrevPoints; }  // positions after the last frame

private:
    // Counts the frames without news from detection (detectCount unchanged): true once halted.
    bool IsStale(int detectCount);
    void KeepPointsNear(const HeadRect& head);
    void CreateImages(cv::Size size);
    void BuildPyramid(const cv::Mat& grey, std::vector<cv::Mat>& pyramid);
    void ReflectBorder(const cv::Mat& grey);
    void TrackPoints(PointDisplay& display);
    void SeedPoint();
    void RenewFirstSlot();
    void Exchange();
    void PrepareDerivatives();

    CTrackingState& m_state;
    IMotionSink* const m_pObserver;
    const MotionTargets m_targets;

    int m_iCount = 0;
    bool m_bAddPoint = false;
    int m_iFlowFrames = 0;
    float m_fHeadX = 0.0f;
    float m_fHeadY = 0.0f;
    int m_iLastDetectCount = 0;
    int m_iStaleFrames = 0;
    int m_iHeadCentreX = 0;
    int m_iHeadCentreY = 0;

    // Positions on the previous frame (the flow's input) and on this frame (its output),
    // exchanged by pointer at the end of each frame.
    std::array<cv::Point2f, kCapacity> m_pointsA{};
    std::array<cv::Point2f, kCapacity> m_pointsB{};
    cv::Point2f* m_pPrevPoints = m_pointsA.data();
    cv::Point2f* m_pCurPoints = m_pointsB.data();
    std::array<unsigned char, kCapacity> m_status{};

    // The frame size, known from the first frame on. No colour copy of the frame is kept:
    // nothing reads one, and copying 900 KB a frame was an eighth of the tracker's time.
    cv::Size m_frameSize;
    // This and the previous frame in grey, and their pyramids. Each frame builds one pyramid;
    // the previous frame's is kept, never rebuilt. The grey images are views inside buffers
    // bordered by kPyramidBorder, made once: the frame decodes straight into one, and the
    // builder takes it as level 0 as it is; only its border is filled each frame.
    cv::Mat m_grey;
    cv::Mat m_prevGrey;
    // The image column (row) each border column (row) reflects: kPyramidBorder before the
    // image, then kPyramidBorder after it.
    std::array<int, 2 * kPyramidBorder> m_borderColumnFrom{};
    std::array<int, 2 * kPyramidBorder> m_borderRowFrom{};
    std::vector<cv::Mat> m_pyramid;
    std::vector<cv::Mat> m_prevPyramid;
    bool m_bPyramidBuilt = false;          // this frame's pyramid exists
    bool m_bPrevPyramidBuilt = false;      // the previous frame's pyramid exists
    std::vector<cv::Mat> m_derivBuffers;   // per level, bordered, border zero
    std::vector<cv::Mat> m_prevWithDeriv;  // image, derivative, image, ... for the flow

    std::array<PointDisplay, 2> m_displays{};

    // The speed-profile path: accumulated offsets and the integer steps already sent.
    float m_fAccX = 0.0f;
    float m_fLastX = 0.0f;
    float m_fAccY = 0.0f;
    float m_fLastY = 0.0f;
    bool m_bResetProfile = false;  // discard this profile step
    std::atomic<bool> m_bResetRequested{false};
};
