// Task futures: outcomes, aggregates, chaining, cancellation and waiting.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <mutex>
#include <regex>
#include <thread>

#include "HOSSDK/HOSTask/HOSCancellationTokenSource.h"
#include "HOSSDK/HOSTask/HOSTask.h"
#include "HOSSDK/HOSTask/HOSTaskCompletionSource.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/ManualClock.h"
#include "platform/RunLoop.h"

using namespace pellix;
using platform::Error;
using platform::Exception;

namespace {

enum class Outcome { Result, Error, Error2, Exception, Exception2, Cancelled };

const platform::ErrorPtr kError1 = Error::make("test", 1);
const platform::ErrorPtr kError2 = Error::make("test", 2);
const HOSExceptionPtr kException1 = std::make_shared<const Exception>("E1", "first");
const HOSExceptionPtr kException2 = std::make_shared<const Exception>("E2", "second");

void finish(HOSTaskCompletionSource& s, Outcome o, int value) {
    switch (o) {
        case Outcome::Result: s.setResult(value); break;
        case Outcome::Error: s.setError(kError1); break;
        case Outcome::Error2: s.setError(kError2); break;
        case Outcome::Exception: s.setException(kException1); break;
        case Outcome::Exception2: s.setException(kException2); break;
        case Outcome::Cancelled: s.cancel(); break;
    }
}

enum class Expect { NilResult, FirstResult, Error1, MultipleErrors, Exception1, MultipleExceptions, Cancelled };

struct AggregateCase {
    const char* name;
    std::vector<Outcome> inputs;
    Expect all;
    Expect any;
};

void check(const HOSTaskPtr& t, Expect e, const char* name) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(t->isCompleted());
    switch (e) {
        case Expect::NilResult:
            EXPECT_FALSE(t->isFaulted());
            EXPECT_FALSE(t->isCancelled());
            EXPECT_FALSE(t->result().has_value());
            break;
        case Expect::FirstResult:
            EXPECT_FALSE(t->isFaulted());
            ASSERT_NE(t->resultAs<int>(), nullptr);
            break;
        case Expect::Error1:
            EXPECT_TRUE(t->isFaulted());
            EXPECT_EQ(t->error(), kError1);  // that very error
            EXPECT_EQ(t->exception(), nullptr);
            break;
        case Expect::MultipleErrors: {
            EXPECT_TRUE(t->isFaulted());
            ASSERT_NE(t->error(), nullptr);
            EXPECT_EQ(t->error()->domain(), "tasks");
            EXPECT_EQ(t->error()->code(), 80175001);
            const auto* list = t->error()->userInfo().find("errors");
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->asArray().size(), 2u);
            EXPECT_EQ(list->asArray()[0].get("domain")->asString(), "test");
            EXPECT_EQ(list->asArray()[0].get("code")->asInt() + list->asArray()[1].get("code")->asInt(), 3);
            break;
        }
        case Expect::Exception1:
            EXPECT_TRUE(t->isFaulted());
            EXPECT_EQ(t->exception(), kException1);
            EXPECT_EQ(t->error(), nullptr);
            break;
        case Expect::MultipleExceptions: {
            ASSERT_NE(t->exception(), nullptr);
            EXPECT_EQ(t->exception()->name(), "HOSMultipleExceptionsException");
            EXPECT_EQ(t->exception()->reason(), "There were multiple exceptions.");
            const auto* list = t->exception()->userInfo().find("exceptions");
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(list->asArray().size(), 2u);
            break;
        }
        case Expect::Cancelled:
            EXPECT_TRUE(t->isCancelled());
            EXPECT_FALSE(t->isFaulted());
            break;
    }
}

