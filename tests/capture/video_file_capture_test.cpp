#include "video_file_capture.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "camera_frame.h"
#include "synthetic_sequence.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// 322 pixels make 966 bytes a row, so every row carries two bytes of padding.
constexpr int kWidth = 322;
constexpr int kHeight = 242;
constexpr int kFrames = 5;

class VideoFileCamera : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new test::TempDir;
        WriteSequence(SyntheticSequence(Trajectory::Circle, kFrames, {kWidth, kHeight}), s_dir->path() / "circle");
        s_decoded = new std::vector<cv::Mat>;
        cv::VideoCapture reader(File().string());
        ASSERT_TRUE(reader.isOpened()) << "the generated sequence " << File() << " cannot be read";
        for (cv::Mat frame; reader.read(frame);) s_decoded->push_back(frame.clone());
        ASSERT_EQ(s_decoded->size(), std::size_t{kFrames});
    }
    static void TearDownTestSuite() {
        delete s_decoded;
        delete s_dir;
    }
    static std::filesystem::path File() { return s_dir->path() / "circle.avi"; }
    static const cv::Mat& Decoded(std::size_t i) { return s_decoded->at(i); }

    // Collects every frame handed over, copied.
    struct Collector {
        std::mutex lock;
        std::vector<Bytes> frames;
        CaptureFrameCallback Callback() {
            return [this](std::uint8_t* bytes, std::uint32_t length) {
                std::lock_guard guard(lock);
                frames.emplace_back(bytes, bytes + length);
            };
        }
        std::size_t Count() {
            std::lock_guard guard(lock);
            return frames.size();
        }
    };

    static void WaitFor(Collector& collector, std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (collector.Count() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(collector.Count(), count) << "frames stopped coming";
    }

    static test::TempDir* s_dir;
    static std::vector<cv::Mat>* s_decoded;
};

test::TempDir* VideoFileCamera::s_dir = nullptr;
std::vector<cv::Mat>* VideoFileCamera::s_decoded = nullptr;

// Checks the capture layout independently of the code under test: bottom-up BGR rows, zero padding.
void ExpectCaptureLayoutOf(const cv::Mat& topDown, const Bytes& sample, std::size_t frame) {
    const int step = (3 * topDown.cols + 3) / 4 * 4;
    ASSERT_EQ(sample.size(), static_cast<std::size_t>(step) * static_cast<std::size_t>(topDown.rows)) << frame;
    for (int row = 0; row < topDown.rows; ++row) {
        const std::uint8_t* stored = sample.data() + static_cast<std::size_t>(topDown.rows - 1 - row) * step;
        ASSERT_EQ(std::memcmp(stored, topDown.ptr(row), 3 * static_cast<std::size_t>(topDown.cols)), 0)
            << "frame " << frame << ", row " << row;
        for (int pad = 3 * topDown.cols; pad < step; ++pad) ASSERT_EQ(stored[pad], 0) << "frame " << frame;
    }
}

