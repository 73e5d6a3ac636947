// A small HTTP server on 127.0.0.1, on a port of its own, that gives every request the same reply,
// or (silent) reads the request and keeps the connection open, unanswered, until the client goes.
#pragma once

#include <arpa/inet.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace test {

class LocalHttpServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        bool silent = false;
    };

    explicit LocalHttpServer(Reply reply) : m_reply(std::move(reply)) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_authority = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        m_thread = std::thread([this] { Serve(); });
    }
    ~LocalHttpServer() {
        ::shutdown(m_listen, SHUT_RDWR);  // ends the waiting accept
        m_thread.join();
        ::close(m_listen);
    }

    const std::string& Authority() const { return m_authority; }
    // Every request's head, as it came.
    std::vector<std::string> Requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void Serve() {
        char buffer[512];
        for (int connection; (connection = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            std::string head, answer = "HTTP/1.1 " + std::to_string(m_reply.status) +
                                       " Reply\r\nContent-Length: " + std::to_string(m_reply.body.size()) + "\r\n\r\n" +
                                       m_reply.body;
            for (ssize_t got = 0;
                 head.find("\r\n\r\n") == std::string::npos && (got = ::read(connection, buffer, sizeof buffer)) > 0;)
                head.append(buffer, got);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(head);
            }
            if (!m_reply.silent) ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            while (m_reply.silent && ::read(connection, buffer, sizeof buffer) > 0) {
            }
            ::close(connection);
        }
    }

    const Reply m_reply;
    const int m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string m_authority;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

}  // namespace test
