#include "capture/video_file_capture.h"

#include "capture/frame_conversion.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <utility>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "base/camera_frame.h"

namespace {

std::int64_t IntervalOf(double framesPerSecond) {
    return static_cast<std::int64_t>(std::llround(10'000'000.0 / framesPerSecond));
}

}  // namespace

CVideoFileCapture::CVideoFileCapture(std::filesystem::path file, VideoFileCaptureOptions options)
    : m_file(std::move(file)), m_options(options) {}

CVideoFileCapture::~CVideoFileCapture() { Close(); }

bool CVideoFileCapture::OpenFile(cv::VideoCapture& capture, std::string* reason) const {
    auto fail = [&](const char* why) {
        if (reason) *reason = why;
        return false;
    };
    // Without a file there is nothing to ask the backends, some of which would take the name
    // for a stream address or go looking for cameras.
    std::error_code error;
    const auto status = std::filesystem::status(m_file, error);
    if (!std::filesystem::exists(status)) return fail("no such file");
    if (!std::filesystem::is_regular_file(status)) return fail("not a regular file");
    if (std::FILE* file = std::fopen(m_file.c_str(), "rb"))
        std::fclose(file);
    else
        return fail(errno == EACCES ? "permission denied" : "cannot be read");
    try {
        // FFmpeg reads every common video file; the other backends are for cameras and streams,
        // and probing them for a file they cannot read only costs time (and leaks in gPhoto2's).
        if (capture.open(m_file.string(), cv::CAP_FFMPEG) && capture.isOpened()) return true;
    } catch (const cv::Exception&) {
    }
    return fail("not a video OpenCV can read");
}

bool CVideoFileCapture::ReadFirstFrame(cv::VideoCapture& capture, cv::Mat& frame) {
    m_lastError.clear();
    if (!OpenFile(capture, &m_lastError)) return false;
    if (capture.read(frame) && !frame.empty()) return true;
    m_lastError = "no frame of it could be decoded";
    return false;
}

std::vector<CaptureDeviceInfo> CVideoFileCapture::EnumerateDevices() {
    cv::VideoCapture capture;
    cv::Mat frame;
    if (!ReadFirstFrame(capture, frame)) return {};
    return {CaptureDeviceInfo{m_file.filename().string(), "video file", m_file.string()}};
}

bool CVideoFileCapture::Open(int deviceIndex) {
    Close();
    if (deviceIndex != 0) {
        m_lastError = "a video file is device 0 only";
        return false;
    }
    cv::VideoCapture capture;
    cv::Mat frame;
    if (!ReadFirstFrame(capture, frame)) return false;
    m_width = frame.cols;
    m_height = frame.rows;
    const double fps = capture.get(cv::CAP_PROP_FPS);
    // Containers without a rate report 0, NaN or nonsense; a camera's usual rate stands in.
    m_fileFps = std::isfinite(fps) && fps >= 0.1 && fps <= 1000.0 ? fps : kFallbackFramesPerSecond;
    m_capability.store(0);
    m_interval.store(IntervalOf(m_fileFps));
    m_open = true;
    return true;
}

int CVideoFileCapture::CapabilityCount() {
    if (!m_open) return 0;
    return m_width >= 2 && m_height >= 2 ? 2 : 1;
}

bool CVideoFileCapture::GetCapability(int index, CaptureCapability& capability) {
    if (index < 0 || index >= CapabilityCount()) return false;
    capability.isVideo = true;
    capability.biBitCount = 24;
    capability.biWidth = index == 0 ? m_width : m_width / 2;
    capability.biHeight = index == 0 ? m_height : m_height / 2;
    return true;
}

bool CVideoFileCapture::SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) {
    if (capabilityIndex < 0 || capabilityIndex >= CapabilityCount() || frameInterval100ns <= 0) return false;
    m_capability.store(capabilityIndex);
    m_interval.store(frameInterval100ns);
    return true;
}

bool CVideoFileCapture::SetFrameInterval(std::int64_t frameInterval100ns) {
    if (!m_open || frameInterval100ns <= 0) return false;
    m_interval.store(frameInterval100ns);
    return true;
}

void CVideoFileCapture::SetFrameCallback(CaptureFrameCallback callback) { m_callback = std::move(callback); }

bool CVideoFileCapture::Run() {
    if (!m_open) return false;
    {
        std::lock_guard lock(m_lock);
        if (m_thread.joinable() && !m_finished) return true;
    }
    if (m_thread.joinable()) {  // delivery ended at the last frame; collect the thread
        m_thread.join();
        m_capture.reset();
    }
    auto capture = std::make_unique<cv::VideoCapture>();
    if (!OpenFile(*capture)) return false;
    m_capture = std::move(capture);
    {
        std::lock_guard lock(m_lock);
        m_stopRequested = false;
        m_finished = false;
    }
    m_thread = std::thread(&CVideoFileCapture::Stream, this, m_callback);
    return true;
}

bool CVideoFileCapture::WaitForNextFrame(std::chrono::steady_clock::time_point& due) {
    std::unique_lock lock(m_lock);
    if (m_options.paced) {
        if (m_changed.wait_until(lock, due, [this] { return m_stopRequested; })) return false;
        const auto now = std::chrono::steady_clock::now();
        due += std::chrono::nanoseconds(m_interval.load() * 100);
        // After a stall (a slow handler, a debugger) keep the pace from now rather than catch up.
        if (due < now) due = now;
    }
    return !m_stopRequested;
}

void CVideoFileCapture::Stream(CaptureFrameCallback callback) {
    cv::VideoCapture& capture = *m_capture;
    cv::Mat frame;
    cv::Mat converted;
    std::vector<std::uint8_t> sample;
    auto due = std::chrono::steady_clock::now();
    bool decodedSinceOpen = false;
    for (;;) {
        if (!capture.read(frame) || frame.empty()) {
            // A file that yields nothing after a fresh start would loop forever without a frame.
            if (!m_options.loop || !decodedSinceOpen) break;
            capture.release();
            if (!OpenFile(capture)) break;
            decodedSinceOpen = false;
            continue;
        }
        decodedSinceOpen = true;
        if (!WaitForNextFrame(due)) break;

        // Every frame has the chosen format's length, even if the file changes size midway.
        const bool half = m_capability.load() == 1;
        const cv::Size size = half ? cv::Size(m_width / 2, m_height / 2) : cv::Size(m_width, m_height);
        const std::uint8_t* colour = DecodedToLayout(frame, size, converted, sample);
        if (!colour) break;
        if (!callback) continue;
        try {
            ColourFrame handed(colour, size.width, size.height);
            callback(handed);
        } catch (...) {
            break;  // a handler that throws broke its contract; no further frame can be trusted to it
        }
    }
    {
        std::lock_guard lock(m_lock);
        m_finished = true;
    }
    m_changed.notify_all();
}

bool CVideoFileCapture::Stop() {
    if (!m_thread.joinable()) return true;
    {
        std::lock_guard lock(m_lock);
        m_stopRequested = true;
    }
    m_changed.notify_all();
    if (m_thread.get_id() == std::this_thread::get_id()) return false;
    m_thread.join();
    m_capture.reset();
    return true;
}

void CVideoFileCapture::WaitUntilFinished() {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_finished; });
}

void CVideoFileCapture::Close() {
    Stop();
    if (m_thread.joinable()) return;  // called from the frame callback; the thread still runs
    m_open = false;
    m_width = m_height = 0;
    m_fileFps = 0;
}
