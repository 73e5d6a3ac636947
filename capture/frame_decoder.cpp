#include "capture/frame_decoder.h"

#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <cstring>
#include <opencv2/imgproc.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// A frame over one buffer of the device; its colour image is made into a buffer of the decoder
// at most once a frame.
class BufferFrame : public CameraFrame {
public:
    BufferFrame(int width, int height) : CameraFrame(width, height), m_colour(CaptureFrameLength(width, height)) {}
    void Use(const std::uint8_t* data, std::size_t bytesUsed) {
        Renew();
        m_data = data;
        m_bytesUsed = bytesUsed;
        m_colourMade = false;
        Restart();
    }
    const std::uint8_t* Colour() final {
        if (!m_colourMade) {
            cv::Mat colour = CaptureImage(m_colour.data(), Width(), Height());
            if (!MakeColour(colour)) return nullptr;
            m_colourMade = Succeed();
        }
        return m_colour.data();
    }

protected:
    // Writes the colour image into colour (the decoder's buffer, never reallocated); false after
    // recording why it cannot.
    virtual bool MakeColour(cv::Mat& colour) = 0;
    // Forgets what was learnt about the previous buffer.
    virtual void Restart() {}

    const std::uint8_t* m_data = nullptr;
    std::size_t m_bytesUsed = 0;

private:
    std::vector<std::uint8_t> m_colour;
    bool m_colourMade = false;
};

struct DecompressorDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// MJPEG: the grey image is the luminance plane alone, decoded without any colour work; the colour
// image is decoded as OpenCV's imdecode decodes it (same library, accurate integer transform,
// smooth chroma upsampling). A warning of the library (a truncated or corrupt frame) fails it,
// but for padding before the end marker.
class JpegFrame final : public BufferFrame {
public:
    JpegFrame(int width, int height) : BufferFrame(width, height), m_decompressor(tjInitDecompress()) {}
    bool Grey(cv::Mat& grey) override { return GreyFits(grey) && Decode(grey.data, grey.step[0], TJPF_GRAY); }

private:
    enum class Header { Unread, Good, Bad };

    void Restart() override { m_header = Header::Unread; }
    bool MakeColour(cv::Mat& colour) override { return Decode(colour.data, colour.step[0], TJPF_BGR); }

    bool Decode(std::uint8_t* out, std::size_t pitch, int pixelFormat) {
        if (!Readable()) return false;
        if (tjDecompress2(m_decompressor.get(), m_data, m_bytesUsed, out, Width(), static_cast<int>(pitch), Height(),
                          pixelFormat, TJFLAG_STOPONWARNING) == 0 ||
            PaddedBeforeEnd())
            return Succeed();
        return Reject(std::string("a bad JPEG frame: ") + tjGetErrorStr2(m_decompressor.get()));
    }
    // Some webcams put bytes between the image data and the end marker of every frame. The library
    // warns of them only after the last row, so the image is whole, as OpenCV decodes it too.
    bool PaddedBeforeEnd() {
        constexpr std::string_view kPadding = " extraneous bytes before marker 0xd9";
        return tjGetErrorCode(m_decompressor.get()) == TJERR_WARNING &&
               std::string_view(tjGetErrorStr2(m_decompressor.get())).ends_with(kPadding);
    }
    // Whether the buffer holds a JPEG of the format's size, read once a frame. A larger one would
    // otherwise be scaled down to fit.
    bool Readable() {
        if (m_header != Header::Unread) return m_header == Header::Good;
        if (!m_decompressor) return Reject(std::string("no JPEG decompressor: ") + tjGetErrorStr2(nullptr));
        if (m_bytesUsed == 0) return Reject("an empty frame");
        int width = 0, height = 0, subsampling = 0, colourSpace = 0;
        if (tjDecompressHeader3(m_decompressor.get(), m_data, m_bytesUsed, &width, &height, &subsampling,
                                &colourSpace) != 0)
            return Reject(std::string("not a JPEG frame: ") + tjGetErrorStr2(m_decompressor.get()));
        if (width != Width() || height != Height())
            return Reject("a JPEG frame of " + std::to_string(width) + "x" + std::to_string(height) + " in a " +
                          std::to_string(Width()) + "x" + std::to_string(Height()) + " format");
        m_header = Header::Good;
        return true;
    }
    // Records why the frame's data cannot be decoded, so that no later call tries again.
    bool Reject(std::string why) {
        m_header = Header::Bad;
        return Fail(std::move(why));
    }

