#include "capture/frame_decoder.h"

#include <linux/videodev2.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// After <cstdio>: the library's header needs FILE.
#include <jerror.h>
#include <jpeglib.h>

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

// MJPEG through libjpeg, fed from the buffer by a source of our own: the grey image is the
// luminance plane alone, decoded without any colour work; the colour image is decoded as OpenCV's
// imdecode decodes it (same library, accurate integer transform, smooth chroma upsampling).
//
// A frame is good when every row of it came from its data. Webcams often send frames without the
// end marker, with padding before or after it, or without Huffman tables; the library warns of
// the first two but writes exactly the image of the intact frame, so such frames are used and
// their warning kept. A frame whose data ends before its last row is bad: the library would make
// up the missing rows (grey), which tracking would take for motion. What tells them apart is where
// the data ran out: the library reports a shortage only where it needed bits that were not there.
class JpegFrame final : public BufferFrame {
public:
    JpegFrame(int width, int height) : BufferFrame(width, height), m_rows(static_cast<std::size_t>(height)) {
        m_decompress.err = jpeg_std_error(&m_errors);
        m_errors.error_exit = &JpegFrame::OnError;
        m_errors.emit_message = &JpegFrame::OnMessage;
        m_decompress.client_data = this;
        m_created = Create();
        m_source.init_source = [](j_decompress_ptr) {};
        m_source.fill_input_buffer = &JpegFrame::OnDataEnd;
        m_source.skip_input_data = &JpegFrame::Skip;
        m_source.resync_to_restart = jpeg_resync_to_restart;
        m_source.term_source = [](j_decompress_ptr) {};
        if (m_created) m_decompress.src = &m_source;
    }
    ~JpegFrame() override {
        if (m_created) jpeg_destroy_decompress(&m_decompress);
    }
    bool Grey(cv::Mat& grey) override { return GreyFits(grey) && Decode(grey.data, grey.step[0], JCS_GRAYSCALE); }

private:
    static constexpr const char* kEndsEarly = "its data ends before its last row";
    // How far one decoding got: what the library says means something else in each.
    enum class Stage { Header, Rows, AfterRows };

    void Restart() override { m_bad = false; }
    bool MakeColour(cv::Mat& colour) override { return Decode(colour.data, colour.step[0], JCS_EXT_BGR); }

    bool Decode(std::uint8_t* out, std::size_t pitch, J_COLOR_SPACE space) {
        if (m_bad) return false;
        if (!m_created) return Reject("no JPEG decompressor: out of memory");
        if (m_bytesUsed == 0) return Reject("an empty frame");
        for (std::size_t row = 0; row < m_rows.size(); ++row) m_rows[row] = out + row * pitch;
        const bool decoded = Run(space);
        if (m_otherSize)
            return Reject("a JPEG frame of " + std::to_string(m_decompress.image_width) + "x" +
                          std::to_string(m_decompress.image_height) + " in a " + std::to_string(Width()) + "x" +
                          std::to_string(Height()) + " format");
        if (!decoded && m_stage == Stage::Header) return Reject(std::string("not a JPEG frame: ") + m_damage);
        if (!decoded || m_damage[0] != '\0') return Reject(std::string("a bad JPEG frame: ") + m_damage);
        if (m_warning[0] != '\0') Warn(m_warning);
        return Succeed();
    }

