// SocketReactor: the one epoll thread on which every socket stream pair does
// its I/O (connects, TLS handshakes, reads and writes).
//
// A pair registers its socket with a handler that the reactor calls, on its
// thread, with the epoll event bits (edge-triggered: the handler reads and
// writes until the socket would block). post() runs a block on the reactor
// thread, in order; pairs use it to hand over work from other threads.
// Created on first use and never destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace pellix::platform {

class SocketReactor {
public:
    using Handler = std::function<void(std::uint32_t events)>;
    using Block = std::function<void()>;

    static SocketReactor& shared();

    // Watches fd for input, output and hang-up (edge-triggered) until
    // remove(); false when epoll refuses it. Call on the reactor thread.
    bool add(int fd, Handler handler);
    // Stops watching fd; its handler is released. Call on the reactor thread.
    void remove(int fd);
    // Runs block on the reactor thread, after the blocks posted before it.
    void post(Block block);
    bool isReactorThread() const;

private:
    SocketReactor();
    void run();

    int epoll_ = -1;
    int wake_ = -1;
    std::mutex mutex_;  // guards posted_
    std::vector<Block> posted_;
    // Reactor thread only. Each registration has its own token, carried in
    // the epoll event instead of the fd: an event the kernel reported for a
    // socket that was closed meanwhile (its number perhaps already taken by a
    // new socket) finds no handler and is dropped.
    std::unordered_map<std::uint64_t, std::shared_ptr<Handler>> handlers_;  // by token
    std::unordered_map<int, std::uint64_t> tokens_;                          // fd -> live token
    std::uint64_t nextToken_ = 1;                                            // 0 is the wake-up eventfd
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace pellix::platform
