// A small HTTP server on 127.0.0.1, on a port of its own, that gives every request the same reply:
// a status and a body, after a delay, or no answer at all while the connection stays open.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

class LocalHttpServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        bool silent = false;  // accepts, reads the request and never answers
        std::chrono::milliseconds delay{0};
    };

    explicit LocalHttpServer(Reply reply) : m_reply(std::move(reply)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0 || ::pipe(m_stop) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~LocalHttpServer() {
        [[maybe_unused]] auto written = ::write(m_stop[1], "x", 1);
        m_thread.join();
        for (int fd : {m_listen, m_stop[0], m_stop[1]}) ::close(fd);
    }

    std::string Authority() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Every request's head, as it came.
    std::vector<std::string> Requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    // A port on which nothing listens: a connection there is refused.
    static int RefusingPort() {
        const int port = LocalHttpServer({}).m_port;
        return port;
    }

private:
    // Waits for fd to be readable; false when the server stops first.
    bool Readable(int fd) const {
        pollfd fds[] = {{fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        return ::poll(fds, 2, -1) > 0 && fds[1].revents == 0;
    }
    // Waits up to timeoutMs (-1: no limit) for the server to stop.
    bool Stopped(int timeoutMs) const {
        pollfd stop{m_stop[0], POLLIN, 0};
        return ::poll(&stop, 1, timeoutMs) > 0;
    }
    void Serve() {
        while (Readable(m_listen)) {
            const int connection = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            std::string head;
            char buffer[512];
            for (ssize_t got = 0; head.find("\r\n\r\n") == std::string::npos && Readable(connection) &&
                                  (got = ::read(connection, buffer, sizeof buffer)) > 0;)
                head.append(buffer, got);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(head);
            }
            if (m_reply.silent) {
                Stopped(-1);  // holds the connection until the server stops
            } else if (!Stopped(static_cast<int>(m_reply.delay.count()))) {
                const std::string answer = "HTTP/1.1 " + std::to_string(m_reply.status) +
                                           " Reply\r\nContent-Length: " + std::to_string(m_reply.body.size()) +
                                           "\r\nConnection: close\r\n\r\n" + m_reply.body;
                ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            }
            ::close(connection);
        }
    }

    const Reply m_reply;
    int m_listen = -1;
    int m_stop[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

}  // namespace test
