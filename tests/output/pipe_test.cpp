// The local socket: the ring of samples, the server's requests and replies as real clients see
// them, its waits, its socket file and its refusals.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cfloat>
#include <cstring>
#include <future>
#include <optional>
#include <random>

#include "logging.h"
#include "pipe_socket.h"
#include "sdk.h"
#include "test_support.h"
#include "thread_pipe.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Got = PipeResult::Status;
const std::string kVersion = "1.0.0-" + std::string(150, 'x');  // longer than a reply may be

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

class Pipe : public ::testing::Test {
protected:
    bool Serve(CThreadPipe::Options options = {.sampleWait = 300ms}, CLogging* log = nullptr) {
        m_pipe.emplace(m_sdk, m_active, m_stopAll, kVersion, log, options);
        return m_pipe->Start(m_socket);
    }
    PipeResult Ask(std::string_view message, bool raw = false) const {
        return PipeTransact(m_socket, raw ? std::string(message) : PipeRequest(message), 10s);
    }
    std::string Reply(std::string_view request) const {
        const PipeResult result = Ask(request);
        return result.status == Got::Replied ? result.reply : "(none: " + result.error + ")";
    }
    // A socket connected to the server (or bound in its place), which sends nothing by itself.
    UniqueFd Socket(decltype(::connect) how = ::connect) const {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
        sockaddr_un address{AF_UNIX, {}};
        m_socket.native().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(how(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        return fd;
    }

    test::TempDir m_dir;
    const fs::path m_socket = m_dir.path() / kPipeName;
    CSdk m_sdk;
    std::atomic<bool> m_active{false}, m_stopAll{false};
    std::optional<CThreadPipe> m_pipe;
};

TEST_F(Pipe, AnswersEachRequestOnItsOwnConnectionAndServesTheSamplesInPushOrder) {
    ASSERT_TRUE(Serve()) << m_pipe->Error();
    EXPECT_EQ(fs::status(m_socket).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // clang-format off
    const std::pair<const char*, std::string> script[] = {
        {"xy", "0.000000#0.000000#-1"}, {"version", kVersion.substr(0, kPipeReplyBytes - 1)},
        {"version2", "??"}, {"xyz", "??"}, {"", "??"}, {"een", "??"}, {"edi", "??"}, {"een", "??"},
        {"push", ""}, {"xy", "-24.000000#10.000000#0"}, {"xy", "0.500000#-0.250000#1"}, {"xy", "3.000000#4.000000#2"},
        {"later", "7.000000#8.000000#3"}, {"xy", "(none: the connection was closed without a reply)"}};
    // clang-format on
    for (const auto& [request, reply] : script) {
        if (std::string_view(request) == "push") {
            for (const auto& [x, y] : {std::pair{-24.0f, 10.0f}, {0.5f, -0.25f}, {3.0f, 4.0f}}) m_sdk.Push(x, y);
        } else if (std::string_view(request) == "later") {  // asked before the sample comes
            auto asked = std::async(std::launch::async, [this] { return Reply("xy"); });
            m_sdk.Push(7.0f, 8.0f);
            EXPECT_EQ(asked.get(), reply);
        } else {
            EXPECT_EQ(Reply(request), reply) << request;
        }
    }
    EXPECT_TRUE(m_active) << "a stream switched on stays on when its client goes";
    m_sdk.Push(FLT_MAX, -FLT_MAX);  // the longest sample there is
    const std::string longest = Reply("xy");
    EXPECT_LE(longest.size() + 1, kPipeReplyBytes) << longest;
    EXPECT_TRUE(longest.starts_with("3402") && longest.ends_with("#4")) << longest;
    EXPECT_EQ(Ask("", true).status, Got::NoReply) << "an empty message";
    EXPECT_EQ(Ask(std::string(kPipeRequestBytes + 1, 'a'), true).status, Got::NoReply) << "a message too long";
}

TEST_F(Pipe, ServesTheRingInOrderFromTheOldestSlotAndWrapsAfterTheLast) {
    ASSERT_TRUE(Serve()) << m_pipe->Error();
    const auto push = [this](int from, int to) {
        for (int i = from; i < to; ++i) m_sdk.Push(static_cast<float>(i), static_cast<float>(-i));
    };
    push(0, 150);  // a lap and a half: slots 0..49 hold 100..149, 50..99 hold 50..99
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(Reply("xy"),
                  std::to_string(100 + i) + ".000000#-" + std::to_string(100 + i) + ".000000#" + std::to_string(i));
    EXPECT_EQ(Ask("xy").status, Got::NoReply) << "served up to the newest: nothing new";
    push(150, 201);
    for (int i = 50; i < 100; ++i) ASSERT_EQ(Reply("xy").substr(0, 3), std::to_string(100 + i)) << i;
    EXPECT_EQ(Reply("xy"), "200.000000#-200.000000#0");
    CSdk sdk;  // a served slot holds the served counter until the next push reaches it
    sdk.Push(5.0f, 6.0f);
    EXPECT_EQ(sdk.Serve(0, 7).x, 5.0f);
    EXPECT_EQ(sdk.Serve(0, 8).y, 8.0f);
}

TEST_F(Pipe, AnEdiGetsThroughWhileAnXyWaitsInVainAndASilentClientIsClosed) {
    ASSERT_TRUE(Serve({})) << m_pipe->Error();
    m_active = true;
    m_sdk.Push(1.0f, 2.0f);
    ASSERT_EQ(Reply("xy"), "1.000000#2.000000#0");
    auto waiting = std::async(std::launch::async, [this] { return Ask("xy"); });
    const UniqueFd silent = Socket();
    EXPECT_EQ(Reply("edi"), "??");
    EXPECT_FALSE(m_active);
    EXPECT_EQ(waiting.get().status, Got::NoReply);
    char byte = 0;
    EXPECT_EQ(::recv(silent.Get(), &byte, 1, 0), 0) << "the silent client was not closed";
}

TEST_F(Pipe, StopsAtOnceWithAClientWaitingAndRemovesItsSocket) {
    ASSERT_TRUE(Serve({.sampleWait = 1h})) << m_pipe->Error();
    m_sdk.Push(1.0f, 2.0f);
    ASSERT_EQ(Reply("xy"), "1.000000#2.000000#0");
    const UniqueFd waiting = Socket();
    ASSERT_EQ(::send(waiting.Get(), "xy", 3, 0), 3);
    auto stopped = std::async(std::launch::async, [this] { m_pipe->Stop(); });
    ASSERT_EQ(stopped.wait_for(30s), std::future_status::ready) << "the server did not wake from its wait";
    char byte = 0;
    EXPECT_LE(::recv(waiting.Get(), &byte, 1, 0), 0) << "a reply came";
    EXPECT_FALSE(fs::exists(m_socket));
}

TEST_F(Pipe, ReplacesALeftOverSocketOnlyForTheLockHolderAndLeavesOtherFilesAlone) {
    struct Case {
        bool socketLeft, replaceStale, starts;
    };
    for (const Case c : {Case{true, false, false}, {true, true, true}, {false, true, false}}) {
        if (c.socketLeft)
            Socket(::bind);  // closed at once: what a crashed run leaves
        else
            test::WriteFile(m_socket, "a file of the user's");
        EXPECT_EQ(Serve({.replaceStale = c.replaceStale}), c.starts) << m_pipe->Error();
        EXPECT_EQ(Ask("version").status == Got::Replied, c.starts);
        m_pipe.reset();
        EXPECT_EQ(fs::exists(m_socket), !c.starts) << "what is not ours stays";
        EXPECT_EQ(test::ReadFile(m_socket), c.socketLeft ? "" : "a file of the user's");
        fs::remove(m_socket);
    }
}

TEST_F(Pipe, SurvivesFuzzedRequestsWhileFramesFlowAndLeaksNoDescriptor) {
    const int descriptors = OpenDescriptors();
    ASSERT_TRUE(Serve({.sampleWait = 20ms})) << m_pipe->Error();
    std::atomic<bool> flowing{true};
    std::thread frames([&] {
        for (float x = 0; flowing; x += 1.0f) m_sdk.Push(x, -x), std::this_thread::sleep_for(50us);
    });
    std::mt19937 random(14);
    const char* words[] = {"xy", "een", "edi", "version"};
    for (int i = 0; i < 10'000; ++i) {
        std::string message(std::uniform_int_distribution(0, 300)(random), '\0');
        for (char& c : message) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
        if (i % 5 == 0) message = PipeRequest(words[random() % 4]) + message;  // a valid one, maybe followed by more
        const PipeResult result = Ask(message, true);
        ASSERT_NE(result.status, Got::Unreachable) << result.error;
        ASSERT_LE(result.reply.size() + 1, kPipeReplyBytes);
    }
    flowing = false;
    frames.join();
    EXPECT_EQ(Reply("version"), kVersion.substr(0, kPipeReplyBytes - 1));
    m_pipe.reset();
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(Pipe, RefusesAClientOfAnotherUserAndLogsItOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "a client under another uid needs root (setpriv)";
    test::TempConfigHome home;
    CSettingsStore store;
    CLogging log(store, m_dir.path());
    log.Open();
    ASSERT_TRUE(Serve({}, &log)) << m_pipe->Error();
    fs::permissions(m_dir.path(), fs::perms::others_exec, fs::perm_options::add);  // let it reach the socket
    fs::permissions(m_socket, fs::perms::all, fs::perm_options::add);
    // Exits with the length of the reply: 0 when the server closed the connection without one.
    const std::string client =
        "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c \""
        "import socket\ns = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)\n"
        "s.connect('" +
        m_socket.string() +
        "')\ntry: s.send(b'version\\0'); r = s.recv(128)\n"
        "except OSError: r = b''\nexit(len(r))\"";
    for (int i = 0; i < 2; ++i) EXPECT_EQ(std::system(client.c_str()), 0) << "a reply, or no client ran";
    EXPECT_EQ(Reply("version"), kVersion.substr(0, kPipeReplyBytes - 1));
    const std::string logged = test::ReadFile(log.FilePath()), line = "refused a client of another user, uid 65534\r\n";
    EXPECT_TRUE(logged.find(line) != std::string::npos && logged.find(line) == logged.rfind("refused")) << logged;
}

}  // namespace
