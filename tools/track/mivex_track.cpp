// mivex-track: runs frame preparation, head detection and point tracking over a recorded video
// and writes what the tracker did on each frame as CSV, to study tracking without a camera.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "command_line.h"
#include "camera_frame.h"
#include "mouse.h"
#include "recording_injector.h"
#include "settings_mirror.h"
#include "speed_profile.h"
#include "tracking_driver.h"

namespace {

constexpr const char* kUsage =
    "Usage: mivex-track VIDEO [--detect-every N] [--csv FILE] [--map [--set SECTION/KEY=VALUE]...]\n"
    "Runs head detection and point tracking over VIDEO (any file OpenCV can read) and writes one\n"
    "CSV row per frame: frame,points,summed,sum_dx,sum_dy,head_found,left,top,right,bottom\n"
    "(points tracked after the frame, points whose motion was summed and their summed motion in\n"
    "pixels, and the detected head rectangle in frame pixels). A summary goes to stderr.\n"
    "  --detect-every N  run head detection on every Nth frame (default 10)\n"
    "  --csv FILE        write the rows to FILE instead of standard output\n"
    "  --map             also map the motion as the program would with mouse control on, using\n"
    "                    your settings, and add the columns move_dx,move_dy,clicks: the pointer\n"
    "                    move injected on that frame and its button events. The speed profile is\n"
    "                    used when \"flight\" or \"profile enable\" is on.\n"
    "  --set S/K=V       with --map, use V for the setting S/K (e.g. settings/sliderLrMouse=12);\n"
    "                    your stored settings are not changed\n"
    "  --help            show this text\n";

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

struct Options {
    std::string video;
    int detectEvery = 10;
    std::string csv;  // empty: standard output
    bool map = false;
    std::vector<SettingAssignment> overrides;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "mivex-track: %s\n%s", message.c_str(), kUsage);
    return 2;
}

// Fills options; returns an exit code when the program should stop here.
std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--map") {
            options.map = true;
            continue;
        }
        if (arg == "--detect-every" || arg == "--csv" || arg == "--set") {
            if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
            const std::string_view value = argv[++i];
            if (arg == "--set") {
                std::string error;
                const auto assignment = ParseSettingAssignment(value, error);
                if (!assignment) return UsageError(error);
                options.overrides.push_back(*assignment);
                continue;
            }
            if (arg == "--csv") {
                if (value.empty()) return UsageError("--csv needs a file name");
                options.csv = value;
                continue;
            }
            const auto n = ParsePositive(value);
            if (!n) return UsageError("--detect-every needs a positive whole number, not '" + std::string(value) + "'");
            options.detectEvery = *n;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option " + std::string(arg));
        if (!options.video.empty()) return UsageError("only one VIDEO may be given");
        options.video = arg;
    }
    if (options.video.empty()) return UsageError("VIDEO is missing");
    if (!options.overrides.empty() && !options.map) return UsageError("--set applies only with --map");
    return std::nullopt;
}

// The user's settings as a private copy with the overrides applied, so that the mapping reads
// them through the same store as the program while the stored settings stay untouched.
class ScratchSettings {
public:
    explicit ScratchSettings(const std::vector<SettingAssignment>& overrides) {
        const std::filesystem::path userFile = SettingsFilePath();
        std::string pattern = (std::filesystem::temp_directory_path() / "mivex-track-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder in " + pattern);
        m_folder = pattern;
        ::setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
        m_store.emplace();
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(m_store->FilePath()).parent_path(), error);
        if (std::filesystem::exists(userFile)) std::filesystem::copy_file(userFile, m_store->FilePath(), error);
        for (const SettingAssignment& assignment : overrides)
            if (!m_store->Write(*assignment.key, assignment.value))
                throw std::runtime_error("cannot write the settings copy " + m_store->FilePath());
    }
    ~ScratchSettings() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;

    CSettingsStore& Store() { return *m_store; }

private:
    std::filesystem::path m_folder;
    std::optional<CSettingsStore> m_store;
};

// The mapping's outputs as the program has them with mouse control on and neither a flight
// simulator nor a socket client: the pointer moves through CMouse into a recording injector.
class MappedPointer : public IMotionOutputs {
public:
    explicit MappedPointer(const std::vector<SettingAssignment>& overrides)
        : m_settings(overrides), m_profile(m_settings.Store()), m_mouse(m_injector, m_mirror) {
        m_mirror.Load(m_settings.Store());
        m_mirror.m_bMouseActive = true;
        m_profile.BuildSpeedTables();
    }

    MotionTargets Targets() { return {&m_mirror, &m_profile, this}; }
    bool UsesProfile() {
        return m_settings.Store().ReadBool(Setting::kFlight) || m_settings.Store().ReadBool(Setting::kProfileEnable);
    }

    void MouseMove(float dx, float dy) override { m_mouse.Move(dx, dy); }
    void MoveCamera(float, float, bool) override {}
    void SdkPush(float, float) override {}

    void BeginFrame() { m_injector.Clear(); }
    // ",move_dx,move_dy,clicks" of this frame: the moves summed, the button events by name.
    std::string Columns() const {
        long long dx = 0, dy = 0;
        std::string clicks;
        for (const InputEvent& event : m_injector.Events()) {
            if (event.type != INPUT_MOUSE) continue;
            if (event.mi.dwFlags & MOUSEEVENTF_MOVE) {
                dx += event.mi.dx;
                dy += event.mi.dy;
            }
            for (const auto& [flag, name] : kButtonNames) {
                if (!(event.mi.dwFlags & flag)) continue;
                if (!clicks.empty()) clicks += '+';
                clicks += name;
            }
        }
        char numbers[48];
        std::snprintf(numbers, sizeof numbers, ",%lld,%lld,", dx, dy);
        return numbers + clicks;
    }

private:
    static constexpr std::pair<std::uint32_t, const char*> kButtonNames[] = {
        {MOUSEEVENTF_LEFTDOWN, "left-down"},     {MOUSEEVENTF_LEFTUP, "left-up"},
        {MOUSEEVENTF_RIGHTDOWN, "right-down"},   {MOUSEEVENTF_RIGHTUP, "right-up"},
        {MOUSEEVENTF_MIDDLEDOWN, "middle-down"}, {MOUSEEVENTF_MIDDLEUP, "middle-up"},
    };

    ScratchSettings m_settings;
    CSettingsMirror m_mirror;
    CSpeedProfile m_profile;
    CRecordingInjector m_injector;
    CMouse m_mouse;
};

// What the tracker handed to the mapping during the current frame; zeros when it was not called.
class FrameMotion : public IMotionSink {
public:
    void BeginFrame() { Record(0, 0.0f, 0.0f); }
    void MapMotion(int n, float x, float y, int) override { Record(n, x, y); }
    void MapMotionProfile(int n, float x, float y, int) override { Record(n, x, y); }

    int summed = 0;
    float sumX = 0.0f;
    float sumY = 0.0f;

private:
    void Record(int n, float x, float y) {
        summed = n;
        sumX = x;
        sumY = y;
    }
};

class StderrMessages : public IMessageSink {
public:
    void Show(const std::string& text) override { std::fprintf(stderr, "mivex-track: %s\n", text.c_str()); }
};

