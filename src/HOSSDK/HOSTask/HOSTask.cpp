#include "HOSSDK/HOSTask/HOSTask.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSTask/HOSTaskCompletionSource.h"
#include "platform/BlockingScope.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"

namespace pellix {

namespace {

platform::Array entries(const std::vector<platform::ErrorPtr>& errors) {
    platform::Array a;
    for (const auto& e : errors)
        a.emplace_back(platform::Dictionary{{"domain", e->domain()},
                                            {"code", e->code()},
                                            {"userInfo", e->userInfo()},
                                            {"description", e->description()}});
    return a;
}

platform::Array entries(const std::vector<HOSExceptionPtr>& exceptions) {
    platform::Array a;
    for (const auto& e : exceptions)
        a.emplace_back(
            platform::Dictionary{{"name", e->name()}, {"reason", e->reason()}, {"userInfo", e->userInfo()}});
    return a;
}

HOSExceptionPtr exceptionFrom(std::exception_ptr p) {
    try {
        std::rethrow_exception(p);
    } catch (const platform::Exception& e) {
        return std::make_shared<const platform::Exception>(e);
    } catch (const std::exception& e) {
        // Continuations are C++: a standard exception (a failed Value access,
        // an allocation failure) is caught the same way as the platform's own.
        return std::make_shared<const platform::Exception>(platform::Exception::kGenericException, e.what());
    } catch (...) {
        return std::make_shared<const platform::Exception>(platform::Exception::kGenericException,
                                                           "unknown exception");
    }
}

std::string demangle(const char* name) {
    int status = 0;
    char* d = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = (status == 0 && d) ? d : name;
    std::free(d);
    return out;
}

}  // namespace

void hosWarnBlockingOperationOnMainThread() {
    platform::Log::write(
        "Warning: A long-running operation is being executed on the main thread. \n Break on "
        "warnBlockingOperationOnMainThread() to debug.");
}

std::string hosDescribeResult(const std::any& r) {
    if (!r.has_value()) return "(null)";
    if (auto* v = std::any_cast<platform::Value>(&r)) return v->description();
    if (auto* s = std::any_cast<std::string>(&r)) return *s;
    if (auto* s = std::any_cast<const char*>(&r)) return *s ? *s : "(null)";
    if (auto* b = std::any_cast<bool>(&r)) return *b ? "1" : "0";
    if (auto* i = std::any_cast<int>(&r)) return std::to_string(*i);
    if (auto* i = std::any_cast<std::int64_t>(&r)) return std::to_string(*i);
    if (auto* u = std::any_cast<std::uint64_t>(&r)) return std::to_string(*u);
    if (auto* d = std::any_cast<double>(&r)) return platform::formatDouble(*d);
    if (auto* t = std::any_cast<HOSTaskPtr>(&r)) return *t ? (*t)->description() : "(null)";
    if (auto* a = std::any_cast<std::vector<std::any>>(&r)) {
        std::string out = "(";
        for (std::size_t i = 0; i < a->size(); ++i) out += (i ? ", " : "") + hosDescribeResult((*a)[i]);
        return out + ")";
    }
    return "<" + demangle(r.type().name()) + ">";
}

// ---- creation ---------------------------------------------------------------

HOSTaskPtr HOSTask::make() { return std::make_shared<HOSTask>(Private{}); }

HOSTaskPtr HOSTask::taskWithResult(std::any result) {
    auto t = make();
    t->trySetResult(std::move(result));
    return t;
}

HOSTaskPtr HOSTask::taskWithError(platform::ErrorPtr error) {
    auto t = make();
    t->trySetError(std::move(error));
    return t;
}

HOSTaskPtr HOSTask::taskWithException(HOSExceptionPtr exception) {
    auto t = make();
    t->trySetException(std::move(exception));
    return t;
}

HOSTaskPtr HOSTask::cancelledTask() {
    auto t = make();
    t->trySetCancelled();
    return t;
}

// ---- outcome ----------------------------------------------------------------

std::any HOSTask::result() const {
    std::lock_guard<std::mutex> g(lock_);
    return result_;
}

platform::ErrorPtr HOSTask::error() const {
    std::lock_guard<std::mutex> g(lock_);
    return error_;
}

HOSExceptionPtr HOSTask::exception() const {
    std::lock_guard<std::mutex> g(lock_);
    return exception_;
}

bool HOSTask::isCancelled() const {
    std::lock_guard<std::mutex> g(lock_);
    return cancelled_;
}

bool HOSTask::isFaulted() const {
    std::lock_guard<std::mutex> g(lock_);
    return faulted_;
}

bool HOSTask::isCompleted() const {
    std::lock_guard<std::mutex> g(lock_);
    return completed_;
}

// ---- completion -------------------------------------------------------------

template <class Set>
bool HOSTask::complete(Set&& set) {
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (completed_) return false;
        completed_ = true;
        set();
        callbacks.swap(callbacks_);
    }
    condition_.notify_all();
    // Continuations run with the lock released: one that reads or chains on
    // this very task must not find it held.
    for (auto& cb : callbacks) cb();
    return true;
}

