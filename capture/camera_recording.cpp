#include "capture/camera_recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>
#include <utility>

#include "capture/driver_text.h"
#include "capture/frame_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr const char* kLayoutTag = "MIVEX_RECORDING";
constexpr const char* kLayout = "1";
constexpr const char* kCameraTag = "MIVEX_CAMERA";
constexpr const char* kDriverTag = "MIVEX_DRIVER";
constexpr const char* kBusTag = "MIVEX_BUS";
constexpr const char* kStreamTag = "MIVEX_STREAM";
constexpr const char* kFormatsTag = "MIVEX_FORMATS";
constexpr const char* kControlsTag = "MIVEX_CONTROLS";

// The BlockAdditional of each packet: its id (8 bytes, as libavformat hands it over), then the
// timestamp in microseconds (8), flags (4), sequence (4), the buffer's place in the recording (4,
// which shows a packet lost to damage) and the last-buffer mark (1), big-endian.
constexpr std::uint64_t kBufferRecordId = 1;
constexpr int kBufferRecordSize = 8 + 8 + 4 + 4 + 4 + 1;

constexpr AVRational kMicroseconds{1, 1'000'000};

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// libavformat's own lines would only repeat, less clearly, what the results say.
void QuietLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Tags hold lines of tab-separated fields: neither may appear inside a field.
std::string Field(std::string text) {
    std::ranges::replace_if(
        text, [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
    int base = 10;
    if (text.starts_with("0x")) text.remove_prefix(2), base = 16;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

bool ParseFourcc(std::string_view text, std::uint32_t& fourcc) {
    if (text.starts_with("0x")) return ParseNumber(text, fourcc);
    if (text.size() != 4) return false;
    fourcc = v4l2_fourcc(text[0], text[1], text[2], text[3]);
    return true;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// "640x480" (a size) or "16x16-1920x1080/8x8" (a range and its steps).
std::string SizeText(std::uint32_t width, std::uint32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}
bool ParseSize(std::string_view text, std::uint32_t& width, std::uint32_t& height) {
    const std::size_t x = text.find('x');
    return x != std::string_view::npos && ParseNumber(text.substr(0, x), width) &&
           ParseNumber(text.substr(x + 1), height);
}

// MIVEX_STREAM: key=value fields, the fourcc and size first.
std::string StreamText(const v4l2_pix_format& f, v4l2_fract timePerFrame) {
    return "fourcc=" + FourccText(f.pixelformat) + " width=" + std::to_string(f.width) +
           " height=" + std::to_string(f.height) + " bytesperline=" + std::to_string(f.bytesperline) +
           " sizeimage=" + std::to_string(f.sizeimage) + " field=" + std::to_string(f.field) +
           " colorspace=" + std::to_string(f.colorspace) + " timeperframe=" + std::to_string(timePerFrame.numerator) +
           "/" + std::to_string(timePerFrame.denominator);
}
bool ParseStream(const std::string& text, v4l2_pix_format& f, v4l2_fract& timePerFrame) {
    std::map<std::string, std::string, std::less<>> fields;
    for (const std::string& field : Split(text, ' ')) {
        const std::size_t equals = field.find('=');
        if (equals == std::string::npos) return false;
        fields[field.substr(0, equals)] = field.substr(equals + 1);
    }
    const std::vector<std::string> rate = Split(fields["timeperframe"], '/');
    return ParseFourcc(fields["fourcc"], f.pixelformat) && ParseNumber(fields["width"], f.width) &&
           ParseNumber(fields["height"], f.height) && ParseNumber(fields["bytesperline"], f.bytesperline) &&
           ParseNumber(fields["sizeimage"], f.sizeimage) && ParseNumber(fields["field"], f.field) &&
           ParseNumber(fields["colorspace"], f.colorspace) && rate.size() == 2 &&
           ParseNumber(rate[0], timePerFrame.numerator) && ParseNumber(rate[1], timePerFrame.denominator);
}

// MIVEX_FORMATS: one line per format, "YUYV 640x480 320x240" or "MJPG 16x16-1920x1080/8x8".
std::string FormatsText(const std::vector<ReplayV4l2::Format>& formats) {
    std::string text;
    for (const ReplayV4l2::Format& format : formats) {
        if (!text.empty()) text += '\n';
        text += FourccText(format.fourcc);
        for (const auto& [width, height] : format.sizes) text.append(" ").append(SizeText(width, height));
        if (const auto& r = format.range)
            text.append(" ")
                .append(SizeText(r->min_width, r->min_height))
                .append("-")
                .append(SizeText(r->max_width, r->max_height))
                .append("/")
                .append(SizeText(r->step_width, r->step_height));
    }
    return text;
}
bool ParseFormats(const std::string& text, std::vector<ReplayV4l2::Format>& formats) {
    if (text.empty()) return true;
    for (const std::string& line : Split(text, '\n')) {
        const std::vector<std::string> fields = Split(line, ' ');
        ReplayV4l2::Format format{};
        if (!ParseFourcc(fields[0], format.fourcc)) return false;
        for (std::size_t i = 1; i < fields.size(); ++i) {
            const std::size_t dash = fields[i].find('-'), slash = fields[i].find('/');
            if (dash == std::string::npos) {
                ReplayV4l2::Size size;
                if (!ParseSize(fields[i], size.first, size.second)) return false;
                format.sizes.push_back(size);
                continue;
            }
            v4l2_frmsize_stepwise range{};
            if (slash == std::string::npos || slash < dash ||
                !ParseSize(std::string_view(fields[i]).substr(0, dash), range.min_width, range.min_height) ||
                !ParseSize(std::string_view(fields[i]).substr(dash + 1, slash - dash - 1), range.max_width,
                           range.max_height) ||
                !ParseSize(std::string_view(fields[i]).substr(slash + 1), range.step_width, range.step_height))
                return false;
            format.range = range;
        }
        formats.push_back(std::move(format));
    }
    return true;
}

// MIVEX_CONTROLS: one line per setting, tab-separated: id, type, name, minimum, maximum, step,
// default, flags, then the value ("!" and the errno when reading it failed), then the menu's
// entries as "index=text".
std::string ControlsText(const std::vector<ReplayV4l2::Control>& controls) {
    std::string text;
    for (const ReplayV4l2::Control& control : controls) {
        const v4l2_queryctrl& q = control.query;
        if (!text.empty()) text += '\n';
        const std::string fields[] = {
            Hex(q.id),
            std::to_string(q.type),
            Field(FixedString(q.name)),
            std::to_string(q.minimum),
            std::to_string(q.maximum),
            std::to_string(q.step),
            std::to_string(q.default_value),
            Hex(q.flags),
            control.getError ? "!" + std::to_string(control.getError) : std::to_string(control.value)};
        for (const std::string& field : fields) text.append(field).append("\t");
        text.pop_back();
        for (std::size_t i = 0; i < control.menu.size(); ++i)
            if (!control.menu[i].empty())
                text.append("\t").append(std::to_string(i)).append("=").append(Field(control.menu[i]));
    }
    return text;
}
bool ParseControls(const std::string& text, std::vector<ReplayV4l2::Control>& controls) {
    if (text.empty()) return true;
    for (const std::string& line : Split(text, '\n')) {
        const std::vector<std::string> f = Split(line, '\t');
        if (f.size() < 9) return false;
        ReplayV4l2::Control control{};
        v4l2_queryctrl& q = control.query;
        if (!ParseNumber(f[0], q.id) || !ParseNumber(f[1], q.type) || !ParseNumber(f[3], q.minimum) ||
            !ParseNumber(f[4], q.maximum) || !ParseNumber(f[5], q.step) || !ParseNumber(f[6], q.default_value) ||
            !ParseNumber(f[7], q.flags))
            return false;
        std::memcpy(q.name, f[2].data(), std::min(f[2].size(), sizeof q.name));
        const bool failed = f[8].starts_with('!');
        if (!ParseNumber(std::string_view(f[8]).substr(failed ? 1 : 0), failed ? control.getError : control.value))
            return false;
        for (std::size_t i = 9; i < f.size(); ++i) {
            const std::size_t equals = f[i].find('=');
            std::size_t index = 0;
            if (equals == std::string::npos || !ParseNumber(std::string_view(f[i]).substr(0, equals), index) ||
                index >= static_cast<std::size_t>(kV4l2MenuLimit))
                return false;
            if (control.menu.size() <= index) control.menu.resize(index + 1);
            control.menu[index] = f[i].substr(equals + 1);
        }
        controls.push_back(std::move(control));
    }
    return true;
}

// The raw formats as a container names them: libavformat's pixel format and the codec tag that
// goes with it. Other formats are stored with their V4L2 code as the tag.
struct RawFormat {
    std::uint32_t fourcc;
    AVPixelFormat pixelFormat;
    std::uint32_t tag;  // 0: the one libavcodec gives the pixel format
    std::uint32_t alias = 0;
};
constexpr std::uint32_t Tag(char a, char b, char c, char d) { return v4l2_fourcc(a, b, c, d); }
const RawFormat kRawFormats[] = {
    {V4L2_PIX_FMT_YUYV, AV_PIX_FMT_YUYV422, 0, Tag('Y', 'U', 'Y', 'V')},
    {V4L2_PIX_FMT_UYVY, AV_PIX_FMT_UYVY422, 0},
    {V4L2_PIX_FMT_NV12, AV_PIX_FMT_NV12, 0},
    {V4L2_PIX_FMT_YUV420, AV_PIX_FMT_YUV420P, 0, Tag('I', 'Y', 'U', 'V')},
    {V4L2_PIX_FMT_YVU420, AV_PIX_FMT_YUV420P, Tag('Y', 'V', '1', '2')},
    {V4L2_PIX_FMT_GREY, AV_PIX_FMT_GRAY8, 0, Tag('G', 'R', 'E', 'Y')},
    {V4L2_PIX_FMT_BGR24, AV_PIX_FMT_BGR24, 0},
    {V4L2_PIX_FMT_RGB24, AV_PIX_FMT_RGB24, 0},
    {V4L2_PIX_FMT_RGB565, AV_PIX_FMT_RGB565LE, 0},
};

std::uint32_t RawTag(const RawFormat& format) {
    return format.tag ? format.tag : avcodec_pix_fmt_to_codec_tag(format.pixelFormat);
}

// The V4L2 format of a file's raw frames, by their tag; 0 when none is known.
std::uint32_t FourccOfRawTag(std::uint32_t tag) {
    // A tag of its own first: YV12 shares its pixel format with I420.
    for (const RawFormat& format : kRawFormats)
        if (tag != 0 && (tag == format.tag || tag == format.alias)) return format.fourcc;
    for (const RawFormat& format : kRawFormats)
        if (tag != 0 && tag == RawTag(format)) return format.fourcc;
    return 0;
}

bool IsJpeg(std::uint32_t fourcc) { return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG; }

std::string Tag(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, AV_DICT_MATCH_CASE);
    return entry ? entry->value : "";
}

// Seconds as the messages give them: "2.5 s".
std::string Seconds(std::int64_t microseconds) {
    std::ostringstream text;
    text.precision(3);
    text << static_cast<double>(microseconds) / 1e6 << " s";
    return text.str();
}

class InputFile {
public:
    ~InputFile() { avformat_close_input(&m_context); }
    AVFormatContext*& Context() { return m_context; }

private:
    AVFormatContext* m_context = nullptr;
};

// The stream's V4L2 format and the camera's description, from our tags or, for another program's
// file, from the stream alone.
bool DescribeStream(const AVFormatContext& file, const AVStream& stream, CameraRecording& recording,
                    std::string& error) {
    const AVCodecParameters& codec = *stream.codecpar;
    std::uint32_t fourcc = 0;
    if (codec.codec_id == AV_CODEC_ID_MJPEG) {
        fourcc = V4L2_PIX_FMT_MJPEG;
    } else if (codec.codec_id == AV_CODEC_ID_RAWVIDEO) {
        fourcc = FourccOfRawTag(codec.codec_tag);
    } else {
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec.codec_id);
        error = std::string("it holds ") + (descriptor ? descriptor->long_name : avcodec_get_name(codec.codec_id)) +
                " video, which webcams do not send through V4L2: only MJPEG and raw frames replay";
        return false;
    }
    RecordedCamera& camera = recording.camera;
    const std::string layout = Tag(file.metadata, kLayoutTag);
    recording.described = !layout.empty();
    if (recording.described) {
        if (layout != kLayout) {
            error = "it is a recording of layout " + layout + ", which this version cannot read";
            return false;
        }
        camera.card = Tag(file.metadata, kCameraTag);
        camera.driver = Tag(file.metadata, kDriverTag);
        camera.bus = Tag(file.metadata, kBusTag);
        const char* damaged = nullptr;
        if (!ParseStream(Tag(file.metadata, kStreamTag), camera.format, camera.timePerFrame))
            damaged = kStreamTag;
        else if (!ParseFormats(Tag(file.metadata, kFormatsTag), camera.formats))
            damaged = kFormatsTag;
        else if (!ParseControls(Tag(file.metadata, kControlsTag), camera.controls))
            damaged = kControlsTag;
        else if (IsJpeg(camera.format.pixelformat) != (codec.codec_id == AV_CODEC_ID_MJPEG))
            damaged = kStreamTag;
        if (damaged) {
            error = std::string("its camera description is damaged (") + damaged + ")";
            return false;
        }
        return true;
    }
    if (fourcc == 0) {
        error =
            "it holds raw frames tagged " + FourccText(codec.codec_tag) + ", a layout the frame decoder does not know";
        return false;
    }
    if (codec.width <= 0 || codec.height <= 0) {
        error = "it does not say the size of its frames";
        return false;
    }
    v4l2_pix_format& format = camera.format;
    format.pixelformat = fourcc;
    format.width = static_cast<std::uint32_t>(codec.width);
    format.height = static_cast<std::uint32_t>(codec.height);
    format.field = V4L2_FIELD_NONE;
    std::tie(format.bytesperline, format.sizeimage) = ReplayV4l2::Lengths(fourcc, format.width, format.height);
    const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        camera.timePerFrame = {static_cast<std::uint32_t>(rate.den), static_cast<std::uint32_t>(rate.num)};
    camera.formats = {{fourcc, {{format.width, format.height}}}};
    return true;
}

}  // namespace

std::string FourccText(std::uint32_t fourcc) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) text += static_cast<char>((fourcc >> shift) & 0xff);
    if (std::ranges::all_of(text, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) return text;
    return Hex(fourcc);
}

