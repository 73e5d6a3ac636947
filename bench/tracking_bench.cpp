// Costs on the capture path: one 640x480 frame through preparation and tracking, one head
// detection on the 160x120 reduced frame, and the webcam's whole road from MJPEG frames to the
// pointer, beside the road it replaced. Medians are the figures to compare:
//
//   tracking_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
//
// The counter allocs_per_frame (allocs_per_call for detection) counts heap allocations made by
// any thread while the measured call runs, after warm-up (see CountingHeap below), split into
// allocs_ours_per_frame, made by our code, and allocs_libs_per_frame, made inside the shared
// libraries' calls (OpenCV, libjpeg-turbo); heap_growth_per_frame is the change in heap bytes in
// use over the run, per frame: a leak or a cache that keeps growing shows there even when every
// allocation is also freed.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "base/camera_frame.h"
#include "base/settings_store.h"
#include "capture/replay_v4l2.h"
#include "engine/engine.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "tests/support/frame_counter.h"
#include "tests/support/test_support.h"
#include "tools/sequence/synthetic_sequence.h"
#include "tracking/feature_tracker.h"
#include "tracking/head_detect.h"
#include "tracking/thread_camera.h"
#include "tracking/tracking_state.h"

// ---------------------------------------------------------------------------------------------
// CountingHeap: counts heap allocations by whose code asked for them, ours or the shared
// libraries' (OpenCV, libjpeg-turbo, ...). OpenCV takes its buffers with posix_memalign, C++
// containers take theirs through operator new; both are replaced here for the whole process and
// hand every call on to glibc's own entry points, so the allocator itself is unchanged: only a
// relaxed counter is added. free, operator delete and the rarer entry points left out here go
// straight to the same glibc heap. The caller is told by its return address: our libraries are
// static, so our code is this executable's; the rest is in shared objects. What the C or C++
// runtime allocates on our behalf (strdup, an out-of-line std::string member) counts as theirs.
// Sanitizer runtimes supply their own malloc, so there the counters read -1.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MIVEX_COUNT_ALLOCATIONS 0
#else
#define MIVEX_COUNT_ALLOCATIONS 1
#endif

namespace {

struct Allocations {
    std::uint64_t ours = 0;
    std::uint64_t libraries = 0;
};

std::atomic<std::uint64_t> g_ours{0};
std::atomic<std::uint64_t> g_libraries{0};

Allocations CountedAllocations() {
    return {g_ours.load(std::memory_order_relaxed), g_libraries.load(std::memory_order_relaxed)};
}

}  // namespace

#if MIVEX_COUNT_ALLOCATIONS
extern "C" {
// The linker's bounds of this executable's code.
extern const char __executable_start;
extern const char etext;

void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

void Count(const void* caller) {
    const bool ours = caller >= &__executable_start && caller < &etext;
    (ours ? g_ours : g_libraries).fetch_add(1, std::memory_order_relaxed);
}

void* AlignedNew(std::size_t size, std::align_val_t alignment) {
    void* pointer = __libc_memalign(static_cast<std::size_t>(alignment), size);
    if (!pointer) throw std::bad_alloc();
    return pointer;
}

void* New(std::size_t size) {
    void* pointer = __libc_malloc(size);
    if (!pointer) throw std::bad_alloc();
    return pointer;
}

}  // namespace

#define MIVEX_CALLER __builtin_return_address(0)

