// Synthetic head-motion videos with exact ground truth, to feed the tracker realistic frames.
//
//   SyntheticSequence seq(Trajectory::Sweep, 300);          // 640x480, the astronaut portrait
//   for (int i = 0; i < seq.FrameCount(); ++i) {
//       cv::Mat frame = seq.Frame(i);                      // BGR 8UC3, same pixels on every call
//       FrameTruth t = seq.Truth(i);                       // photo offset and motion since i-1
//   }
//   WriteSequence(seq, "/tmp/sweep");                      // /tmp/sweep.avi (FFV1) + /tmp/sweep.csv
//
// A head crop of a face photograph (hair to chin) sits on a plain background and moves along a
// sub-pixel trajectory (bilinear warp), with fixed-seed Gaussian sensor noise on top. Sizes and
// distances are set for 640x480 and scale with the frame, so every frame size shows the same
// scene. warpAffine places the photo to 1/32 px, so the truth holds to within 1/64 px.
//
// The away trajectories (leave, turn, cover) show the head in front of a textured wall, where
// points that slip off the face hold on and report no motion, and take the face from the camera
// for 3 s on every cycle of 10 s (AwayTimeline).
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include <opencv2/core.hpp>

// The face photograph that comes with the tools (a public-domain NASA portrait, 512x512, see
// tools/sequence/README): data/astronaut.png beside the running program, as the build and the
// install put it.
std::filesystem::path DefaultFacePhotoPath();

enum class Trajectory {
    Circle,      // slow circle, radius 20 px, 0.8 px per frame
    Sweep,       // from rest, fast left-right sweeps up to ~7 px per frame, dipping mid-sweep
    Brightness,  // slow small drift while the brightness ramps between 70% and 130%
    Rests,       // still for 24 frames, 30 px to the right in 5, still for 24, back in 5: dwelling
    Leave,       // still, leaves the picture to the right, away 3 s, comes back, holds still, nods
    Turn,        // still, turns away (the back of the head to the camera) for 3 s, turns back, ...
    Cover,       // still, a hand comes up over the face for 3 s and goes down again, ...
    Ordinary,    // ordinary use of a head pointer: resting, reading, pointing, looking around, talking
    Shakes,      // head shakes at three speeds and sizes, each followed by a move right and back
};

// The cycle of the away trajectories in frames at 30 fps; it repeats every kCycle frames.
struct AwayTimeline {
    static constexpr int kGoes = 45;               // still in view for 1.5 s, then it goes
    static constexpr int kAway = kGoes + 12;       // gone 0.4 s later, away for 3 s
    static constexpr int kReturns = kAway + 90;    // coming back
    static constexpr int kInView = kReturns + 12;  // in view again 0.4 s later, holding still 4 s
    static constexpr int kNods = kInView + 121;    // a nod of 0.7 s, down 24 px and up again
    static constexpr int kCycle = kNods + 20;      // 10 s
};

// "circle", "sweep", "brightness", "rests", "leave", "turn", "cover", "ordinary" or "shakes";
// throws std::invalid_argument naming the valid ones.
Trajectory ParseTrajectory(std::string_view name);
std::string_view TrajectoryName(Trajectory trajectory);

struct FrameTruth {
    double x = 0, y = 0;    // top-left corner of the pasted photo, in frame pixels
    double dx = 0, dy = 0;  // motion since the previous frame; zero for frame 0
};

// An away trajectory (leave, turn or cover).
bool IsAway(Trajectory trajectory);

class SyntheticSequence {
public:
    // Throws std::runtime_error when the photo cannot be read, std::invalid_argument for a
    // frame count or size below 1.
    SyntheticSequence(Trajectory trajectory, int frameCount, cv::Size frameSize = {640, 480},
                      const std::filesystem::path& photoPath = DefaultFacePhotoPath());

    Trajectory GetTrajectory() const { return m_trajectory; }
    int FrameCount() const { return m_frameCount; }
    cv::Size FrameSize() const { return m_frameSize; }

    // Frame i, 0 <= i < FrameCount() (else std::out_of_range): BGR 8UC3, continuous. Depends
    // only on i, so frames may be asked for in any order and from several threads at once.
    cv::Mat Frame(int i) const;
    FrameTruth Truth(int i) const;
    // The brightness factor applied to frame i (1 except on the "brightness" trajectory).
    double Gain(int i) const;
    // Whether frame i lies in the 3 s of an away trajectory's cycle when the face cannot be seen.
    bool FaceAway(int i) const;

private:
    cv::Point2d Position(int i) const;
    void CheckIndex(int i) const;
    // How far frame i is into going away: 0 in view, 1 away, easing between.
    double AwayShare(int i) const;
    // The head (and, for cover, the hand) of an away trajectory over the textured wall.
    void DrawAway(int i, cv::Mat& frame) const;

    Trajectory m_trajectory;
    int m_frameCount;
    cv::Size m_frameSize;
    double m_scale;                   // frame size relative to 640x480
    cv::Point2d m_rest;               // photo offset the trajectory moves around
    std::vector<cv::Point2d> m_path;  // the generated trajectories' offsets, one a frame
    cv::Mat m_photo;                  // the crop, already scaled to the frame
    // The away trajectories only: the wall, the back of the head (crop-sized) and a hand, each
    // with its coverage (CV_32F, 0..1).
    cv::Mat m_wall;
    cv::Mat m_back, m_backCover;
    cv::Mat m_hand, m_handCover;
};

// Writes PATH.avi (FFV1, lossless, 30 fps) and PATH.csv ("frame,x,y,dx,dy"), where PATH is
// pathWithoutExtension. progress, when given, is called after each frame with the frames done.
// Throws std::runtime_error when a file cannot be written.
void WriteSequence(const SyntheticSequence& sequence, const std::filesystem::path& pathWithoutExtension,
                   const std::function<void(int done)>& progress = {});