RecordedCamera DescribeCamera(IV4l2Device& device, int fd) {
    RecordedCamera camera;
    v4l2_capability capability{};
    if (device.Ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0) {
        camera.card = FixedString(capability.card);
        camera.driver = FixedString(capability.driver);
        camera.bus = FixedString(capability.bus_info);
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.Ioctl(fd, VIDIOC_G_FMT, &format) == 0) camera.format = format.fmt.pix;
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.Ioctl(fd, VIDIOC_G_PARM, &parameters) == 0) camera.timePerFrame = parameters.parm.capture.timeperframe;

    for (__u32 index = 0;; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device.Ioctl(fd, VIDIOC_ENUM_FMT, &description) != 0) break;
        ReplayV4l2::Format offered{description.pixelformat, {}};
        for (__u32 sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size{};
            size.index = sizeIndex;
            size.pixel_format = description.pixelformat;
            if (device.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
                offered.range = size.stepwise;
                break;
            }
            offered.sizes.emplace_back(size.discrete.width, size.discrete.height);
        }
        camera.formats.push_back(std::move(offered));
    }

    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (__u32 last = 0; device.Ioctl(fd, VIDIOC_QUERYCTRL, &query) == 0 && query.id > last;) {
        ReplayV4l2::Control control{query, {}};
        last = query.id;
        if (query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_INTEGER_MENU) {
            // By index, a gap as an empty entry.
            if (std::max(0, query.minimum) <= query.maximum)
                control.menu.resize(static_cast<std::size_t>(std::min(query.maximum, kV4l2MenuLimit - 1)) + 1);
            for (CaptureControl::MenuEntry& entry : V4l2MenuEntries(device, fd, query))
                control.menu[static_cast<std::size_t>(entry.value)] = std::move(entry.text);
        }
        v4l2_control value{};
        value.id = query.id;
        control.getError = device.Ioctl(fd, VIDIOC_G_CTRL, &value);
        control.value = control.getError ? 0 : value.value;
        camera.controls.push_back(std::move(control));
        query = {};
        query.id = last | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return camera;
}

