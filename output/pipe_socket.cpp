#include "output/pipe_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/paths.h"
#include "output/unique_fd.h"

std::filesystem::path PipeSocketPath(PipeFolder folder, std::string& error) {
    const uid_t user = ::geteuid();
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        // The session's folder is the user's to manage; it only must not be writable by others.
        error = PrivateFolderProblem(runtime, user, S_IWGRP | S_IWOTH);
        return error.empty() ? std::filesystem::path(runtime) / kPipeName : std::filesystem::path();
    }
    const std::filesystem::path fallback = "/tmp/KordO-" + std::to_string(user);
    // Made private from the start; one that exists is checked, not changed: in /tmp another
    // user may have made it first.
    if (folder == PipeFolder::Create) ::mkdir(fallback.c_str(), S_IRWXU);
    // The server makes it, so a client that finds none finds no server: connecting says so.
    struct stat status = {};
    if (folder == PipeFolder::Find && ::lstat(fallback.c_str(), &status) != 0 && errno == ENOENT) {
        error.clear();
        return fallback / kPipeName;
    }
    error = PrivateFolderProblem(fallback, user, S_IRWXG | S_IRWXO);
    return error.empty() ? fallback / kPipeName : std::filesystem::path();
}

std::string PipeRequest(std::string_view text) {
    std::string message(text);
    message.push_back('\0');
    return message;
}

std::optional<sockaddr_un> PipeAddress(const std::filesystem::path& socket, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.empty() || socket.native().size() >= sizeof address.sun_path) {
        error = "no usable socket path: \"" + socket.string() + "\"";
        return std::nullopt;
    }
    std::memcpy(address.sun_path, socket.c_str(), socket.native().size());
    return address;
}

std::optional<uid_t> PeerUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
    return peer.uid;
}

namespace {

PipeResult Unreachable(std::string error) { return {PipeResult::Status::Unreachable, "", std::move(error)}; }

// What takes the socket's place, or null when it is a socket or nothing is there.
const char* NotASocket(const std::filesystem::path& socket) {
    struct stat status = {};
    if (::lstat(socket.c_str(), &status) != 0 || S_ISSOCK(status.st_mode)) return nullptr;
    if (S_ISREG(status.st_mode)) return "a file";
    if (S_ISDIR(status.st_mode)) return "a folder";
    if (S_ISFIFO(status.st_mode)) return "a FIFO";
    if (S_ISLNK(status.st_mode)) return "a symbolic link";
    return "a device";
}

}  // namespace

PipeResult PipeTransact(const std::filesystem::path& socket, std::string_view message,
                        std::chrono::milliseconds timeout) {
    std::string error;
    const std::optional<sockaddr_un> address = PipeAddress(socket, error);
    if (!address) return Unreachable(error);

    const UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return Unreachable(std::string("cannot make a socket: ") + std::strerror(errno));
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        const int error = errno;
        // The server leaves what is not its socket alone, so no server can be started there.
        if (const char* kind = NotASocket(socket))
            return Unreachable(socket.string() + " is " + kind + ", not Mivex's socket: it is in the way of one");
        if (error == ENOENT || error == ECONNREFUSED)
            return Unreachable("Mivex is not running (" + socket.string() + ": " + std::strerror(error) + ")");
        return Unreachable("cannot connect to " + socket.string() + ": " + std::strerror(error));
    }
    const std::optional<uid_t> server = PeerUser(fd.Get());
    if (!server) return Unreachable("cannot tell who serves " + socket.string() + ": " + std::strerror(errno));
    if (*server != ::geteuid())
        return Unreachable(socket.string() + " is served by user " + std::to_string(*server) +
                           ", not by you: not talking to it");
    if (::send(fd.Get(), message.data(), message.size(), MSG_NOSIGNAL) < 0)
        return Unreachable("cannot send to " + socket.string() + ": " + std::strerror(errno));

    pollfd ready{fd.Get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
    if (polled == 0)
        return {PipeResult::Status::NoReply, "", "no reply within " + std::to_string(timeout.count()) + " ms"};
    char reply[kPipeRequestBytes + 1] = {};
    const ssize_t received = polled > 0 ? ::recv(fd.Get(), reply, kPipeRequestBytes, 0) : -1;
    if (received < 0) return Unreachable("cannot read from " + socket.string() + ": " + std::strerror(errno));
    if (received == 0) return {PipeResult::Status::NoReply, "", "the connection was closed without a reply"};
    return {PipeResult::Status::Replied, std::string(reply), ""};
}