bool HOSTask::trySetResult(std::any result) {
    return complete([&] { result_ = std::move(result); });
}

bool HOSTask::trySetError(platform::ErrorPtr error) {
    return complete([&] {
        faulted_ = true;
        error_ = std::move(error);
    });
}

bool HOSTask::trySetException(HOSExceptionPtr exception) {
    return complete([&] {
        faulted_ = true;
        exception_ = std::move(exception);
    });
}

bool HOSTask::trySetCancelled() {
    return complete([&] { cancelled_ = true; });
}

// ---- continuations ----------------------------------------------------------

void HOSTask::setFromTask(HOSTaskCompletionSource& source, const HOSTaskPtr& task,
                          const HOSCancellationTokenPtr& token) {
    bool tokenCancelled = false;
    try {
        tokenCancelled = token && token->isCancellationRequested();
    } catch (...) {
        source.trySetException(exceptionFrom(std::current_exception()));
        return;
    }
    if (tokenCancelled || task->isCancelled())
        source.trySetCancelled();
    else if (auto e = task->exception())
        source.trySetException(std::move(e));
    else if (auto e = task->error())
        source.trySetError(std::move(e));
    else
        source.trySetResult(task->result());
}

HOSTaskPtr HOSTask::continueWithBlock(Continuation block, const HOSCancellationTokenPtr& token) {
    return continueWithExecutor(HOSExecutor::defaultExecutor(), std::move(block), token);
}

HOSTaskPtr HOSTask::continueWithExecutor(const HOSExecutorPtr& executor, Continuation block,
                                         const HOSCancellationTokenPtr& token) {
    auto source = std::make_shared<HOSTaskCompletionSource>();
    HOSTaskPtr self = shared_from_this();
    std::function<void()> wrapper = [token, source, block = std::move(block), self] {
        try {
            // A disposed token raises here; that becomes the continuation's
            // exception instead of escaping into the executor.
            if (token && token->isCancellationRequested()) {
                source->trySetCancelled();
                return;
            }
        } catch (...) {
            source->trySetException(exceptionFrom(std::current_exception()));
            return;
        }
        std::any r;
        try {
            r = block(self);
        } catch (...) {
            HOSExceptionPtr e = exceptionFrom(std::current_exception());
            source->trySetException(e);
            HOS_LOG_ERROR("exception name: %s", e->name().c_str());
            HOS_LOG_ERROR("exception reason: %s", e->reason().c_str());
            return;
        }
        if (auto* next = std::any_cast<HOSTaskPtr>(&r); next && *next) {
            HOSTaskPtr t = *next;
            if (t->isCompleted()) {
                setFromTask(*source, t, token);
            } else {
                t->continueWithBlock([source, token](const HOSTaskPtr& done) -> std::any {
                    setFromTask(*source, done, token);
                    return {};
                });
            }
        } else if (next) {
            source->trySetResult({});  // an empty task pointer reads as no result
        } else {
            source->trySetResult(std::move(r));
        }
    };

    bool wasCompleted;
    {
        std::lock_guard<std::mutex> g(lock_);
        wasCompleted = completed_;
        if (!wasCompleted)
            callbacks_.emplace_back(
                [executor, wrapper = std::move(wrapper)]() mutable { executor->execute(std::move(wrapper)); });
    }
    if (wasCompleted) executor->execute(std::move(wrapper));
    return source->task();
}

