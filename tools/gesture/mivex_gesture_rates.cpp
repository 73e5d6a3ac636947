// mivex-gesture-rates: how often the head shake that switches control fires when nobody shook
// (false triggers an hour) and how often it does not fire when somebody did (misses), on
// generated head paths fed to the detector and on videos run through the program's frame road.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "base/camera_frame.h"
#include "base/message_sink.h"
#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "engine/engine.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "tools/common/command_line.h"
#include "tools/sequence/head_motion.h"
#include "tools/sequence/synthetic_sequence.h"
#include "tracking/shake_detector.h"

namespace {

constexpr const char* kUsage =
    "Usage: mivex-gesture-rates [--hours H] [--trials N] [--tracked-minutes M] [--video FILE]...\n"
    "                           [--fps F] [--direct] [--rule NAME=VALUE]...\n"
    "Counts the head shake's false triggers an hour and its misses:\n"
    "  1. generated ordinary head motion (resting, reading, pointing, looking around, talking,\n"
    "     and all mixed), H hours of each (default 2), fed to the detector as positions;\n"
    "  2. N generated shakes (default 40) at each of three speeds and three sizes, each after\n"
    "     15 to 40 s of pointing, fed the same way;\n"
    "  3. rendered face videos through the program's frame road (head detection, point tracking,\n"
    "     the switch): M minutes of ordinary motion (default 10), every shake speed and size\n"
    "     (5 each), a minute of each of the other generated trajectories, and every FILE given\n"
    "     (taken to hold no shake: any switch counts as false). M = 0: the FILEs only.\n"
    "  --direct leaves out 3, which takes minutes.\n"
    "  --rule changes one of the detector's rules in 1 and 2, to try others: window, shortest,\n"
    "  turnRest, rangeShare, rangeSeconds, smallestSwing, largestSwing, verticalShare, refractory.\n"
    "Positions are pixels of a 640-pixel-wide picture, F frames a second (default 30; the\n"
    "program asks cameras for 12): the rendered sequences, made at 30, are sampled at F.\n";

// The generated sequences' frame rate; the runs sample them at g_fps.
constexpr double kSequenceFps = 30;
double g_fps = 30;
// A shake found this long after the generated one ended still counts as found.
constexpr double kLateSeconds = 0.3;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "mivex-gesture-rates: %s\n%s", message.c_str(), kUsage);
    return 2;
}

// The detector's rules in the generated runs; the frame road has the program's own.
CShakeDetector::Rules g_rules;

bool SetRule(std::string_view assignment) {
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string name(assignment.substr(0, equals)), text(assignment.substr(equals + 1));
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') return false;
    CShakeDetector::Rules& r = g_rules;
    const std::pair<const char*, double*> doubles[] = {
        {"window", &r.window},         {"shortest", &r.shortest},         {"turnRest", &r.turnRest},
        {"rangeShare", &r.rangeShare}, {"rangeSeconds", &r.rangeSeconds}, {"refractory", &r.refractory}};
    const std::pair<const char*, float*> floats[] = {
        {"smallestSwing", &r.smallestSwing}, {"largestSwing", &r.largestSwing}, {"verticalShare", &r.verticalShare}};
    for (const auto& [key, field] : doubles)
        if (name == key) return *field = value, true;
    for (const auto& [key, field] : floats)
        if (name == key) return *field = static_cast<float>(value), true;
    return false;
}

double PerHour(int count, double seconds) { return seconds > 0 ? count * 3600.0 / seconds : 0; }

// The frames on which the detector fired.
std::vector<int> Triggers(const HeadPath& path) {
    CShakeDetector detector(g_rules);
    std::vector<int> frames;
    for (std::size_t i = 0; i < path.at.size(); ++i)
        if (detector.Feed(static_cast<double>(i) / g_fps, static_cast<float>(path.at[i].x),
                          static_cast<float>(path.at[i].y)))
            frames.push_back(static_cast<int>(i));
    return frames;
}

struct ShakeCount {
    int made = 0, missed = 0, falseTriggers = 0;
    double seconds = 0;  // of the path
};

// Misses among the path's shakes, and triggers outside every shake.
ShakeCount CountShakes(const HeadPath& path, double fps, const std::vector<int>& triggers,
                       const ShakeStyle* only = nullptr, const std::vector<ShakeStyle>* styles = nullptr) {
    ShakeCount count;
    count.seconds = static_cast<double>(path.at.size()) / fps;
    const int late = static_cast<int>(kLateSeconds * fps);
    for (int frame : triggers) {
        bool inside = false;
        for (const auto& [first, last] : path.shakes) inside = inside || (frame >= first && frame <= last + late);
        count.falseTriggers += !inside;
    }
    for (std::size_t k = 0; k < path.shakes.size(); ++k) {
        if (only && styles && ((*styles)[k].hertz != only->hertz || (*styles)[k].swing != only->swing)) continue;
        const auto [first, last] = path.shakes[k];
        bool found = false;
        for (int frame : triggers) found = found || (frame >= first && frame <= last + late);
        ++count.made;
        count.missed += !found;
    }
    return count;
}