struct CameraRecordingWriter::File {
    ~File() {
        if (context) {
            if (context->pb) avio_closep(&context->pb);
            avformat_free_context(context);
        }
        av_packet_free(&pending);
        if (!temporary.empty()) ::unlink(temporary.c_str());
    }

    std::filesystem::path target, temporary;
    AVFormatContext* context = nullptr;
    AVStream* stream = nullptr;
    AVPacket* pending = nullptr;  // the last buffer, written once the next comes or the file ends
    bool hasPending = false;
    std::int64_t pendingTimestamp = 0;
    std::uint32_t pendingFlags = 0, pendingSequence = 0;
    std::int64_t firstTimestamp = 0, lastPts = 0;
    std::int64_t frameDuration = 0;  // in the stream's time base; 0: not known
    int buffers = 0;
    std::uint64_t written = 0;  // the header and the buffers' bytes, the pending one's too
};

CameraRecordingWriter::CameraRecordingWriter() = default;
CameraRecordingWriter::~CameraRecordingWriter() = default;

bool CameraRecordingWriter::IsOpen() const { return m_file != nullptr; }
int CameraRecordingWriter::Buffers() const { return m_file ? m_file->buffers + m_file->hasPending : 0; }
std::uint64_t CameraRecordingWriter::Bytes() const {
    if (!m_file) return 0;
    // The muxer holds a cluster of blocks before it writes them: the file's length is counted
    // here, each block with room for its headers and record.
    constexpr std::uint64_t kBlockRoom = 128;
    return m_file->written + static_cast<std::uint64_t>(Buffers()) * kBlockRoom;
}

