// The local socket: the ring of samples, the server's requests and replies as real clients see
// them, its waits, its socket file and its refusals.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cfloat>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "base/logging.h"
#include "output/pipe_socket.h"
#include "output/sdk.h"
#include "output/thread_pipe.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
const std::string kVersion = "1.0.0-" + std::string(150, 'x');  // longer than a reply may be
const std::string kNone = "(none)", kVersionReply = kVersion.substr(0, kPipeReplyBytes - 1);

class Pipe : public ::testing::Test {
protected:
    bool Serve(CThreadPipe::Options options = {.sampleWait = 300ms}, CLogging* log = nullptr) {
        m_pipe.emplace(m_sdk, m_active, m_stopAll, kVersion, log, options);
        return m_pipe->Start(m_socket);
    }
    // The reply to a message sent as it is, kNone when the server closed without one.
    std::string Send(const std::string& message) const {
        const PipeResult result = PipeTransact(m_socket, message, 10s);
        EXPECT_NE(result.status, PipeResult::Status::Unreachable) << result.error;
        return result.status == PipeResult::Status::Replied ? result.reply : kNone;
    }
    std::string Reply(std::string_view request) const { return Send(PipeRequest(request)); }
    // A socket connected to the server (or bound in its place), which sends nothing by itself.
    UniqueFd Socket(decltype(::connect) how = ::connect) const {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
        sockaddr_un address{AF_UNIX, {}};
        m_socket.native().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(how(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        return fd;
    }
    void Push(int from, int to) {
        for (int i = from; i < to; ++i) m_sdk.Push(static_cast<float>(i), static_cast<float>(-i));
    }

    test::TempDir m_dir;
    const fs::path m_socket = m_dir.path() / kPipeName;
    CSdk m_sdk;
    std::atomic<bool> m_active{false}, m_stopAll{false};
    std::optional<CThreadPipe> m_pipe;
};

TEST_F(Pipe, AnswersEachRequestOnItsOwnConnectionAndServesTheSamplesInPushOrderAroundTheRing) {
    ASSERT_TRUE(Serve()) << m_pipe->Error();
    EXPECT_EQ(fs::status(m_socket).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // clang-format off
    for (const auto& [request, reply] : std::map<std::string, std::string>{
             {"een", "??"}, {"version", kVersionReply}, {"version2", "??"}, {"xy", "0.000000#0.000000#-1"}, {"xyz", "??"}, {"", "??"}})
        // clang-format on
        EXPECT_EQ(Reply(request), reply) << request;
    EXPECT_TRUE(m_active);
    Push(0, 3);
    for (const char* sample : {"0.000000#0.000000#0", "1.000000#-1.000000#1", "2.000000#-2.000000#2"})
        EXPECT_EQ(Reply("xy"), sample);
    auto asked = std::async(std::launch::async, [this] { return Reply("xy"); });  // before the sample comes
    Push(3, 4);
    EXPECT_EQ(asked.get(), "3.000000#-3.000000#3");
    auto waiting = std::async(std::launch::async, [this] { return Reply("xy"); });  // in vain
    EXPECT_TRUE(Reply("edi") == "??" && !m_active);
    EXPECT_EQ(waiting.get(), kNone);
    m_sdk.Push(-FLT_MAX, -FLT_MAX);  // the longest sample there is, whole
    EXPECT_TRUE(Reply("xy").ends_with("#4"));
    Push(5, 101);  // on to the last slot and around to the first
    for (int slot = 5; slot < CSdk::kSamples; ++slot) ASSERT_TRUE(Reply("xy").ends_with("#" + std::to_string(slot)));
    EXPECT_EQ(Reply("xy"), "100.000000#-100.000000#0");
    EXPECT_EQ(Send(""), kNone) << "an empty message";
    EXPECT_EQ(Send(std::string(kPipeRequestBytes + 1, 'a')), kNone) << "a message too long";
}

TEST_F(Pipe, ClosesASilentClientAndStopsAtOnceWhileAnXyWaits) {
    ASSERT_TRUE(Serve({.sampleWait = 1h})) << m_pipe->Error();
    Push(0, 1);
    ASSERT_EQ(Reply("xy"), "0.000000#0.000000#0");
    const UniqueFd silent = Socket(), waiting = Socket();
    ASSERT_EQ(::send(waiting.Get(), "xy", 3, 0), 3);
    char byte = 0;
    EXPECT_EQ(::recv(silent.Get(), &byte, 1, 0), 0) << "the silent client was not closed";
    auto stopped = std::async(std::launch::async, [this] { m_pipe->Stop(); });
    ASSERT_EQ(stopped.wait_for(30s), std::future_status::ready) << "the server did not wake from its wait";
    EXPECT_LE(::recv(waiting.Get(), &byte, 1, 0), 0) << "a reply came";
    EXPECT_FALSE(fs::exists(m_socket));
}

TEST_F(Pipe, ReplacesALeftOverSocketOnlyForTheLockHolderAndLeavesOtherFilesAlone) {
    for (const auto& [socketLeft, replaceStale, starts] :
         {std::tuple{true, false, false}, {true, true, true}, {false, true, false}}) {
        if (socketLeft)
            Socket(::bind);  // closed at once: what a crashed run leaves
        else
            test::WriteFile(m_socket, "a file of the user's");
        EXPECT_EQ(Serve({.replaceStale = replaceStale}), starts) << m_pipe->Error();
        EXPECT_EQ(starts ? Reply("version") : kVersionReply, kVersionReply);
        m_pipe.reset();
        EXPECT_EQ(fs::exists(m_socket), !starts) << "what is not ours stays";
        EXPECT_EQ(test::ReadFile(m_socket), socketLeft ? "" : "a file of the user's");
        fs::remove(m_socket);
    }
}

TEST_F(Pipe, AClientSaysWhatTakesTheSocketsPlaceAndThatNothingServesOnlyWhenNothingDoes) {
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[this] { Socket(::bind); }, "Mivex is not running ("},  // left by a run that crashed
        {[this] { test::WriteFile(m_socket, ""); }, " is a file, not Mivex's socket"},
        {[this] { fs::create_directory(m_socket); }, " is a folder, not Mivex's socket"},
        {[this] { ::mkfifo(m_socket.c_str(), 0600); }, " is a FIFO, not Mivex's socket"},
        {[this] { fs::create_symlink("elsewhere", m_socket); }, " is a symbolic link, not Mivex's socket"},
    };
    for (const auto& [make, said] : cases) {
        make();
        const PipeResult result = PipeTransact(m_socket, PipeRequest("version"), 1s);
        EXPECT_NE(result.error.find(said), std::string::npos) << result.error;
        fs::remove(m_socket);
    }
}

TEST_F(Pipe, SurvivesFuzzedRequestsWhileFramesFlowAndLeaksNoDescriptor) {
    const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto before = descriptors();
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
        ASSERT_LT(Send(message).size(), kPipeReplyBytes);
    }
    flowing = false;
    frames.join();
    EXPECT_EQ(Reply("version"), kVersionReply);
    m_pipe.reset();
    EXPECT_EQ(descriptors(), before);
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
        "setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c \"import "
        "socket, contextlib; s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)\nwith "
        "contextlib.suppress(OSError): s.connect('" +
        m_socket.string() + "'); s.send(b'version\\0'); exit(len(s.recv(128)))\"";
    for (int i = 0; i < 2; ++i) EXPECT_EQ(std::system(client.c_str()), 0) << "a reply, or no client ran";
    EXPECT_EQ(Reply("version"), kVersionReply);
    const std::string logged = test::ReadFile(log.FilePath());
    EXPECT_NE(logged.find("refused a client of another user, uid 65534\r\n"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("refused"), logged.rfind("refused")) << "logged more than once";
}

}  // namespace
