// Generated head paths, for measuring what a gesture detector makes of ordinary use and of the
// gesture itself: where the head is on each frame, in pixels of a 640x480 picture, at a given
// frame rate. The same seed gives the same path.
//
//   HeadPath hour = OrdinaryHeadPath(HeadActivity::Mixed, 3600, 30, seed);
//   HeadPath trials = ShakingHeadPath({{2.0, 30}, {3.0, 60}}, 30, seed);   // shakes between pointing
//   for (const cv::Point2d& p : trials.at) ...;  for (auto [first, last] : trials.shakes) ...;
//
// Every path carries what a tracked head has on top: tracking jitter, a slowly wandering
// tracking error, the sway of breathing and a faint tremor.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include <opencv2/core/types.hpp>

enum class HeadActivity {
    Resting,        // sitting still, now and then settling into another posture
    Reading,        // a slow drift along each line, a quick return at its end, down the page
    Pointing,       // quick moves to targets with overshoot and correction, a rest at each,
                    // and now and then back and forth between two targets
    LookingAround,  // turning away to look elsewhere (glances too), and back to the screen
    Talking,        // the small restless motion and nods of a conversation
    Mixed,          // stretches of all of the above, pointing and reading most
};

// "resting", "reading", "pointing", "looking-around", "talking", "mixed".
std::string_view ActivityName(HeadActivity activity);

struct HeadPath {
    std::vector<cv::Point2d> at;              // one place per frame
    std::vector<std::pair<int, int>> shakes;  // the first and last frame of each shake made
};

HeadPath OrdinaryHeadPath(HeadActivity activity, double seconds, double fps, std::uint64_t seed);

// A quick head shake: out to one side, across to the other, back across and home to the middle
// (one and a half turns of the frequency), each full swing `swing` pixels wide. Each made varies
// a little: speed and size by up to 10 and 15 %, a size that fades over the shake, a slight nod
// with it, either side first.
struct ShakeStyle {
    double hertz;
    double swing;
};

// For each style in turn: pointing for 15 to 40 s, a short rest, the shake, a rest.
HeadPath ShakingHeadPath(const std::vector<ShakeStyle>& styles, double fps, std::uint64_t seed);

// The paths of mivex-make-sequence's generated trajectories, `frames` long at 30 frames a second,
// the same on every call. "ordinary": a mixed stretch of ordinary use. "shakes": shakes at 1.25,
// 2 and 3 Hz, each 16, 30 and 60 pixels wide, in turn and again; each has a second's rest on
// either side, then a move 25 pixels to the right and back (2 s) and half a second's rest.
HeadPath OrdinarySequencePath(int frames);
HeadPath ShakesSequencePath(int frames);
inline constexpr std::array<ShakeStyle, 9> kSequenceShakes{
    {{1.25, 16}, {1.25, 30}, {1.25, 60}, {2, 16}, {2, 30}, {2, 60}, {3, 16}, {3, 30}, {3, 60}}};
