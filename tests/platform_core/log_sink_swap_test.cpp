// Sinks that replace the sink while they run (a one-shot sink that puts the
// previous one back, a sink that falls back to stderr), and setSink from other
// threads while a sink runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"

using pellix::platform::Log;
using namespace std::chrono_literals;

namespace {

struct LogSinkSwap : ::testing::Test {
    ~LogSinkSwap() override { Log::setSink(nullptr); }
};

// Runs `body` on a thread and ends the process with a message when it does not
// finish in time: a deadlocked logger would otherwise hang the test (and its
// fixture, which needs the same lock) until the runner's time-out.
void finishesOrDie(const char* what, const std::function<void()>& body) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    std::thread worker([done, body] {
        body();
        done->set_value();
    });
    if (finished.wait_for(10s) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not finish: the logger deadlocked\n", what);
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
}

// Lines a sink saw, guarded for the multi-threaded cases.
struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(std::string_view l) {
        std::lock_guard lock(mutex);
        lines.emplace_back(l);
    }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

}  // namespace

TEST_F(LogSinkSwap, SinkReplacingItselfFinishesItsCallAndTheNewSinkTakesOver) {
    // Each case: what the running sink installs from inside itself, and where
    // the next line must then go. The sink keeps using what it captured after
    // the swap (a heap string), which must still be alive while it runs.
    struct Case {
        const char* name;
        bool restoreToStderr;  // else: restore the previous sink
    };
    for (const Case c : {Case{"one-shot restores the previous sink", false},
                         Case{"sink falls back to stderr", true}}) {
        SCOPED_TRACE(c.name);
        auto previous = std::make_shared<Lines>();
        auto oneShot = std::make_shared<Lines>();
        Log::Sink previousSink = [previous](std::string_view l) { previous->add(l); };
        Log::setSink(previousSink);
        const std::string tag(200, 't');  // heap storage owned by the one-shot sink
        Log::setSink([oneShot, previousSink, tag, c](std::string_view l) {
            Log::setSink(c.restoreToStderr ? Log::Sink() : previousSink);
            oneShot->add(std::string(l) + "|" + tag);  // after the swap: our captures must still be there
        });
        finishesOrDie("a sink calling setSink", [] {
            Log::write("first");
            Log::write("second");
        });
        EXPECT_EQ(oneShot->get(), std::vector<std::string>{"first|" + tag});
        EXPECT_EQ(previous->get(),
                  c.restoreToStderr ? std::vector<std::string>{} : std::vector<std::string>{"second"});
        Log::setSink(nullptr);
    }
}

TEST_F(LogSinkSwap, SinksSwappingEachOtherUnderManyWritersLoseNoLine) {
    // Two sinks that each hand over to the other after every line, while eight
    // threads write: every line reaches exactly one of them, whole.
    auto a = std::make_shared<Lines>(), b = std::make_shared<Lines>();
    auto sinkA = std::make_shared<Log::Sink>(), sinkB = std::make_shared<Log::Sink>();
    std::weak_ptr<Log::Sink> weakA = sinkA, weakB = sinkB;
    *sinkA = [a, weakB](std::string_view l) {
        a->add(l);
        if (auto next = weakB.lock()) Log::setSink(*next);
    };
    *sinkB = [b, weakA](std::string_view l) {
        b->add(l);
        if (auto next = weakA.lock()) Log::setSink(*next);
    };
    Log::setSink(*sinkA);
    constexpr int kThreads = 8, kLines = 300;
    finishesOrDie("writers with self-swapping sinks", [] {
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t)
            writers.emplace_back([t] {
                for (int i = 0; i < kLines; ++i) Log::writef("writer %d line %03d", t, i);
            });
        for (auto& w : writers) w.join();
    });
    Log::setSink(nullptr);
    const auto seenA = a->get(), seenB = b->get();
    EXPECT_EQ(seenA.size() + seenB.size(), std::size_t{kThreads * kLines});
    // Strict alternation: A took the first line, so it has the extra one if odd.
    EXPECT_EQ(seenA.size(), seenB.size());
    for (const auto* seen : {&seenA, &seenB})
        for (const auto& l : *seen) EXPECT_EQ(l.size(), std::string("writer 0 line 000").size()) << l;
}

TEST_F(LogSinkSwap, SetSinkFromAnotherThreadWaitsForTheRunningSink) {
    // The caller of setSink may free what the old sink uses as soon as it
    // returns, so it must not return while the old sink is still running.
    std::mutex m;
    std::condition_variable cv;
    bool sinkEntered = false, releaseSink = false;
    std::atomic<bool> oldSinkRunning{false}, setSinkReturnedDuringOldSink{false};
    Log::setSink([&](std::string_view) {
        oldSinkRunning = true;
        std::unique_lock lock(m);
        sinkEntered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return releaseSink; });
        oldSinkRunning = false;
    });
    auto fresh = std::make_shared<Lines>();
    finishesOrDie("setSink while another thread's sink runs", [&] {
        std::thread writer([] { Log::write("to the old sink"); });
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return sinkEntered; });
        }
        std::thread replacer([&] {
            Log::setSink([fresh](std::string_view l) { fresh->add(l); });
            if (oldSinkRunning) setSinkReturnedDuringOldSink = true;
        });
        std::this_thread::sleep_for(50ms);  // give a wrong setSink time to return early
        {
            std::lock_guard lock(m);
            releaseSink = true;
        }
        cv.notify_all();
        writer.join();
        replacer.join();
        Log::write("to the new sink");
    });
    EXPECT_FALSE(setSinkReturnedDuringOldSink.load());
    EXPECT_EQ(fresh->get(), std::vector<std::string>{"to the new sink"});
}
