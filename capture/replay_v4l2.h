// A /dev of V4L2 webcams in memory: nodes that describe themselves, offer formats, rates and
// settings, and stream recorded buffers through the layer's own streaming requests, at their
// recorded timing, at a pace, as fast as asked, or one by one as the caller releases them. A
// camera recording plays through it (replayed_camera.h); tests and benchmarks script it.
//
//   auto owned = std::make_unique<ReplayV4l2>();
//   ReplayV4l2& camera = *owned;
//   camera.nodes.resize(1);
//   camera.formats = {{V4L2_PIX_FMT_YUYV, {{640, 480}}}};
//   camera.Serve({yuyvFrame1, yuyvFrame2}, ReplayV4l2::Pace::Gated);   // cycled
//   CV4l2Capture layer(std::move(owned));
//   ... open, choose a format, run ...
//   camera.Release(1);                       // one frame may be dequeued
//   camera.Unplug(ReplayV4l2::Unplugged::Gone);
//
// Each buffer comes with its recorded timestamp, flags and sequence number; played again from the
// first, these go on from the last as a driver's would. Node i's descriptor is 100 + i. The settings (public fields)
// are read by the layer's thread too: set them before Run, and change streaming only through the methods.
#pragma once

#include <linux/videodev2.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/v4l2_capture.h"

// One buffer as a driver filled it: the bytes it used, and what it said of them.
struct RecordedBuffer {
    std::vector<std::uint8_t> bytes;
    std::int64_t timestampUs = 0;  // the driver's timestamp
    std::uint32_t flags = 0;       // V4L2_BUF_FLAG_*, as dequeued
    std::uint32_t sequence = 0;
    bool operator==(const RecordedBuffer&) const = default;
};

class ReplayV4l2 final : public IV4l2Device {
public:
    struct Node {
        std::string path, driver = "uvcvideo", card = "Replayed Camera", bus = "usb-0000:00:14.0-1";
        bool openFails = false, queryFails = false;
        std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        std::optional<std::uint32_t> deviceCaps;  // sets V4L2_CAP_DEVICE_CAPS
    };
    using Size = std::pair<__u32, __u32>;
    struct Format {
        __u32 fourcc;
        std::vector<Size> sizes;
        std::optional<v4l2_frmsize_stepwise> range{};  // offered as a continuous range instead of sizes
    };
    // One of the device's settings: its description, menu entries (an empty text is a gap in the
    // menu), value, and the errno its reading or setting fails with (0: none).
    struct Control {
        v4l2_queryctrl query;
        std::vector<std::string> menu;
        int value = 0, getError = 0, setError = 0;
    };
    // Recorded: each buffer after the time between its timestamp and the one before; a timestamp
    // that does not move on counts as one time per frame of the stream.
    enum class Pace { Fast, Interval, Gated, Recorded };
    enum class Unplugged { No, Silent, Gone };  // Silent: polls time out; Gone: ENODEV

    // One webcam, /dev/video0, offering one format at one size and serving these frames one by one
    // as they are released (Pace::Gated).
    static std::unique_ptr<ReplayV4l2> Webcam(__u32 fourcc, Size size, std::vector<std::vector<std::uint8_t>> frames);

    // A format's row length and frame length as a driver gives them, rows packed.
    static std::pair<__u32, __u32> Lengths(__u32 fourcc, __u32 width, __u32 height);

    std::vector<std::string> VideoNodes() override;
    int Open(const std::string& path) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Map(int fd, std::size_t length, std::uint32_t offset) override;
    void Unmap(void* address, std::size_t length) override;
    int Poll(int fd, int timeoutMs) override;
    void Close(int fd) override;

    // The buffers to stream from now on, from the first, each as long as its bytes; after the last,
    // again from the first when looping, else none. Interval serves one per interval, Gated one
    // per Release. Plain frames get timestamps one interval apart and no flags.
    void Serve(std::vector<RecordedBuffer> buffers, Pace pace,
               std::chrono::microseconds interval = std::chrono::microseconds(0), bool loop = true);
    void Serve(std::vector<std::vector<std::uint8_t>> frames, Pace pace,
               std::chrono::microseconds interval = std::chrono::microseconds(0));
    // Lets count more frames be dequeued (Pace::Gated).
    void Release(int count);
    void Unplug(Unplugged how);
    // Whether any buffer is still requested, mapped or streaming.
    bool HoldsBuffers() const;
    // Waits until every buffer of a recording that does not loop was dequeued and handed back
    // (true), or delivery ended before (false: the buffers were released while some were left).
    bool WaitUntilPlayed();

    std::vector<Node> nodes;
    std::vector<Format> formats{{V4L2_PIX_FMT_BGR24, {}}};  // offered by every node
    std::map<Size, Size> adjust;                            // VIDIOC_S_FMT gives another size
    // A recording's one stream: VIDIOC_S_FMT gives it whatever was asked, as a driver that can
    // deliver nothing else.
    std::optional<v4l2_pix_format> stream;
    __u32 rateCapability = V4L2_CAP_TIMEPERFRAME;
    int setRateError = 0;
    v4l2_fract rateGiven{};  // what VIDIOC_S_PARM settles on; none: the rate asked
    std::vector<Control> controls;
    int openDescriptors = 0;

private:
    using Clock = std::chrono::steady_clock;
    int Describe(const Node& node, v4l2_capability& capability) const;
    int EnumerateFormats(unsigned long request, void* arg) const;
    int SetFormat(v4l2_format& format);
    int Rate(unsigned long request, v4l2_streamparm& parameters);
    int QueryControl(unsigned long request, void* arg);
    int ReadOrSetControl(unsigned long request, v4l2_control& value);
    Control* Find(std::uint32_t id, bool next);
    int Stream(unsigned long request, void* arg);
    bool Ready() const;  // with m_mutex held
    bool PlayedAll() const { return !m_loop && m_served >= m_frames.size(); }
    std::chrono::microseconds GapAfter(std::size_t position) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    v4l2_pix_format m_format{};
    v4l2_fract m_timePerFrame{};
    std::vector<std::vector<std::uint8_t>> m_buffers;
    std::vector<__u32> m_queued;  // in queueing order; a vector keeps its room, so streaming allocates nothing
    int m_mapped = 0;
    bool m_streaming = false;
    std::vector<RecordedBuffer> m_frames;
    bool m_loop = true;
    bool m_delivered = false;  // buffers were streamed since Serve
    Pace m_pace = Pace::Fast;
    std::chrono::microseconds m_interval{0};
    Clock::time_point m_due;
    int m_released = 0;
    std::size_t m_served = 0;  // since Serve
    Unplugged m_unplugged = Unplugged::No;
};
