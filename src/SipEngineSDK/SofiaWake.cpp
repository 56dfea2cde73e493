#include "SipEngineSDK/SofiaWake.h"

#include <dirent.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/RunLoop.h"
#include "platform/SocketReactor.h"

namespace client {

struct SofiaWake::State : std::enable_shared_from_this<State> {
    int events = -1;  // our event set; closed on the reactor thread
    std::shared_ptr<pellix::platform::RunLoop> loop;
    std::function<void()> wake;
    std::atomic<bool> posted{false};
    bool alive = true;  // engine thread only

    // From any thread: one wake at a time waits on the loop.
    void ring() {
        if (posted.exchange(true)) return;
        loop->perform([weak = weak_from_this()] {
            auto s = weak.lock();
            if (!s) return;
            s->posted = false;
            if (s->alive) s->wake();
        });
    }
};

namespace {

// "socket:[123]" and "anon_inode:[eventpoll]": what sofia's sources are.
bool watchable(int fd) {
    char link[64];
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    if (n <= 0) return false;
    const std::string target(link, static_cast<std::size_t>(n));
    return target.rfind("socket:", 0) == 0 || target == "anon_inode:[eventpoll]";
}

}  // namespace

SofiaWake::Snapshot SofiaWake::snapshot() {
    // The reactor's own descriptors are never taken for sofia's (watching
    // its event set from ours, which it watches, would be a loop).
    pellix::platform::SocketReactor::shared();
    Snapshot s;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return s;
    const int own = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own) continue;
        struct stat st{};
        if (::fstat(static_cast<int>(fd), &st) == 0)
            s.open.emplace_back(static_cast<int>(fd), static_cast<unsigned long long>(st.st_ino));
    }
    ::closedir(dir);
    return s;
}

SofiaWake::SofiaWake(std::function<void()> wake) : state_(std::make_shared<State>()) {
    state_->wake = std::move(wake);
    state_->loop = pellix::platform::RunLoop::current();
    state_->events = ::epoll_create1(EPOLL_CLOEXEC);
    if (state_->events < 0) return;
    std::weak_ptr<State> weak = state_;
    auto& reactor = pellix::platform::SocketReactor::shared();
    reactor.post([weak, &reactor] {
        auto s = weak.lock();
        if (!s) return;
        reactor.add(s->events, [weak](std::uint32_t) {
            auto s = weak.lock();
            if (!s) return;
            // Our set is only a doorbell: empty it so that it rings again.
            epoll_event drained[16];
            while (::epoll_wait(s->events, drained, 16, 0) == 16) {
            }
            s->ring();
        });
    });
}

void SofiaWake::soon() { state_->ring(); }

SofiaWake::~SofiaWake() {
    state_->alive = false;
    if (state_->events < 0) return;
    // Closed on the reactor thread once it no longer watches it, so that the
    // number is not reused under its registration.
    auto& reactor = pellix::platform::SocketReactor::shared();
    reactor.post([state = state_, &reactor] {
        reactor.remove(state->events);
        ::close(state->events);
    });
}

int SofiaWake::watchOpenedSince(const Snapshot& before) {
    if (state_->events < 0) return 0;
    int watched = 0;
    for (const auto& [fd, inode] : snapshot().open) {
        const bool old = std::any_of(before.open.begin(), before.open.end(), [&, fd = fd, inode = inode](const auto& b) {
            return b.first == fd && b.second == inode;
        });
        if (old || fd == state_->events || !watchable(fd)) continue;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        ev.data.fd = fd;
        if (::epoll_ctl(state_->events, EPOLL_CTL_ADD, fd, &ev) == 0 || errno == EEXIST) ++watched;
    }
    return watched;
}

}  // namespace client
