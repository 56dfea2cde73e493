#include "platform/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_set>

#include "platform/BlockingScope.h"
#include "platform/Clock.h"
#include "platform/Timer.h"

namespace pellix::platform {

struct RunLoop::State {
    mutable std::mutex mutex;
    std::deque<Block> posted;
    std::unordered_set<std::shared_ptr<Timer>> timers;
    int efd = -1;
    std::atomic<bool> stopRequested{false};
    bool isMain = false;
};

namespace {

// The thread that counts as main: the library's loop thread, or the last
// thread that pumped the main loop. Unset (default id) means the process's
// initial thread.
std::atomic<std::thread::id> gMainThread{};

std::mutex& loopThreadMutex() {
    static auto* m = new std::mutex();
    return *m;
}
std::thread* gLoopThread = nullptr;

bool isInitialThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

void runBlockLogged(const RunLoop::Block& block) {
    try {
        block();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pellix: uncaught exception in a run-loop block: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "pellix: uncaught exception in a run-loop block\n");
    }
}

}  // namespace

RunLoop::RunLoop() : state_(std::make_unique<State>()) {
    state_->efd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state_->efd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

RunLoop::~RunLoop() {
    if (state_->efd >= 0) ::close(state_->efd);
}

std::shared_ptr<RunLoop> RunLoop::make() { return std::shared_ptr<RunLoop>(new RunLoop()); }

std::shared_ptr<RunLoop> RunLoop::main() {
    static auto* loop = [] {
        auto* p = new std::shared_ptr<RunLoop>(make());
        (*p)->state_->isMain = true;
        return p;
    }();
    return *loop;
}

std::shared_ptr<RunLoop> RunLoop::current() {
    if (isMainThread()) return main();
    thread_local std::shared_ptr<RunLoop> mine;
    if (!mine) mine = make();
    return mine;
}

bool RunLoop::isMainThread() {
    const std::thread::id id = gMainThread.load();
    if (id == std::thread::id()) return isInitialThread();
    return id == std::this_thread::get_id();
}

void RunLoop::startMainLoopThread() {
    std::lock_guard lock(loopThreadMutex());
    if (gLoopThread) return;
    auto loop = main();
    loop->state_->stopRequested = false;
    gLoopThread = new std::thread([loop] {
        gMainThread.store(std::this_thread::get_id());
        loop->run();
    });
    gMainThread.store(gLoopThread->get_id());
}

void RunLoop::stopMainLoopThread() {
    std::thread* t = nullptr;
    {
        std::lock_guard lock(loopThreadMutex());
        std::swap(t, gLoopThread);
    }
    if (!t) return;
    main()->stop();
    if (t->get_id() == std::this_thread::get_id())
        t->detach();  // stopping from a block on the loop itself: it ends after this turn
    else
        t->join();
    delete t;
    gMainThread.store(std::thread::id());
}

bool RunLoop::isMainLoopThreadRunning() {
    std::lock_guard lock(loopThreadMutex());
    return gLoopThread != nullptr;
}

void RunLoop::perform(Block block) {
    {
        std::lock_guard lock(state_->mutex);
        state_->posted.push_back(std::move(block));
    }
    wakeUp();
}

void RunLoop::wakeUp() {
    const std::uint64_t one = 1;
    // EAGAIN only when the counter is saturated, which still leaves it readable.
    [[maybe_unused]] ssize_t n = ::write(state_->efd, &one, sizeof one);
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer) {
    if (!timer || !timer->isValid()) return;
    timer->schedule(shared_from_this());
}

void RunLoop::keepTimer(const std::shared_ptr<Timer>& timer, bool keep) {
    std::shared_ptr<Timer> dropped;  // the last reference may go: release it outside the lock
    std::lock_guard lock(state_->mutex);
    if (keep) {
        state_->timers.insert(timer);
    } else if (auto it = state_->timers.find(timer); it != state_->timers.end()) {
        dropped = *it;
        state_->timers.erase(it);
    }
}

int RunLoop::fd() const { return state_->efd; }

std::size_t RunLoop::pendingCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->posted.size();
}

std::size_t RunLoop::runOnce(double timeoutSeconds) {
    if (state_->isMain) gMainThread.store(std::this_thread::get_id());
    bool empty;
    {
        std::lock_guard lock(state_->mutex);
        empty = state_->posted.empty();
    }
    if (empty && timeoutSeconds > 0) {
        // Clock::seconds caps huge and infinite values; realDeadline turns what
        // the clock cannot count into "no limit".
        const auto deadline = Clock::realDeadline(Clock::seconds(timeoutSeconds));
        pollfd p{state_->efd, POLLIN, 0};
        BlockingScope blocking;
        for (;;) {
            int ms = -1;
            if (deadline) {
                using ms_d = std::chrono::duration<double, std::milli>;
                const double left = ms_d(*deadline - std::chrono::steady_clock::now()).count();
                if (left <= 0) break;
                // poll takes an int of milliseconds: a longer wait goes in slices.
                ms = static_cast<int>(std::ceil(std::min(left, 2.0e9)));
            }
            const int ready = ::poll(&p, 1, ms);
            if (ready > 0 || (ready < 0 && errno != EINTR)) break;
        }
    }
    // Reset the wake-up before taking the turn's blocks: anything posted from
    // here on wakes the next turn.
    std::uint64_t counter;
    [[maybe_unused]] ssize_t n = ::read(state_->efd, &counter, sizeof counter);
    std::size_t count;
    {
        std::lock_guard lock(state_->mutex);
        count = state_->posted.size();
    }
    std::size_t ran = 0;
    for (; ran < count; ++ran) {
        Block block;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->posted.empty()) break;  // a nested turn took them
            block = std::move(state_->posted.front());
            state_->posted.pop_front();
        }
        runBlockLogged(block);
    }
    // Blocks posted from inside this turn, or left by a nested turn, keep the
    // loop readable for the next one.
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->posted.empty()) wakeUp();
    }
    return ran;
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    using clock = std::chrono::steady_clock;
    // Infinite or huge time-outs saturate instead of overflowing "now + time-out".
    const auto deadline = Clock::realDeadline(Clock::seconds(timeoutSeconds));
    BlockingScope blocking;
    for (;;) {
        if (predicate()) return true;
        double left = 1.0;
        if (deadline) {
            left = std::chrono::duration<double>(*deadline - clock::now()).count();
            if (left <= 0) return predicate();
        }
        // Short slices: the predicate may turn true through another thread
        // without anything being posted here.
        runOnce(std::min(left, 0.01));
    }
}

void RunLoop::run() {
    while (!state_->stopRequested.load()) runOnce(1.0);
    state_->stopRequested = false;
}

void RunLoop::stop() {
    state_->stopRequested = true;
    wakeUp();
}

}  // namespace pellix::platform