    std::unique_ptr<void, DecompressorDeleter> m_decompressor;
    Header m_header = Header::Unread;
};

// Frames of a raw format: the whole image in one buffer of at least bytesNeeded bytes, rows of
// bytesPerLine bytes.
class RawFrame : public BufferFrame {
public:
    RawFrame(int width, int height, std::size_t bytesPerLine, std::size_t bytesNeeded)
        : BufferFrame(width, height), m_bytesPerLine(bytesPerLine), m_bytesNeeded(bytesNeeded) {}

protected:
    bool Whole() {
        if (m_bytesUsed >= m_bytesNeeded) return true;
        return Fail("a short frame: " + std::to_string(m_bytesUsed) + " of " + std::to_string(m_bytesNeeded) +
                    " bytes");
    }
    // The rows of the buffer, from byte offset on, as an image of the given type.
    cv::Mat Rows(int rows, int columns, int type, std::size_t offset, std::size_t step) const {
        // OpenCV's headers over foreign data are not const; nothing here writes through them.
        return cv::Mat(rows, columns, type, const_cast<std::uint8_t*>(m_data) + offset, step);
    }

    const std::size_t m_bytesPerLine;

private:
    const std::size_t m_bytesNeeded;
};

// Packed 4:2:2 YUV: the grey image is every other byte (channel lumaChannel of two).
class PackedYuvFrame final : public RawFrame {
public:
    PackedYuvFrame(int width, int height, std::size_t bytesPerLine, int lumaChannel, int conversion)
        : RawFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height)),
          m_lumaChannel(lumaChannel),
          m_conversion(conversion) {}
    bool Grey(cv::Mat& grey) override {
        if (!GreyFits(grey) || !Whole()) return false;
        cv::extractChannel(Pixels(), grey, m_lumaChannel);
        return Succeed();
    }

private:
    bool MakeColour(cv::Mat& colour) override {
        if (!Whole()) return false;
        cv::cvtColor(Pixels(), colour, m_conversion);
        return true;
    }
    cv::Mat Pixels() const { return Rows(Height(), Width(), CV_8UC2, 0, m_bytesPerLine); }

    const int m_lumaChannel;
    const int m_conversion;
};

// Planar 4:2:0 YUV: the Y plane (the grey image), then either two chroma planes of half its row
// length (I420, YV12) or one plane of interleaved chroma of its row length (NV12).
class PlanarYuvFrame final : public RawFrame {
public:
    PlanarYuvFrame(int width, int height, std::size_t bytesPerLine, int conversion)
        : RawFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height) * 3 / 2),
          m_conversion(conversion) {
        // OpenCV reads the planes only packed; rows padded by the driver are packed first.
        if (bytesPerLine != static_cast<std::size_t>(width) && conversion != cv::COLOR_YUV2BGR_NV12)
            m_packed.create(height * 3 / 2, width, CV_8UC1);
    }
    bool Grey(cv::Mat& grey) override {
        if (!GreyFits(grey) || !Whole()) return false;
        Luma().copyTo(grey);
        return Succeed();
    }

private:
    bool MakeColour(cv::Mat& colour) override {
        if (!Whole()) return false;
        const std::size_t lumaBytes = m_bytesPerLine * static_cast<std::size_t>(Height());
        if (m_bytesPerLine == static_cast<std::size_t>(Width())) {
            cv::cvtColor(Rows(Height() * 3 / 2, Width(), CV_8UC1, 0, m_bytesPerLine), colour, m_conversion);
        } else if (m_packed.empty()) {
            cv::cvtColorTwoPlane(Luma(), Rows(Height() / 2, Width() / 2, CV_8UC2, lumaBytes, m_bytesPerLine), colour,
                                 m_conversion);
        } else {
            Luma().copyTo(m_packed.rowRange(0, Height()));
            // Chroma rows of half the length, both planes one after the other.
            const std::size_t chromaLine = m_bytesPerLine / 2, chromaWidth = static_cast<std::size_t>(Width()) / 2;
            std::uint8_t* out = m_packed.ptr(Height());
            for (int row = 0; row < Height(); ++row, out += chromaWidth)
                std::memcpy(out, m_data + lumaBytes + static_cast<std::size_t>(row) * chromaLine, chromaWidth);
            cv::cvtColor(m_packed, colour, m_conversion);
        }
        return true;
    }
    cv::Mat Luma() const { return Rows(Height(), Width(), CV_8UC1, 0, m_bytesPerLine); }

    const int m_conversion;
    cv::Mat m_packed;  // only for padded rows of I420 and YV12
};