bool CameraRecordingWriter::Open(const std::filesystem::path& path, const RecordedCamera& camera, std::string& error) {
    QuietLibrary();
    m_file.reset();
    auto file = std::make_unique<File>();
    file->target = path;
    // Beside the target, so that the rename at the end cannot cross file systems.
    std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());  // readable by the user alone: it shows their face
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    ::close(fd);
    file->temporary = pattern;

    const v4l2_pix_format& format = camera.format;
    int result = avformat_alloc_output_context2(&file->context, nullptr, "matroska", file->temporary.c_str());
    if (result < 0) {
        error = AvError(result);
        return false;
    }
    AVFormatContext& context = *file->context;
    // No random identifiers: the same buffers make the same file.
    context.flags |= AVFMT_FLAG_BITEXACT;
    const std::pair<const char*, std::string> tags[] = {
        {kLayoutTag, kLayout},
        {kCameraTag, camera.card},
        {kDriverTag, camera.driver},
        {kBusTag, camera.bus},
        {kStreamTag, StreamText(format, camera.timePerFrame)},
        {kFormatsTag, FormatsText(camera.formats)},
        {kControlsTag, ControlsText(camera.controls)},
    };
    for (const auto& [key, value] : tags)
        if (!value.empty()) av_dict_set(&context.metadata, key, value.c_str(), 0);

    file->stream = avformat_new_stream(&context, nullptr);
    if (!file->stream) {
        error = "no memory for the video track";
        return false;
    }
    AVCodecParameters& codec = *file->stream->codecpar;
    codec.codec_type = AVMEDIA_TYPE_VIDEO;
    codec.width = static_cast<int>(format.width);
    codec.height = static_cast<int>(format.height);
    if (IsJpeg(format.pixelformat)) {
        codec.codec_id = AV_CODEC_ID_MJPEG;
    } else {
        codec.codec_id = AV_CODEC_ID_RAWVIDEO;
        codec.codec_tag = format.pixelformat;
        const auto raw = std::ranges::find(kRawFormats, format.pixelformat, &RawFormat::fourcc);
        if (raw != std::end(kRawFormats)) {
            codec.format = raw->pixelFormat;
            codec.codec_tag = RawTag(*raw);
            codec.bits_per_coded_sample = av_get_bits_per_pixel(av_pix_fmt_desc_get(raw->pixelFormat));
        }
    }
    file->stream->time_base = kMicroseconds;  // the muxer settles on its own
    if (camera.timePerFrame.numerator && camera.timePerFrame.denominator)
        file->stream->avg_frame_rate = {static_cast<int>(camera.timePerFrame.denominator),
                                        static_cast<int>(camera.timePerFrame.numerator)};

    if ((result = avio_open(&context.pb, file->temporary.c_str(), AVIO_FLAG_WRITE)) < 0) {
        error = AvError(result);
        return false;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "allow_raw_vfw", "1", 0);  // raw RGB, which Matroska knows only the AVI way
    result = avformat_write_header(&context, &options);
    av_dict_free(&options);
    if (result < 0) {
        error = AvError(result);
        return false;
    }
    file->written = static_cast<std::uint64_t>(avio_tell(context.pb));
    if (camera.timePerFrame.numerator && camera.timePerFrame.denominator)
        file->frameDuration = av_rescale_q(
            1, {static_cast<int>(camera.timePerFrame.numerator), static_cast<int>(camera.timePerFrame.denominator)},
            file->stream->time_base);
    file->pending = av_packet_alloc();
    if (!file->pending) {
        error = "no memory for a buffer";
        return false;
    }
    m_file = std::move(file);
    return true;
}

