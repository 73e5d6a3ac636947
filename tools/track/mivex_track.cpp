// mivex-track: runs frame preparation, head detection and point tracking over a recorded video
// and writes what the tracker did on each frame as CSV, to study tracking without a camera; also
// records what a webcam sends, and plays such a recording through the capture path again.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>

#include "base/camera_frame.h"
#include "base/message_sink.h"
#include "base/settings_mirror.h"
#include "base/standard_output.h"
#include "capture/camera_recorder.h"
#include "capture/frame_conversion.h"
#include "capture/replayed_camera.h"
#include "capture/v4l2_capture.h"
#include "capture/video_file_capture.h"
#include "capture/video_input_track.h"
#include "engine/engine.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "output/unique_fd.h"
#include "tools/common/command_line.h"

namespace {

constexpr const char* kUsage =
    "Usage: mivex-track VIDEO|--camera N|--camera-file FILE|--camera-replay FILE [--fast]\n"
    "                   [--format F] [--record FILE [--seconds S]] [--detect-every N] [--csv FILE]\n"
    "                   [--map [--set SECTION/KEY=VALUE]...]\n"
    "Runs head detection and point tracking over VIDEO (any file OpenCV can read) and writes one\n"
    "CSV row per frame: frame,points,summed,sum_dx,sum_dy,head_found,left,top,right,bottom\n"
    "(points tracked after the frame, points whose motion was summed and their summed motion in\n"
    "pixels, and the detected head rectangle in frame pixels). A summary goes to stderr.\n"
    "  --camera N        track webcam N through the capture path, with the stored width and frame\n"
    "                    rate, until interrupted (Ctrl-C) or until the camera stops delivering\n"
    "                    (the reason on stderr, exit code 1)\n"
    "  --camera-file F   track the video file F through the capture path, as a camera at the\n"
    "                    file's frame rate (the rows equal those of plain VIDEO)\n"
    "  --camera-replay F play the camera recording F (made with --record, or MJPEG or raw video\n"
    "                    copied from a webcam) through the capture path as the camera it came\n"
    "                    from, at its recorded timing, and end with its last frame\n"
    "  --fast            with --camera-file or --camera-replay, deliver frames as fast as they\n"
    "                    are tracked\n"
    "  --format F        with --camera, offer the format search only the camera's sizes in the\n"
    "                    pixel format F (as V4L2 names it: MJPG, YUYV, NV12, ...)\n"
    "  --record FILE     with --camera or --camera-replay, also record every buffer the camera\n"
    "                    sends into the Matroska file FILE, untouched, with the camera's\n"
    "                    description (see the README); replaces FILE once complete\n"
    "  --seconds S       with --record, end after S seconds of the camera's frames\n"
    "  --detect-every N  run head detection on every Nth frame (default 10)\n"
    "  --csv FILE        write the rows to FILE instead of standard output: a file is replaced\n"
    "                    once complete and keeps its mode; a FIFO or device is written into\n"
    "  --map             also map the motion as the program would with mouse control on, using\n"
    "                    your settings, and add the columns move_dx,move_dy,clicks: the pointer\n"
    "                    move injected on that frame and its button events. The speed profile is\n"
    "                    used when \"flight\" or \"profile enable\" is on.\n"
    "  --set S/K=V       with --map, use V for the setting S/K (e.g. settings/sliderLrMouse=12);\n"
    "                    your stored settings are not changed\n"
    "  --help            show this text\n"
    "Ctrl-C or SIGTERM stops the run between frames: the rows so far are kept and the exit code is\n"
    "130 (SIGINT) or 143 (SIGTERM). Exit codes otherwise: 0 done, 1 failed (also when VIDEO ends\n"
    "before the number of frames its container states), 2 bad command line.\n";

constexpr auto kProgressInterval = std::chrono::milliseconds(200);

struct Options {
    std::string video;
    int detectEvery = 10;
    std::string csv;  // empty: standard output
    bool map = false;
    std::vector<SettingAssignment> overrides;
    int camera = -1;           // --camera N: a webcam through the capture layer
    std::string cameraFile;    // --camera-file FILE: a video file standing in for a camera
    std::string cameraReplay;  // --camera-replay FILE: a camera recording played as the camera
    bool fast = false;         // the file or the recording delivers without pacing
    std::string record;        // --record FILE: where the camera's buffers go; empty: nowhere
    int seconds = 0;           // --seconds S: the recording's length; 0: until the run ends
    std::uint32_t format = 0;  // --format F: the webcam's one pixel format to use; 0: any
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "mivex-track: %s\n%s", message.c_str(), kUsage);
    return 2;
}

