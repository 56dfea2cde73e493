// A loopback echo peer on its own thread: accepts any number of clients and
// serves each on a thread of its own. A client first sends a 4-byte big-endian
// length, then that many bytes; the server sends the bytes back and closes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace pellix::test {

class EchoServer {
public:
    EchoServer() {
        listen_ = listenLoopback(port_, 128);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~EchoServer() {
        stop_ = true;
        acceptor_.join();
        ::close(listen_);
        std::vector<std::thread> sessions;
        {
            std::lock_guard lock(mutex_);
            sessions.swap(sessions_);
        }
        for (auto& s : sessions) s.join();
    }
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    int port() const { return port_; }
    int accepted() const { return accepted_.load(); }

private:
    void acceptLoop() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++accepted_;
            std::lock_guard lock(mutex_);
            sessions_.emplace_back([this, fd] { serve(fd); });
        }
    }

    // Reads exactly n bytes unless the peer goes or the server stops.
    bool readAll(int fd, std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            pollfd pf{fd, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0) {
                if (stop_) return false;
                continue;
            }
            ssize_t got = ::recv(fd, p, n, 0);
            if (got <= 0) return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

    void serve(int fd) {
        std::uint8_t header[4];
        if (readAll(fd, header, 4)) {
            const std::uint32_t n = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                                    (std::uint32_t{header[2]} << 8) | header[3];
            std::vector<std::uint8_t> body(n);
            if (readAll(fd, body.data(), n)) {
                std::size_t sent = 0;
                while (sent < body.size()) {
                    ssize_t k = ::send(fd, body.data() + sent, body.size() - sent, MSG_NOSIGNAL);
                    if (k <= 0) break;
                    sent += static_cast<std::size_t>(k);
                }
            }
        }
        // The FIN comes a moment after the echo, so it often lands while the
        // client is closing and a new socket is taking the old one's number.
        std::this_thread::sleep_for(std::chrono::microseconds(fd * 37 % 300));
        ::close(fd);
    }

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> sessions_;
};

}  // namespace pellix::test
