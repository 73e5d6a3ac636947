#include "tools/sequence/synthetic_sequence.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "tools/sequence/head_motion.h"

namespace {

// The head crop as fractions of the photo (the astronaut's hair to chin, ear to ear), and its
// size in a 640x480 frame: large enough that the face cascade, run on the frame reduced to
// 160x120, finds a face of 53-57 px, well clear of its 40 px minimum.
constexpr double kCropLeft = 145.0 / 512, kCropTop = 20.0 / 512;
constexpr double kCropWidth = 160.0 / 512, kCropHeight = 185.0 / 512;
constexpr double kPhotoWidth = 336, kPhotoHeight = 388;

const cv::Scalar kBackground(118, 124, 128);  // a plain grey wall
constexpr double kNoiseSigma = 2.0;           // grey levels, like a decent webcam in good light
constexpr std::uint64_t kNoiseSeed = 0x5eed'2026;
constexpr double kFramesPerSecond = 30;

constexpr std::uint64_t kWallSeed = 0x3a11'2026, kBackSeed = 0xba0c'2026, kHandSeed = 0x4a2d'2026;
constexpr double kLeaveDistance = 500;  // 640x480 pixels to the right: wholly out of the picture
constexpr double kNodDepth = 24;

// Blobs of about `cells` across with a grain four times finer on top, around `base` (BGR), as
// floats: mostly lighter and darker, slightly tinted. Counted in cells, not pixels, so a smaller
// frame shows the same pattern.
cv::Mat Texture(cv::Size size, cv::Size cells, cv::Scalar base, double blobs, double grain, std::uint64_t seed) {
    cv::RNG rng(seed);
    const auto layer = [&](cv::Size grid, double spread, int interpolation) {
        cv::Mat light(std::max(grid.height, 2), std::max(grid.width, 2), CV_32F), tint(light.size(), CV_32FC3);
        rng.fill(light, cv::RNG::UNIFORM, -spread, spread);
        rng.fill(tint, cv::RNG::UNIFORM, -spread / 4, spread / 4);
        cv::Mat mixed, full;
        cv::merge(std::vector<cv::Mat>(3, light), mixed);
        cv::resize(mixed + tint, full, size, 0, 0, interpolation);
        return full;
    };
    return layer(cells, blobs, cv::INTER_CUBIC) + layer(cells * 4, grain, cv::INTER_LINEAR) + base;
}

// An ellipse filling `size`, with soft edges: how much of each pixel it covers.
cv::Mat EllipseCover(cv::Size size) {
    cv::Mat cover = cv::Mat::zeros(size, CV_8U);
    cv::ellipse(cover, {size.width / 2, size.height / 2}, {size.width / 2 - 1, size.height / 2 - 1}, 0, 0, 360,
                cv::Scalar(255), cv::FILLED, cv::LINE_AA);
    cover.convertTo(cover, CV_32F, 1.0 / 255);
    return cover;
}

// Lays `image` over `canvas` (both BGR floats) through `place`, where `cover` says how much of it
// shows; the edges blend as the bilinear warp spreads them.
void Lay(cv::Mat& canvas, const cv::Mat& image, const cv::Mat& cover, const cv::Matx23d& place) {
    cv::Mat colour, cover3, premultiplied, laid, share;
    image.convertTo(colour, CV_32FC3);
    cv::merge(std::vector<cv::Mat>(3, cover), cover3);
    cv::multiply(colour, cover3, premultiplied);
    cv::warpAffine(premultiplied, laid, place, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    cv::warpAffine(cover3, share, place, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar());
    canvas = canvas.mul(cv::Scalar::all(1) - share) + laid;
}

// 0 to 1 and back, starting and stopping gently: a head's own way of moving.
double Ease(double t) { return (1 - std::cos(CV_PI * std::clamp(t, 0.0, 1.0))) / 2; }

// Triangle wave through 0 at i = 0, peaking at +1 a quarter period in, -1 three quarters in.
double Triangle(double i, double period) {
    const double phase = std::fmod(i / period + 0.25, 1.0);
    return phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase;
}

}  // namespace

std::filesystem::path DefaultFacePhotoPath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path() : program.parent_path()) / "data" / "astronaut.png";
}

