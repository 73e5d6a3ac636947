// The feature tracker: follows up to 17 points on the face with pyramidal Lucas-Kanade flow and
// turns their motion into one displacement per frame. Points come only from head detection: the
// centre of the detected head is offered as a new point on every frame.
//
//   CFeatureTracker tracker(state, &mapping);
//   tracker.OnFrame(topDownBgrFrame);   // on the capture thread, once per frame
#pragma once

#include <array>
#include <atomic>
#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>
#include <vector>

#include "tracking_state.h"

// Where each frame's summed point motion goes: the plain or the speed-profile mapping.
// Called on the capture thread inside the frame; must not block.
class IMotionSink {
public:
    virtual ~IMotionSink() = default;
    // summed: points whose motion was summed; sumX, sumY: their summed displacement in frame
    // pixels; sizeMultiplier: 2 for frames at most 600 pixels wide, else 1.
    virtual void MapMotion(int summed, float sumX, float sumY, int sizeMultiplier) = 0;
    virtual void MapMotionProfile(int summed, float sumX, float sumY, int sizeMultiplier) = 0;
};

class CFeatureTracker {
public:
    static constexpr int kCapacity = 50;            // slots of the position and status arrays
    static constexpr int kPointLimit = 10;          // points kept normally
    static constexpr int kPointLimitGranted = 17;   // for one frame, when m_bAllowMorePoints is set
    static constexpr int kStaleFrameLimit = 100;    // frames without news from detection before halting
    static constexpr int kFlowFramesBeforeMotion = 10;
    static constexpr float kMergeDistanceSquared = 10.0f;  // a point this close to the centre is dropped
    static constexpr int kWindowSize = 10;          // half-window of flow and corner refinement
    static constexpr int kPyramidLevels = 3;
    static constexpr int kSizeMultiplierWidth = 600;

    CFeatureTracker(CTrackingState& state, IMotionSink* motion);
    virtual ~CFeatureTracker();
    CFeatureTracker(const CFeatureTracker&) = delete;
    CFeatureTracker& operator=(const CFeatureTracker&) = delete;

    // Tracks one top-down 8-bit BGR frame. Always returns 0.
    int OnFrame(const cv::Mat& frame);

    // Set by the user interface.
    std::atomic<bool> m_bAllowMorePoints{false};
    std::atomic<bool> m_bUseProfile{false};
    std::atomic<bool> m_bResetProfile{false};

    // For the motion mapping and for inspection; capture thread only.
    int Count() const { return m_iCount; }
    const cv::Point2f* Points() const { return m_pPrevPoints; }  // positions after the last frame
    int FlowFrames() const { return m_iFlowFrames; }
    float HeadX() const { return m_fHeadX; }
    float HeadY() const { return m_fHeadY; }

private:
    bool IsStale();
    void CreateImages(const cv::Mat& frame);
    void TrackPoints(PointDisplay& display);
    void SeedPoint();
    void RenewFirstSlot();
    void Exchange();

    CTrackingState& m_state;
    IMotionSink* const m_pMotion;

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

    // The images: the colour copy, this and the previous frame in grey, and their pyramids.
    // Each frame builds one pyramid; the previous frame's is kept, never rebuilt.
    cv::Mat m_pImage;
    cv::Mat m_grey;
    cv::Mat m_prevGrey;
    std::vector<cv::Mat> m_pyramid;
    std::vector<cv::Mat> m_prevPyramid;
    bool m_bPyramidBuilt = false;      // this frame's pyramid exists
    bool m_bPrevPyramidBuilt = false;  // the previous frame's pyramid exists

    std::array<PointDisplay, 2> m_displays{};
};