TEST_F(VideoFileCamera, IsOneDeviceNamedAfterTheFileOfferingItsSizeAndHalfOfIt) {
    CVideoFileCapture camera(File());
    auto devices = camera.EnumerateDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(std::tie(devices[0].friendlyName, devices[0].description, devices[0].devicePath),
              std::make_tuple("circle.avi", "video file", File().string()));
    EXPECT_EQ(camera.CapabilityCount(), 0);
    EXPECT_FALSE(camera.Open(1));
    EXPECT_FALSE(camera.Open(-1));
    ASSERT_TRUE(camera.Open(0));
    EXPECT_DOUBLE_EQ(camera.FileFramesPerSecond(), 30.0);

    std::vector<std::tuple<bool, int, int, int>> offered;
    for (CaptureCapability c; camera.GetCapability(static_cast<int>(offered.size()), c);)
        offered.emplace_back(c.isVideo, c.biBitCount, c.biWidth, c.biHeight);
    EXPECT_EQ(offered, (std::vector<std::tuple<bool, int, int, int>>{{true, 24, kWidth, kHeight},
                                                                     {true, 24, kWidth / 2, kHeight / 2}}));
    EXPECT_FALSE(camera.SetFormat(2, 333'333));
    EXPECT_FALSE(camera.SetFormat(0, 0));
    EXPECT_FALSE(camera.SetFrameInterval(-5));
}

TEST_F(VideoFileCamera, AFileThatCannotBeReadIsNoDevice) {
    test::TempDir dir;
    test::WriteFile(dir.path() / "notes.avi", "RIFF but not a video at all");
    for (const auto& path : {dir.path() / "missing.avi", dir.path() / "notes.avi"}) {
        CVideoFileCapture camera(path);
        EXPECT_TRUE(camera.EnumerateDevices().empty()) << path;
        EXPECT_FALSE(camera.Open(0)) << path;
        EXPECT_FALSE(camera.Run());
    }
}

TEST_F(VideoFileCamera, DeliversEveryFrameOnceInTheCaptureLayoutWhenStoppingAtTheEnd) {
    CVideoFileCapture camera(File(), {.loop = false, .paced = false});
    Collector collector;
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback(collector.Callback());
    ASSERT_TRUE(camera.Run());
    camera.WaitUntilFinished();
    ASSERT_EQ(collector.Count(), std::size_t{kFrames});
    for (std::size_t i = 0; i < kFrames; ++i) ExpectCaptureLayoutOf(Decoded(i), collector.frames[i], i);

    // Run after the end starts again at the first frame; half size is the area average.
    ASSERT_TRUE(camera.SetFormat(1, 10'000'000 / 30));
    ASSERT_TRUE(camera.Run());
    camera.WaitUntilFinished();
    ASSERT_EQ(collector.Count(), std::size_t{2 * kFrames});
    for (std::size_t i = 0; i < kFrames; ++i) {
        cv::Mat half;
        cv::resize(Decoded(i), half, {kWidth / 2, kHeight / 2}, 0, 0, cv::INTER_AREA);
        ExpectCaptureLayoutOf(half, collector.frames[kFrames + i], i);
    }
}

TEST_F(VideoFileCamera, PacesFramesAtTheSetInterval) {
    CVideoFileCapture camera(File(), {.loop = false, .paced = true});
    Collector collector;
    ASSERT_TRUE(camera.Open(0));
    ASSERT_TRUE(camera.SetFrameInterval(500'000));  // 20 per second
    camera.SetFrameCallback(collector.Callback());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(camera.Run());
    camera.WaitUntilFinished();
    // The first frame comes at once, each later one no sooner than an interval after the one before.
    EXPECT_GE(std::chrono::steady_clock::now() - start, (kFrames - 1) * 50ms);
    EXPECT_EQ(collector.Count(), std::size_t{kFrames});
}

TEST_F(VideoFileCamera, LoopsBackToTheFirstFrame) {
    CVideoFileCapture camera(File(), {.loop = true, .paced = false});
    Collector collector;
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback(collector.Callback());
    ASSERT_TRUE(camera.Run());
    WaitFor(collector, 2 * kFrames + 1);
    ASSERT_TRUE(camera.Stop());
    for (std::size_t i = 0; i < 2 * kFrames + 1; ++i)
        ExpectCaptureLayoutOf(Decoded(i % kFrames), collector.frames[i], i);
}

TEST_F(VideoFileCamera, StopReturnsOnlyAfterTheLastCallbackReturned) {
    CVideoFileCapture camera(File(), {.loop = true, .paced = false});
    std::atomic<bool> inCallback{false};
    std::atomic<int> calls{0};
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback([&](std::uint8_t*, std::uint32_t) {
        inCallback = true;
        ++calls;
        std::this_thread::sleep_for(30ms);
        inCallback = false;
    });
    ASSERT_TRUE(camera.Run());
    while (calls.load() == 0) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(camera.Stop());
    EXPECT_FALSE(inCallback.load());
    const int afterStop = calls.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), afterStop);
    camera.WaitUntilFinished();  // returns at once when stopped

    // Close while running stops delivery too.
    ASSERT_TRUE(camera.Run());
    while (calls.load() == afterStop) std::this_thread::sleep_for(1ms);
    camera.Close();
    EXPECT_FALSE(inCallback.load());
    const int afterClose = calls.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), afterClose);
    EXPECT_EQ(camera.CapabilityCount(), 0);
    EXPECT_FALSE(camera.Run());
}

TEST_F(VideoFileCamera, RunStopCyclesHandTheHandlersStateBackCleanly) {
    // The handler's state is plain data: only Stop's guarantee makes reading it afterwards safe,
    // which ThreadSanitizer checks in the thread build.
    CVideoFileCapture camera(File(), {.loop = true, .paced = false});
    std::vector<std::uint32_t> lengths;
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback([&](std::uint8_t*, std::uint32_t length) { lengths.push_back(length); });
    for (int cycle = 0; cycle < 6; ++cycle) {
        ASSERT_TRUE(camera.SetFormat(cycle % 2, 10'000'000 / 1000));
        ASSERT_TRUE(camera.Run());
        EXPECT_TRUE(camera.Run());  // already running
        EXPECT_TRUE(camera.SetFrameInterval(10'000'000 / 2000));
        std::this_thread::sleep_for(2ms);
        ASSERT_TRUE(camera.Stop());
        EXPECT_TRUE(camera.Stop());
        const auto expected = static_cast<std::uint32_t>(
            cycle % 2 ? CaptureFrameLength(kWidth / 2, kHeight / 2) : CaptureFrameLength(kWidth, kHeight));
        for (std::uint32_t length : lengths) EXPECT_EQ(length, expected) << "cycle " << cycle;
        lengths.clear();
    }
}

TEST_F(VideoFileCamera, StopFromTheHandlerEndsDeliveryWithoutWaitingForItself) {
    CVideoFileCapture camera(File(), {.loop = true, .paced = false});
    std::atomic<int> calls{0};
    std::atomic<bool> stopResult{true};
    ASSERT_TRUE(camera.Open(0));
    camera.SetFrameCallback([&](std::uint8_t*, std::uint32_t) {
        if (++calls == 2) stopResult = camera.Stop();
    });
    ASSERT_TRUE(camera.Run());
    camera.WaitUntilFinished();
    EXPECT_FALSE(stopResult.load());
    EXPECT_EQ(calls.load(), 2);
    EXPECT_TRUE(camera.Stop());
}

}  // namespace
