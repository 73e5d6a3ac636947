// A camera's stream kept in a file that common tools open: Matroska, written and read through
// libavformat, one video track whose packets are the driver's buffers untouched (MJPEG frames as
// MJPEG, raw formats as rawvideo). What the container has no field for travels beside them:
//
//   - tags of the file: MIVEX_RECORDING (the layout, "1"), MIVEX_CAMERA, MIVEX_DRIVER, MIVEX_BUS
//     (VIDIOC_QUERYCAP's card, driver and bus), MIVEX_STREAM (the stream's VIDIOC_G_FMT and the
//     time per frame in use), MIVEX_FORMATS (one line per offered format with its sizes) and
//     MIVEX_CONTROLS (one line per setting, as VIDIOC_QUERYCTRL describes it, with its value);
//   - on each packet a Matroska BlockAdditional of id 1: the driver's timestamp in microseconds,
//     its flags and sequence number, the buffer's place in the recording and whether it is the
//     last, which tell a finished, whole recording from one cut short or damaged. Packet times are
//     the same timestamps to the millisecond, the container's precision.
//
// A file of MJPEG or raw video that another program copied from a webcam reads too, as a camera
// that offers that one format at its size and rate.
//
//   CameraRecordingWriter writer;
//   writer.Open("face.mkv", DescribeCamera(device, fd), error);
//   writer.Write(bytes, timestampUs, flags, sequence, error);   // per dequeued buffer
//   writer.Finish(error);
//   std::optional<CameraRecording> recording = ReadCameraRecording("face.mkv", error);
//
// Errors are results: false or nothing, with a reason that names no file.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capture/replay_v4l2.h"

// What a recording keeps of the camera besides its buffers.
struct RecordedCamera {
    std::string card, driver, bus;
    v4l2_pix_format format{};                   // the stream's, as VIDIOC_G_FMT gave it
    v4l2_fract timePerFrame{};                  // in use, as VIDIOC_G_PARM gave it; 0/0: not known
    std::vector<ReplayV4l2::Format> formats;    // every format offered, with its sizes
    std::vector<ReplayV4l2::Control> controls;  // its settings, valued as at the first buffer
};

struct CameraRecording {
    RecordedCamera camera;
    std::vector<RecordedBuffer> buffers;
    // False for a file another program made: it holds no camera description beyond the stream's
    // format and rate, no flags, and its timestamps to the container's precision.
    bool described = true;
};

// The camera that is streaming on fd, as its driver describes it.
RecordedCamera DescribeCamera(IV4l2Device& device, int fd);

// "YUYV", or "0x…" for a code with other than letters and digits.
std::string FourccText(std::uint32_t fourcc);

class CameraRecordingWriter {
public:
    CameraRecordingWriter();
    // A recording not finished is removed.
    ~CameraRecordingWriter();
    CameraRecordingWriter(const CameraRecordingWriter&) = delete;
    CameraRecordingWriter& operator=(const CameraRecordingWriter&) = delete;

    // Starts a recording of the camera's stream, readable by the user alone; it takes the name
    // path only once finished, replacing what was there.
    bool Open(const std::filesystem::path& path, const RecordedCamera& camera, std::string& error);
    // Adds a buffer: the bytes the driver used, its timestamp, flags and sequence number.
    bool Write(std::span<const std::uint8_t> bytes, std::int64_t timestampUs, std::uint32_t flags,
               std::uint32_t sequence, std::string& error);
    // Writes the end of the file and puts it in place.
    bool Finish(std::string& error);

    bool IsOpen() const;
    int Buffers() const;
    // The file's length once finished, near enough from above: the header, the buffers so far
    // (the one that waits for the next too) with their blocks' headers, without the index at the end.
    std::uint64_t Bytes() const;

private:
    struct File;
    bool WritePending(bool last, std::string& error);
    std::unique_ptr<File> m_file;
};

// The recording in path, read whole; nothing, with the reason, for a file that cannot be one:
// missing, empty, no video, video that no webcam sends through V4L2, raw frames of a layout the
// frame decoder does not know, damaged, or cut short.
std::optional<CameraRecording> ReadCameraRecording(const std::filesystem::path& path, std::string& error);