Trajectory ParseTrajectory(std::string_view name) {
    for (Trajectory t :
         {Trajectory::Circle, Trajectory::Sweep, Trajectory::Brightness, Trajectory::Rests, Trajectory::Leave,
          Trajectory::Turn, Trajectory::Cover, Trajectory::Ordinary, Trajectory::Shakes})
        if (TrajectoryName(t) == name) return t;
    throw std::invalid_argument(
        "unknown trajectory '" + std::string(name) +
        "' (expected circle, sweep, brightness, rests, leave, turn, cover, ordinary or shakes)");
}

bool IsAway(Trajectory trajectory) {
    return trajectory == Trajectory::Leave || trajectory == Trajectory::Turn || trajectory == Trajectory::Cover;
}

std::string_view TrajectoryName(Trajectory trajectory) {
    switch (trajectory) {
        case Trajectory::Circle:
            return "circle";
        case Trajectory::Sweep:
            return "sweep";
        case Trajectory::Brightness:
            return "brightness";
        case Trajectory::Rests:
            return "rests";
        case Trajectory::Leave:
            return "leave";
        case Trajectory::Turn:
            return "turn";
        case Trajectory::Cover:
            return "cover";
        case Trajectory::Ordinary:
            return "ordinary";
        case Trajectory::Shakes:
            return "shakes";
    }
    return "?";
}

SyntheticSequence::SyntheticSequence(Trajectory trajectory, int frameCount, cv::Size frameSize,
                                     const std::filesystem::path& photoPath)
    : m_trajectory(trajectory), m_frameCount(frameCount), m_frameSize(frameSize) {
    if (frameCount < 1) throw std::invalid_argument("frame count must be at least 1");
    if (frameSize.width < 1 || frameSize.height < 1) throw std::invalid_argument("frame size must be at least 1x1");

    std::error_code error;
    if (!std::filesystem::is_regular_file(photoPath, error))
        throw std::runtime_error("face photo not found: " + photoPath.string());
    const cv::Mat photo = cv::imread(photoPath.string(), cv::IMREAD_COLOR);
    if (photo.empty()) throw std::runtime_error("face photo could not be decoded: " + photoPath.string());

    const cv::Rect crop(cvRound(photo.cols * kCropLeft), cvRound(photo.rows * kCropTop),
                        cvRound(photo.cols * kCropWidth), cvRound(photo.rows * kCropHeight));
    m_scale = std::min(frameSize.width / 640.0, frameSize.height / 480.0);
    const cv::Size scaled(std::max(1, cvRound(kPhotoWidth * m_scale)), std::max(1, cvRound(kPhotoHeight * m_scale)));
    // Cubic keeps skin texture for the point tracker when enlarging; area avoids aliasing when shrinking.
    const bool enlarging = scaled.width > crop.width;
    cv::resize(photo(crop), m_photo, scaled, 0, 0, enlarging ? cv::INTER_CUBIC : cv::INTER_AREA);

    // Centred, off the pixel grid so that even the resting position needs interpolation.
    m_rest = {(frameSize.width - scaled.width) / 2.0 + 0.37, (frameSize.height - scaled.height) / 2.0 + 0.21};
    if (trajectory == Trajectory::Ordinary) m_path = OrdinarySequencePath(frameCount).at;
    if (trajectory == Trajectory::Shakes) m_path = ShakesSequencePath(frameCount).at;

    if (!IsAway(trajectory)) return;
    // Cells of about 24 and 6 pixels of a 640x480 frame on the wall, coarser on the head and hand.
    m_wall = Texture(frameSize, {27, 20}, kBackground, 45, 20, kWallSeed);
    m_back = Texture(scaled, {14, 16}, cv::Scalar(40, 50, 65), 25, 20, kBackSeed);
    m_backCover = EllipseCover(scaled);
    // A flat hand near the camera, fingers up, big enough to hide the face from brow to chin.
    const cv::Size hand(scaled.width * 4 / 5, scaled.height * 4 / 5);
    m_hand = Texture(hand, {10, 12}, cv::Scalar(120, 150, 200), 20, 12, kHandSeed);
    for (int finger = 1; finger < 4; ++finger)
        cv::line(m_hand, {hand.width * finger / 4, 0}, {hand.width * finger / 4, hand.height / 2},
                 cv::Scalar(80, 100, 140), std::max(1, cvRound(3 * m_scale)), cv::LINE_AA);
    m_handCover = EllipseCover(hand);
}