// Whether both names lead to one file (links resolved), as writing the one would destroy the other.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat first = {};
    struct stat second = {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// Fills options; returns an exit code when the program should stop here.
std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--map" || arg == "--fast") {
            (arg == "--map" ? options.map : options.fast) = true;
            continue;
        }
        if (arg == "--detect-every" || arg == "--csv" || arg == "--set" || arg == "--camera" ||
            arg == "--camera-file" || arg == "--camera-replay" || arg == "--record" || arg == "--seconds" ||
            arg == "--format") {
            if (i + 1 >= argc) return UsageError(std::string(arg) + " needs a value");
            const std::string_view value = argv[++i];
            if (arg == "--set") {
                std::string error;
                const auto assignment = ParseSettingAssignment(value, error);
                if (!assignment) return UsageError(error);
                options.overrides.push_back(*assignment);
                continue;
            }
            if (arg == "--camera-file" || arg == "--camera-replay" || arg == "--record") {
                if (value.empty()) return UsageError(std::string(arg) + " needs a file name");
                (arg == "--camera-file" ? options.cameraFile
                 : arg == "--record"    ? options.record
                                        : options.cameraReplay) = value;
                continue;
            }
            if (arg == "--format") {
                if (value.empty() || value.size() > 4)
                    return UsageError("--format needs a pixel format of up to 4 characters, not '" +
                                      std::string(value) + "'");
                const std::string code = std::string(value) + std::string(4 - value.size(), ' ');
                options.format = v4l2_fourcc(code[0], code[1], code[2], code[3]);
                continue;
            }
            if (arg == "--seconds") {
                const auto n = ParsePositive(value);
                if (!n) return UsageError("--seconds needs a positive whole number, not '" + std::string(value) + "'");
                options.seconds = *n;
                continue;
            }
            if (arg == "--camera") {
                if (value == "0") {
                    options.camera = 0;
                    continue;
                }
                const auto n = ParsePositive(value);
                if (!n)
                    return UsageError("--camera needs a camera number (0, 1, ...), not '" + std::string(value) + "'");
                options.camera = *n;
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
    const int sources =
        !options.video.empty() + (options.camera >= 0) + !options.cameraFile.empty() + !options.cameraReplay.empty();
    if (sources == 0) return UsageError("VIDEO is missing");
    if (sources > 1) return UsageError("give one of VIDEO, --camera, --camera-file and --camera-replay");
    if (options.fast && options.cameraFile.empty() && options.cameraReplay.empty())
        return UsageError("--fast applies only with --camera-file or --camera-replay");
    if (!options.record.empty() && options.camera < 0 && options.cameraReplay.empty())
        return UsageError("--record applies only with --camera or --camera-replay");
    if (options.seconds > 0 && options.record.empty()) return UsageError("--seconds applies only with --record");
    if (options.format != 0 && options.camera < 0) return UsageError("--format applies only with --camera");
    if (!options.overrides.empty() && !options.map) return UsageError("--set applies only with --map");
    const std::string& input = !options.video.empty()        ? options.video
                               : !options.cameraFile.empty() ? options.cameraFile
                                                             : options.cameraReplay;
    for (const auto& [option, output] : {std::pair{"--csv", &options.csv}, std::pair{"--record", &options.record}}) {
        if (output->empty() || input.empty() || !SameFile(*output, input)) continue;
        std::fprintf(stderr, "mivex-track: %s %s is the input video %s itself; give another file\n", option,
                     output->c_str(), input.c_str());
        return 2;
    }
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

// The pointer as the program has it with mouse control on and neither a flight simulator nor a
// socket client: moves go through CMouse into a recording injector, with the settings copy.
class MappedPointer {
public:
    explicit MappedPointer(const std::vector<SettingAssignment>& overrides)
        : m_settings(overrides), m_mouse(m_injector, m_mirror) {
        m_mirror.Load(m_settings.Store());
        m_mirror.m_bMouseActive = true;
    }

    CSettingsStore& Store() { return m_settings.Store(); }
    CSettingsMirror& Mirror() { return m_mirror; }
    CMouse& Mouse() { return m_mouse; }

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

// Writes the row of every frame the engine tracks, whether the file loop or a capture layer's
// streaming thread feeds it. Counts what the summary reports.
class FrameRows final : public IFrameObserver {
public:
    FrameRows(FrameMotion& motion, MappedPointer* pointer) : m_motion(motion), m_pointer(pointer) {}

    // Writes the header; the rows follow, one per frame of the engine.
    void Start(const CEngine& engine, std::FILE* csv, bool progress) {
        m_pEngine = &engine;
        m_csv = csv;
        m_progress = progress;
        std::fputs("frame,points,summed,sum_dx,sum_dy,head_found,left,top,right,bottom", m_csv);
        std::fputs(m_pointer ? ",move_dx,move_dy,clicks\n" : "\n", m_csv);
    }

    void BeforeFrame() override {
        m_iDetectCountBefore = m_pEngine->Status().headDetectCount;
        m_motion.BeginFrame();
        if (m_pointer) m_pointer->BeginFrame();
        m_frameStart = std::chrono::steady_clock::now();
    }

    void AfterFrame() override {
        trackingTime += std::chrono::steady_clock::now() - m_frameStart;
        const EngineStatus status = m_pEngine->Status();
        // Detection raises the counter when it finds the head and clears it when it does not.
        if (status.headDetectCount > m_iDetectCountBefore) ++detections;

        const HeadRect& head = status.head;
        std::fprintf(m_csv, "%d,%d,%d,%.4f,%.4f,%d,%d,%d,%d,%d%s\n", frames.load(), status.points, m_motion.summed,
                     m_motion.sumX, m_motion.sumY, status.headFound ? 1 : 0, head.left, head.top, head.right,
                     head.bottom, m_pointer ? m_pointer->Columns().c_str() : "");
        // Whole rows as they come, for whoever follows a camera run through a pipe.
        std::fflush(m_csv);
        ++frames;
        lastFrame = std::chrono::steady_clock::now();
        pointSum += status.points;
        if (m_motion.summed > 0) ++framesWithMotion;
        if (m_progress) ShowProgress();
    }

    double frameTotal = 0;  // for the progress line; 0 when unknown
    std::atomic<int> frames{0};
    std::chrono::steady_clock::time_point lastFrame;  // read once delivery has stopped
    int framesWithMotion = 0;
    int detections = 0;
    long long pointSum = 0;
    // Decoding usually costs more than tracking; the tracking share is reported on its own.
    std::chrono::steady_clock::duration trackingTime{};

private:
    void ShowProgress() {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastProgress < kProgressInterval) return;
        m_lastProgress = now;
        if (frameTotal > 0)
            std::fprintf(stderr, "\rframe %d/%.0f", frames.load(), frameTotal);
        else
            std::fprintf(stderr, "\rframe %d", frames.load());
    }

    const CEngine* m_pEngine = nullptr;
    FrameMotion& m_motion;
    MappedPointer* const m_pointer;
    std::FILE* m_csv = nullptr;
    bool m_progress = false;
    int m_iDetectCountBefore = 0;
    std::chrono::steady_clock::time_point m_frameStart;
    std::chrono::steady_clock::time_point m_lastProgress = std::chrono::steady_clock::now();
};

// The smallest frame of this width that head detection can reduce, or nothing when the frame is
// fine.
std::optional<cv::Size> SmallestFrameFor(cv::Size frame) {
    if (TrackableFrameSize(frame.width, frame.height)) return std::nullopt;
    const int reduction = DetectReduction(frame.width);
    return cv::Size(std::max(frame.width, kMinReducedWidth * reduction), kMinReducedHeight * reduction);
}

// The signal that asked the run to stop, 0 while none did.
std::atomic<int> g_stopSignal{0};

extern "C" void OnStopSignal(int signal) { g_stopSignal = signal; }

// Ctrl-C and SIGTERM end the run between frames so that the rows so far are kept; a second one
// of the same kind ends the program at once, should a run not stop.
void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// Opening a FIFO waits for its writer. Inside OpenCV no stop signal ends that wait (each backend
// opens the file anew), so it is waited for here, where one does; the reading end held open lets
// OpenCV's own open return at once. Invalid when the input is no FIFO or a stop signal came.
UniqueFd WaitForWriter(const std::string& input) {
    struct stat status = {};
    if (input.empty() || ::stat(input.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode)) return UniqueFd();
    return UniqueFd(::open(input.c_str(), O_RDONLY | O_CLOEXEC));
}

// A video file read directly: its size, and the samples fed one after another.
class FileSource {
public:
    bool Open(const std::string& path) {
        try {
            m_video.open(path);
            if (m_video.isOpened()) m_video.read(m_decoded);
        } catch (const std::exception&) {
            m_decoded.release();
        }
        return !m_decoded.empty();
    }
    cv::Size Size() const { return m_decoded.size(); }
    double FrameTotal() const { return m_video.get(cv::CAP_PROP_FRAME_COUNT); }
    // 30 where the file does not say.
    double FramesPerSecond() const {
        const double fps = m_video.get(cv::CAP_PROP_FPS);
        return fps > 0 ? fps : 30;
    }

    // Feeds every frame; false (with the reason said) when a frame cannot be used.
    bool FeedAll(CEngine& engine, const FrameRows& rows, const std::string& path, bool progress) {
        const cv::Size size = m_decoded.size();
        std::vector<std::uint8_t> sample;
        cv::Mat converted;
        try {
            do {
                if (g_stopSignal != 0) return true;
                if (m_decoded.size() != size) {
                    std::fprintf(stderr, "%smivex-track: frame %d of %s is %dx%d, not %dx%d like the first\n",
                                 progress ? "\n" : "", rows.frames.load(), path.c_str(), m_decoded.cols, m_decoded.rows,
                                 size.width, size.height);
                    return false;
                }
                const std::uint8_t* colour = DecodedToLayout(m_decoded, size, converted, sample);
                if (!colour) {
                    std::fprintf(stderr, "%smivex-track: frame %d of %s has pixels of a kind that cannot be used\n",
                                 progress ? "\n" : "", rows.frames.load(), path.c_str());
                    return false;
                }
                ColourFrame frame(colour, size.width, size.height);
                engine.Feed(frame);
            } while (m_video.read(m_decoded) && !m_decoded.empty());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%smivex-track: frame %d of %s: %s\n", progress ? "\n" : "", rows.frames.load(),
                         path.c_str(), e.what());
            return false;
        }
        // A read that fails looks like the end: a video cut short or damaged shows only in the
        // length its container states, which may be estimated one frame long.
        const double stated = FrameTotal();
        if (g_stopSignal == 0 && stated > 0 && rows.frames < stated - 1) {
            std::fprintf(stderr,
                         "%smivex-track: %s ends early: %d of the %.0f frames its container states could be read\n",
                         progress ? "\n" : "", path.c_str(), rows.frames.load(), stated);
            return false;
        }
        return true;
    }

private:
    cv::VideoCapture m_video;
    cv::Mat m_decoded;
};

// A camera through the engine's capture facade, as the program opens it: a webcam, a video file
// or a camera recording, and the recording of what it sends when asked.
class CameraSource {
public:
    // Opens the camera with the stored wanted width and frame rate (a file: its own size and rate).
    bool Open(CEngine& engine, const Options& options, const CSettingsStore& store) {
        std::unique_ptr<ICaptureLayer> layer;
        std::string what = "camera " + std::to_string(options.camera);
        CCameraRecorder* recorder = options.record.empty() ? nullptr : &m_recorder;
        if (recorder) {
            m_recordingTo = options.record;
            std::string unused;  // a new recorder has nothing under way
            m_recorder.Start(options.record, {.duration = std::chrono::seconds(options.seconds)}, unused);
        }
        if (!options.cameraFile.empty()) {
            auto file =
                std::make_unique<CVideoFileCapture>(options.cameraFile, VideoFileCaptureOptions{false, !options.fast});
            m_pFile = file.get();
            layer = std::move(file);
            what = "video file " + options.cameraFile;
        } else if (!options.cameraReplay.empty()) {
            auto replay = std::make_unique<CReplayedCamera>(
                options.cameraReplay,
                ReplayedCameraOptions{.loop = false, .paced = !options.fast, .recorder = recorder});
            m_pReplay = replay.get();
            layer = std::move(replay);
            what = "recording " + options.cameraReplay;
        } else {
            std::unique_ptr<IV4l2Device> device = MakeSystemV4l2Device();
            if (recorder) device = std::make_unique<RecordingV4l2Device>(std::move(device), *recorder);
            auto webcam = std::make_unique<CV4l2Capture>(std::move(device));
            webcam->OfferOnly(options.format);
            layer = std::move(webcam);
        }
        ICaptureLayer* const capture = layer.get();
        const int wantedWidth = m_pFile ? 0 : store.ReadClamped(Setting::kCameraWidth);
        const int fps = store.ReadClamped(Setting::kCameraFps);
        const int wantedHeight = m_pFile ? 0 : store.ReadClamped(Setting::kCameraHeight);
        if (engine.OpenCamera(std::move(layer), options.camera < 0 ? 0 : options.camera, wantedWidth, fps,
                              wantedHeight) == 0) {
            const std::string why = m_pFile ? "" : m_pReplay ? ": " + m_pReplay->LastError() : " (no camera found)";
            std::fprintf(stderr, "mivex-track: cannot open %s%s\n", what.c_str(), why.c_str());
            return false;
        }
        // What the layer says of the camera (a format the driver adjusted, why delivery ended)
        // is this tool's to show.
        capture->SetLog([](const std::string& line) { std::fprintf(stderr, "mivex-track: %s\n", line.c_str()); });
        CNCVideoInputTrack& camera = *engine.Camera();
        if (camera.Width() == 0) {
            std::fprintf(stderr, "mivex-track: %s offers no usable format\n", what.c_str());
            return false;
        }
        // A file plays at its own rate, known once it is open.
        if (m_pFile)
            camera.SetFrameRate(std::max(1, static_cast<int>(std::lround(m_pFile->FileFramesPerSecond()))),
                                camera.CapabilityIndex());
        return true;
    }

    // Delivers frames to the engine until the file or the recording ends, the recording of the
    // camera has its length, or the user interrupts; false when the camera's delivery ended by
    // itself (the layer has said why). A tool that studies a camera does not start it again: a
    // camera that stops is what it reports, with exit code 1.
    bool FeedAll(CEngine& engine, const FrameRows& rows) {
        constexpr WindowToken kNoWindow = 1;  // any non-zero token enables delivery
        if (!engine.AttachCamera(kNoWindow) || !engine.RunCamera()) {
            std::fprintf(stderr, "mivex-track: the camera does not start\n");
            return false;
        }
        // A camera runs until a stop signal or until its frames stop; a file or a recording also
        // ends on its own.
        std::atomic<bool> finished{false}, played{true};
        std::thread waiter;
        if (m_pFile || m_pReplay)
            waiter = std::thread([this, &finished, &played] {
                if (m_pFile) m_pFile->WaitUntilFinished();
                if (m_pReplay) played = m_pReplay->WaitUntilFinished();
                finished = true;
            });
        using Clock = std::chrono::steady_clock;
        int framesSeen = rows.frames;
        auto lastChange = Clock::now();
        bool ended = false, recorded = false;
        while (!finished && g_stopSignal == 0 && !ended && !recorded) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (rows.frames != framesSeen) {
                framesSeen = rows.frames;
                lastChange = Clock::now();
            }
            // The layer ends delivery after this much silence, or at once on an error, and logs why.
            ended = !m_pFile && Clock::now() - lastChange > kDeliveryEnded;
            const CCameraRecorder::State state = m_recorder.Progress().state;
            recorded = state == CCameraRecorder::State::Done || state == CCameraRecorder::State::Failed;
        }
        engine.Camera()->Stop();
        if (waiter.joinable()) waiter.join();
        if (ended)
            std::fprintf(
                stderr, "mivex-track: the camera delivered no frame for %lld s; ending\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kDeliveryEnded).count()));
        // A recording whose delivery ended before its last frame failed as a camera that stops.
        return !ended && (played || g_stopSignal != 0 || recorded);
    }

    // Ends the recording of the camera, if one was asked for, and says how it went; false when
    // it failed.
    bool FinishRecording() {
        if (m_recordingTo.empty()) return true;
        m_recorder.Stop();
        const CCameraRecorder::Status status = m_recorder.Progress();
        if (status.state != CCameraRecorder::State::Done) {
            std::fprintf(stderr, "mivex-track: nothing recorded into %s: %s\n", m_recordingTo.c_str(),
                         status.error.c_str());
            return false;
        }
        std::fprintf(stderr, "mivex-track: recorded %d frames (%.3f s, %llu bytes) into %s\n", status.buffers,
                     std::chrono::duration<double>(status.duration).count(),
                     static_cast<unsigned long long>(status.bytes), m_recordingTo.c_str());
        return true;
    }

private:
    static constexpr auto kDeliveryEnded = std::chrono::milliseconds(CV4l2Capture::kSilenceLimitMs + 1000);
    CVideoFileCapture* m_pFile = nullptr;
    CReplayedCamera* m_pReplay = nullptr;
    CCameraRecorder m_recorder;
    std::string m_recordingTo;
};

// Where the rows go. A regular file gets them through a temporary file beside it, renamed over
// it once complete, so that a run that dies midway never leaves a truncated file in place of an
// old one; the new file keeps the old one's mode and, where allowed, its owner. A FIFO or a
// character device (a terminal, /dev/null) is written directly: replacing it would destroy it.
class CsvFile {
public:
    ~CsvFile() {
        if (m_file) std::fclose(m_file);
        if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    }

    // The rows' stream, or null with the reason in error.
    std::FILE* Open(const std::string& target, std::string& error) {
        std::error_code ignored;
        // A link keeps pointing at the new rows.
        m_target = std::filesystem::is_symlink(target, ignored) ? std::filesystem::canonical(target, ignored).string()
                                                                : target;
        if (m_target.empty()) m_target = target;
        struct stat existing = {};
        if (::stat(m_target.c_str(), &existing) != 0) return OpenReplacement(nullptr, error);
        if (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode)) return OpenDirectly(error);
        if (!S_ISREG(existing.st_mode)) {
            error = "it is neither a file, a FIFO nor a character device";
            return nullptr;
        }
        // Write permission, not that of the folder, says whether the rows may replace the file.
        if ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(m_target.c_str(), W_OK) != 0) {
            error = "the file is read-only; it was left as it is";
            return nullptr;
        }
        return OpenReplacement(&existing, error);
    }

    // Closes the rows and puts them in place; false when they could not all be written.
    bool Commit() {
        const bool written = std::fflush(m_file) == 0 && !std::ferror(m_file);
        const bool closed = std::fclose(m_file) == 0;
        m_file = nullptr;
        if (!written || !closed) return false;
        if (m_temporary.empty()) return true;
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) return false;
        m_temporary.clear();
        return true;
    }