bool CameraRecordingWriter::WritePending(bool last, std::string& error) {
    File& file = *m_file;
    std::uint8_t* record =
        av_packet_new_side_data(file.pending, AV_PKT_DATA_MATROSKA_BLOCKADDITIONAL, kBufferRecordSize);
    if (!record) {
        error = "no memory for a buffer";
        return false;
    }
    AV_WB64(record, kBufferRecordId);
    AV_WB64(record + 8, static_cast<std::uint64_t>(file.pendingTimestamp));
    AV_WB32(record + 16, file.pendingFlags);
    AV_WB32(record + 20, file.pendingSequence);
    AV_WB32(record + 24, static_cast<std::uint32_t>(file.buffers));
    record[28] = last ? 1 : 0;
    const int result = av_write_frame(file.context, file.pending);
    av_packet_unref(file.pending);
    file.hasPending = false;
    if (result < 0) {
        error = AvError(result);
        return false;
    }
    ++file.buffers;
    return true;
}

bool CameraRecordingWriter::Write(std::span<const std::uint8_t> bytes, std::int64_t timestampUs, std::uint32_t flags,
                                  std::uint32_t sequence, std::string& error) {
    if (!m_file) {
        error = "the recording is not open";
        return false;
    }
    File& file = *m_file;
    if (file.hasPending && !WritePending(false, error)) return false;
    if (file.buffers == 0) file.firstTimestamp = timestampUs;
    if (av_new_packet(file.pending, static_cast<int>(bytes.size())) < 0) {
        error = "no memory for a buffer";
        return false;
    }
    std::ranges::copy(bytes, file.pending->data);
    file.written += bytes.size();
    // Times from the first buffer, never backwards, as the container needs them.
    const std::int64_t pts =
        std::max(file.lastPts, av_rescale_q(timestampUs - file.firstTimestamp, kMicroseconds, file.stream->time_base));
    file.lastPts = pts;
    file.pending->pts = file.pending->dts = pts;
    file.pending->duration = file.frameDuration;
    file.pending->flags = AV_PKT_FLAG_KEY;
    file.pending->stream_index = file.stream->index;
    file.pendingTimestamp = timestampUs;
    file.pendingFlags = flags;
    file.pendingSequence = sequence;
    file.hasPending = true;
    return true;
}