const std::vector<AggregateCase> kAggregateCases = {
    {"all results", {Outcome::Result, Outcome::Result}, Expect::NilResult, Expect::FirstResult},
    {"one error among successes", {Outcome::Result, Outcome::Error, Outcome::Result}, Expect::Error1,
     Expect::FirstResult},
    {"two errors", {Outcome::Error, Outcome::Error2}, Expect::MultipleErrors, Expect::MultipleErrors},
    {"exception with errors", {Outcome::Error, Outcome::Exception, Outcome::Error2}, Expect::Exception1,
     Expect::Exception1},
    {"two exceptions", {Outcome::Exception, Outcome::Exception2}, Expect::MultipleExceptions,
     Expect::MultipleExceptions},
    {"cancelled with error", {Outcome::Cancelled, Outcome::Error}, Expect::Error1, Expect::Cancelled},
    {"cancelled only", {Outcome::Cancelled, Outcome::Cancelled}, Expect::Cancelled, Expect::Cancelled},
    {"success after failures", {Outcome::Error, Outcome::Cancelled, Outcome::Result}, Expect::Error1,
     Expect::FirstResult},
};

}  // namespace

TEST(HOSTaskAggregate, TableOfOutcomesCompletedLaterAndAlreadyCompleted) {
    for (bool preCompleted : {false, true}) {
        for (const auto& c : kAggregateCases) {
            std::vector<std::shared_ptr<HOSTaskCompletionSource>> sources;
            std::vector<HOSTaskPtr> tasks;
            for (std::size_t i = 0; i < c.inputs.size(); ++i) {
                sources.push_back(HOSTaskCompletionSource::taskCompletionSource());
                tasks.push_back(sources.back()->task());
                if (preCompleted) finish(*sources.back(), c.inputs[i], static_cast<int>(i));
            }
            auto all = HOSTask::taskForCompletionOfAllTasks(tasks);
            auto any = HOSTask::taskForCompletionOfAnyTask(tasks);
            if (!preCompleted) {
                EXPECT_FALSE(all->isCompleted()) << c.name;
                for (std::size_t i = 0; i < c.inputs.size(); ++i)
                    finish(*sources[i], c.inputs[i], static_cast<int>(i));
            }
            check(all, c.all, c.name);
            check(any, c.any, c.name);
            if (c.any == Expect::FirstResult) {
                // The first input that succeeded, here the only or first Result.
                std::size_t first = 0;
                while (c.inputs[first] != Outcome::Result) ++first;
                EXPECT_EQ(*any->resultAs<int>(), static_cast<int>(first)) << c.name;
            }
        }
    }
}

TEST(HOSTaskAggregate, EmptyListsGiveNilResultAtOnce) {
    for (auto t : {HOSTask::taskForCompletionOfAllTasks({}), HOSTask::taskForCompletionOfAnyTask({}),
                   HOSTask::taskForCompletionOfAllTasksWithResults({})}) {
        EXPECT_TRUE(t->isCompleted());
        EXPECT_FALSE(t->isFaulted());
    }
}

TEST(HOSTaskAggregate, AllWithResultsKeepsInputOrderAndPassesFailureOn) {
    auto a = HOSTaskCompletionSource::taskCompletionSource();
    auto b = HOSTaskCompletionSource::taskCompletionSource();
    auto c = HOSTaskCompletionSource::taskCompletionSource();
    auto all = HOSTask::taskForCompletionOfAllTasksWithResults({a->task(), b->task(), c->task()});
    c->setResult(std::string("c"));
    b->setResult(std::any());  // nil keeps its place
    a->setResult(std::string("a"));
    auto* results = all->resultAs<std::vector<std::any>>();
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->size(), 3u);
    EXPECT_EQ(std::any_cast<std::string>((*results)[0]), "a");
    EXPECT_FALSE((*results)[1].has_value());
    EXPECT_EQ(std::any_cast<std::string>((*results)[2]), "c");

    auto failed = HOSTask::taskForCompletionOfAllTasksWithResults(
        {HOSTask::taskWithResult(1), HOSTask::taskWithError(kError1)});
    EXPECT_EQ(failed->error(), kError1);
    EXPECT_FALSE(failed->result().has_value());
}

