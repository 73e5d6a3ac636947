#include "frame_decoder.h"

#include <linux/videodev2.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace {

// Frames of a raw format: the whole image in one buffer of at least rows x bytesPerLine bytes.
class RawFrame : public CameraFrame {
public:
    RawFrame(int width, int height, std::size_t bytesPerLine, std::size_t bytesNeeded)
        : CameraFrame(width, height), m_bytesPerLine(bytesPerLine), m_bytesNeeded(bytesNeeded) {
        m_colour.resize(CaptureFrameLength(width, height));
    }
    void Use(const std::uint8_t* data, std::size_t bytesUsed) {
        Renew();
        m_data = data;
        m_bytesUsed = bytesUsed;
        m_colourMade = false;
    }
    const std::uint8_t* Colour() override {
        if (m_colourMade) return m_colour.data();
        if (!Whole()) return nullptr;
        cv::Mat colour = CaptureImage(m_colour.data(), Width(), Height());
        ToColour(colour);
        m_colourMade = true;
        Succeed();
        return m_colour.data();
    }

protected:
    bool Whole() {
        if (m_bytesUsed >= m_bytesNeeded) return true;
        return Fail("a short frame: " + std::to_string(m_bytesUsed) + " of " + std::to_string(m_bytesNeeded) +
                    " bytes");
    }
    virtual void ToColour(cv::Mat& colour) = 0;

    const std::uint8_t* m_data = nullptr;
    const std::size_t m_bytesPerLine;

private:
    const std::size_t m_bytesNeeded;
    std::size_t m_bytesUsed = 0;
    std::vector<std::uint8_t> m_colour;
    bool m_colourMade = false;
};

// Packed 4:2:2 YUV: the grey image is every other byte, starting at lumaOffset.
class PackedYuvFrame final : public RawFrame {
public:
    PackedYuvFrame(int width, int height, std::size_t bytesPerLine, int lumaOffset, int conversion)
        : RawFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height)),
          m_lumaOffset(lumaOffset),
          m_conversion(conversion) {}
    bool Grey(cv::Mat& grey) override {
        if (!Whole()) return false;
        for (int y = 0; y < Height(); ++y) {
            const std::uint8_t* in = m_data + static_cast<std::size_t>(y) * m_bytesPerLine + m_lumaOffset;
            std::uint8_t* out = grey.ptr(y);
            for (int x = 0; x < Width(); ++x) out[x] = in[2 * x];
        }
        return Succeed();
    }

private:
    void ToColour(cv::Mat& colour) override {
        cv::cvtColor(cv::Mat(Height(), Width(), CV_8UC2, const_cast<std::uint8_t*>(m_data), m_bytesPerLine), colour,
                     m_conversion);
    }
    const int m_lumaOffset;
    const int m_conversion;
};

// Packed RGB of 3 or 2 bytes a pixel: grey from the colour image, as for any colour frame.
class RgbFrame final : public RawFrame {
public:
    RgbFrame(int width, int height, std::size_t bytesPerLine, int type, int conversion)
        : RawFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height)),
          m_type(type),
          m_conversion(conversion) {}
    bool Grey(cv::Mat& grey) override {
        const std::uint8_t* colour = Colour();
        return colour && ColourFrame(colour, Width(), Height()).Grey(grey);
    }

private:
    void ToColour(cv::Mat& colour) override {
        const cv::Mat source(Height(), Width(), m_type, const_cast<std::uint8_t*>(m_data), m_bytesPerLine);
        if (m_conversion < 0)
            source.copyTo(colour);
        else
            cv::cvtColor(source, colour, m_conversion);
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
    auto line = [&](int bytesPerPixel) {
        const std::size_t packed = static_cast<std::size_t>(width) * bytesPerPixel;
        return bytesPerLine >= packed ? std::size_t{bytesPerLine} : packed;
    };
    switch (fourcc) {
        case V4L2_PIX_FMT_YUYV:
            return std::make_unique<Decoder<PackedYuvFrame>>(width, height, line(2), 0, cv::COLOR_YUV2BGR_YUYV);
        case V4L2_PIX_FMT_UYVY:
            return std::make_unique<Decoder<PackedYuvFrame>>(width, height, line(2), 1, cv::COLOR_YUV2BGR_UYVY);
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
