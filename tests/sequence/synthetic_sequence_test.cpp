// The synthetic head-motion sequences: their truth, their pictures and files, and a face the
// tracker's cascade finds where the truth puts it.
#include "tools/sequence/synthetic_sequence.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "tests/support/test_support.h"
#include "tools/sequence/head_motion.h"

// Names the trajectory in test listings instead of dumping its bytes.
void PrintTo(Trajectory t, std::ostream* os) { *os << TrajectoryName(t); }

namespace {

constexpr Trajectory kTrajectories[] = {Trajectory::Circle, Trajectory::Sweep,    Trajectory::Brightness,
                                        Trajectory::Rests,  Trajectory::Ordinary, Trajectory::Shakes};

std::string Name(Trajectory t) { return std::string(TrajectoryName(t)); }

// The shift of b's content relative to a's, measured from the pixels alone: phase correlation
// gets within half a pixel, then ECC (blind to brightness) refines it to a few hundredths.
cv::Point2d MeasuredShift(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat grey[2], wide[2];
    for (int k : {0, 1}) cv::cvtColor(k ? b : a, grey[k], cv::COLOR_BGR2GRAY), grey[k].convertTo(wide[k], CV_64F);
    const cv::Point2d coarse = cv::phaseCorrelate(wide[0], wide[1]);
    cv::Mat warp = (cv::Mat_<float>(2, 3) << 1, 0, coarse.x, 0, 1, coarse.y);
    const cv::TermCriteria until(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-5);
    cv::findTransformECC(grey[0], grey[1], warp, cv::MOTION_TRANSLATION, until, cv::noArray(), 1);
    return {warp.at<float>(0, 2), warp.at<float>(1, 2)};
}

// PATH.avi reads back bit-exact and PATH.csv holds the truth of every frame.
void ExpectFilesHold(const SyntheticSequence& seq, const std::string& path) {
    cv::VideoCapture video(path + ".avi", cv::CAP_FFMPEG);
    ASSERT_TRUE(video.isOpened()) << "OpenCV cannot read back the FFV1 video " << path << ".avi";
    EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_COUNT), seq.FrameCount());
    int frames = 0, rows = 0, number = -1;  // a frame of another size or type makes norm throw
    for (cv::Mat frame; video.read(frame); ++frames)
        EXPECT_EQ(cv::norm(frame, seq.Frame(frames), cv::NORM_INF), 0) << "frame " << frames << " changed on disk";
    EXPECT_EQ(frames, seq.FrameCount());

    std::istringstream csv(test::ReadFile(path + ".csv"));
    std::string line;
    EXPECT_TRUE(std::getline(csv, line) && line == "frame,x,y,dx,dy") << line;
    for (double x, y, dx, dy; std::getline(csv, line); ++rows) {
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lf,%lf,%lf,%lf", &number, &x, &y, &dx, &dy), 5) << line;
        ASSERT_EQ(number, rows);
        const FrameTruth t = seq.Truth(number);
        EXPECT_LT(cv::norm(cv::Vec4d(x, y, dx, dy), cv::Vec4d(t.x, t.y, t.dx, t.dy), cv::NORM_INF), 1e-6) << line;
    }
    EXPECT_EQ(rows, seq.FrameCount());
}

TEST(SyntheticSequence, EachTrajectoryMovesOffTheGridAtItsOwnPaceAndLighting) {
    struct Expected {
        Trajectory t;
        cv::Size size;
        double minStep, maxStep, maxDy, minGain, maxGain;
    };
    // A smaller frame shows the same scene, so the motion shrinks with it.
    for (const Expected& e : {Expected{Trajectory::Circle, {640, 480}, 0.5, 1.2, 1.2, 1, 1},
                              Expected{Trajectory::Sweep, {640, 480}, 6, 8, 5, 1, 1},
                              Expected{Trajectory::Sweep, {320, 240}, 3, 4, 2.5, 1, 1},
                              Expected{Trajectory::Brightness, {640, 480}, 0, 0.5, 0.5, 0.7, 1.3}}) {
        SCOPED_TRACE(Name(e.t) + " " + std::to_string(e.size.width));
        const SyntheticSequence seq(e.t, 300, e.size);
        double maxStep = 0, maxDy = 0, minGain = 10, maxGain = 0;
        int onGrid = 0;
        for (int i = 0; i < seq.FrameCount(); ++i) {
            const FrameTruth now = seq.Truth(i), before = seq.Truth(std::max(i - 1, 0));
            EXPECT_DOUBLE_EQ(now.dx, i ? now.x - before.x : 0) << "frame " << i;
            EXPECT_DOUBLE_EQ(now.dy, i ? now.y - before.y : 0) << "frame " << i;
            onGrid += now.x == std::round(now.x) || now.y == std::round(now.y);
            maxStep = std::max(maxStep, std::hypot(now.dx, now.dy)), maxDy = std::max(maxDy, std::abs(now.dy));
            minGain = std::min(minGain, seq.Gain(i)), maxGain = std::max(maxGain, seq.Gain(i));
        }
        EXPECT_EQ(onGrid, 0) << "positions should need sub-pixel interpolation";
        EXPECT_TRUE(e.minStep <= maxStep && maxStep <= e.maxStep && maxDy <= e.maxDy) << maxStep << ", " << maxDy;
        EXPECT_NEAR(minGain, e.minGain, 0.02);
        EXPECT_NEAR(maxGain, e.maxGain, 0.02);
    }
}