TEST(HOSTaskChaining, ReturnedTasksAndThrownExceptions) {
    // A continuation returning a cancelled task is cancelled.
    auto cancelled = HOSTask::taskWithResult(1)->continueWithBlock(
        [](const HOSTaskPtr&) -> std::any { return HOSTask::cancelledTask(); });
    EXPECT_TRUE(cancelled->isCancelled());

    // One returning a pending task ends when that task ends, with its result.
    auto inner = HOSTaskCompletionSource::taskCompletionSource();
    auto chained = HOSTask::taskWithResult(1)->continueWithBlock(
        [inner](const HOSTaskPtr&) -> std::any { return inner->task(); });
    EXPECT_FALSE(chained->isCompleted());
    inner->setResult(std::string("late"));
    ASSERT_TRUE(chained->isCompleted());
    EXPECT_EQ(*chained->resultAs<std::string>(), "late");

    // Errors of a returned task pass through.
    auto err = HOSTask::taskWithResult(1)->continueWithBlock(
        [](const HOSTaskPtr&) -> std::any { return HOSTask::taskWithError(kError2); });
    EXPECT_EQ(err->error(), kError2);

    // A platform exception becomes the continuation's exception and no error.
    auto thrown = HOSTask::taskWithResult(1)->continueWithBlock([](const HOSTaskPtr&) -> std::any {
        throw Exception(Exception::kInvalidArgumentException, "bad");
    });
    ASSERT_NE(thrown->exception(), nullptr);
    EXPECT_EQ(thrown->exception()->name(), "NSInvalidArgumentException");
    EXPECT_EQ(thrown->exception()->reason(), "bad");
    EXPECT_EQ(thrown->error(), nullptr);
    EXPECT_TRUE(thrown->isFaulted());

    // So does a standard C++ exception, such as a wrong-type Value access.
    auto standard = HOSTask::taskWithResult(platform::Value(5))->continueWithBlock([](const HOSTaskPtr& t) -> std::any {
        return std::any_cast<platform::Value>(t->result()).asString();
    });
    ASSERT_NE(standard->exception(), nullptr);
    EXPECT_EQ(standard->exception()->name(), "NSGenericException");
}

TEST(HOSTaskChaining, PlainContinuationsSeeFailuresSuccessContinuationsPassThemOn) {
    int calls = 0;
    auto plain = HOSTask::taskWithError(kError1)->continueWithBlock([&](const HOSTaskPtr& t) -> std::any {
        ++calls;
        return t->error() ? 7 : 0;
    });
    EXPECT_EQ(*plain->resultAs<int>(), 7);

    for (auto failed : {HOSTask::taskWithError(kError1), HOSTask::taskWithException(kException1),
                        HOSTask::cancelledTask()}) {
        auto s = failed->continueWithSuccessBlock([&](const HOSTaskPtr&) -> std::any {
            ++calls;
            return 1;
        });
        EXPECT_EQ(s->error(), failed->error());
        EXPECT_EQ(s->exception(), failed->exception());
        EXPECT_EQ(s->isCancelled(), failed->isCancelled());
    }
    EXPECT_EQ(calls, 1);
    auto ok = HOSTask::taskWithResult(2)->continueWithSuccessBlock(
        [](const HOSTaskPtr& t) -> std::any { return *t->resultAs<int>() * 10; });
    EXPECT_EQ(*ok->resultAs<int>(), 20);
}

TEST(HOSTaskCancellation, TokenCancelledWhilePendingEndsContinuationOnlyWhenAntecedentEnds) {
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    bool called = false;
    auto c = source->task()->continueWithBlock(
        [&](const HOSTaskPtr&) -> std::any {
            called = true;
            return {};
        },
        cts->token());
    cts->cancel();
    EXPECT_FALSE(c->isCompleted());
    source->setResult(1);
    EXPECT_TRUE(c->isCancelled());
    EXPECT_FALSE(called);

    // A success continuation with an already cancelled token is cancelled at once.
    auto pending = HOSTaskCompletionSource::taskCompletionSource();
    auto s = pending->task()->continueWithSuccessBlock([](const HOSTaskPtr&) -> std::any { return 1; },
                                                       cts->token());
    EXPECT_TRUE(s->isCancelled());
}

// A token disposed while a continuation still holds it: the continuation
// ends with that exception instead of it escaping into the executor.
TEST(HOSTaskCancellation, DisposedTokenBecomesTheContinuationsException) {
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    auto c = source->task()->continueWithBlock([](const HOSTaskPtr&) -> std::any { return 1; }, cts->token());
    cts->dispose();
    source->setResult(1);
    ASSERT_NE(c->exception(), nullptr);
    EXPECT_EQ(c->exception()->reason(), "Object already disposed");
}