    // One decoding of the whole buffer into m_rows; false when the library gave up. Holds nothing
    // that needs destroying, as a library error jumps back into it.
    bool Run(J_COLOR_SPACE space) {
        m_source.next_input_byte = m_data;
        m_source.bytes_in_buffer = m_bytesUsed;
        m_damage[0] = m_warning[0] = '\0';
        m_ranOut = m_otherSize = false;
        m_stage = Stage::Header;
        if (setjmp(m_jump) != 0) {
            // Leaves the decompressor ready for the next frame whatever state the error left.
            jpeg_abort_decompress(&m_decompress);
            return m_stage == Stage::AfterRows;
        }
        jpeg_read_header(&m_decompress, TRUE);
        // A larger image would not fit the frame.
        if (m_decompress.image_width != static_cast<JDIMENSION>(Width()) ||
            m_decompress.image_height != static_cast<JDIMENSION>(Height())) {
            m_otherSize = true;
            jpeg_abort_decompress(&m_decompress);
            return false;
        }
        m_decompress.out_color_space = space;
        jpeg_start_decompress(&m_decompress);
        // A progressive frame is read whole before its first row: it is whole when every
        // coefficient reached full precision. Sequential frames show a shortage as they decode.
        if (m_ranOut && (m_decompress.arith_code || (m_decompress.progressive_mode && !EveryCoefficientComplete())))
            Damage(kEndsEarly);
        m_stage = Stage::Rows;
        while (m_decompress.output_scanline < m_decompress.output_height)
            jpeg_read_scanlines(&m_decompress, m_rows.data() + m_decompress.output_scanline,
                                m_decompress.output_height - m_decompress.output_scanline);
        m_stage = Stage::AfterRows;
        jpeg_finish_decompress(&m_decompress);
        return true;
    }
    bool EveryCoefficientComplete() const {
        for (int component = 0; component < m_decompress.num_components; ++component)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (m_decompress.coef_bits[component][k] != 0) return false;
        return true;
    }
    // Whether the library's error or warning means rows that did not come from the data.
    void Judge(j_common_ptr library, bool fatal) {
        char text[JMSG_LENGTH_MAX];
        library->err->format_message(library, text);
        const int code = library->err->msg_code;
        // Once every row is written nothing can change them; before, only a missing end marker
        // (which shows as a shortage where it matters) and padding before it leave them whole.
        const bool benign = m_stage == Stage::AfterRows ||
                            (!fatal && (code == JWRN_JPEG_EOF ||
                                        (code == JWRN_EXTRANEOUS_DATA && library->err->msg_parm.i[1] == JPEG_EOI)));
        if (benign)
            Keep(m_warning, text);
        else
            Damage(code == JWRN_HIT_MARKER && m_ranOut ? kEndsEarly : text);
    }
    void Damage(const char* text) { Keep(m_damage, text); }
    static void Keep(char (&slot)[JMSG_LENGTH_MAX], const char* text) {
        if (slot[0] == '\0') std::snprintf(slot, sizeof slot, "%s", text);
    }
    static JpegFrame& Of(j_common_ptr library) { return *static_cast<JpegFrame*>(library->client_data); }
    static JpegFrame& Of(j_decompress_ptr library) { return *static_cast<JpegFrame*>(library->client_data); }
    static void OnError(j_common_ptr library) {
        Of(library).Judge(library, true);
        std::longjmp(Of(library).m_jump, 1);
    }
    static void OnMessage(j_common_ptr library, int level) {
        if (level < 0) Of(library).Judge(library, false);  // warnings; the rest is tracing
    }
    // The data is used up: an end marker stands in for the rest, as in the library's own sources.
    static boolean OnDataEnd(j_decompress_ptr library) {
        static const JOCTET kEnd[] = {0xFF, JPEG_EOI};
        JpegFrame& frame = Of(library);
        if (frame.m_stage != Stage::AfterRows) frame.m_ranOut = true;
        WARNMS(library, JWRN_JPEG_EOF);
        library->src->next_input_byte = kEnd;
        library->src->bytes_in_buffer = sizeof kEnd;
        return TRUE;
    }
    static void Skip(j_decompress_ptr library, long count) {
        if (count <= 0) return;
        jpeg_source_mgr& source = *library->src;
        while (static_cast<std::size_t>(count) > source.bytes_in_buffer) {
            count -= static_cast<long>(source.bytes_in_buffer);
            OnDataEnd(library);
        }
        source.next_input_byte += count;
        source.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
    bool Create() {
        if (setjmp(m_jump) != 0) return false;  // out of memory
        jpeg_create_decompress(&m_decompress);
        return true;
    }
    // Records why the frame's data cannot be decoded, so that no later call tries again.
    bool Reject(std::string why) {
        m_bad = true;
        return Fail(std::move(why));
    }

    jpeg_decompress_struct m_decompress{};
    jpeg_error_mgr m_errors{};
    jpeg_source_mgr m_source{};
    std::jmp_buf m_jump{};
    bool m_created = false;
    std::vector<JSAMPROW> m_rows;
    // Of the decoding under way.
    Stage m_stage = Stage::Header;
    bool m_ranOut = false, m_otherSize = false;
    char m_damage[JMSG_LENGTH_MAX]{};   // the first sign of rows not from the data
    char m_warning[JMSG_LENGTH_MAX]{};  // the first flaw that left every row whole
    bool m_bad = false;                 // of this frame
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

// A frame whose first plane is the grey image as it is (planar YUV's Y plane, GREY).
class LumaFirstFrame : public RawFrame {
public:
    using RawFrame::RawFrame;
    bool Grey(cv::Mat& grey) override {
        if (!GreyFits(grey) || !Whole()) return false;
        Luma().copyTo(grey);
        return Succeed();
    }

protected:
    cv::Mat Luma() const { return Rows(Height(), Width(), CV_8UC1, 0, m_bytesPerLine); }
};

// Planar 4:2:0 YUV: the Y plane (the grey image), then either two chroma planes of half its row
// length (I420, YV12) or one plane of interleaved chroma of its row length (NV12).
class PlanarYuvFrame final : public LumaFirstFrame {
public:
    PlanarYuvFrame(int width, int height, std::size_t bytesPerLine, int conversion)
        : LumaFirstFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height) * 3 / 2),
          m_conversion(conversion) {
        // OpenCV reads the planes only packed; rows padded by the driver are packed first.
        if (bytesPerLine != static_cast<std::size_t>(width) && conversion != cv::COLOR_YUV2BGR_NV12)
            m_packed.create(height * 3 / 2, width, CV_8UC1);
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

// 8-bit luminance (infrared face cameras): the grey image as it is, colour by replication.
class GreyFrame final : public LumaFirstFrame {
public:
    GreyFrame(int width, int height, std::size_t bytesPerLine)
        : LumaFirstFrame(width, height, bytesPerLine, bytesPerLine * static_cast<std::size_t>(height)) {}

private:
    bool MakeColour(cv::Mat& colour) override {
        if (!Whole()) return false;
        cv::cvtColor(Luma(), colour, cv::COLOR_GRAY2BGR);
        return true;
    }
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
        case V4L2_PIX_FMT_GREY:
            return std::make_unique<Decoder<GreyFrame>>(width, height, line(1));
        default:
            return nullptr;
    }
}
