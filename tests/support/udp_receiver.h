// A UDP receiver on 127.0.0.1 that stands in for the program that reads the head's pose: it
// takes datagrams and decodes the six little-endian doubles of the pose format.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace test {

class UdpReceiver {
public:
    struct Pose {
        std::size_t size = 0;            // bytes in the datagram
        std::array<double, 6> values{};  // x, y, z, yaw, pitch, roll
        double Yaw() const { return values[3]; }
        double Pitch() const { return values[4]; }
    };

    // On the given port, or on a free one for 0.
    explicit UdpReceiver(int port = 0) {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            throw std::runtime_error(std::string("cannot bind a UDP receiver: ") + std::strerror(errno));
        socklen_t length = sizeof(address);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~UdpReceiver() { ::close(m_socket); }
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    int Port() const { return m_port; }

    // The next datagram within the timeout.
    std::optional<Pose> Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const {
        pollfd wait{m_socket, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        std::uint8_t bytes[256];
        const ssize_t size = ::recv(m_socket, bytes, sizeof(bytes), 0);
        if (size < 0) return std::nullopt;
        Pose pose{static_cast<std::size_t>(size)};
        for (std::size_t v = 0; v < 6 && (v + 1) * 8 <= pose.size; ++v) {
            std::uint64_t bits = 0;
            for (int b = 7; b >= 0; --b) bits = (bits << 8) | bytes[v * 8 + b];
            std::memcpy(&pose.values[v], &bits, sizeof(double));
        }
        return pose;
    }
    // Every datagram waiting now.
    std::vector<Pose> Drain() const {
        std::vector<Pose> poses;
        while (auto pose = Receive(std::chrono::milliseconds(0))) poses.push_back(*pose);
        return poses;
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 where no one listens (free a moment ago).
inline int UnusedUdpPort() { return UdpReceiver().Port(); }

}  // namespace test