HOSTaskPtr HOSTask::continueWithSuccessBlock(Continuation block, const HOSCancellationTokenPtr& token) {
    return continueWithSuccessBlock(HOSExecutor::defaultExecutor(), std::move(block), token);
}

HOSTaskPtr HOSTask::continueWithSuccessBlock(const HOSExecutorPtr& executor, Continuation block,
                                             const HOSCancellationTokenPtr& token) {
    if (token && token->isCancellationRequested()) return cancelledTask();
    return continueWithExecutor(
        executor,
        [block = std::move(block)](const HOSTaskPtr& t) -> std::any {
            if (t->isFaulted() || t->isCancelled()) return t;  // passed on through chaining
            return block(t);
        },
        token);
}

// ---- aggregates -------------------------------------------------------------

namespace {

struct AggregateState {
    explicit AggregateState(std::int32_t count) : total(count) {}
    std::atomic<std::int32_t> total;
    std::atomic<std::int32_t> cancelled{0};
    std::atomic<std::int32_t> done{0};
    std::mutex lock;  // guards the two lists
    std::vector<HOSExceptionPtr> exceptions;
    std::vector<platform::ErrorPtr> errors;
    HOSTaskCompletionSource source;

    // Files a failed or cancelled input; false when it ended with a result.
    bool classify(const HOSTaskPtr& t) {
        if (auto e = t->exception()) {
            std::lock_guard<std::mutex> g(lock);
            exceptions.push_back(std::move(e));
        } else if (auto e = t->error()) {
            std::lock_guard<std::mutex> g(lock);
            errors.push_back(std::move(e));
        } else if (t->isCancelled()) {
            cancelled.fetch_add(1, std::memory_order_seq_cst);
        } else {
            return false;
        }
        return true;
    }
    // Called once, by the block that ended the last input.
    bool setExceptions() {
        if (exceptions.empty()) return false;
        if (exceptions.size() == 1)
            source.trySetException(exceptions.front());
        else
            source.trySetException(std::make_shared<const platform::Exception>(
                HOSTaskMultipleExceptionsException, "There were multiple exceptions.",
                platform::Dictionary{{HOSTaskMultipleExceptionsUserInfoKey, entries(exceptions)}}));
        return true;
    }
    bool setErrors() {
        if (errors.empty()) return false;
        if (errors.size() == 1)
            source.trySetError(errors.front());
        else
            source.trySetError(platform::Error::make(
                HOSTaskErrorDomain, kHOSMultipleErrorsError,
                platform::Dictionary{{HOSTaskMultipleErrorsUserInfoKey, entries(errors)}}));
        return true;
    }
};

}  // namespace

HOSTaskPtr HOSTask::taskForCompletionOfAllTasks(const std::vector<HOSTaskPtr>& tasks) {
    if (tasks.empty()) return taskWithResult({});
    auto state = std::make_shared<AggregateState>(static_cast<std::int32_t>(tasks.size()));
    for (const auto& t : tasks) {
        t->continueWithBlock([state](const HOSTaskPtr& done) -> std::any {
            state->classify(done);
            if (state->total.fetch_sub(1, std::memory_order_seq_cst) == 1) {
                std::lock_guard<std::mutex> g(state->lock);
                if (state->setExceptions() || state->setErrors()) return {};
                if (state->cancelled.load() > 0)
                    state->source.trySetCancelled();
                else
                    state->source.trySetResult({});
            }
            return {};
        });
    }
    return state->source.task();
}

