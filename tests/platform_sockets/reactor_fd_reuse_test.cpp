// The socket reactor when a closed socket's number is reused at once by a new
// socket: events the kernel reported for the old socket, still waiting in the
// reactor's current batch, must not reach the new one.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "EchoServer.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/SocketInputStream.h"
#include "platform/SocketOutputStream.h"
#include "platform/SocketReactor.h"
#include "platform/Value.h"
#include "support/TestSupport.h"

using namespace pellix::platform;
using namespace std::chrono_literals;

namespace {

// Runs `block` on the reactor thread and waits for it.
void onReactor(const std::function<void()>& block) {
    std::promise<void> done;
    SocketReactor::shared().post([&] {
        block();
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

// Event bits one registration received.
struct EventLog {
    std::mutex mutex;
    std::vector<std::uint32_t> events;
    void add(std::uint32_t e) {
        std::lock_guard lock(mutex);
        events.push_back(e);
    }
    std::vector<std::uint32_t> get() {
        std::lock_guard lock(mutex);
        return events;
    }
};

}  // namespace

TEST(SocketReactorReuse, StaleEventOfAClosedSocketDoesNotReachTheSocketReusingItsNumber) {
    auto& reactor = SocketReactor::shared();
    int oldPair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, oldPair), 0);
    const int number = oldPair[0];
    auto oldLog = std::make_shared<EventLog>(), newLog = std::make_shared<EventLog>();
    bool added = false;
    onReactor([&] { added = reactor.add(number, [oldLog](std::uint32_t e) { oldLog->add(e); }); });
    ASSERT_TRUE(added);
    // The first "writable" report of the fresh registration comes and goes.
    for (int i = 0; i < 500 && oldLog->get().empty(); ++i) std::this_thread::sleep_for(2ms);
    ASSERT_FALSE(oldLog->get().empty());

    // Keep the reactor inside a block while two things queue up behind it, in
    // this order: a block that closes the old socket and registers a new one
    // under the same number, then input for the old socket. Both come out of
    // the same wait, so the old socket's event is dispatched after the swap.
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    reactor.post([&entered, released] {
        entered.set_value();
        released.wait();
    });
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    int newPeer = -1;
    bool reAdded = false;
    reactor.post([&] {
        reactor.remove(number);
        ::close(number);
        int fresh[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fresh) != 0) return;
        if (fresh[0] != number) {
            ::dup3(fresh[0], number, O_CLOEXEC);  // make sure the number really is reused
            ::close(fresh[0]);
        }
        newPeer = fresh[1];
        reAdded = reactor.add(number, [newLog](std::uint32_t e) { newLog->add(e); });
    });
    ASSERT_EQ(::send(oldPair[1], "x", 1, MSG_NOSIGNAL), 1);
    release.set_value();
    onReactor([] {});  // the batch with the stale event is done by now
    onReactor([] {});
    ASSERT_TRUE(reAdded);

    // Nothing was ever sent to the new socket: a readable or hang-up report
    // can only be the old socket's.
    for (std::uint32_t e : newLog->get()) EXPECT_EQ(e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP), 0u) << "events " << e;
    const std::size_t oldCount = oldLog->get().size();

    // The new registration is live: input for it is reported to it.
    ASSERT_EQ(::send(newPeer, "y", 1, MSG_NOSIGNAL), 1);
    bool sawInput = false;
    for (int i = 0; i < 500 && !sawInput; ++i) {
        for (std::uint32_t e : newLog->get()) sawInput = sawInput || (e & EPOLLIN);
        if (!sawInput) std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(sawInput);
    EXPECT_EQ(oldLog->get().size(), oldCount) << "the removed registration was called again";

    onReactor([&] { reactor.remove(number); });
    ::close(number);
    ::close(newPeer);
    ::close(oldPair[1]);
}

namespace {

// One stream pair of the stress test: records every event per side, sends its
// payload as room appears and collects what comes back.
class Client : public SocketStreamDelegate, public std::enable_shared_from_this<Client> {
public:
    enum class Mode { CloseOnceEchoed, CloseAtEnd, Refused, Stalled };

