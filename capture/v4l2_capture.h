// The capture layer on V4L2 webcams. The device is described, listed and controlled through
// ioctls of our own; frames stream through memory-mapped buffers on a thread of the layer and are
// handed over undecoded, each use decoding what it reads (frame_decoder.h).
//
//   CV4l2Capture layer;                                  // the real /dev
//   auto devices = layer.EnumerateDevices();             // capturing /dev/videoN, N ascending
//
// Every open, ioctl, mapping, poll and close goes through IV4l2Device, so that a replayed device
// can stand in for hardware in tests and benchmarks.
#pragma once

#include <linux/videodev2.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_layer.h"

class FrameDecoder;

// The kernel side of V4L2, narrowed to what the layer calls.
class IV4l2Device {
public:
    virtual ~IV4l2Device() = default;
    // The /dev/videoN nodes that exist, in ascending N.
    virtual std::vector<std::string> VideoNodes() = 0;
    // A descriptor, or -1.
    virtual int Open(const std::string& path) = 0;
    // 0 on success, else the errno value (EINVAL ends an enumeration).
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // A driver's buffer (the length and offset VIDIOC_QUERYBUF gave) in our memory, or null.
    virtual void* Map(int fd, std::size_t length, std::uint32_t offset) = 0;
    virtual void Unmap(void* address, std::size_t length) = 0;
    // Waits up to timeoutMs for a filled buffer: 0 when one is ready or the driver has an error to
    // tell (VIDIOC_DQBUF says which), ETIMEDOUT when none came, else the errno value.
    virtual int Poll(int fd, int timeoutMs) = 0;
    virtual void Close(int fd) = 0;
};

// The system's V4L2: nodes from devDirectory, ioctls and polls on real descriptors (retried on
// EINTR).
std::unique_ptr<IV4l2Device> MakeSystemV4l2Device(std::string devDirectory = "/dev");

// Bits per pixel the layer reports for a V4L2 pixel format; none for a format it does not offer.
std::optional<std::uint16_t> V4l2BitsPerPixel(std::uint32_t fourcc);

// Menus listing more indices than this are a driver's mistake, not a list to keep.
inline constexpr std::int32_t kV4l2MenuLimit = 1024;
// The entries of a menu control (V4L2_CTRL_TYPE_MENU or INTEGER_MENU) at indices from 0 below
// kV4l2MenuLimit; drivers may leave gaps in the index range, which are skipped.
std::vector<CaptureControl::MenuEntry> V4l2MenuEntries(IV4l2Device& device, int fd, const v4l2_queryctrl& control);

// One offered mode: a pixel format at one frame size.
struct V4l2Mode {
    std::uint32_t fourcc = 0;
    std::uint16_t bits = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class CV4l2Capture final : public ICaptureLayer {
public:
    // How long the streaming thread waits for a frame before it looks for a stop or a rate change.
    static constexpr int kPollMs = 150;
    // A camera silent this long has stopped answering.
    static constexpr int kSilenceLimitMs = 5000;
    // Frames in a row that could not be decoded (or that their driver marked as damaged) before
    // delivery ends.
    static constexpr int kBadFramesLimit = 30;
    // The largest frame side the layer takes from a driver; larger formats are not offered and a
    // driver that delivers one is refused, so no frame length can overflow.
    static constexpr std::uint32_t kMaxFrameSide = 16384;

    CV4l2Capture();  // the system's devices
    explicit CV4l2Capture(std::unique_ptr<IV4l2Device> device);
    ~CV4l2Capture() override;
    CV4l2Capture(const CV4l2Capture&) = delete;
    CV4l2Capture& operator=(const CV4l2Capture&) = delete;

    std::vector<CaptureDeviceInfo> EnumerateDevices() override;
    bool Open(int deviceIndex) override;
    int CapabilityCount() override;
    bool GetCapability(int index, CaptureCapability& capability) override;
    // Sets the pixel format and size (VIDIOC_S_FMT; the driver must take them unchanged, else the
    // format is refused and the log says what the driver offered) and the time per frame
    // (VIDIOC_S_PARM, where the driver supports it; a rate it refuses is logged and leaves the
    // format in use). While running, delivery is stopped, the format applied and delivery started
    // again, in the format in use when the new one is refused.
    bool SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) override;
    bool SetFrameInterval(std::int64_t frameInterval100ns) override;
    // Taken by Run; a change while running applies from the next Run.
    void SetFrameCallback(CaptureFrameCallback callback) override;
    // Streams in the format the driver really has (VIDIOC_G_FMT), refused above kMaxFrameSide.
    // Frames the driver marks as damaged count as frames that cannot be decoded and are not handed
    // over; frames that decoded whole despite a flaw are, and their flaw is logged like the bad
    // frames, at a limited rate. Delivery ends by itself, with a log line, when the camera reports
    // an error (unplugged), sends no frame for kSilenceLimitMs, sends only frames that cannot be
    // decoded, or the frame callback throws; Run then starts afresh.
    bool Run() override;
    // Called from inside the frame callback it only asks delivery to end and returns false, as
    // the thread cannot wait for itself.
    bool Stop() override;
    // Integer, boolean, menu and button controls that the driver does not mark disabled or
    // write-only (VIDIOC_QUERYCTRL, VIDIOC_QUERYMENU, VIDIOC_G_CTRL). A value that cannot be read
    // leaves the control listed, with the reason.
    std::vector<CaptureControl> Controls() override;
    // Fails for an unknown, read-only, inactive or disabled control, for a value outside its
    // range, and when the driver refuses (its errno text).
    bool SetControl(std::uint32_t id, std::int32_t value, std::string& error) override;
    void Close() override;
    // Set before Open: the streaming thread reads it.
    void SetLog(CaptureLog log) override { m_log = std::move(log); }
    // Set before Open: offers only the sizes of this pixel format (0: of every format), for a tool
    // that studies one of a camera's formats.
    void OfferOnly(std::uint32_t fourcc) { m_onlyFourcc = fourcc; }

private:
    struct Node {
        std::string path;
        CaptureDeviceInfo info;
    };
    std::vector<Node> CapturingNodes();
    std::vector<V4l2Mode> ListModes(int fd);
    bool ApplyInterval(std::int64_t frameInterval100ns) const;
    bool ApplyMode(const V4l2Mode& mode);  // VIDIOC_S_FMT taken unchanged; logs a refusal
    struct Buffer {
        void* address = nullptr;
        std::size_t length = 0;
    };
    bool StartStream();
    int QueueAndStream();  // errno, 0 when streaming
    void EndStream();
    void Stream(CaptureFrameCallback callback);
    void JoinStream();
    int ChangeRate(std::int64_t frameInterval100ns);
    void Log(const std::string& line) const;

    std::unique_ptr<IV4l2Device> m_device;
    int m_fd = -1;
    std::vector<V4l2Mode> m_modes;
    std::uint32_t m_onlyFourcc = 0;
    std::optional<V4l2Mode> m_mode;  // applied by SetFormat
    CaptureFrameCallback m_callback;
    CaptureLog m_log;

    // Owned by the streaming thread while it runs.
    std::vector<Buffer> m_buffers;
    std::unique_ptr<FrameDecoder> m_decoder;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_streaming{false};            // false once the streaming thread has left its loop
    std::atomic<std::int64_t> m_pendingInterval{0};  // for the streaming thread to apply; 0 = none
};