HOSTaskPtr HOSTask::taskForCompletionOfAllTasksWithResults(const std::vector<HOSTaskPtr>& tasks) {
    return taskForCompletionOfAllTasks(tasks)->continueWithSuccessBlock([tasks](const HOSTaskPtr&) -> std::any {
        std::vector<std::any> results;
        results.reserve(tasks.size());
        for (const auto& t : tasks) results.push_back(t->result());
        return results;
    });
}

HOSTaskPtr HOSTask::taskForCompletionOfAnyTask(const std::vector<HOSTaskPtr>& tasks) {
    if (tasks.empty()) return taskWithResult({});
    auto state = std::make_shared<AggregateState>(static_cast<std::int32_t>(tasks.size()));
    for (const auto& t : tasks) {
        t->continueWithBlock([state](const HOSTaskPtr& done) -> std::any {
            if (!state->classify(done)) {
                std::int32_t expected = 0;
                if (state->done.compare_exchange_strong(expected, 1, std::memory_order_seq_cst))
                    state->source.trySetResult(done->result());
            }
            if (state->total.fetch_sub(1, std::memory_order_seq_cst) == 1) {
                std::int32_t expected = 0;
                if (state->done.compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) {
                    std::lock_guard<std::mutex> g(state->lock);
                    if (state->cancelled.load() > 0)
                        state->source.trySetCancelled();
                    else if (!state->setExceptions())
                        state->setErrors();
                }
            }
            return {};
        });
    }
    return state->source.task();
}

// ---- delays and executors ---------------------------------------------------

HOSTaskPtr HOSTask::taskWithDelay(std::int32_t millis) {
    auto source = std::make_shared<HOSTaskCompletionSource>();
    platform::DispatchQueue::global()->after(std::chrono::milliseconds(millis),
                                             [source] { source->trySetResult({}); });
    return source->task();
}

HOSTaskPtr HOSTask::taskWithDelay(std::int32_t millis, const HOSCancellationTokenPtr& token) {
    if (token && token->isCancellationRequested()) return cancelledTask();
    auto source = std::make_shared<HOSTaskCompletionSource>();
    platform::DispatchQueue::global()->after(std::chrono::milliseconds(millis), [source, token] {
        bool cancelled = false;
        try {
            cancelled = token && token->isCancellationRequested();
        } catch (...) {
            source->trySetException(exceptionFrom(std::current_exception()));
            return;
        }
        if (cancelled)
            source->trySetCancelled();
        else
            source->trySetResult({});
    });
    return source->task();
}

HOSTaskPtr HOSTask::taskFromExecutor(const HOSExecutorPtr& executor, std::function<std::any()> block) {
    return taskWithResult({})->continueWithExecutor(
        executor, [block = std::move(block)](const HOSTaskPtr&) -> std::any { return block(); });
}

// ---- waiting and reporting --------------------------------------------------

void HOSTask::waitUntilFinished() {
    if (platform::DispatchQueue::main()->isCurrent()) warnOperationOnMainThread();
    {
        std::lock_guard<std::mutex> g(lock_);
        if (completed_) return;
    }
    platform::BlockingScope blocking;
    std::unique_lock<std::mutex> l(lock_);
    condition_.wait(l, [this] { return completed_; });
}

void HOSTask::warnOperationOnMainThread() { hosWarnBlockingOperationOnMainThread(); }

std::string HOSTask::description() const {
    bool completed, cancelled, faulted;
    std::string resultPart;
    {
        std::lock_guard<std::mutex> g(lock_);
        completed = completed_;
        cancelled = cancelled_;
        faulted = faulted_;
        if (completed_) resultPart = " result = " + hosDescribeResult(result_);
    }
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    auto yesNo = [](bool b) { return b ? "YES" : "NO"; };
    return std::string("<HOSTask: ") + address + "; completed = " + yesNo(completed) +
           "; cancelled = " + yesNo(cancelled) + "; faulted = " + yesNo(faulted) + ";" + resultPart + ">";
}

}  // namespace pellix