// Packed RGB of 3 or 2 bytes a pixel: grey from the colour image, as for any colour frame.
class RgbFrame final : public RawFrame {
public:
    RgbFrame(int width, int height, std::size_t bytesPerLine, int type, int conversion)
        : RawFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height)),
          m_type(type),
          m_conversion(conversion) {}
    bool Grey(cv::Mat& grey) override {
        if (!GreyFits(grey)) return false;
        const std::uint8_t* colour = Colour();
        return colour && ColourFrame(colour, Width(), Height()).Grey(grey);
    }

private:
    bool MakeColour(cv::Mat& colour) override {
        if (!Whole()) return false;
        const cv::Mat source = Rows(Height(), Width(), m_type, 0, m_bytesPerLine);
        if (m_conversion < 0)
            source.copyTo(colour);
        else
            cv::cvtColor(source, colour, m_conversion);
        return true;
    }
    const int m_type;
    const int m_conversion;  // -1: already BGR
};

template <typename FrameType>
class Decoder final : public FrameDecoder {
public:
    template <typename... Args>
    explicit Decoder(Args&&... args) : m_frame(std::forward<Args>(args)...) {}
    CameraFrame& Frame(const std::uint8_t* data, std::size_t bytesUsed) override {
        m_frame.Use(data, bytesUsed);
        return m_frame;
    }

private:
    FrameType m_frame;
};

}  // namespace

std::unique_ptr<FrameDecoder> FrameDecoder::For(std::uint32_t fourcc, int width, int height,
                                                std::uint32_t bytesPerLine) {
    if (width <= 0 || height <= 0) return nullptr;
    // Chroma is shared by two columns in the YUV formats, and by two rows as well in 4:2:0.
    const bool evenWidth = width % 2 == 0, evenSize = evenWidth && height % 2 == 0;
    auto line = [&](int bytesPerPixel) {
        const std::size_t packed = static_cast<std::size_t>(width) * bytesPerPixel;
        return bytesPerLine >= packed ? std::size_t{bytesPerLine} : packed;
    };
    auto planar = [&](int conversion) -> std::unique_ptr<FrameDecoder> {
        // Chroma rows are half of an even row length.
        if (!evenSize || line(1) % 2 != 0) return nullptr;
        return std::make_unique<Decoder<PlanarYuvFrame>>(width, height, line(1), conversion);
    };
    auto packedYuv = [&](int lumaChannel, int conversion) -> std::unique_ptr<FrameDecoder> {
        if (!evenWidth) return nullptr;
        return std::make_unique<Decoder<PackedYuvFrame>>(width, height, line(2), lumaChannel, conversion);
    };
    switch (fourcc) {
        case V4L2_PIX_FMT_MJPEG:
            return std::make_unique<Decoder<JpegFrame>>(width, height);
        case V4L2_PIX_FMT_YUYV:
            return packedYuv(0, cv::COLOR_YUV2BGR_YUYV);
        case V4L2_PIX_FMT_UYVY:
            return packedYuv(1, cv::COLOR_YUV2BGR_UYVY);
        case V4L2_PIX_FMT_YUV420:
            return planar(cv::COLOR_YUV2BGR_I420);
        case V4L2_PIX_FMT_YVU420:
            return planar(cv::COLOR_YUV2BGR_YV12);
        case V4L2_PIX_FMT_NV12:
            return planar(cv::COLOR_YUV2BGR_NV12);
        case V4L2_PIX_FMT_BGR24:
            return std::make_unique<Decoder<RgbFrame>>(width, height, line(3), CV_8UC3, -1);
        case V4L2_PIX_FMT_RGB24:
            return std::make_unique<Decoder<RgbFrame>>(width, height, line(3), CV_8UC3, cv::COLOR_RGB2BGR);
        case V4L2_PIX_FMT_RGB565:
            return std::make_unique<Decoder<RgbFrame>>(width, height, line(2), CV_8UC2, cv::COLOR_BGR5652BGR);
        default:
            return nullptr;
    }
}