void SyntheticSequence::CheckIndex(int i) const {
    if (i < 0 || i >= m_frameCount)
        throw std::out_of_range("frame " + std::to_string(i) + " outside 0.." + std::to_string(m_frameCount - 1));
}

cv::Point2d SyntheticSequence::Position(int i) const {
    cv::Point2d offset;
    switch (m_trajectory) {
        case Trajectory::Circle:
            // 0.04 rad per frame on a 20 px radius: 0.8 px per frame, one turn in ~157 frames.
            offset = {20 * std::cos(0.04 * i), 20 * std::sin(0.04 * i)};
            break;
        case Trajectory::Sweep:
            // From rest at the left, side to side over 220 px, peaking at 110 * 0.065 = 7.2 px
            // per frame mid-sweep; the head dips 30 px on the way across, like a turning head.
            offset = {-110 * std::cos(0.065 * i), -15 * std::cos(0.13 * i)};
            break;
        case Trajectory::Brightness:
            // Barely moving, so any tracking error comes from the lighting.
            offset = {6 * std::sin(0.05 * i), 4 * std::sin(0.07 * i)};
            break;
        case Trajectory::Rests: {
            // Quick moves of 6 px a frame that start and stop at once, as a head that turns to a
            // target and holds still there; a loop of the video ends where it started.
            constexpr int kRest = 24, kMove = 5, kStep = 6;
            const int phase = i % (2 * (kRest + kMove));
            const int out = std::clamp(phase - kRest + 1, 0, kMove),
                      back = std::clamp(phase - 2 * kRest - kMove + 1, 0, kMove);
            offset = {static_cast<double>(kStep * (out - back)), 0};
            break;
        }
        case Trajectory::Leave:
        case Trajectory::Turn:
        case Trajectory::Cover: {
            // Leaving, the head goes out to the right; turning away or covered, it stays where it
            // is and what the camera sees of it changes. Back in view, it holds still, then nods.
            const double nod = std::clamp(i % AwayTimeline::kCycle - AwayTimeline::kNods, 0, AwayTimeline::kCycle);
            offset = {m_trajectory == Trajectory::Leave ? kLeaveDistance * AwayShare(i) : 0,
                      kNodDepth * std::sin(CV_PI * nod / (AwayTimeline::kCycle - AwayTimeline::kNods))};
            break;
        }
        case Trajectory::Ordinary:
        case Trajectory::Shakes:
            offset = m_path[static_cast<std::size_t>(i)];
            break;
    }
    return m_rest + offset * m_scale;
}

double SyntheticSequence::AwayShare(int i) const {
    using T = AwayTimeline;
    const int k = i % T::kCycle;
    if (k < T::kGoes || k >= T::kInView) return 0;  // the nod too
    if (k < T::kAway) return Ease(static_cast<double>(k - T::kGoes) / (T::kAway - T::kGoes));
    if (k < T::kReturns) return 1;
    return 1 - Ease(static_cast<double>(k - T::kReturns + 1) / (T::kInView - T::kReturns));
}

bool SyntheticSequence::FaceAway(int i) const {
    CheckIndex(i);
    return IsAway(m_trajectory) && AwayShare(i) == 1;
}

