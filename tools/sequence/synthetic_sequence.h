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
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

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
};

// "circle", "sweep", "brightness" or "rests"; throws std::invalid_argument naming the valid ones.
Trajectory ParseTrajectory(std::string_view name);
std::string_view TrajectoryName(Trajectory trajectory);

struct FrameTruth {
    double x = 0, y = 0;    // top-left corner of the pasted photo, in frame pixels
    double dx = 0, dy = 0;  // motion since the previous frame; zero for frame 0
};

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

private:
    cv::Point2d Position(int i) const;
    void CheckIndex(int i) const;

    Trajectory m_trajectory;
    int m_frameCount;
    cv::Size m_frameSize;
    double m_scale;      // frame size relative to 640x480
    cv::Point2d m_rest;  // photo offset the trajectory moves around
    cv::Mat m_photo;     // the crop, already scaled to the frame
};

// Writes PATH.avi (FFV1, lossless, 30 fps) and PATH.csv ("frame,x,y,dx,dy"), where PATH is
// pathWithoutExtension. progress, when given, is called after each frame with the frames done.
// Throws std::runtime_error when a file cannot be written.
void WriteSequence(const SyntheticSequence& sequence, const std::filesystem::path& pathWithoutExtension,
                   const std::function<void(int done)>& progress = {});