// That a frame depends only on its number is checked by the files, which render every frame again.
TEST(SyntheticSequence, FramesCarryFreshNoiseAndTheGain) {
    const SyntheticSequence seq(Trajectory::Sweep, 10);
    // Fresh sensor noise on every frame, even where the scene is unchanged.
    const cv::Rect corner(0, 0, 32, 32);
    EXPECT_GT(cv::norm(seq.Frame(0)(corner), seq.Frame(1)(corner), cv::NORM_INF), 0);

    // The plain background carries the gain, and noise of about 2 levels.
    const SyntheticSequence lit(Trajectory::Brightness, 80);
    cv::Scalar rest, spread, mean, ignored;
    cv::meanStdDev(lit.Frame(0)(corner), rest, spread);
    for (int i : {20, 60}) {
        cv::meanStdDev(lit.Frame(i)(corner), mean, ignored);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(mean[c] / rest[c], lit.Gain(i), 0.02) << "frame " << i << ", " << c;
    }
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(spread[c], 2, 0.3) << "channel " << c;
}

TEST(SyntheticSequence, ThePictureMovesByTheTruth) {
    for (Trajectory t : kTrajectories) {
        const SyntheticSequence seq(t, 60);
        // Frame 1 moves less than a pixel; by 20 and 59 the sweep is far off and the brightness
        // at its highest and lowest. Whole-pixel rendering would miss by up to half a pixel.
        for (int i : {1, 20, 59}) {
            const cv::Point2d measured = MeasuredShift(seq.Frame(0), seq.Frame(i));
            EXPECT_NEAR(measured.x, seq.Truth(i).x - seq.Truth(0).x, 0.1) << Name(t) << " frame " << i;
            EXPECT_NEAR(measured.y, seq.Truth(i).y - seq.Truth(0).y, 0.1) << Name(t) << " frame " << i;
        }
    }
}

TEST(HeadMotion, GeneratedPathsRepeatAndEachShakeIsAsWideAsItsStyleAfterARest) {
    EXPECT_EQ(OrdinarySequencePath(900).at, OrdinarySequencePath(900).at);
    EXPECT_NE(OrdinaryHeadPath(HeadActivity::Pointing, 30, 30, 1).at,
              OrdinaryHeadPath(HeadActivity::Pointing, 30, 30, 2).at);
    const HeadPath path = ShakesSequencePath(1800);
    ASSERT_GE(path.shakes.size(), kSequenceShakes.size()) << "every style within a minute";
    for (std::size_t k = 0; k < path.shakes.size(); ++k) {
        const auto [first, last] = path.shakes[k];
        const auto spread = [&](int from, int to) {
            const auto [low, high] = std::minmax_element(path.at.begin() + from, path.at.begin() + to + 1,
                                                         [](auto& a, auto& b) { return a.x < b.x; });
            return high->x - low->x;
        };
        const double swing = kSequenceShakes[k % kSequenceShakes.size()].swing;
        EXPECT_NEAR(spread(first, last), swing, 0.3 * swing) << k;
        EXPECT_LT(spread(first - 25, first - 1), 2) << k << ": no rest before the shake";
    }
}

TEST(SyntheticSequence, AMissingPhotoIsNamed) {
    const auto make = [] { SyntheticSequence(Trajectory::Circle, 10, {640, 480}, "/nonexistent/astronaut.png"); };
    EXPECT_THAT(make, testing::ThrowsMessage<std::runtime_error>(testing::HasSubstr("/nonexistent/astronaut.png")));
}

