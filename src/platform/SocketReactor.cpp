#include "platform/SocketReactor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pellix::platform {

namespace {
constexpr std::uint64_t kWakeToken = 0;
}  // namespace

SocketReactor& SocketReactor::shared() {
    // Never destroyed: pairs may still post from other threads at exit.
    static SocketReactor* reactor = new SocketReactor();
    return *reactor;
}

SocketReactor::SocketReactor() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_ < 0) {
        std::fprintf(stderr, "[SocketReactor] cannot start: %s\n", std::strerror(errno));
        std::abort();
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeToken;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    thread_ = std::thread([this] { run(); });
    threadId_ = thread_.get_id();
    thread_.detach();
}

bool SocketReactor::add(int fd, Handler handler) {
    const std::uint64_t token = nextToken_++;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = token;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
    // A registration left behind by an fd closed without remove() is dead.
    if (auto old = tokens_.find(fd); old != tokens_.end()) handlers_.erase(old->second);
    tokens_[fd] = token;
    handlers_[token] = std::make_shared<Handler>(std::move(handler));
    return true;
}

void SocketReactor::remove(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    if (auto it = tokens_.find(fd); it != tokens_.end()) {
        handlers_.erase(it->second);
        tokens_.erase(it);
    }
}

void SocketReactor::post(Block block) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(block));
    }
    std::uint64_t one = 1;
    ssize_t n = ::write(wake_, &one, sizeof one);
    (void)n;  // a full counter still wakes the reactor
}

bool SocketReactor::isReactorThread() const { return std::this_thread::get_id() == threadId_; }

void SocketReactor::run() {
    epoll_event events[64];
    for (;;) {
        int n = ::epoll_wait(epoll_, events, 64, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "[SocketReactor] epoll_wait: %s\n", std::strerror(errno));
            continue;
        }
        for (int i = 0; i < n; ++i) {
            const std::uint64_t token = events[i].data.u64;
            if (token == kWakeToken) {
                std::uint64_t count;
                while (::read(wake_, &count, sizeof count) > 0) {
                }
                std::vector<Block> blocks;
                {
                    std::lock_guard lock(mutex_);
                    blocks.swap(posted_);
                }
                for (auto& b : blocks) b();
                continue;
            }
            auto it = handlers_.find(token);
            if (it == handlers_.end()) continue;  // removed earlier in this batch
            auto handler = it->second;  // survives a remove() from inside the handler
            (*handler)(events[i].events);
        }
    }
}

}  // namespace pellix::platform