TEST(HOSTaskCompletion, SetTwiceRaisesTryReportsFalse) {
    struct Case {
        std::function<void(HOSTaskCompletionSource&)> set;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {[](HOSTaskCompletionSource& s) { s.setResult(1); }, "Cannot set the result on a completed task."},
        {[](HOSTaskCompletionSource& s) { s.setError(kError1); }, "Cannot set the error on a completed task."},
        {[](HOSTaskCompletionSource& s) { s.setException(kException1); },
         "Cannot set the exception on a completed task."},
        {[](HOSTaskCompletionSource& s) { s.cancel(); }, "Cannot cancel a completed task."},
    };
    for (const auto& c : cases) {
        HOSTaskCompletionSource s;
        s.setResult(std::string("first"));
        try {
            c.set(s);
            ADD_FAILURE() << "no exception for " << c.reason;
        } catch (const Exception& e) {
            EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
            EXPECT_EQ(e.reason(), c.reason);
        }
        EXPECT_FALSE(s.trySetResult(2));
        EXPECT_FALSE(s.trySetCancelled());
        EXPECT_EQ(*s.task()->resultAs<std::string>(), "first");
    }
}

// Continuations run after the task's lock is released: one that has another
// thread read the task it belongs to must not deadlock.
TEST(HOSTaskCompletion, ContinuationMayHaveAnotherThreadReadTheSameTask) {
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    HOSTaskPtr task = source->task();
    auto c = task->continueWithBlock([task](const HOSTaskPtr&) -> std::any {
        auto f = std::async(std::launch::async, [task] { return task->description(); });
        if (f.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return std::string("deadlock");
        return f.get();
    });
    source->setResult(1);
    ASSERT_NE(c->resultAs<std::string>(), nullptr);
    EXPECT_NE(c->resultAs<std::string>()->find("completed = YES"), std::string::npos);
}

TEST(HOSTaskWaiting, WaitDelayAndDescription) {
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    std::thread completer([source] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        source->setResult(std::string("done"));
    });
    source->task()->waitUntilFinished();
    EXPECT_EQ(*source->task()->resultAs<std::string>(), "done");
    completer.join();
    source->task()->waitUntilFinished();  // completed: returns at once

    // The delay runs on the manual clock, so the continuation is surely in
    // place before the task completes: it then runs where the delay fired,
    // never on the caller's thread.
    auto manual = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(manual);
    auto caller = std::this_thread::get_id();
    auto delayed = HOSTask::taskWithDelay(10)->continueWithExecutor(
        HOSExecutor::immediateExecutor(), [](const HOSTaskPtr&) -> std::any { return std::this_thread::get_id(); });
    EXPECT_FALSE(delayed->isCompleted());
    manual->advance(0.010);
    delayed->waitUntilFinished();
    platform::Clock::setShared(nullptr);
    EXPECT_NE(*delayed->resultAs<std::thread::id>(), caller);

    auto pending = HOSTaskCompletionSource::taskCompletionSource();
    EXPECT_TRUE(std::regex_match(pending->task()->description(),
                                 std::regex("<HOSTask: 0x[0-9a-f]+; completed = NO; cancelled = NO; faulted = NO;>")))
        << pending->task()->description();
    EXPECT_TRUE(std::regex_match(HOSTask::taskWithResult(std::string("x"))->description(),
                                 std::regex("<HOSTask: 0x[0-9a-f]+; completed = YES; cancelled = NO; "
                                            "faulted = NO; result = x>")));
}

TEST(HOSTaskWaiting, WaitingOnTheMainThreadWarnsFirst) {
    std::vector<std::string> lines;
    std::mutex m;
    platform::Log::setSink([&](std::string_view l) {
        std::lock_guard<std::mutex> g(m);
        lines.emplace_back(l);
    });
    platform::RunLoop::main()->runOnce(0);  // this thread now drives the main loop
    ASSERT_TRUE(platform::RunLoop::isMainThread());
    HOSTask::taskWithResult(1)->waitUntilFinished();
    std::thread([] { HOSTask::taskWithResult(1)->waitUntilFinished(); }).join();
    platform::Log::setSink(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "Warning: A long-running operation is being executed on the main thread. \n Break on "
              "warnBlockingOperationOnMainThread() to debug.");
}

