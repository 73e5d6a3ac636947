// The local socket through which other programs of the same user take the head's motion, as its
// clients see it: where it lives, its message sizes, and one request with its reply.
//
// A message is a byte string ending in a zero byte. A client connects, sends one request of at
// most kPipeRequestBytes, reads one reply of at most kPipeReplyBytes, and is then disconnected;
// the next request needs a new connection.
//
//   std::string error;
//   const std::filesystem::path socket = PipeSocketPath(PipeFolder::Find, error);
//   PipeResult result = PipeTransact(socket, PipeRequest("version"), std::chrono::seconds(5));
//   if (result.status == PipeResult::Status::Replied) puts(result.reply.c_str());
#pragma once

#include <sys/types.h>
#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kPipeName = "Kordo_Pipe";
inline constexpr std::size_t kPipeRequestBytes = 128;
inline constexpr std::size_t kPipeReplyBytes = 127;

enum class PipeFolder {
    Find,    // a client looks for the folder
    Create,  // the server makes the fallback folder when it is missing
};

// The socket: kPipeName in $XDG_RUNTIME_DIR, or where that is unset or empty, in the user's own
// private folder /tmp/KordO-<uid>. Empty, with the reason in error, when the folder is missing or
// others could change what is in it; a client is given the socket in a missing /tmp/KordO-<uid>,
// which only means that no server has made it.
std::filesystem::path PipeSocketPath(PipeFolder folder, std::string& error);

// The socket's address for bind or connect; none, with the reason in error, when the path is
// empty or too long for one.
std::optional<sockaddr_un> PipeAddress(const std::filesystem::path& socket, std::string& error);

// The user of the process at the other end of a connected socket; none (errno tells why) when the
// system cannot say.
std::optional<uid_t> PeerUser(int fd);

// A request as it goes on the wire: the text and its zero byte.
std::string PipeRequest(std::string_view text);

struct PipeResult {
    enum class Status {
        Replied,      // reply holds the text of the reply, up to its zero byte
        NoReply,      // the server closed the connection without replying
        Unreachable,  // no server, or it cannot be reached: see error
    };
    Status status = Status::Unreachable;
    std::string reply;
    std::string error;
};

// Connects, sends message exactly as given, and waits at most timeout for the reply. A server
// of another user is not talked to.
PipeResult PipeTransact(const std::filesystem::path& socket, std::string_view message,
                        std::chrono::milliseconds timeout);
