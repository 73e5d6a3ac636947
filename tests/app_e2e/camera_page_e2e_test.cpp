// The camera page as the user sees it, after a restart for another resolution opened the settings
// window on it: the live view follows the generated head, and the head detection square, once
// asked for, sits on the face. And what the page watches of a webcam that sends flawed frames.
#include <opencv2/imgproc.hpp>

#include "tests/app_e2e/e2e_harness.h"

#include <X11/Xutil.h>

namespace e2e {
namespace {

class CameraPageShown : public ProgramTest {
protected:
    cv::Mat3b Screen() const {
        const Window root = DefaultRootWindow(m_x);
        XImage* image = XGetImage(m_x, root, 0, 0, DisplayWidth(m_x, 0), DisplayHeight(m_x, 0), AllPlanes, ZPixmap);
        cv::Mat3b screen;
        cv::cvtColor(cv::Mat(image->height, image->width, CV_8UC4, image->data, image->bytes_per_line), screen,
                     cv::COLOR_BGRA2BGR);
        XDestroyImage(image);
        return screen;
    }
    // Pixels of the generated video's plain grey wall, noise included.
    static cv::Mat1b Wall(const cv::Mat3b& picture) {
        cv::Mat1b wall;
        cv::inRange(picture, cv::Scalar(104, 110, 114), cv::Scalar(132, 138, 142), wall);
        return wall;
    }
    // The live view's top left corner: the first of the wall, which fills the view's edges.
    static std::vector<Point> LiveView(const cv::Mat3b& screen) {
        cv::Mat1b block;
        cv::erode(Wall(screen), block, cv::Mat::ones(12, 12, CV_8U), Point(0, 0));
        std::vector<Point> corners;  // row by row
        return cv::findNonZero(block, corners), corners;
    }
};

TEST_F(CameraPageShown, FollowsTheHeadAndSquaresTheFace) {
    CSettingsStore().Write(Setting::kRebootCount, 1), CSettingsStore().Write(Setting::kRebootResolution, 1);
    const ProgramRun run = Start(CameraArgs());
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    std::vector<Point> view;
    cv::Mat3b before;
    ASSERT_TRUE(WaitUntil([&] { return !(view = LiveView(before = Screen())).empty(); }, kSlow * 10s))
        << "no live view on the screen" << Diagnostics(run);
    const cv::Rect area(view[0], cv::Size(320, 240));

    std::this_thread::sleep_for(500ms);
    cv::Mat moved;
    cv::absdiff(before(area), Screen()(area), moved);
    EXPECT_GT(cv::countNonZero(moved.reshape(1) > 40), 100) << "the live view did not follow the head";

    MovePointer(view[0] + Point(60, 254));  // "Show head detect", under the view
    Press(Button1);
    cv::Rect square;
    cv::Mat3b shown;
    const auto blueSquare = [&] {
        cv::Mat1b blue;
        cv::inRange(shown = Screen()(area), cv::Scalar(250, 0, 0), cv::Scalar(255, 5, 5), blue);
        return (square = cv::boundingRect(blue)).width > 0;
    };
    EXPECT_TRUE(WaitUntil(blueSquare, kSlow * 10s)) << "no head square" << Diagnostics(run);
    const cv::Mat1b wall = Wall(shown);
    EXPECT_GE(std::min(square.width, square.height), 40) << square;
    for (Point corner : {square.tl(), square.br() - Point(1, 1), Point(square.x, square.br().y - 1),
                         Point(square.br().x - 1, square.y), (square.tl() + square.br()) / 2})
        EXPECT_EQ(wall(corner), 0) << "the square " << square << " is not on the face at " << corner;
}

// The JPEG frames webcams send: whole, without their end marker, padded before it, without
// Huffman tables, cut short in their scan, and garbage; the last two cannot be decoded.
std::vector<std::uint8_t> Quirk(int frame, std::vector<std::uint8_t> jpeg) {
    switch (frame % 6) {
        case 1:
            return jpeg.resize(jpeg.size() - 2), jpeg;
        case 2:
            return jpeg.insert(jpeg.end() - 2, 32, 0), jpeg;
        case 3:
            for (std::size_t at = 2; at + 3 < jpeg.size() && jpeg[at] == 0xFF;) {
                const std::size_t length = 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
                if (jpeg[at + 1] == 0xC4)
                    jpeg.erase(jpeg.begin() + static_cast<long>(at), jpeg.begin() + static_cast<long>(at + length));
                else
                    at += length;
            }
            return jpeg;
        case 4:
            return jpeg.resize(jpeg.size() / 2), jpeg;
        case 5:
            return std::vector<std::uint8_t>(4000, 'x');
        default:
            return jpeg;
    }
}

TEST_F(ProgramTest, AWebcamsFlawedFramesAreCountedAndLoggedWhileItsGoodOnesAreTrackedWithoutARestart) {
    CSettingsStore().Write(Setting::kUseMouse, 1);
    const fs::path quirky =
        WebcamRecording("head-jpeg-quirks.mkv", Trajectory::Circle, kQuarter, QuarterCircleThereAndBack(), Quirk);
    MovePointer(Centre());
    const ProgramRun run = Start({"--camera-replay", quirky.string(), "--no-dialogs"});
    ASSERT_TRUE(WaitForLogLine(run, "InitInstance exit OK")) << Diagnostics(run);
    EXPECT_TRUE(HasLine(Log(run), "selected camera name: Recording head-jpeg-quirks.mkv of E2E Webcam"))
        << Diagnostics(run);
    EXPECT_TRUE(PointerMoves()) << "the good frames are not tracked" << Diagnostics(run);
    // Three of the camera page's checks, 2.2 s apart, each of which restarts a camera that
    // delivers nothing.
    std::this_thread::sleep_for(kSlow * 7s);
    EXPECT_EQ(Ending(run.pid, 0s), "still running") << Diagnostics(run);
    const std::string log = Log(run);
    EXPECT_EQ(MissingInOrder(log, {"Camera sent a frame that cannot be decoded: *"}), "") << Diagnostics(run);
    EXPECT_EQ(MissingInOrder(log, {"Camera sent a flawed frame, used as every row of it decoded: *"}), "")
        << Diagnostics(run);
    for (const char* never : {"Camera error: fps == 0*", "Camera delivery ended*", "Reboot"})
        EXPECT_NE(MissingInOrder(log, {never}), "") << never << Diagnostics(run);
}

}  // namespace
}  // namespace e2e