TEST(HOSTaskWaiting, DelayWithTokenPollsWhenTheDelayEnds) {
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    auto t = HOSTask::taskWithDelay(30, cts->token());
    cts->cancel();
    EXPECT_FALSE(t->isCompleted());
    t->waitUntilFinished();
    EXPECT_TRUE(t->isCancelled());
    EXPECT_TRUE(HOSTask::taskWithDelay(10000, cts->token())->isCancelled());
}

TEST(HOSTaskExecutors, TaskFromExecutorRunsOnIt) {
    auto queue = platform::DispatchQueue::serial("hos.test.executor");
    auto exec = HOSExecutor::executorWithDispatchQueue(queue);
    auto t = HOSTask::taskFromExecutor(exec, [queue]() -> std::any { return queue->isCurrent(); });
    t->waitUntilFinished();
    EXPECT_TRUE(*t->resultAs<bool>());
    auto chained = HOSTask::taskFromExecutor(exec, []() -> std::any { return HOSTask::taskWithError(kError1); });
    chained->waitUntilFinished();
    EXPECT_EQ(chained->error(), kError1);
}

// 10,000 inputs completed from several threads while continuations are being
// registered; the aggregate and every continuation see each input exactly once.
TEST(HOSTaskStress, TenThousandTasksAcrossThreads) {
    constexpr int kTasks = 10000;
    constexpr int kThreads = 8;
    std::vector<std::shared_ptr<HOSTaskCompletionSource>> sources;
    std::vector<HOSTaskPtr> tasks;
    for (int i = 0; i < kTasks; ++i) {
        sources.push_back(HOSTaskCompletionSource::taskCompletionSource());
        tasks.push_back(sources.back()->task());
    }
    std::atomic<int> continued{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&, k] {
            while (!go.load()) std::this_thread::yield();
            for (int i = k; i < kTasks; i += kThreads) {
                if (i % 3 == 0)
                    sources[i]->setError(Error::make("stress", i));
                else
                    sources[i]->setResult(i);
            }
        });
    }
    std::thread registrar([&] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < kTasks; ++i)
            tasks[i]->continueWithBlock([&](const HOSTaskPtr&) -> std::any {
                continued.fetch_add(1);
                return {};
            });
    });
    auto all = HOSTask::taskForCompletionOfAllTasks(tasks);
    auto any = HOSTask::taskForCompletionOfAnyTask(tasks);
    go = true;
    for (auto& t : threads) t.join();
    registrar.join();
    all->waitUntilFinished();
    any->waitUntilFinished();
    EXPECT_EQ(continued.load(), kTasks);
    ASSERT_NE(all->error(), nullptr);
    EXPECT_EQ(all->error()->code(), kHOSMultipleErrorsError);
    EXPECT_EQ(all->error()->userInfo().find("errors")->asArray().size(), static_cast<std::size_t>((kTasks + 2) / 3));
    ASSERT_NE(any->resultAs<int>(), nullptr);
    EXPECT_NE(*any->resultAs<int>() % 3, 0);
}

// A chain of 10,000 pending continuations completed at once from a thread
// with a small stack: the default executor moves to a fresh stack before the
// completing thread's runs out.
TEST(HOSTaskStress, LongInlineChainDoesNotExhaustTheStack) {
#if defined(__SANITIZE_THREAD__)
    constexpr int kLength = 3000;  // the race detector records at most 65,536 frames per stack
#else
    constexpr int kLength = 10000;
#endif
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    HOSTaskPtr t = source->task();
    for (int i = 0; i < kLength; ++i)
        t = t->continueWithBlock([](const HOSTaskPtr& prev) -> std::any { return *prev->resultAs<int>() + 1; });
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t th;
    auto run = [](void* arg) -> void* {
        static_cast<HOSTaskCompletionSource*>(arg)->setResult(0);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&th, &attr, run, source.get()), 0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
    t->waitUntilFinished();
    EXPECT_EQ(*t->resultAs<int>(), kLength);
}