extern "C" {
void* malloc(std::size_t size) noexcept {
    Count(MIVEX_CALLER);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    Count(MIVEX_CALLER);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) noexcept {
    Count(MIVEX_CALLER);
    return __libc_realloc(pointer, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    Count(MIVEX_CALLER);
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *out = pointer;
    return 0;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    Count(MIVEX_CALLER);
    return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    Count(MIVEX_CALLER);
    return __libc_memalign(alignment, size);
}
}  // extern "C"

// Every form, so none reaches the runtime's own, whose call to the plain form would hide the caller.
void* operator new(std::size_t size) {
    Count(MIVEX_CALLER);
    return New(size);
}
void* operator new[](std::size_t size) {
    Count(MIVEX_CALLER);
    return New(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    Count(MIVEX_CALLER);
    return __libc_malloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    Count(MIVEX_CALLER);
    return __libc_malloc(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    Count(MIVEX_CALLER);
    return AlignedNew(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    Count(MIVEX_CALLER);
    return AlignedNew(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    Count(MIVEX_CALLER);
    return __libc_memalign(static_cast<std::size_t>(alignment), size);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    Count(MIVEX_CALLER);
    return __libc_memalign(static_cast<std::size_t>(alignment), size);
}
#endif

namespace {

// Bytes the C heap holds for the program (small blocks and mapped ones), to see growth over a run.
double HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// Sets name_per, name_ours_per and name_libs_per (e.g. allocs_per_frame) to the counts per call.
void ReportAllocations(benchmark::State& state, const std::string& per, const Allocations& counted) {
    const auto perCall = [&](std::uint64_t allocations) {
        if (!MIVEX_COUNT_ALLOCATIONS) return -1.0;
        const auto calls = static_cast<double>(state.iterations());
        return calls > 0 ? static_cast<double>(allocations) / calls : 0.0;
    };
    state.counters["allocs_" + per] = perCall(counted.ours + counted.libraries);
    state.counters["allocs_ours_" + per] = perCall(counted.ours);
    state.counters["allocs_libs_" + per] = perCall(counted.libraries);
}

// The allocations counted since an earlier reading.
Allocations operator-(const Allocations& now, const Allocations& before) {
    return {now.ours - before.ours, now.libraries - before.libraries};
}
Allocations& operator+=(Allocations& sum, const Allocations& more) {
    sum.ours += more.ours;
    sum.libraries += more.libraries;
    return sum;
}

// ---------------------------------------------------------------------------------------------

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kSampleFrames = 64;
constexpr int kDetectEvery = 10;

using Sample = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

class SilentMessages : public IMessageSink {
public:
    void Show(const std::string& text) override { last = text; }
    std::string last;
};

class NullMotion : public IMotionSink {
public:
    void MapMotion(int summed, float sumX, float sumY, int) override { Keep(summed, sumX, sumY); }
    void MapMotionProfile(int summed, float sumX, float sumY, int) override { Keep(summed, sumX, sumY); }

private:
    void Keep(int summed, float sumX, float sumY) {
        benchmark::DoNotOptimize(summed);
        benchmark::DoNotOptimize(sumX);
        benchmark::DoNotOptimize(sumY);
    }
};

// The "circle" sequence in the capture layout, and what detection finds on each frame: the
// reduced image and the published head rectangle. Made once, before any timing.
struct CircleSamples {
    std::vector<Sample> samples;
    std::vector<cv::Mat> greys;  // each sample's grey image
    std::vector<cv::Mat> reduced;
    std::vector<HeadRect> heads;
    int detectScale = 1;
    std::string error;  // why the samples could not be made
};

const CircleSamples& Circle() {
    static const CircleSamples circle = [] {
        UseSequentialOpenCv();  // as the program runs it
        CircleSamples made;
        const SyntheticSequence sequence(Trajectory::Circle, kSampleFrames, {kWidth, kHeight});
        CTrackingState state;
        SilentMessages messages;
        CHeadDetect detect(state.m_detect, messages);
        if (detect.Init() != 0) {
            made.error = messages.last;
            return made;
        }
        // Frame preparation makes the reduced frame, exactly as for the detection thread.
        CThreadCamera camera(state, nullptr, kWidth, kHeight);
        for (int i = 0; i < kSampleFrames; ++i) {
            Sample sample;
            ToCaptureLayout(sequence.Frame(i), sample);
            ColourFrame frame(sample.data(), kWidth, kHeight);
            state.m_detect.Request();
            camera.ProcessFrame(frame);
            detect.Detect(state.m_detect.Image(), state.m_detect.Scale());
            if (!state.m_detect.m_bHeadFound) {
                made.error = "no face detected on frame " + std::to_string(i) + " of the circle sequence";
                return made;
            }
            cv::Mat grey;
            cv::cvtColor(CaptureImage(sample.data(), kWidth, kHeight), grey, cv::COLOR_BGR2GRAY);
            made.greys.push_back(grey);
            made.samples.push_back(std::move(sample));
            made.reduced.push_back(state.m_detect.Image().clone());
            made.heads.push_back(state.m_detect.m_rcHead.Load());
        }
        made.detectScale = state.m_detect.Scale();
        return made;
    }();
    return circle;
}

// Frames 0..63..1, 0..: the face moves back and forth, without the jump a plain loop would add.
int PingPong(std::int64_t step) {
    constexpr int kPeriod = 2 * (kSampleFrames - 1);
    const int phase = static_cast<int>(step % kPeriod);
    return phase < kSampleFrames ? phase : kPeriod - phase;
}

// Frame preparation and tracking as on the capture thread, with the detection thread's results
// published by hand every kDetectEvery frames (outside the measured time), so the tracker keeps
// seeding points and never halts for want of news. Those frames are also asked for the reduced
// frame, as the driver asks for it, though no detection runs on it here.
class FrameChain {
public:
    // greyFirst: frames as a camera's decoder hands them (see GreyFirstFrame); else colour frames.
    explicit FrameChain(bool greyFirst)
        : m_greyFirst(greyFirst), m_tracker(m_state, &m_motion), m_camera(m_state, &m_tracker, kWidth, kHeight) {
        m_state.m_bLiveView = false;
    }

    // Everything one frame needs before the measured call.
    void Prepare(std::int64_t step) {
        const CircleSamples& circle = Circle();
        const int frame = PingPong(step);
        if (step % kDetectEvery == 0) {
            m_state.m_detect.PublishHead(circle.heads[frame]);
            m_state.m_detect.Request();  // so the chain also makes the reduced frame
        }
        if (m_greyFirst)
            m_frame = &m_decoded.emplace(circle.greys[frame], circle.samples[frame]);
        else
            m_frame = &m_colour.emplace(circle.samples[frame].data(), kWidth, kHeight);
    }

    void Process() { m_camera.ProcessFrame(*m_frame); }

    int Points() const { return m_state.m_iPointCount; }

private:
    // A frame as a camera's decoder hands it: its grey image written straight into place (copied
    // here from the plane made beforehand; BM_WebcamRoad measures real decoding), its colour only
    // when asked.
    class GreyFirstFrame final : public CameraFrame {
    public:
        GreyFirstFrame(const cv::Mat& grey, const Sample& colour)
            : CameraFrame(grey.cols, grey.rows), m_grey(grey), m_colour(colour) {}
        bool Grey(cv::Mat& grey) override {
            m_grey.copyTo(grey);
            return Succeed();
        }
        const std::uint8_t* Colour() override { return m_colour.data(); }

    private:
        const cv::Mat& m_grey;
        const Sample& m_colour;
    };

    const bool m_greyFirst;
    CTrackingState m_state;
    NullMotion m_motion;
    CFeatureTracker m_tracker;
    CThreadCamera m_camera;
    std::optional<ColourFrame> m_colour;
    std::optional<GreyFirstFrame> m_decoded;
    CameraFrame* m_frame = nullptr;
};

bool CheckSamples(benchmark::State& state) {
    const CircleSamples& circle = Circle();
    if (circle.error.empty()) return true;
    state.SkipWithError(("cannot prepare the circle sequence: " + circle.error).c_str());
    return false;
}

// ProcessFrame on one frame: the reduced frame on every 10th, tracking about 10 points.
void RunFrameChain(benchmark::State& state, bool greyFirst) {
    if (!CheckSamples(state)) return;
    FrameChain chain(greyFirst);
    std::int64_t step = 0;
    // Long enough for the point count to settle and for every buffer to exist.
    for (; step < 4 * kSampleFrames; ++step) {
        chain.Prepare(step);
        chain.Process();
    }

    Allocations allocations;
    std::int64_t pointSum = 0;
    const double heapBefore = HeapInUse();
    for (auto _ : state) {
        chain.Prepare(step++);
        const Allocations allocationsBefore = CountedAllocations();
        const Clock::time_point start = Clock::now();
        chain.Process();
        const Clock::time_point end = Clock::now();
        allocations += CountedAllocations() - allocationsBefore;
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        pointSum += chain.Points();
    }
    ReportAllocations(state, "per_frame", allocations);
    state.counters["heap_growth_per_frame"] = (HeapInUse() - heapBefore) / static_cast<double>(state.iterations());
    state.counters["points"] = static_cast<double>(pointSum) / static_cast<double>(state.iterations());
}
// Colour frames (a video file, an RGB camera): the chain converts them to grey.
void BM_FrameChain(benchmark::State& state) { RunFrameChain(state, false); }
BENCHMARK(BM_FrameChain)->UseManualTime()->Unit(benchmark::kMillisecond);
// Frames whose decoder writes their grey image (MJPEG, YUV webcams).
void BM_FrameChainGreyFirst(benchmark::State& state) { RunFrameChain(state, true); }
BENCHMARK(BM_FrameChainGreyFirst)->UseManualTime()->Unit(benchmark::kMillisecond);

// One detection on the reduced frame, cycling through the sequence's frames.
void BM_HeadDetect(benchmark::State& state) {
    if (!CheckSamples(state)) return;
    const CircleSamples& circle = Circle();
    CTrackingState tracking;
    SilentMessages messages;
    CHeadDetect detect(tracking.m_detect, messages);
    if (detect.Init() != 0) {
        state.SkipWithError(messages.last.c_str());
        return;
    }
    detect.Detect(circle.reduced[0], circle.detectScale);  // first use sets up the cascade's buffers

    std::int64_t step = 0;
    int found = 0;
    const Allocations allocationsBefore = CountedAllocations();
    for (auto _ : state) {
        detect.Detect(circle.reduced[PingPong(step++)], circle.detectScale);
        found += tracking.m_detect.m_bHeadFound ? 1 : 0;
    }
    ReportAllocations(state, "per_call", CountedAllocations() - allocationsBefore);
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
// The cascade runs on OpenCV's worker threads too, so wall time is the figure that counts.
BENCHMARK(BM_HeadDetect)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// The webcam's road: 640x480 MJPEG frames (the circle sequence there and back, JPEG at quality
// 80) from a replayed camera through the V4L2 layer's streaming and decoding, then preparation,
// tracking and the mapping to the pointer with mouse control on, into a recording injector,
// with head detection inline on every 9th frame (every 300 ms at 30 frames a second). The
// layer's thread runs the road, so the figure is the whole process's CPU time per frame.

constexpr int kRoadDetectEvery = 9;
constexpr int kJpegQuality = 80;
constexpr int kRoadWarmUpFrames = 4 * kSampleFrames;

const std::vector<Sample>& JpegFrames() {
    static const std::vector<Sample> frames = [] {
        const SyntheticSequence sequence(Trajectory::Circle, kSampleFrames, {kWidth, kHeight});
        std::vector<Sample> encoded(2 * (kSampleFrames - 1));
        for (std::size_t step = 0; step < encoded.size(); ++step)
            cv::imencode(".jpg", sequence.Frame(PingPong(static_cast<std::int64_t>(step))), encoded[step],
                         {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
        return encoded;
    }();
    return frames;
}

// The program's road from a frame on, with default settings (none of the user's), counting the
// frames it has taken.
class MappedRoad final : public test::FrameCounter {
public:
    MappedRoad()
        : m_mouse(m_injector, m_mirror),
          m_engine(m_mirror, m_store, m_messages, nullptr, {.detectEvery = kRoadDetectEvery, .frames = this}) {
        UseSequentialOpenCv();  // as the program runs it
        m_mirror.Load(m_store);
        m_mirror.m_bMouseActive = true;
        m_engine.RegisterPointer(&m_mouse);
    }

    // Loads the cascade; false, with the reason given to state, when it cannot.
    bool Init(benchmark::State& state) {
        if (m_engine.InitDetection() == 0) return true;
        state.SkipWithError(m_messages.last.c_str());
        return false;
    }
    CEngine& Engine() { return m_engine; }

    void AfterFrame() override {
        m_injector.Clear();  // the recording would grow by every frame's moves
        FrameCounter::AfterFrame();
    }

private:
    test::TempConfigHome m_home;
    CSettingsStore m_store;
    CSettingsMirror m_mirror;
    CRecordingInjector m_injector;
    CMouse m_mouse;
    SilentMessages m_messages;
    CEngine m_engine;
};

void BM_WebcamRoad(benchmark::State& state) {
    MappedRoad road;
    if (!road.Init(state)) return;
    auto owned = ReplayV4l2::Webcam(V4L2_PIX_FMT_MJPEG, {kWidth, kHeight}, JpegFrames());
    ReplayV4l2& camera = *owned;
    CEngine& engine = road.Engine();
    if (engine.OpenCamera(std::make_unique<CV4l2Capture>(std::move(owned)), 0, kWidth, 30) != 1 ||
        !engine.AttachCamera(1) || !engine.RunCamera()) {
        state.SkipWithError("the replayed camera does not start");
        return;
    }
    std::int64_t frames = kRoadWarmUpFrames;
    camera.Release(kRoadWarmUpFrames);
    if (!road.WaitFor(frames)) {
        state.SkipWithError("the replayed camera delivers no frames");
        return;
    }

    const Allocations allocationsBefore = CountedAllocations();
    for (auto _ : state) {
        camera.Release(1);
        if (!road.WaitFor(++frames)) {
            state.SkipWithError("the replayed camera stopped delivering");
            break;
        }
    }
    ReportAllocations(state, "per_frame", CountedAllocations() - allocationsBefore);
}
BENCHMARK(BM_WebcamRoad)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// The road before frames were handed undecoded, frozen as the baseline: OpenCV decoded every
// frame to colour, the capture layer copied it into bottom-up rows and preparation turned them
// back in place; the tracker then converted the colour frame to grey.
class TodaysRoad {
public:
    void Feed(CEngine& engine, const Sample& jpeg) {
        cv::imdecode(jpeg, cv::IMREAD_COLOR, &m_decoded);
        m_sample.assign(CaptureFrameLength(kWidth, kHeight), 0);
        cv::Mat bottomUp(kHeight, kWidth, CV_8UC3, m_sample.data(), CaptureRowStep(kWidth));
        cv::flip(m_decoded, bottomUp, 0);
        cv::flip(bottomUp, bottomUp, 0);
        ColourFrame frame(m_sample.data(), kWidth, kHeight);
        engine.Feed(frame);
    }

private:
    cv::Mat m_decoded;
    Sample m_sample;
};

void BM_WebcamRoadToday(benchmark::State& state) {
    MappedRoad road;
    if (!road.Init(state)) return;
    CEngine& engine = road.Engine();
    engine.SetFrameSize(kWidth, kHeight);
    const std::vector<Sample>& frames = JpegFrames();
    TodaysRoad today;
    std::size_t next = 0;
    for (int i = 0; i < kRoadWarmUpFrames; ++i) today.Feed(engine, frames[next++ % frames.size()]);

    const Allocations allocationsBefore = CountedAllocations();
    for (auto _ : state) today.Feed(engine, frames[next++ % frames.size()]);
    ReportAllocations(state, "per_frame", CountedAllocations() - allocationsBefore);
}
BENCHMARK(BM_WebcamRoadToday)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace
