#include "output/udp_sim_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/network_port.h"

namespace {

// Filled from a numeric address; false when the text is none.
bool ToAddress(const SimTarget& target, sockaddr_storage& address, socklen_t& length) {
    address = {};
    const std::string host = target.host == "localhost" ? "127.0.0.1" : target.host;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(target.port));
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(target.port));
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

}  // namespace

std::string SimTarget::Text() const { return AuthorityHost(host) + ":" + std::to_string(port); }

std::optional<SimTarget> ParseSimTarget(std::string_view text, std::string& error) {
    const auto fail = [&](const std::string& why) -> std::optional<SimTarget> {
        error = why + " (expected host:port, e.g. 127.0.0.1:4242)";
        return std::nullopt;
    };
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    std::string why;
    const std::optional<NetworkAddress> parts = SplitNetworkAddress(text, why);
    if (!parts) return fail(why);
    if (!parts->port) return fail("no port given");
    SimTarget target{std::string(parts->host), *parts->port};
    sockaddr_storage address;
    socklen_t length = 0;
    if (!ToAddress(target, address, length)) return fail("'" + target.host + "' is not an IP address or localhost");
    return target;
}

CUdpSimLink::CUdpSimLink(SimTarget target, std::chrono::milliseconds unreachableWait)
    : m_target(std::move(target)), m_unreachableWait(unreachableWait) {}

CUdpSimLink::~CUdpSimLink() { Close(); }

bool CUdpSimLink::Fail(const std::string& what, int error) {
    m_strError = m_target.Text() + ": " + what + (error ? std::string(": ") + std::strerror(error) : "");
    return false;
}

bool CUdpSimLink::Open() {
    Close();
    sockaddr_storage address;
    socklen_t length = 0;
    if (!ToAddress(m_target, address, length)) return Fail("not an IP address", 0);
    m_hSocket = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_hSocket < 0) return Fail("no socket", errno);
    if (::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        Close();
        return Fail("cannot connect", error);
    }
    if (!SendOrientation(0.0f, 0.0f)) {
        Close();
        return false;
    }
    // The port's "unreachable" answer arrives as an error pending on the socket.
    pollfd wait{m_hSocket, 0, 0};
    if (::poll(&wait, 1, static_cast<int>(m_unreachableWait.count())) > 0 && (wait.revents & POLLERR)) {
        int error = 0;
        socklen_t size = sizeof(error);
        ::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &error, &size);
        Close();
        return Fail("no receiver", error);
    }
    return true;
}

std::array<std::uint8_t, CUdpSimLink::kDatagramSize> CUdpSimLink::Datagram(float heading, float pitch) {
    const double values[6] = {0.0, 0.0, 0.0, heading, pitch, 0.0};
    std::array<std::uint8_t, kDatagramSize> bytes{};
    for (int v = 0; v < 6; ++v) {
        const auto bits = std::bit_cast<std::uint64_t>(values[v]);
        for (int b = 0; b < 8; ++b) bytes[v * 8 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
    return bytes;
}

bool CUdpSimLink::SendOrientation(float heading, float pitch) {
    if (m_hSocket < 0) return Fail("not open", 0);
    const auto bytes = Datagram(heading, pitch);
    const ssize_t sent = ::send(m_hSocket, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    // A full send buffer drops this pose; the next one follows within a frame.
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (sent != static_cast<ssize_t>(bytes.size())) return Fail("send failed", sent < 0 ? errno : 0);
    return true;
}

bool CUdpSimLink::Close() {
    if (m_hSocket < 0) return true;
    const bool closed = ::close(m_hSocket) == 0;
    m_hSocket = -1;
    return closed || Fail("close failed", errno);
}
