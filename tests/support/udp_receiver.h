// A UDP receiver on 127.0.0.1 standing in for the program that reads the head's pose: it takes
// datagrams and decodes the six little-endian doubles x, y, z, yaw, pitch, roll.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>

namespace test {

class UdpReceiver {
public:
    struct Pose {
        std::size_t size = 0;            // bytes in the datagram
        std::array<double, 6> values{};  // x, y, z, yaw, pitch, roll
    };

    // On the given port, or on a free one for 0; Port() is 0 when binding failed.
    explicit UdpReceiver(int port = 0) : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof(address);
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~UdpReceiver() { ::close(m_socket); }
    int Port() const { return m_port; }

    // The next datagram within the timeout.
    std::optional<Pose> Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const {
        pollfd wait{m_socket, POLLIN, 0};
        std::uint8_t bytes[256];
        if (::poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        Pose pose{static_cast<std::size_t>(std::max<ssize_t>(::recv(m_socket, bytes, sizeof(bytes), 0), 0))};
        for (std::size_t v = 0; v < 6 && (v + 1) * 8 <= pose.size; ++v) {
            std::uint64_t bits = 0;
            for (int b = 7; b >= 0; --b) bits = (bits << 8) | bytes[v * 8 + b];
            std::memcpy(&pose.values[v], &bits, sizeof(double));
        }
        return pose;
    }

private:
    int m_socket;
    int m_port = 0;
};

}  // namespace test
