// A tiny UDP DNS responder for the prefix-discovery tests: it answers every
// query, whatever its name, as configured (one AAAA record, NXDOMAIN, or one
// answer record of raw bytes after the question), and counts the queries.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pellix::hostest {

class DnsResponder {
public:
    enum class Mode { Answer, NameError, Raw };

    // Binds UDP `address` (IPv4 or IPv6 text) at `port` (0: any free port).
    explicit DnsResponder(const std::string& address = "127.0.0.1", int port = 0) {
        bool v6 = address.find(':') != std::string::npos;
        fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("socket");
        sockaddr_storage ss{};
        socklen_t len;
        if (v6) {
            auto& a = reinterpret_cast<sockaddr_in6&>(ss);
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(static_cast<std::uint16_t>(port));
            ::inet_pton(AF_INET6, address.c_str(), &a.sin6_addr);
            len = sizeof a;
        } else {
            auto& a = reinterpret_cast<sockaddr_in&>(ss);
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
            len = sizeof a;
        }
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
            ::close(fd_);
            throw std::runtime_error("bind " + address + ": " + std::strerror(errno));
        }
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
        port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6&>(ss).sin6_port : reinterpret_cast<sockaddr_in&>(ss).sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~DnsResponder() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    DnsResponder(const DnsResponder&) = delete;
    DnsResponder& operator=(const DnsResponder&) = delete;

    int port() const { return port_; }
    sockaddr_in address() const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        return a;
    }
    int queries() const { return queries_.load(); }

    void answer(const std::array<std::uint8_t, 16>& address) {
        std::lock_guard lock(mutex_);
        mode_ = Mode::Answer;
        address_ = address;
    }
    void answer(const std::string& ipv6) {
        std::array<std::uint8_t, 16> a{};
        if (::inet_pton(AF_INET6, ipv6.c_str(), a.data()) != 1) throw std::runtime_error("bad address " + ipv6);
        answer(a);
    }
    void nameError() {
        std::lock_guard lock(mutex_);
        mode_ = Mode::NameError;
    }
    // A reply that claims one answer record and carries these bytes as it.
    void raw(std::vector<std::uint8_t> record) {
        std::lock_guard lock(mutex_);
        mode_ = Mode::Raw;
        raw_ = std::move(record);
    }

private:
    void serve() {
        std::uint8_t q[512];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            sockaddr_storage from{};
            socklen_t fromLen = sizeof from;
            ssize_t n = ::recvfrom(fd_, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 12) continue;
            ++queries_;
            std::vector<std::uint8_t> r = reply(q, static_cast<std::size_t>(n));
            ::sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
        }
    }

    std::vector<std::uint8_t> reply(const std::uint8_t* q, std::size_t n) {
        std::lock_guard lock(mutex_);
        std::vector<std::uint8_t> r(q, q + 2);  // the id
        bool found = mode_ != Mode::NameError;
        std::uint8_t head[10] = {0x81, static_cast<std::uint8_t>(found ? 0x80 : 0x83), 0, 1, 0,
                                 static_cast<std::uint8_t>(found ? 1 : 0), 0, 0, 0, 0};
        r.insert(r.end(), head, head + 10);
        r.insert(r.end(), q + 12, q + n);  // the question as asked
        if (mode_ == Mode::Raw) {
            r.insert(r.end(), raw_.begin(), raw_.end());
        } else if (found) {
            std::uint8_t rr[12] = {0xC0, 0x0C, 0, 28, 0, 1, 0, 0, 0, 60, 0, 16};
            r.insert(r.end(), rr, rr + 12);
            r.insert(r.end(), address_.begin(), address_.end());
        }
        return r;
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    std::mutex mutex_;
    Mode mode_ = Mode::NameError;
    std::array<std::uint8_t, 16> address_{};
    std::vector<std::uint8_t> raw_;
    std::thread thread_;
};

}  // namespace pellix::hostest