TEST(SequenceFiles, TheVideoReadsBackBitExactAndTheCsvHoldsTheTruthAlsoFromTheTool) {
    test::TempDir dir;
    const SyntheticSequence seq(Trajectory::Brightness, 24, {320, 240});
    std::vector<int> progress;
    WriteSequence(seq, dir.path() / "seq", [&](int done) { progress.push_back(done); });
    ASSERT_EQ(progress.size(), 24u);
    EXPECT_EQ(progress.back(), 24);
    ExpectFilesHold(seq, dir.path() / "seq");

    auto tool = [](const std::string& arguments) {
        const int status = std::system((MIVEX_TEST_MAKE_SEQUENCE " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string out = dir.path() / "clip";
    ASSERT_EQ(tool("--trajectory sweep --frames 5 --size 160x120 --out " + out), 0);
    ExpectFilesHold(SyntheticSequence(Trajectory::Sweep, 5, {160, 120}), out);
    // Another photo, here the shipped one mirrored.
    const std::filesystem::path mirrored = dir.path() / "mirrored.png";
    cv::Mat photo = cv::imread(DefaultFacePhotoPath().string());
    cv::flip(photo, photo, 1);
    ASSERT_TRUE(cv::imwrite(mirrored.string(), photo));
    ASSERT_EQ(tool("--trajectory sweep --frames 5 --size 160x120 --photo " + mirrored.string() + " --out " + out), 0);
    ExpectFilesHold(SyntheticSequence(Trajectory::Sweep, 5, {160, 120}, mirrored), out);
    EXPECT_EQ(std::make_tuple(tool("--help"), tool("--trajectory zigzag --out x"),
                              tool("--trajectory sweep --photo /nonexistent.png --out " + out)),
              std::make_tuple(0, 2, 1));
}

// The tracker reduces every frame to 160x120 and looks for a face there; every trajectory
// must keep the face findable, at each camera size, and the face must ride on the truth.
class FaceDetection : public testing::TestWithParam<std::tuple<Trajectory, cv::Size>> {};

TEST_P(FaceDetection, FindsTheFaceOnNearlyEveryFrameWhereTheTruthPutsIt) {
    // Sequential, as the program runs OpenCV: its worker pool would hand the results over in a
    // way ThreadSanitizer cannot see.
    cv::setNumThreads(0);
    cv::CascadeClassifier cascade;
    ASSERT_TRUE(cascade.load(MIVEX_TEST_FACE_CASCADE))
        << MIVEX_TEST_FACE_CASCADE << " is missing: install the Debian package opencv-data";
    const auto [trajectory, size] = GetParam();
    const SyntheticSequence seq(trajectory, 90, size);
    const double toFrame = size.width / 160.0;

    std::vector<cv::Point2d> faceInPhoto;  // detected face centre relative to the photo's offset
    for (int i = 0; i < seq.FrameCount(); ++i) {
        cv::Mat reduced;
        cv::resize(seq.Frame(i), reduced, {160, 120}, 0, 0, cv::INTER_LINEAR);
        std::vector<cv::Rect> faces;
        cascade.detectMultiScale(reduced, faces, 1.1, 2, cv::CASCADE_DO_CANNY_PRUNING, cv::Size(40, 40));
        if (!faces.empty())  // the first face's centre
            faceInPhoto.push_back(cv::Point2d(faces[0].tl() + faces[0].br()) * (toFrame / 2) -
                                  cv::Point2d(seq.Truth(i).x, seq.Truth(i).y));
    }
    ASSERT_GE(faceInPhoto.size(), 0.95 * seq.FrameCount());
    // A 160x120 detection moves in whole reduced pixels: allow a few.
    const cv::Point2d first = faceInPhoto.front();
    for (const cv::Point2d& p : faceInPhoto)
        EXPECT_LE(cv::norm(p - first), 4 * toFrame) << "face drifted off the truth by " << p - first;
}

// The away trajectories take the face from the cascade for exactly their 3 s away, the head staying
// put (or, leaving, going wholly out of the picture), and give it back for the rest of the cycle.
TEST(AwayTrajectories, TheCascadeFindsTheFaceInViewAndNeverWhileItIsAway) {
    cv::setNumThreads(0);
    cv::CascadeClassifier cascade;
    ASSERT_TRUE(cascade.load(MIVEX_TEST_FACE_CASCADE))
        << MIVEX_TEST_FACE_CASCADE << " is missing: install the Debian package opencv-data";
    using T = AwayTimeline;
    for (Trajectory t : {Trajectory::Leave, Trajectory::Turn, Trajectory::Cover}) {
        SCOPED_TRACE(Name(t));
        const SyntheticSequence seq(t, T::kCycle + 1);
        int away = 0, inView = 0, foundAway = 0, foundInView = 0;
        // Every sixth frame: detection runs a few times a second.
        for (int i = 0; i < seq.FrameCount(); i += 6) {
            const bool gone = seq.FaceAway(i), shown = i <= T::kGoes || i >= T::kInView;
            if (!gone && !shown) continue;  // going or coming back
            cv::Mat reduced;
            cv::resize(seq.Frame(i), reduced, {160, 120}, 0, 0, cv::INTER_LINEAR);
            std::vector<cv::Rect> faces;
            cascade.detectMultiScale(reduced, faces, 1.1, 2, cv::CASCADE_DO_CANNY_PRUNING, cv::Size(40, 40));
            (gone ? away : inView) += 1;
            (gone ? foundAway : foundInView) += !faces.empty();
        }
        EXPECT_EQ(away, (T::kReturns - T::kAway) / 6);
        EXPECT_EQ(foundAway, 0);
        EXPECT_GE(foundInView, 0.95 * inView);
        const double rest = seq.Truth(0).x;
        EXPECT_EQ(seq.Truth(T::kCycle).x, rest) << "the cycle ends where it began";
        EXPECT_GE(seq.Truth((T::kAway + T::kReturns) / 2).x - rest, t == Trajectory::Leave ? 480 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(AllTrajectories, FaceDetection,
                         testing::Combine(testing::ValuesIn(kTrajectories),
                                          testing::Values(cv::Size(640, 480), cv::Size(320, 240))),
                         [](const auto& info) {
                             return Name(std::get<0>(info.param)) + std::to_string(std::get<1>(info.param).width);
                         });

}  // namespace