    Client(Mode mode, std::uint32_t port, pellix::platform::Bytes body)
        : mode_(mode), pair_(SocketStreamPair::create("127.0.0.1", port)), body_(std::move(body)),
          queue_(DispatchQueue::serial("test.reuse")) {
        const auto n = static_cast<std::uint32_t>(body_.size());
        toSend_ = {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                   static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
        toSend_.insert(toSend_.end(), body_.begin(), body_.end());
    }

    void start() {
        pair_.input->setDelegate(weak_from_this());
        pair_.output->setDelegate(weak_from_this());
        pair_.input->scheduleInQueue(queue_);
        pair_.output->scheduleInQueue(queue_);
        pair_.input->open();
        pair_.output->open();
    }

    // Waits until this client is done, closes it, and checks what it saw.
    void finish(const std::string& name) {
        SCOPED_TRACE(name);
        bool done;
        {
            std::unique_lock lock(mutex_);
            done = cv_.wait_for(lock, 10s, [this] { return finished(); });
        }
        if (mode_ == Mode::Stalled) {
            // Closed while its connect is still pending, as a time-out would.
            queue_->sync([this] { closeBoth(); });
            std::lock_guard lock(mutex_);
            EXPECT_TRUE(events_.empty()) << "a pair whose connect never completed " << describe();
            return;
        }
        queue_->sync([this] { closeBoth(); });
        std::lock_guard lock(mutex_);
        EXPECT_TRUE(done) << "timed out; " << describe();
        if (mode_ == Mode::Refused) {
            EXPECT_EQ(count('i', StreamEvent::OpenCompleted) + count('o', StreamEvent::OpenCompleted), 0)
                << describe();
            EXPECT_EQ(count('i', StreamEvent::ErrorOccurred), 1) << describe();
            EXPECT_EQ(count('o', StreamEvent::ErrorOccurred), 1) << describe();
            if (error_) {
                EXPECT_EQ(error_->code(), ECONNREFUSED);
            }
            return;
        }
        EXPECT_FALSE(error_) << describe();
        for (char side : {'i', 'o'}) {
            EXPECT_EQ(count(side, StreamEvent::OpenCompleted), 1) << describe();
            for (const auto& [s, e] : events_)
                if (s == side) {
                    EXPECT_EQ(e, StreamEvent::OpenCompleted) << "first event of side " << side << "; " << describe();
                    break;
                }
        }
        EXPECT_TRUE(received_ == body_) << "received " << received_.size() << " of " << body_.size()
                                        << " bytes, or other bytes; " << describe();
    }

    void stream(SocketInputStream& stream, StreamEvent event) override {
        std::lock_guard lock(mutex_);
        events_.emplace_back('i', event);
        if (event == StreamEvent::HasBytesAvailable) {
            std::uint8_t buf[4096];
            for (std::int64_t n; (n = stream.read(buf, sizeof buf)) > 0;)
                received_.insert(received_.end(), buf, buf + n);
            if (mode_ == Mode::CloseOnceEchoed && received_.size() >= body_.size()) closeBoth();
        }
        if (event == StreamEvent::ErrorOccurred) error_ = stream.streamError();
        cv_.notify_all();
    }
    void stream(SocketOutputStream& stream, StreamEvent event) override {
        std::lock_guard lock(mutex_);
        events_.emplace_back('o', event);
        if (event == StreamEvent::HasSpaceAvailable) {
            while (sent_ < toSend_.size()) {
                auto n = stream.write(toSend_.data() + sent_, toSend_.size() - sent_);
                if (n <= 0) break;
                sent_ += static_cast<std::size_t>(n);
            }
        }
        if (event == StreamEvent::ErrorOccurred) error_ = stream.streamError();
        cv_.notify_all();
    }

private:
    // Lock held.
    bool finished() const {
        switch (mode_) {
        case Mode::CloseOnceEchoed:
            return closed_ || error_;
        case Mode::CloseAtEnd:
            return hasEvent('i', StreamEvent::EndEncountered) || error_;
        case Mode::Refused:
            return hasEvent('i', StreamEvent::ErrorOccurred) && hasEvent('o', StreamEvent::ErrorOccurred);
        case Mode::Stalled:
            return true;  // nothing to wait for: its finish() comes after the others'
        }
        return false;
    }
    bool hasEvent(char side, StreamEvent event) const { return count(side, event) > 0; }
    int count(char side, StreamEvent event) const {
        int n = 0;
        for (const auto& [s, e] : events_) n += (s == side && e == event);
        return n;
    }
    void closeBoth() {
        if (closed_) return;
        closed_ = true;
        pair_.input->close();
        pair_.output->close();
    }
    std::string describe() const {
        std::string s = "events:";
        for (const auto& [side, e] : events_) s += " " + std::string(1, side) + std::to_string(static_cast<int>(e));
        return s;
    }

    const Mode mode_;
    SocketStreamPair pair_;
    const pellix::platform::Bytes body_;
    pellix::platform::Bytes toSend_;
    std::shared_ptr<DispatchQueue> queue_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::pair<char, StreamEvent>> events_;
    pellix::platform::Bytes received_;
    std::size_t sent_ = 0;
    bool closed_ = false;
    ErrorPtr error_;
};

// A listener that never accepts, with its accept queue filled: further SYNs
// are dropped, so a pair connecting to it stays connecting for as long as the
// test runs. A report that such a pair opened can only be another socket's.
class StalledListener {
public:
    StalledListener() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listen_, 0) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("stalled listener: cannot listen");
        port_ = ntohs(addr.sin_port);
        // A backlog of 0 still queues one connection; a few more make sure.
        for (int i = 0; i < 3; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
            fillers_.push_back(fd);
        }
    }
    ~StalledListener() {
        for (int fd : fillers_) ::close(fd);
        ::close(listen_);
    }
    int port() const { return port_; }

private:
    int listen_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// Keeps the reactor thread busy with short blocks that post their successor
// first: every wait of the reactor then returns its wake-up before the socket
// events that came in meanwhile, so closes and new sockets run in between a
// socket's readiness and its dispatch, as on a loaded reactor.
class ReactorLoad {
public:
    ReactorLoad() { SocketReactor::shared().post([this] { tick(); }); }
    ~ReactorLoad() {
        stop_ = true;
        ended_.get_future().wait();
    }

private:
    void tick() {
        if (stop_) {
            ended_.set_value();
            return;
        }
        SocketReactor::shared().post([this] { tick(); });
        std::this_thread::sleep_for(200us);
    }
    std::atomic<bool> stop_{false};
    std::promise<void> ended_;
};

}  // namespace

