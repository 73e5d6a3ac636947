// The local socket: the frame thread's cost of a sample, a client's round trip for one "xy" on a
// stream that is ahead (the server never waits), and how long the server takes to stop while a
// client waits for a sample.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "output/pipe_socket.h"
#include "output/sdk.h"
#include "output/thread_pipe.h"
#include "tests/support/test_support.h"

namespace {

struct Server {
    explicit Server(CThreadPipe::Options options) : pipe(sdk, active, stopAll, "1.0.0", nullptr, options) {
        if (!pipe.Start(socket)) throw std::runtime_error(pipe.Error());
    }
    test::TempDir folder;
    const std::filesystem::path socket = folder.path() / kPipeName;
    CSdk sdk;
    std::atomic<bool> active{true}, stopAll{false};
    CThreadPipe pipe;
};

void BM_SdkPush(benchmark::State& state) {
    CSdk sdk;
    float x = 0.5f;
    for (auto _ : state) {
        sdk.Push(x, -x);
        x += 0.25f;
    }
    benchmark::DoNotOptimize(sdk.LastWrittenIndex());
}
BENCHMARK(BM_SdkPush);

void BM_PipeXyRoundTrip(benchmark::State& state) {
    Server server({});
    const std::string request = PipeRequest("xy");
    for (auto _ : state) {
        server.sdk.Push(1.0f, 2.0f);  // keeps the stream ahead of the client
        const PipeResult result = PipeTransact(server.socket, request, std::chrono::seconds(5));
        if (result.status != PipeResult::Status::Replied) state.SkipWithError(result.error.c_str());
    }
    state.counters["requests_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PipeXyRoundTrip)->UseRealTime();

// From the stop request until the server thread has ended and the socket is gone.
void BM_PipeStopWhileXyWaits(benchmark::State& state) {
    for (auto _ : state) {
        Server server({.sampleWait = std::chrono::hours(1)});
        server.sdk.Push(1.0f, 2.0f);
        PipeTransact(server.socket, PipeRequest("xy"), std::chrono::seconds(5));  // served: none left
        const int client = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        std::string error;
        const sockaddr_un address = PipeAddress(server.socket, error).value();
        ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::send(client, "xy", 3, 0);
        const auto start = std::chrono::steady_clock::now();
        server.pipe.Stop();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ::close(client);
    }
}
BENCHMARK(BM_PipeStopWhileXyWaits)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
