// Costs of the settings store and the log, which pages and the capture thread call as they go.
#include <benchmark/benchmark.h>

#include "base/logging.h"
#include "base/settings_store.h"
#include "tests/support/test_support.h"

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

// A settings file of 10 MB (480,000 keys, as a runaway script could leave): a read must not parse
// it again while it is unchanged; a write rewrites it whole.
class LargeSettingsFile {
public:
    LargeSettingsFile() {
        std::string text = "[settings]\nsliderLrMouse=12\n";
        for (int i = 0; i < 480'000; ++i) {
            if (i % 1000 == 0) text += "[bulk" + std::to_string(i / 1000) + "]\n";
            text += "key" + std::to_string(i) + "=" + std::to_string(1'000'000 + i) + "\n";
        }
        test::WriteFile(m_home.SettingsFile(), text);
    }

private:
    test::TempConfigHome m_home;
};

void BM_GetProfileIntLargeFile(benchmark::State& state) {
    const LargeSettingsFile file;
    const CSettingsStore store;
    for (auto _ : state) benchmark::DoNotOptimize(store.ReadClamped(Setting::kSliderLrMouse));
}
BENCHMARK(BM_GetProfileIntLargeFile)->Unit(benchmark::kMicrosecond);

void BM_WriteProfileIntLargeFile(benchmark::State& state) {
    const LargeSettingsFile file;
    CSettingsStore store;
    int value = 0;
    for (auto _ : state) store.Write(Setting::kSliderLrMouse, ++value % 20);
}
BENCHMARK(BM_WriteProfileIntLargeFile)->Unit(benchmark::kMillisecond);

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
