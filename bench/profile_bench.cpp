// Cost of the speed factor lookup, which the capture thread calls twice per frame.
#include <benchmark/benchmark.h>

#include "profile/speed_profile.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kSweepFrom = -100;
constexpr int kSweepTo = 100;
constexpr int kLookupsPerSweep = 2 * (kSweepTo - kSweepFrom + 1);

// One iteration sweeps indices -100..100 on both axes; "per_lookup" is the time of one lookup.
void BM_GetSpeedFactor(benchmark::State& state) {
    test::TempConfigHome home;
    CSettingsStore store;
    for (int i = 0; i < Setting::kProfilePointsPerSide; ++i) {
        store.Write(Setting::kProfilePoints[0][i], kSpeedProfileTemplates[1].points[i]);
        store.Write(Setting::kProfilePoints[1][Setting::kProfilePointsPerSide + i],
                    kSpeedProfileTemplates[1].points[i]);
    }
    CSpeedProfile profile(store);
    profile.BuildSpeedTables();
    for (auto _ : state) {
        for (int index = kSweepFrom; index <= kSweepTo; ++index) {
            benchmark::DoNotOptimize(profile.GetSpeedFactor(0, index));
            benchmark::DoNotOptimize(profile.GetSpeedFactor(1, index));
        }
    }
    state.SetItemsProcessed(state.iterations() * kLookupsPerSweep);
    state.counters["per_lookup"] = benchmark::Counter(
        kLookupsPerSweep, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GetSpeedFactor);

}  // namespace
