// Costs on the capture path: one 640x480 frame through preparation and tracking, and one head
// detection on the 160x120 reduced frame. Medians are the figures to compare:
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

#include "camera_frame.h"
#include "feature_tracker.h"
#include "head_detect.h"
#include "synthetic_sequence.h"
#include "thread_camera.h"
#include "tracking_state.h"

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
    FrameChain() : m_tracker(m_state, &m_motion), m_camera(m_state, &m_tracker, kWidth, kHeight) {
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
        m_frame.emplace(circle.samples[frame].data(), kWidth, kHeight);
    }

    void Process() { m_camera.ProcessFrame(*m_frame); }

    int Points() const { return m_state.m_iPointCount; }

private:
    CTrackingState m_state;
    NullMotion m_motion;
    CFeatureTracker m_tracker;
    CThreadCamera m_camera;
    std::optional<ColourFrame> m_frame;
};

bool CheckSamples(benchmark::State& state) {
    const CircleSamples& circle = Circle();
    if (circle.error.empty()) return true;
    state.SkipWithError(("cannot prepare the circle sequence: " + circle.error).c_str());
    return false;
}

// ProcessFrame on one colour frame: the reduced frame on every 10th, tracking about 10 points.
void BM_FrameChain(benchmark::State& state) {
    if (!CheckSamples(state)) return;
    FrameChain chain;
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
BENCHMARK(BM_FrameChain)->UseManualTime()->Unit(benchmark::kMillisecond);

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

}  // namespace