private:
    std::FILE* Stream(int fd, std::string& error) {
        m_file = ::fdopen(fd, "w");
        if (!m_file) {
            error = std::strerror(errno);
            ::close(fd);
        }
        return m_file;
    }

    // A FIFO waits here for its reader; a stop signal ends the wait (the open fails).
    std::FILE* OpenDirectly(std::string& error) {
        const int fd = ::open(m_target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            error = std::strerror(errno);
            return nullptr;
        }
        return Stream(fd, error);
    }

    std::FILE* OpenReplacement(const struct stat* existing, std::string& error) {
        const std::filesystem::path path(m_target);
        std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            error = std::strerror(errno);
            return nullptr;
        }
        m_temporary = pattern;
        // mkstemp makes the file private; a new file gets the permissions any new file would have.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, existing ? existing->st_mode & 07777 : 0666 & ~mask);
        // Only root may hand the file back to its owner; anyone else's rows stay their own.
        [[maybe_unused]] const bool owned =
            existing && ::geteuid() == 0 && ::fchown(fd, existing->st_uid, existing->st_gid) == 0;
        return Stream(fd, error);
    }

    std::string m_target;
    std::string m_temporary;  // empty when the target is written directly
    std::FILE* m_file = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto exit = ParseOptions(argc, argv, options)) return FinishStandardOutput("mivex-track", *exit);
    CatchStopSignals();
    const UniqueFd writer = WaitForWriter(options.video.empty() ? options.cameraFile : options.video);
    if (g_stopSignal != 0) return 128 + g_stopSignal;

    // While opening, each video backend that declines the file and the cascade loader log their
    // own errors; they would only bury the one message that says what went wrong.
    const auto logLevel = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

    const bool fromCamera = options.camera >= 0 || !options.cameraFile.empty() || !options.cameraReplay.empty();
    FileSource file;
    if (!fromCamera && !file.Open(options.video)) {
        std::error_code error;
        const bool missing = !std::filesystem::exists(options.video, error);
        std::fprintf(stderr, "mivex-track: cannot read video %s%s\n", options.video.c_str(),
                     missing ? " (no such file)" : "");
        return 1;
    }

    if (!fromCamera) {
        if (const auto smallest = SmallestFrameFor(file.Size())) {
            std::fprintf(stderr, "mivex-track: frames of %dx%d are too small to track (at least %dx%d needed)\n",
                         file.Size().width, file.Size().height, smallest->width, smallest->height);
            return 1;
        }
    }

    std::unique_ptr<MappedPointer> pointer;
    try {
        if (options.map) pointer = std::make_unique<MappedPointer>(options.overrides);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mivex-track: %s\n", e.what());
        return 1;
    }
    // Without --map nothing is mapped: mouse control stays off in a mirror of defaults.
    CSettingsStore userSettings;
    CSettingsMirror unmapped;
    CSettingsStore& settings = pointer ? pointer->Store() : userSettings;

    StderrMessages messages;
    FrameMotion motion;
    FrameRows rows(motion, pointer.get());
    CEngine engine(pointer ? pointer->Mirror() : unmapped, settings, messages, nullptr,
                   {.detectEvery = options.detectEvery, .observer = &motion, .frames = &rows});
    if (engine.InitDetection() != 0) return 1;  // the sink has told why
    if (pointer) {
        engine.RegisterPointer(&pointer->Mouse());
        engine.LoadSpeedProfile();
    }
    CameraSource camera;
    if (fromCamera && !camera.Open(engine, options, settings)) return 1;
    cv::utils::logging::setLogLevel(logLevel);

    std::FILE* csv = stdout;
    CsvFile csvFile;
    if (!options.csv.empty()) {
        std::string error;
        csv = csvFile.Open(options.csv, error);
        if (!csv && g_stopSignal != 0) return 128 + g_stopSignal;  // while waiting for a FIFO's reader
        if (!csv) {
            std::fprintf(stderr, "mivex-track: cannot write %s: %s\n", options.csv.c_str(), error.c_str());
            return 1;
        }
    }
    // Progress would interleave with rows going to the same terminal.
    const bool showProgress = ::isatty(STDERR_FILENO) && !(options.csv.empty() && ::isatty(STDOUT_FILENO));
    rows.Start(engine, csv, showProgress);

    const auto start = std::chrono::steady_clock::now();
    bool fed = true;
    if (fromCamera) {
        fed = camera.FeedAll(engine, rows);
        if (!camera.FinishRecording()) fed = false;
    } else {
        engine.SetFrameSize(file.Size().width, file.Size().height);
        rows.frameTotal = file.FrameTotal();
        // A video is tracked faster than it was filmed: a head shake is timed by its frames.
        const double fps = file.FramesPerSecond();
        engine.HeadSwitch().SetClock([&rows, fps] { return rows.frames / fps; });
        fed = file.FeedAll(engine, rows, options.video, showProgress);
    }
    const int stopSignal = g_stopSignal;
    int exitCode = !fed ? 1 : stopSignal != 0 ? 128 + stopSignal : 0;
    // A camera that stopped delivering: its rate is that of the time it delivered.
    const auto end = fromCamera && !fed && rows.frames > 0 ? rows.lastFrame : std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(end - start).count();
    if (showProgress) std::fputs("\r\033[K", stderr);

    const bool csvFailed = csv == stdout ? std::fflush(csv) != 0 || std::ferror(csv) : !csvFile.Commit();
    if (csvFailed) {
        std::fprintf(stderr, "mivex-track: cannot write %s\n",
                     options.csv.empty() ? "to standard output" : options.csv.c_str());
        exitCode = 1;
    }

    const int frames = rows.frames;
    const int detectRuns = (frames + options.detectEvery - 1) / options.detectEvery;
    std::fprintf(stderr,
                 "mivex-track: %d frames, %d with motion, mean points %.2f, detections %d of %d, "
                 "elapsed %.3f s, %.1f fps (tracking %.3f ms per frame)\n",
                 frames, rows.framesWithMotion, frames ? static_cast<double>(rows.pointSum) / frames : 0.0,
                 rows.detections, detectRuns, elapsed, elapsed > 0 ? frames / elapsed : 0.0,
                 frames ? std::chrono::duration<double, std::milli>(rows.trackingTime).count() / frames : 0.0);
    return exitCode;
}
