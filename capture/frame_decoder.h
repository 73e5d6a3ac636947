// The frames of one camera format, decoded no further than each use asks: MJPEG through
// libjpeg-turbo (grey: the luminance plane alone), the YUV formats by their Y samples, the RGB
// formats by conversion to the colour layout. Colour is made as OpenCV makes it from the same
// data (imdecode, cvtColor), into a buffer of the decoder: no frame allocates in our code.
//
//   auto decoder = FrameDecoder::For(V4L2_PIX_FMT_MJPEG, 640, 480, bytesPerLine);
//   CameraFrame& frame = decoder->Frame(buffer, bytesUsed);   // nothing decoded yet
//   callback(frame);                                          // decodes what it asks for
//   if (!frame.Failure().empty()) ...                         // a bad frame: drop and count it
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/camera_frame.h"

class FrameDecoder {
public:
    virtual ~FrameDecoder() = default;
    // Null for a pixel format it cannot decode, or a size the format cannot have (YUV of odd
    // width; 4:2:0 of odd height). bytesPerLine is the driver's row length for the uncompressed
    // formats, of the Y plane for the planar ones (0: none given, rows are packed).
    static std::unique_ptr<FrameDecoder> For(std::uint32_t fourcc, int width, int height, std::uint32_t bytesPerLine);
    // The frame over one buffer of the device, valid until the next call; the buffer must stay
    // as it is while the frame is used.
    virtual CameraFrame& Frame(const std::uint8_t* data, std::size_t bytesUsed) = 0;
};