void DirectOrdinary(double hours) {
    std::printf("Ordinary head motion, generated, fed to the detector (%.1f h of each):\n", hours);
    std::printf("  %-16s %8s %10s\n", "activity", "triggers", "per hour");
    int total = 0;
    double seconds = 0;
    std::uint64_t seed = 1;
    for (HeadActivity activity : {HeadActivity::Resting, HeadActivity::Reading, HeadActivity::Pointing,
                                  HeadActivity::LookingAround, HeadActivity::Talking, HeadActivity::Mixed}) {
        const HeadPath path = OrdinaryHeadPath(activity, hours * 3600, g_fps, seed++);
        const int triggers = static_cast<int>(Triggers(path).size());
        std::printf("  %-16s %8d %10.2f\n", std::string(ActivityName(activity)).c_str(), triggers,
                    PerHour(triggers, hours * 3600));
        total += triggers;
        seconds += hours * 3600;
    }
    std::printf("  %-16s %8d %10.2f   (%.1f h)\n\n", "all", total, PerHour(total, seconds), seconds / 3600);
}

void DirectShakes(int trials) {
    std::printf("Shakes, generated, each after 15-40 s of pointing, fed to the detector (%d of each):\n", trials);
    std::vector<ShakeStyle> styles;
    for (int n = 0; n < trials; ++n) styles.insert(styles.end(), kSequenceShakes.begin(), kSequenceShakes.end());
    const HeadPath path = ShakingHeadPath(styles, g_fps, 7);
    const std::vector<int> triggers = Triggers(path);
    std::printf("  %-8s %-7s %7s %7s\n", "speed", "swing", "missed", "of");
    int made = 0, missed = 0;
    for (const ShakeStyle& style : kSequenceShakes) {
        const ShakeCount c = CountShakes(path, g_fps, triggers, &style, &styles);
        std::printf("  %4.2f Hz %4.0f px %7d %7d\n", style.hertz, style.swing, c.missed, c.made);
        made += c.made, missed += c.missed;
    }
    const ShakeCount all = CountShakes(path, g_fps, triggers);
    std::printf(
        "  all: %d missed of %d (%.1f %%); %d false triggers in %.1f h of the pointing between (%.2f an hour)\n\n",
        missed, made, 100.0 * missed / std::max(made, 1), all.falseTriggers, all.seconds / 3600,
        PerHour(all.falseTriggers, all.seconds));
}

class QuietMessages : public IMessageSink {
public:
    void Show(const std::string& text) override { std::fprintf(stderr, "mivex-gesture-rates: %s\n", text.c_str()); }
};

// The program's frame road with the shake switch on, head control on, and a pointer that records
// instead of moving; frames are timed by their number.
class Road {
public:
    Road() : m_mouse(m_injector, m_mirror) {
        m_mirror.Load(m_store);
        m_mirror.m_bShakeToggle = true;
        m_mirror.m_bMouseActive = true;
        m_engine.RegisterPointer(&m_mouse);
        m_engine.HeadSwitch().SetClock([this] { return static_cast<double>(m_frame) / m_fps; });
        if (m_engine.InitDetection() != 0) throw std::runtime_error("head detection could not start");
    }

    int tracked = 0;  // frames with points on the head

    // The frames on which control was switched.
    template <typename NextFrame>
    std::vector<int> Run(cv::Size size, double fps, NextFrame next) {
        m_fps = fps;
        m_engine.SetFrameSize(size.width, size.height);
        std::vector<int> switches;
        std::vector<std::uint8_t> sample;
        cv::Mat bgr;
        for (m_frame = 0; next(m_frame, bgr); ++m_frame) {
            ToCaptureLayout(bgr, sample);
            ColourFrame frame(sample.data(), size.width, size.height);
            const int before = m_engine.HeadSwitch().Switches();
            m_engine.Feed(frame);
            m_injector.Clear();
            if (m_engine.HeadSwitch().Switches() != before) switches.push_back(m_frame);
            tracked += m_engine.Status().points > 0;
        }
        return switches;
    }

private:
    CSettingsStore m_store;
    CSettingsMirror m_mirror;
    QuietMessages m_messages;
    CEngine m_engine{m_mirror, m_store, m_messages, nullptr, {.detectEvery = 10}};
    CRecordingInjector m_injector;
    CMouse m_mouse;
    int m_frame = 0;
    double m_fps = kSequenceFps;
};

// The sequence sampled at g_fps; the frames of the sequence on which control was switched.
std::vector<int> RunSequence(const SyntheticSequence& sequence) {
    const auto source = [](int k) { return static_cast<int>(std::lround(k * kSequenceFps / g_fps)); };
    Road road;
    std::vector<int> switches = road.Run(sequence.FrameSize(), g_fps, [&](int k, cv::Mat& bgr) {
        if (source(k) >= sequence.FrameCount()) return false;
        bgr = sequence.Frame(source(k));
        return true;
    });
    for (int& k : switches) k = source(k);
    return switches;
}