// The decoder may hand over grey or BGRA frames; the capture layout is 24-bit BGR.
const cv::Mat& AsBgr(const cv::Mat& frame, cv::Mat& converted) {
    if (frame.type() == CV_8UC3) return frame;
    if (frame.type() == CV_8UC1)
        cv::cvtColor(frame, converted, cv::COLOR_GRAY2BGR);
    else if (frame.type() == CV_8UC4)
        cv::cvtColor(frame, converted, cv::COLOR_BGRA2BGR);
    else
        frame.convertTo(converted, CV_8UC3);  // unusual depths: let OpenCV say whether it can
    return converted;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto exit = ParseOptions(argc, argv, options)) return *exit;

    // While opening, each video backend that declines the file and the cascade loader log their
    // own errors; they would only bury the one message that says what went wrong.
    const auto logLevel = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

    cv::VideoCapture video;
    cv::Mat decoded, converted;
    try {
        video.open(options.video);
        if (video.isOpened()) video.read(decoded);
    } catch (const std::exception&) {
        decoded.release();
    }
    if (decoded.empty()) {
        std::error_code error;
        const bool missing = !std::filesystem::exists(options.video, error);
        std::fprintf(stderr, "mivex-track: cannot read video %s%s\n", options.video.c_str(),
                     missing ? " (no such file)" : "");
        return 1;
    }
    const int width = decoded.cols;
    const int height = decoded.rows;

    std::unique_ptr<MappedPointer> pointer;
    try {
        if (options.map) pointer = std::make_unique<MappedPointer>(options.overrides);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mivex-track: %s\n", e.what());
        return 1;
    }

    StderrMessages messages;
    FrameMotion motion;
    CTrackingDriver driver(width, height, options.detectEvery, &motion, messages,
                           pointer ? pointer->Targets() : MotionTargets{});
    if (driver.Init() != 0) return 1;  // the sink has told why
    if (pointer) driver.Tracker().m_bUseProfile = pointer->UsesProfile();
    cv::utils::logging::setLogLevel(logLevel);
    const CTrackingState& state = driver.State();

    std::FILE* csv = stdout;
    if (!options.csv.empty()) {
        csv = std::fopen(options.csv.c_str(), "w");
        if (!csv) {
            std::fprintf(stderr, "mivex-track: cannot write %s\n", options.csv.c_str());
            return 1;
        }
    }
    std::fputs("frame,points,summed,sum_dx,sum_dy,head_found,left,top,right,bottom", csv);
    std::fputs(pointer ? ",move_dx,move_dy,clicks\n" : "\n", csv);

    // Progress would interleave with rows going to the same terminal.
    const bool showProgress = ::isatty(STDERR_FILENO) && !(options.csv.empty() && ::isatty(STDOUT_FILENO));
    const double frameTotal = video.get(cv::CAP_PROP_FRAME_COUNT);
    const auto start = std::chrono::steady_clock::now();
    auto lastProgress = start;

    std::vector<std::uint8_t> sample;
    int frames = 0, framesWithMotion = 0, detections = 0;
    long long pointSum = 0;
    // Decoding usually costs more than tracking; the tracking share is reported on its own.
    std::chrono::steady_clock::duration trackingTime{};
    int exitCode = 0;
    try {
        do {
            if (decoded.cols != width || decoded.rows != height) {
                std::fprintf(stderr, "%smivex-track: frame %d of %s is %dx%d, not %dx%d like the first\n",
                             showProgress ? "\n" : "", frames, options.video.c_str(), decoded.cols, decoded.rows,
                             width, height);
                exitCode = 1;
                break;
            }
            ToCaptureLayout(AsBgr(decoded, converted), sample);

            const int detectCountBefore = state.m_iHeadDetectCount;
            motion.BeginFrame();
            if (pointer) pointer->BeginFrame();
            const auto feedStart = std::chrono::steady_clock::now();
            driver.Feed(sample.data(), static_cast<std::uint32_t>(sample.size()));
            trackingTime += std::chrono::steady_clock::now() - feedStart;
            // Detection raises the counter when it finds the head and clears it when it does not.
            if (state.m_iHeadDetectCount > detectCountBefore) ++detections;

            const int points = state.m_iPointCount;
            const HeadRect head = state.m_rcHead.Load();
            std::fprintf(csv, "%d,%d,%d,%.4f,%.4f,%d,%d,%d,%d,%d%s\n", frames, points, motion.summed, motion.sumX,
                         motion.sumY, state.m_bHeadFound ? 1 : 0, head.left, head.top, head.right, head.bottom,
                         pointer ? pointer->Columns().c_str() : "");
            ++frames;
            pointSum += points;
            if (motion.summed > 0) ++framesWithMotion;

            if (showProgress) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastProgress >= kProgressInterval) {
                    lastProgress = now;
                    if (frameTotal > 0)
                        std::fprintf(stderr, "\rframe %d/%.0f", frames, frameTotal);
                    else
                        std::fprintf(stderr, "\rframe %d", frames);
                }
            }
        } while (video.read(decoded) && !decoded.empty());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%smivex-track: frame %d of %s: %s\n", showProgress ? "\n" : "", frames,
                     options.video.c_str(), e.what());
        exitCode = 1;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (showProgress) std::fputs("\r\033[K", stderr);

    const bool csvFailed = std::fflush(csv) != 0 || std::ferror(csv) || (csv != stdout && std::fclose(csv) != 0);
    if (csvFailed) {
        std::fprintf(stderr, "mivex-track: cannot write %s\n",
                     options.csv.empty() ? "to standard output" : options.csv.c_str());
        exitCode = 1;
    }

    const int detectRuns = (frames + options.detectEvery - 1) / options.detectEvery;
    std::fprintf(stderr,
                 "mivex-track: %d frames, %d with motion, mean points %.2f, detections %d of %d, "
                 "elapsed %.3f s, %.1f fps (tracking %.3f ms per frame)\n",
                 frames, framesWithMotion, frames ? static_cast<double>(pointSum) / frames : 0.0, detections,
                 detectRuns, elapsed, elapsed > 0 ? frames / elapsed : 0.0,
                 frames ? std::chrono::duration<double, std::milli>(trackingTime).count() / frames : 0.0);
    return exitCode;
}
