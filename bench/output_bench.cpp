// The per-frame pointer step: smoothing over the whole history and one injected move.
#include <benchmark/benchmark.h>

#include "output/mouse.h"

namespace {

// Counts instead of recording, so that nothing grows while the benchmark runs.
class CountingInjector final : public IInputInjector {
public:
    void Send(const InputEvent& event) noexcept override {
        ++m_count;
        InputEvent seen = event;  // a non-const lvalue: the const overload is deprecated
        benchmark::DoNotOptimize(seen);
    }
    long long m_count = 0;
};

void BM_MouseMove(benchmark::State& state) {
    CSettingsMirror settings;
    settings.m_nSliderSmoothMouse = 10;
    CountingInjector injector;
    CMouse mouse(injector, settings);
    mouse.Move(0.0f, 0.0f);  // the flush to count 10, outside the timing
    injector.m_count = 0;
    float d = 1.25f;
    for (auto _ : state) {
        mouse.Move(d, -d);
        d = -d;
    }
    state.counters["events_per_move"] =
        benchmark::Counter(static_cast<double>(injector.m_count), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MouseMove);

}  // namespace
