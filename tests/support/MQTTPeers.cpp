#include "support/MQTTPeers.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "MQTTClient/MQTTFrameDecoder.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix::test {

namespace {

int connectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int acceptWithin(int listenFd, std::chrono::milliseconds timeout) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return -1;
    }
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

bool sendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// ---- Proxy -------------------------------------------------------------------

struct Proxy::Link {
    int fd[2] = {-1, -1};  // [ToBroker] reads from the client, [ToClient] from the broker
    MQTTFrameDecoder frames[2];
    std::vector<platform::Bytes> held[2];
};

Proxy::Proxy(int upstreamPort) : upstream_(upstreamPort) {
    listenFd_ = listenLoopback(port_);
    thread_ = std::thread([this] { run(); });
}

Proxy::~Proxy() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

void Proxy::setFilter(Filter filter) {
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
}

void Proxy::release() {
    setFilter(nullptr);
    release_ = true;
}

void Proxy::cut() { cut_ = true; }

std::vector<std::uint8_t> Proxy::seen(Direction direction) const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> types;
    for (const auto& p : seen_[direction]) {
        types.push_back(p[0] >> 4);
    }
    return types;
}

std::vector<platform::Bytes> Proxy::seenPackets(Direction direction) const {
    std::lock_guard lock(mutex_);
    return seen_[direction];
}

void Proxy::run() {
    std::vector<std::unique_ptr<Link>> links;
    const auto closeLink = [](Link& link) {
        for (int& fd : link.fd) {
            if (fd >= 0) {
                ::shutdown(fd, SHUT_RDWR);
                ::close(fd);
                fd = -1;
            }
        }
    };
    while (!stop_) {
        if (cut_.exchange(false)) {
            for (auto& link : links) {
                closeLink(*link);
            }
            links.clear();
        }
        if (release_.exchange(false)) {
            for (auto& link : links) {
                for (int dir = 0; dir < 2; ++dir) {
                    const int out = link->fd[dir == ToBroker ? 1 : 0];
                    for (auto& packet : link->held[dir]) {
                        sendAll(out, packet.data(), packet.size());
                    }
                    link->held[dir].clear();
                }
            }
        }
        std::vector<pollfd> fds;
        fds.push_back({listenFd_, POLLIN, 0});
        for (auto& link : links) {
            fds.push_back({link->fd[0], POLLIN, 0});
            fds.push_back({link->fd[1], POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0) {
            continue;
        }
        const std::size_t polled = links.size();  // a link accepted below waits for the next round
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                int broker = connectLoopback(upstream_);
                if (broker < 0) {
                    ::close(client);
                } else {
                    int one = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    auto link = std::make_unique<Link>();
                    link->fd[ToBroker] = client;
                    link->fd[ToClient] = broker;
                    link->frames[0].open();
                    link->frames[1].open();
                    links.push_back(std::move(link));
                }
            }
        }
        for (std::size_t i = 0; i < polled; ++i) {
            Link& link = *links[i];
            bool dead = false;
            for (int dir = 0; dir < 2 && !dead; ++dir) {
                const pollfd& p = fds[1 + i * 2 + static_cast<std::size_t>(dir)];
                if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) {
                    continue;
                }
                std::uint8_t buf[65536];
                ssize_t n = ::recv(link.fd[dir], buf, sizeof buf, 0);
                if (n <= 0) {
                    dead = true;
                    break;
                }
                const int out = link.fd[dir == ToBroker ? ToClient : ToBroker];
                link.frames[dir].feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)),
                                      [&](std::span<const std::uint8_t> packet) {
                                          platform::Bytes copy(packet.begin(), packet.end());
                                          Action action = Forward;
                                          {
                                              std::lock_guard lock(mutex_);
                                              seen_[dir].push_back(copy);
                                              if (filter_) {
                                                  action = filter_(static_cast<Direction>(dir), copy);
                                              }
                                          }
                                          if (action == Forward) {
                                              sendAll(out, copy.data(), copy.size());
                                          } else if (action == Hold) {
                                              link.held[dir].push_back(std::move(copy));
                                          }
                                          return true;
                                      });
            }
            if (dead) {
                closeLink(link);
                links.erase(links.begin() + static_cast<std::ptrdiff_t>(i));
                break;  // the poll set no longer matches; poll again
            }
        }
    }
    for (auto& link : links) {
        closeLink(*link);
    }
}

// ---- Fake broker ---------------------------------------------------------------

FakeConnection::FakeConnection(int fd) : fd_(fd) {}

FakeConnection::~FakeConnection() { close(); }

void FakeConnection::close() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<platform::Bytes> FakeConnection::receive(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // Frame what we have: type byte, remaining length, body.
        if (!partial_.empty()) {
            std::size_t i = 1;
            std::uint32_t length = 0, multiplier = 1;
            bool complete = false;
            while (i < partial_.size() && i < 5) {
                length += (partial_[i] & 0x7F) * multiplier;
                multiplier *= 128;
                if (!(partial_[i++] & 0x80)) {
                    complete = true;
                    break;
                }
            }
            if (complete && partial_.size() >= i + length) {
                platform::Bytes packet(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(i + length));
                partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(i + length));
                return packet;
            }
        }
        if (fd_ < 0 || eof_) {
            return std::nullopt;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        std::uint8_t buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        partial_.insert(partial_.end(), buf, buf + n);
    }
}

std::optional<platform::Bytes> FakeConnection::expect(std::uint8_t type, std::chrono::milliseconds timeout) {
    auto packet = receive(timeout);
    EXPECT_TRUE(packet) << "fake broker: no packet of type " << int(type);
    if (packet) {
        EXPECT_EQ((*packet)[0] >> 4, type) << "fake broker: wrong packet type";
    }
    return packet;
}

void FakeConnection::send(const platform::Bytes& data) {
    if (fd_ >= 0) {
        sendAll(fd_, data.data(), data.size());
    }
}

bool FakeConnection::closedByPeer(std::chrono::milliseconds timeout) {
    while (receive(timeout)) {
    }
    return eof_;
}

FakeBroker::FakeBroker(Script script) {
    listenFd_ = listenLoopback(port_);
    thread_ = std::thread([this, script = std::move(script)] {
        for (int index = 0; !stop_; ++index) {
            int fd = -1;
            while (!stop_ && fd < 0) {
                fd = acceptWithin(listenFd_, 50ms);
            }
            if (fd < 0) {
                return;
            }
            FakeConnection connection(fd);
            script(connection, index);
            ++finished_;
        }
    });
}

FakeBroker::~FakeBroker() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

bool FakeBroker::done(double seconds) const {
    return platform::RunLoop::main()->runUntil([this] { return finished_ > 0; }, seconds);
}

}  // namespace pellix::test