void SyntheticSequence::DrawAway(int i, cv::Mat& frame) const {
    cv::Mat canvas = m_wall.clone();
    const cv::Point2d at = Position(i);
    const cv::Mat photoCover(m_photo.size(), CV_32F, cv::Scalar(1));
    const double share = AwayShare(i);
    if (m_trajectory == Trajectory::Turn) {
        // Turning about its upright axis, the face narrows to a profile and the back of the head
        // widens from it; a profile is no line.
        const double width = std::max(std::abs(std::cos(CV_PI * share)), 0.25);
        const double left = at.x + m_photo.cols * (1 - width) / 2;
        const cv::Matx23d place(width, 0, left, 0, 1, at.y);
        if (share < 0.5)
            Lay(canvas, m_photo, photoCover, place);
        else
            Lay(canvas, m_back, m_backCover, place);
    } else {
        Lay(canvas, m_photo, photoCover, cv::Matx23d(1, 0, at.x, 0, 1, at.y));
    }
    if (m_trajectory == Trajectory::Cover) {
        // From below the picture up over the face, its top at the brow.
        const double below = m_frameSize.height + 1.0, brow = at.y + 0.15 * m_photo.rows;
        const double top = below + (brow - below) * share;
        const double left = at.x + (m_photo.cols - m_hand.cols) / 2.0;
        Lay(canvas, m_hand, m_handCover, cv::Matx23d(1, 0, left, 0, 1, top));
    }
    canvas.convertTo(frame, CV_8UC3);
}

double SyntheticSequence::Gain(int i) const {
    CheckIndex(i);
    // Linear ramps, as when a lamp is dimmed or the camera's exposure drifts.
    return m_trajectory == Trajectory::Brightness ? 1 + 0.3 * Triangle(i, 80) : 1.0;
}

FrameTruth SyntheticSequence::Truth(int i) const {
    CheckIndex(i);
    const cv::Point2d now = Position(i);
    const cv::Point2d motion = i == 0 ? cv::Point2d() : now - Position(i - 1);
    return {now.x, now.y, motion.x, motion.y};
}

cv::Mat SyntheticSequence::Frame(int i) const {
    const FrameTruth truth = Truth(i);
    cv::Mat frame;
    if (IsAway(m_trajectory)) {
        DrawAway(i, frame);
    } else {
        const cv::Matx23d shift(1, 0, truth.x, 0, 1, truth.y);
        cv::warpAffine(m_photo, frame, shift, m_frameSize, cv::INTER_LINEAR, cv::BORDER_CONSTANT, kBackground);
    }

    // Seeded per frame so a frame's noise does not depend on which frames came before it.
    cv::Mat noise(m_frameSize.height, m_frameSize.width * 3, CV_32F);
    cv::RNG rng(kNoiseSeed + static_cast<std::uint64_t>(i) * 0x9E37'79B9);
    rng.fill(noise, cv::RNG::NORMAL, 0, kNoiseSigma);

    // One pass for exposure and noise: whole-frame temporaries make this several times slower.
    const float gain = static_cast<float>(Gain(i));
    for (int row = 0; row < frame.rows; ++row) {
        std::uint8_t* pixel = frame.ptr<std::uint8_t>(row);
        const float* grain = noise.ptr<float>(row);
        for (int k = 0; k < noise.cols; ++k) pixel[k] = cv::saturate_cast<std::uint8_t>(pixel[k] * gain + grain[k]);
    }
    return frame;
}

void WriteSequence(const SyntheticSequence& sequence, const std::filesystem::path& pathWithoutExtension,
                   const std::function<void(int done)>& progress) {
    std::filesystem::path videoPath = pathWithoutExtension, csvPath = pathWithoutExtension;
    videoPath += ".avi";
    csvPath += ".csv";

    // FFV1 stores the BGR frames as lossless RGB, so the tracker reads back exactly what was made.
    cv::VideoWriter video(videoPath.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('F', 'F', 'V', '1'),
                          kFramesPerSecond, sequence.FrameSize(), true);
    if (!video.isOpened()) throw std::runtime_error("cannot write video " + videoPath.string());
    std::ofstream csv(csvPath);
    if (!csv) throw std::runtime_error("cannot write " + csvPath.string());

    csv << "frame,x,y,dx,dy\n";
    for (int i = 0; i < sequence.FrameCount(); ++i) {
        video.write(sequence.Frame(i));
        const FrameTruth t = sequence.Truth(i);
        char line[128];
        std::snprintf(line, sizeof line, "%d,%.6f,%.6f,%.6f,%.6f\n", i, t.x, t.y, t.dx, t.dy);
        csv << line;
        if (progress) progress(i + 1);
    }
    video.release();
    csv.close();
    if (!csv) throw std::runtime_error("cannot write " + csvPath.string());
}
