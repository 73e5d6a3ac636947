// How capture hands over frames. A frame is read in the form each user needs: its grey image
// on every frame, its colour image only when asked (the live view, the frame head detection
// wants), so a camera's compressed or YUV frames are decoded no further than that.
//
// The colour layout: 24-bit pixels in blue, green, red order, rows top-down, each row padded to
// a multiple of 4 bytes, length CaptureFrameLength(width, height).
//
//   std::vector<std::uint8_t> sample;
//   ToCaptureLayout(bgr, sample);                         // as a colour camera would deliver it
//   ColourFrame frame(sample.data(), width, height);
//   target.ProcessFrame(frame);
#pragma once

#include <atomic>
#include <cstdint>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

// Bytes of one row: 3 x width rounded up to a multiple of 4.
constexpr std::size_t CaptureRowStep(int width) { return (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

// Bytes of one frame.
constexpr std::size_t CaptureFrameLength(int width, int height) {
    return CaptureRowStep(width) * static_cast<std::size_t>(height);
}

// Head detection works on the frame reduced by 4 above 500 pixels of width, by 2 above 300.
constexpr int kDetectQuarterAboveWidth = 500;
constexpr int kDetectHalfAboveWidth = 300;
constexpr int DetectReduction(int width) {
    return width > kDetectQuarterAboveWidth ? 4 : width > kDetectHalfAboveWidth ? 2 : 1;
}
// The smallest reduced frame it can work on; OpenCV asserts on anything smaller.
constexpr int kMinReducedWidth = 1;
constexpr int kMinReducedHeight = 1;

// Whether frames of this size can be tracked at all.
constexpr bool TrackableFrameSize(int width, int height) {
    const int reduction = DetectReduction(width);
    return width / reduction >= kMinReducedWidth && height / reduction >= kMinReducedHeight;
}

// One captured frame, valid only during the frame callback that hands it over.
class CameraFrame {
public:
    CameraFrame(int width, int height) : m_width(width), m_height(height) {}
    virtual ~CameraFrame() = default;
    CameraFrame(const CameraFrame&) = delete;
    CameraFrame& operator=(const CameraFrame&) = delete;

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Bytes of the frame in the colour layout: what every frame of one format has in common,
    // whatever its source's own length (compressed frames vary by nature).
    std::uint32_t Length() const { return static_cast<std::uint32_t>(CaptureFrameLength(m_width, m_height)); }

    // Writes the frame's grey image into grey: Width x Height, CV_8UC1, any row step, written in
    // place (never reallocated, so it may be a view into a larger image). False when the frame
    // cannot be decoded.
    virtual bool Grey(cv::Mat& grey) = 0;
    // The frame in the colour layout, made on the first call and kept until the callback
    // returns. Null when the frame cannot be decoded.
    virtual const std::uint8_t* Colour() = 0;
    // Why Grey or Colour failed; empty while neither did. Capture drops and counts such frames.
    const std::string& Failure() const { return m_failure; }
    // Whether Grey or Colour succeeded: the device's data was good. A frame nobody read is
    // neither good nor bad.
    bool Decoded() const { return m_decoded; }
    // What was wrong with a frame that still decoded whole (a JPEG without its end marker):
    // empty when nothing was. Capture uses such frames and logs this with the bad ones.
    const std::string& Warning() const { return m_warning; }

protected:
    // Records why the frame cannot be used; returns false for the caller's convenience.
    bool Fail(std::string why);
    // Records a successful decoding; returns true for the caller's convenience.
    bool Succeed() { return m_decoded = true; }
    // Records what was wrong with data that still decoded whole.
    void Warn(const char* what) { m_warning = what; }
    // Whether grey is a Width x Height CV_8UC1 image to write into; records the failure if not.
    bool GreyFits(const cv::Mat& grey);
    // Starts a new frame of the same format: nothing decoded, no failure.
    void Renew() {
        m_failure.clear();
        m_warning.clear();
        m_decoded = false;
    }

private:
    int m_width;
    int m_height;
    std::string m_failure;
    std::string m_warning;  // keeps its room from frame to frame: a camera may flaw every frame
    bool m_decoded = false;
};

// A frame that arrives in colour, already in the colour layout: its grey image is converted
// from it (OpenCV's BGR-to-grey conversion).
class ColourFrame final : public CameraFrame {
public:
    ColourFrame(const std::uint8_t* bytes, int width, int height) : CameraFrame(width, height), m_bytes(bytes) {}
    bool Grey(cv::Mat& grey) override;
    const std::uint8_t* Colour() override { return m_bytes; }

private:
    const std::uint8_t* m_bytes;
};

// Receives each captured frame on the capture thread: frame preparation in the program, the
// engine's synchronous road in tools.
class IFrameTarget {
public:
    virtual ~IFrameTarget() = default;
    virtual void ProcessFrame(CameraFrame& frame) = 0;
};

// Where capture hands its frames: the target published there, or none (frames are dropped).
using FrameTargetSlot = std::atomic<IFrameTarget*>;

// Writes an 8-bit BGR image into out in the colour layout (out is resized to fit).
void ToCaptureLayout(const cv::Mat& bgr, std::vector<std::uint8_t>& out);
// The frame in the colour layout as an image, without a copy.
cv::Mat CaptureImage(const std::uint8_t* bytes, int width, int height);