TEST(SocketReactorReuse, ManyPairsOpeningAndClosingAtOnceSeeOnlyTheirOwnBytesAndEvents) {
    // Several threads each run cycles of four pairs at once: one that closes
    // as soon as its echo is in (racing the server's FIN), one that reads to
    // the end, one to a port nobody listens on and one whose connect never
    // completes. Socket numbers are reused all the time; every pair must see
    // exactly its own bytes and events.
    pellix::test::EchoServer server;
    StalledListener stalledListener;
    ReactorLoad load;
    const int refusedPort = pellix::test::freePort();
    constexpr int kThreads = 4, kCycles = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int c = 0; c < kCycles; ++c) {
                auto body = [&](int which) {
                    pellix::platform::Bytes b(700 + static_cast<std::size_t>((t * 131 + c * 17 + which) % 900));
                    for (std::size_t i = 0; i < b.size(); ++i)
                        b[i] = static_cast<std::uint8_t>(t * 64 + c * 3 + which * 7 + i);
                    return b;
                };
                auto first = std::make_shared<Client>(Client::Mode::CloseOnceEchoed, server.port(), body(0));
                auto second = std::make_shared<Client>(Client::Mode::CloseAtEnd, server.port(), body(1));
                auto refused = std::make_shared<Client>(Client::Mode::Refused, refusedPort, pellix::platform::Bytes{});
                auto stalled =
                    std::make_shared<Client>(Client::Mode::Stalled, stalledListener.port(), pellix::platform::Bytes{});
                first->start();
                second->start();
                refused->start();
                stalled->start();
                const std::string name = "thread " + std::to_string(t) + " cycle " + std::to_string(c);
                first->finish(name + " close once echoed");
                second->finish(name + " close at end");
                refused->finish(name + " refused");
                stalled->finish(name + " stalled");
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(server.accepted(), 2 * kThreads * kCycles);
}