void TrackedSequences(double minutes) {
    const int ordinaryFrames = static_cast<int>(minutes * 60 * kSequenceFps);
    {
        const std::vector<int> switches = RunSequence(SyntheticSequence(Trajectory::Ordinary, ordinaryFrames));
        std::printf("  ordinary motion, %.1f min: %zu false triggers (%.2f an hour)\n", minutes, switches.size(),
                    PerHour(static_cast<int>(switches.size()), ordinaryFrames / kSequenceFps));
    }

    // Five rounds of the nine shakes, each with its rests and its move right and back.
    constexpr int kRounds = 5;
    int frames = 0;
    while (static_cast<int>(ShakesSequencePath(frames).shakes.size()) < kRounds * 9) frames += 300;
    const HeadPath path = ShakesSequencePath(frames);
    const std::vector<int> switches = RunSequence(SyntheticSequence(Trajectory::Shakes, frames));
    std::vector<ShakeStyle> styles;
    for (std::size_t k = 0; k < path.shakes.size(); ++k) styles.push_back(kSequenceShakes[k % kSequenceShakes.size()]);
    int made = 0, missed = 0;
    std::printf("  shakes:");
    for (const ShakeStyle& style : kSequenceShakes) {
        const ShakeCount c = CountShakes(path, kSequenceFps, switches, &style, &styles);
        std::printf(" %.2f Hz %.0f px %d/%d;", style.hertz, style.swing, c.missed, c.made);
        made += c.made, missed += c.missed;
    }
    const ShakeCount all = CountShakes(path, kSequenceFps, switches);
    std::printf("\n  shakes: %d missed of %d (%.1f %%), %d switches elsewhere\n", missed, made,
                100.0 * missed / std::max(made, 1), all.falseTriggers);

    for (Trajectory t : {Trajectory::Circle, Trajectory::Sweep, Trajectory::Brightness, Trajectory::Rests}) {
        const int count =
            static_cast<int>(RunSequence(SyntheticSequence(t, static_cast<int>(60 * kSequenceFps))).size());
        std::printf("  %s, 1 min: %d false triggers\n", std::string(TrajectoryName(t)).c_str(), count);
    }
}

void Tracked(double minutes, const std::vector<std::string>& videos) {
    std::printf("Through the frame road (head detection, point tracking, the switch):\n");
    if (minutes > 0) TrackedSequences(minutes);
    for (const std::string& file : videos) {
        cv::VideoCapture video(file);
        if (!video.isOpened()) {
            std::printf("  %s: cannot be read\n", file.c_str());
            continue;
        }
        const double fps = video.get(cv::CAP_PROP_FPS) > 0 ? video.get(cv::CAP_PROP_FPS) : kSequenceFps;
        cv::Mat first;
        video.read(first);
        Road road;
        int count = 0;
        const std::vector<int> found = road.Run(first.size(), fps, [&](int i, cv::Mat& bgr) {
            if (i > 0 && !video.read(first)) return false;
            if (first.channels() == 1) cv::cvtColor(first, first, cv::COLOR_GRAY2BGR);
            bgr = first;
            count = i + 1;
            return true;
        });
        std::printf("  %s, %.1f s at %.0f fps, head followed on %d of %d frames: %zu false triggers", file.c_str(),
                    count / fps, fps, road.tracked, count, found.size());
        for (std::size_t k = 0; k < found.size(); ++k) std::printf("%s%d", k ? ", " : " (at frames ", found[k]);
        std::printf("%s\n", found.empty() ? "" : ")");
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    double hours = 2, minutes = 10;
    int trials = 40;
    std::vector<std::string> videos;
    bool direct = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--direct") {
            direct = true;
            continue;
        }
        if (option == "--rule" && i + 1 < argc) {
            if (!SetRule(argv[++i]))
                return UsageError("--rule needs NAME=VALUE with a known name, not " + std::string(argv[i]));
            continue;
        }
        if (option != "--hours" && option != "--trials" && option != "--tracked-minutes" && option != "--video" &&
            option != "--fps")
            return UsageError("unknown option " + std::string(option));
        if (i + 1 >= argc) return UsageError(std::string(option) + " needs a value");
        const std::string value = argv[++i];
        if (option == "--video") {
            videos.push_back(value);
            continue;
        }
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0' || number < 0)
            return UsageError(std::string(option) + " needs a number, not '" + value + "'");
        if (option == "--hours") hours = number;
        if (option == "--tracked-minutes") minutes = number;
        if (option == "--trials") trials = static_cast<int>(number);
        if (option == "--fps") {
            if (number < 1) return UsageError("--fps needs at least 1");
            g_fps = number;
        }
    }

    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it is measured
    // The frame road reads the speed profile from a settings store: a private, empty one.
    std::string folder = (std::filesystem::temp_directory_path() / "mivex-gesture-XXXXXX").string();
    if (!::mkdtemp(folder.data())) return UsageError("cannot make a temporary folder");
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    int code = 0;
    try {
        if (hours > 0) DirectOrdinary(hours);
        if (trials > 0) DirectShakes(trials);
        if (!direct) Tracked(minutes, videos);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mivex-gesture-rates: %s\n", e.what());
        code = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return code;
}