bool CameraRecordingWriter::Finish(std::string& error) {
    if (!m_file) {
        error = "the recording is not open";
        return false;
    }
    bool written = !m_file->hasPending || WritePending(true, error);
    const std::unique_ptr<File> done = std::move(m_file);
    if (written) {
        if (const int result = av_write_trailer(done->context); result < 0) error = AvError(result), written = false;
    }
    if (const int result = avio_closep(&done->context->pb); result < 0 && written)
        error = AvError(result), written = false;
    if (!written) return false;
    if (::rename(done->temporary.c_str(), done->target.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    done->temporary.clear();
    return true;
}

std::optional<CameraRecording> ReadCameraRecording(const std::filesystem::path& path, std::string& error) {
    QuietLibrary();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "not a file";
        return std::nullopt;
    }
    if (status.st_size == 0) {
        error = "the file is empty";
        return std::nullopt;
    }
    InputFile input;
    if (const int result = avformat_open_input(&input.Context(), path.c_str(), nullptr, nullptr); result < 0) {
        error = "not a video recording (" + AvError(result) + ")";
        return std::nullopt;
    }
    AVFormatContext& file = *input.Context();
    // Anything libavformat can guess from text or noise is no recording.
    const std::string_view container = file.iformat->name;
    if (!container.starts_with("matroska") && container != "avi" && !container.starts_with("mov") &&
        container != "nut") {
        error = "not a video recording";
        return std::nullopt;
    }
    const int streamIndex = av_find_best_stream(&file, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        error = "it holds no video";
        return std::nullopt;
    }
    const AVStream& stream = *file.streams[streamIndex];
    CameraRecording recording;
    if (!DescribeStream(file, stream, recording, error)) return std::nullopt;
    RecordedCamera& camera = recording.camera;
    const v4l2_pix_format& format = camera.format;
    if (!FrameDecoder::For(format.pixelformat, static_cast<int>(format.width), static_cast<int>(format.height),
                           format.bytesperline)) {
        error = "it holds " + std::to_string(format.width) + " x " + std::to_string(format.height) + " " +
                FourccText(format.pixelformat) + " frames, which the frame decoder cannot decode";
        return std::nullopt;
    }

    AVPacket* packet = av_packet_alloc();
    bool lastMarked = false;
    int result = 0;
    std::size_t largest = 0;
    while ((result = av_read_frame(&file, packet)) >= 0) {
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        RecordedBuffer buffer;
        buffer.bytes.assign(packet->data, packet->data + packet->size);
        largest = std::max(largest, buffer.bytes.size());
        std::size_t size = 0;
        const std::uint8_t* record = av_packet_get_side_data(packet, AV_PKT_DATA_MATROSKA_BLOCKADDITIONAL, &size);
        const bool recorded = record && size == kBufferRecordSize && AV_RB64(record) == kBufferRecordId;
        const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const bool follows = lastMarked;
        const std::uint32_t place = static_cast<std::uint32_t>(recording.buffers.size());
        bool lost = false;
        if (recorded) {
            buffer.timestampUs = static_cast<std::int64_t>(AV_RB64(record + 8));
            buffer.flags = AV_RB32(record + 16);
            buffer.sequence = AV_RB32(record + 20);
            lost = AV_RB32(record + 24) != place;
            lastMarked = record[28] != 0;
        } else {
            buffer.timestampUs = pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pts, stream.time_base, kMicroseconds);
            buffer.sequence = static_cast<std::uint32_t>(recording.buffers.size());
        }
        av_packet_unref(packet);
        if (recording.described && (!recorded || follows || lost)) {
            error = "it is damaged: buffer " + std::to_string(place + 1) +
                    (follows ? " follows the last"
                     : lost  ? " is missing"
                             : " has no record of its own");
            av_packet_free(&packet);
            return std::nullopt;
        }
        recording.buffers.push_back(std::move(buffer));
    }
    av_packet_free(&packet);
    const std::string after = " after " + std::to_string(recording.buffers.size()) + " frames";
    if (result != AVERROR_EOF) {
        error = "it is damaged" + after + " (" + AvError(result) + ")";
        return std::nullopt;
    }
    if (recording.buffers.empty()) {
        error = "it holds no frames";
        return std::nullopt;
    }
    if (recording.described && !lastMarked) {
        error = "it ends early: cut short" + after;
        return std::nullopt;
    }
    if (!recording.described) {
        // Another program's file tells its length only in its container.
        const std::int64_t frameUs =
            camera.timePerFrame.denominator
                ? std::int64_t{1'000'000} * camera.timePerFrame.numerator / camera.timePerFrame.denominator
                : 100'000;
        const std::int64_t stated = stream.duration != AV_NOPTS_VALUE
                                        ? av_rescale_q(stream.duration, stream.time_base, kMicroseconds)
                                    : file.duration != AV_NOPTS_VALUE ? file.duration
                                                                      : 0;
        const std::int64_t reached = recording.buffers.back().timestampUs + frameUs;
        const bool fewer =
            stream.nb_frames > 0 && static_cast<std::int64_t>(recording.buffers.size()) < stream.nb_frames;
        if (fewer || (stated > 0 && reached + 2 * frameUs < stated)) {
            error = "it ends early: " + std::to_string(recording.buffers.size()) + " frames, up to " +
                    Seconds(reached) + " of the " + Seconds(stated) + " it states";
            return std::nullopt;
        }
    }
    camera.format.sizeimage = std::max<std::uint32_t>(format.sizeimage, static_cast<std::uint32_t>(largest));
    return recording;
}
