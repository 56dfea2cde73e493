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
    std::unordered_map<int, std::shared_ptr<Handler>> handlers_;  // reactor thread only
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace pellix::platform
