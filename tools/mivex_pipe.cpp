// mivex-pipe: talks to the running program over its local socket, as any other program would.
#include <cstdio>
#include <string>
#include <string_view>

#include "base/standard_output.h"
#include "output/pipe_socket.h"
#include "tools/common/command_line.h"

namespace {

constexpr const char* kUsage =
    "Usage: mivex-pipe version|een|edi|xy [--count N]\n"
    "Sends a request to the running Mivex over its local socket and prints each reply as a line.\n"
    "  version     the program's version\n"
    "  een         switch the motion stream on: head motion goes to the socket, not the pointer\n"
    "  edi         switch the motion stream off again\n"
    "  xy          the next motion sample: horizontal#vertical#slot\n"
    "  --count N   send the request N times, each on a connection of its own (default 1)\n";

// The server answers within its one-second waits; clients before this one may hold it as long.
constexpr std::chrono::milliseconds kReplyTimeout{10'000};

int Fail(const std::string& error, int code) {
    std::fprintf(stderr, "mivex-pipe: %s\n", error.c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    std::string_view request;
    int count = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return FinishStandardOutput("mivex-pipe", 0);
        }
        if (arg == "--count") {
            const auto value = i + 1 < argc ? ParsePositive(argv[++i]) : std::nullopt;
            if (!value) return Fail("--count needs a whole number of 1 or more\n" + std::string(kUsage), 2);
            count = *value;
        } else if ((arg == "version" || arg == "een" || arg == "edi" || arg == "xy") && request.empty()) {
            request = arg;
        } else {
            return Fail("unexpected argument \"" + std::string(arg) + "\"\n" + kUsage, 2);
        }
    }
    if (request.empty()) return Fail(std::string("no request given\n") + kUsage, 2);

    std::string error;
    const std::filesystem::path socket = PipeSocketPath(PipeFolder::Find, error);
    if (socket.empty()) return Fail("the folder of Mivex's socket cannot be used: " + error, 1);
    const std::string message = PipeRequest(request);
    for (int n = 0; n < count; ++n) {
        const PipeResult result = PipeTransact(socket, message, kReplyTimeout);
        if (result.status != PipeResult::Status::Replied) return Fail(result.error, 1);
        std::printf("%s\n", result.reply.c_str());
        // Each reply as it comes, for a reader at the other end of a pipe.
        if (const int code = FinishStandardOutput("mivex-pipe", 0); code != 0) return code;
    }
    return 0;
}
