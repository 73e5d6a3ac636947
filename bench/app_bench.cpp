// Costs of the settings store and the log, which pages and the capture thread call as they go.
#include <benchmark/benchmark.h>

#include "logging.h"
#include "settings_store.h"
#include "test_support.h"

namespace {

void BM_GetProfileInt(benchmark::State& state) {
    test::TempConfigHome home;
    CSettingsStore store;
    store.Write(Setting::kSliderLrMouse, 12);
    for (auto _ : state) benchmark::DoNotOptimize(store.ReadClamped(Setting::kSliderLrMouse));
}
BENCHMARK(BM_GetProfileInt);

void BM_WriteProfileInt(benchmark::State& state) {
    test::TempConfigHome home;
    CSettingsStore store;
    int value = 0;
    for (auto _ : state) store.Write(Setting::kSliderLrMouse, ++value % 20);
}
BENCHMARK(BM_WriteProfileInt);

void BM_LogLine(benchmark::State& state) {
    test::TempConfigHome home;
    std::filesystem::create_directory(home.path() / "data");
    CSettingsStore store;
    CLogging log(store, home.path() / "data");
    log.Open();
    for (auto _ : state) {
        log.Write("camera fps wanted: ", false);
        log.WriteInt(12, "", true);
    }
}
BENCHMARK(BM_LogLine);

}  // namespace
