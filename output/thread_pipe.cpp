#include "output/thread_pipe.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "base/logging.h"
#include "output/pipe_socket.h"
#include "output/sdk.h"

namespace {

constexpr const char* kUnknown = "??";
constexpr int kBacklog = 16;
constexpr std::chrono::milliseconds kAcceptRetry{2};
constexpr std::chrono::milliseconds kSampleTest{1};

std::string Failure(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

void AppendNumber(std::string& text, auto value, auto... format) {
    std::array<char, 64> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value, format...);
    text.append(digits.data(), result.ptr);
}

// "%f#%f#%d" in the C locale, whatever the program's locale.
std::string FormatSample(float x, float y, int slot) {
    // to_chars with a precision is printf's "%f" in the C locale; printf itself would follow
    // the user's decimal comma.
    std::string text;
    AppendNumber(text, static_cast<double>(x), std::chars_format::fixed, 6);
    text += '#';
    AppendNumber(text, static_cast<double>(y), std::chars_format::fixed, 6);
    text += '#';
    AppendNumber(text, slot);
    return text;
}

}  // namespace

CThreadPipe::CThreadPipe(CSdk& sdk, std::atomic<bool>& sdkActive, std::atomic<bool>& stopAll, std::string version,
                         CLogging* log, Options options)
    : m_sdk(sdk),
      m_bSdkActive(sdkActive),
      m_bStopAll(stopAll),
      m_strVersion(std::move(version)),
      m_pLog(log),
      m_options(options) {}

CThreadPipe::~CThreadPipe() { Stop(); }

bool CThreadPipe::Start(const std::filesystem::path& socket) {
    if (m_thread.joinable()) return true;
    const std::optional<sockaddr_un> address = PipeAddress(socket, m_strError);
    if (!address) return false;

    struct stat status = {};
    if (::lstat(socket.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            m_strError = socket.string() + " is not a socket: left alone";
            return false;
        }
        if (!m_options.replaceStale) {
            m_strError = socket.string() + " exists and this copy does not hold the single-instance lock";
            return false;
        }
        ::unlink(socket.c_str());  // left by a run that crashed: no other copy can be serving it
    }
    UniqueFd listen(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listen.Valid() || !wake.Valid()) {
        m_strError = Failure("cannot make the socket", socket);
        return false;
    }
    if (::bind(listen.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        m_strError = Failure("cannot bind", socket);
        return false;
    }
    // The folder is private, so nobody could connect before the mode is narrowed.
    if (::chmod(socket.c_str(), S_IRUSR | S_IWUSR) != 0 || ::lstat(socket.c_str(), &status) != 0 ||
        ::listen(listen.Get(), kBacklog) != 0) {
        m_strError = Failure("cannot listen on", socket);
        ::unlink(socket.c_str());
        return false;
    }
    m_socketPath = socket;
    m_socketInode = status.st_ino;
    m_listen = std::move(listen);
    m_wake = std::move(wake);
    m_strError.clear();
    // Clients may connect from here on: the backlog holds them until the thread serves them.
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CThreadPipe::Stop() {
    if (!m_thread.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake.Get(), &one, sizeof one);
    m_thread.join();
    // Only the file this server made: a copy started after it may already have its own there.
    struct stat status = {};
    if (::lstat(m_socketPath.c_str(), &status) == 0 && status.st_ino == m_socketInode) ::unlink(m_socketPath.c_str());
    m_listen.Reset();
    m_wake.Reset();
}

CThreadPipe::Wait CThreadPipe::WaitFor(int fd, short events, std::chrono::milliseconds timeout, short& revents) const {
    pollfd fds[] = {{fd, events, 0}, {m_wake.Get(), POLLIN, 0}};
    const int polled = ::poll(fds, 2, static_cast<int>(timeout.count()));
    revents = fds[0].revents;
    if (fds[1].revents != 0) return Wait::Stopped;
    return polled > 0 ? Wait::Ready : Wait::TimedOut;  // an interrupted poll counts as a short wait
}

void CThreadPipe::Run() {
    while (!m_bStopAll) {
        short revents = 0;
        if (WaitFor(m_listen.Get(), POLLIN, std::chrono::milliseconds(-1), revents) == Wait::Stopped) break;
        const UniqueFd client(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (client.Valid()) {
            ServeClient(client.Get());
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR) {
            // Out of descriptors, say: try again shortly, as long as it takes.
            if (WaitFor(-1, 0, kAcceptRetry, revents) == Wait::Stopped) break;
        }
    }
}

bool CThreadPipe::PeerIsUser(int client) {
    const std::optional<uid_t> peer = PeerUser(client);
    if (peer == ::geteuid()) return true;
    if (!m_bStrangerLogged && m_pLog) {
        m_pLog->Write("Local socket: refused a client of another user, uid " +
                          (peer ? std::to_string(*peer) : std::string("unknown")),
                      true);
    }
    m_bStrangerLogged = true;
    return false;
}

void CThreadPipe::ServeClient(int client) {
    if (!PeerIsUser(client)) return;
    short revents = 0;
    if (WaitFor(client, POLLIN, m_options.requestWait, revents) != Wait::Ready || !(revents & POLLIN)) return;

    char request[kPipeRequestBytes] = {};
    iovec buffer{request, sizeof request};
    msghdr message{};
    message.msg_iov = &buffer;
    message.msg_iovlen = 1;
    const ssize_t received = ::recvmsg(client, &message, MSG_DONTWAIT);
    if (received <= 0 || (message.msg_flags & MSG_TRUNC)) return;  // empty, hung up or too long
    request[sizeof request - 1] = '\0';

    const std::optional<std::string> reply = Answer(request, client);
    if (!reply) return;
    const std::size_t length = std::min(reply->size() + 1, kPipeReplyBytes);
    std::string bytes = reply->substr(0, length - 1);
    bytes.push_back('\0');
    // A client that is gone is no concern of the server's.
    [[maybe_unused]] const ssize_t sent = ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::optional<std::string> CThreadPipe::Answer(const char* request, int client) {
    if (std::strcmp(request, "version") == 0) return m_strVersion;
    if (std::strcmp(request, "een") == 0) {
        m_bSdkActive = true;
        return kUnknown;
    }
    if (std::strcmp(request, "edi") == 0) {
        m_bSdkActive = false;
        return kUnknown;
    }
    if (std::strcmp(request, "xy") == 0) return ServeXy(client);
    return kUnknown;
}

std::optional<std::string> CThreadPipe::ServeXy(int client) {
    if (m_sdk.LastWrittenIndex() == -1) return FormatSample(0.0f, 0.0f, m_iLastServed);
    const auto deadline = std::chrono::steady_clock::now() + m_options.sampleWait;
    while (m_sdk.LastWrittenIndex() == m_iLastServed) {
        // Tested every millisecond; a client that hangs up or the program's end cut it short.
        short revents = 0;
        if (std::chrono::steady_clock::now() >= deadline ||
            WaitFor(client, POLLRDHUP, kSampleTest, revents) != Wait::TimedOut)
            return std::nullopt;
    }
    const CSdk::Sample sample = m_sdk.Serve(m_iReadIndex, m_nServed++);
    m_iLastServed = m_iReadIndex;
    m_iReadIndex = m_iReadIndex + 1 < CSdk::kSamples ? m_iReadIndex + 1 : 0;
    return FormatSample(sample.x, sample.y, m_iLastServed);
}
