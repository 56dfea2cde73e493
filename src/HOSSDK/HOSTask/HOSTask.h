// HOSTask: a write-once future of the object storage runtime.
//
// A task ends exactly once in one of four outcomes: a result, an error
// (platform::ErrorPtr), an exception (HOSExceptionPtr) or cancellation, and
// then runs the continuations registered on it. After completion no field
// changes. Tasks always live in a std::shared_ptr (HOSTaskPtr); a continuation
// receives its antecedent task.
//
// Results are std::any. Storage results are records held as
// std::shared_ptr<Record> (for example std::shared_ptr<HOSPutObjectResult>),
// values as platform::Value, text as std::string; an empty std::any is "no
// result" (nil). Read them with resultAs<T>(). A continuation returns a
// std::any too: when it holds an HOSTaskPtr the continuation's own task ends
// the way that task ends (chaining); anything else (empty included) is the
// continuation's result. Results are copied when they move between tasks, so
// large values belong in a shared_ptr.
//
// Errors are values: a faulted antecedent does not stop a plain continuation.
// Success continuations pass a failure or cancellation on unchanged. An
// exception thrown by a continuation is caught and becomes the continuation
// task's exception (other C++ exceptions are wrapped as NSGenericException
// with their what() as reason); it is logged when the storage log is on.
//
// Threads: any thread may complete a task, register continuations or wait.
// Each task guards its fields with its own lock; continuations run after that
// lock has been released, so a continuation may freely touch the task that
// ran it. Where they run is the executor's choice (HOSExecutor); without one,
// defaultExecutor runs them inline on the completing thread.
#pragma once

#include <any>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HOSSDK/HOSTask/HOSCancellationToken.h"
#include "HOSSDK/HOSTask/HOSExecutor.h"
#include "platform/Error.h"

namespace pellix {

class HOSTask;
class HOSTaskCompletionSource;
using HOSTaskPtr = std::shared_ptr<HOSTask>;
using HOSExceptionPtr = std::shared_ptr<const platform::Exception>;

// Error domain of the task runtime and code of an aggregate of several errors.
inline constexpr const char* HOSTaskErrorDomain = "tasks";
inline constexpr std::int64_t kHOSMultipleErrorsError = 80175001;
// Exception name of an aggregate of several exceptions.
inline constexpr const char* HOSTaskMultipleExceptionsException = "HOSMultipleExceptionsException";
// User-info keys of the aggregates. platform::Value cannot hold an error or
// an exception object, so each list entry is a dictionary: for errors
// {"domain", "code", "userInfo", "description"}, for exceptions {"name",
// "reason", "userInfo"}, in order of completion.
inline constexpr const char* HOSTaskMultipleErrorsUserInfoKey = "errors";
inline constexpr const char* HOSTaskMultipleExceptionsUserInfoKey = "exceptions";

// Writes the main-thread blocking warning to the system log.
void hosWarnBlockingOperationOnMainThread();

class HOSTask : public std::enable_shared_from_this<HOSTask> {
public:
    // Takes the antecedent task; returns a value or an HOSTaskPtr to chain.
    using Continuation = std::function<std::any(const HOSTaskPtr& task)>;

    HOSTask(const HOSTask&) = delete;
    HOSTask& operator=(const HOSTask&) = delete;

    // Already completed tasks.
    static HOSTaskPtr taskWithResult(std::any result);
    static HOSTaskPtr taskWithError(platform::ErrorPtr error);
    static HOSTaskPtr taskWithException(HOSExceptionPtr exception);
    static HOSTaskPtr cancelledTask();

    // Ends when every input has ended. Exceptions win over errors, errors over
    // cancellation: one failure is passed on as is; several exceptions give
    // "HOSMultipleExceptionsException" ("There were multiple exceptions."),
    // several errors give domain "tasks", code 80175001. Otherwise cancelled
    // when any input was, else an empty result. An empty list gives an empty
    // result at once.
    static HOSTaskPtr taskForCompletionOfAllTasks(const std::vector<HOSTaskPtr>& tasks);
    // As above; on success the result is a std::vector<std::any> of the
    // inputs' results in input order (an empty std::any for a nil result).
    static HOSTaskPtr taskForCompletionOfAllTasksWithResults(const std::vector<HOSTaskPtr>& tasks);
    // Ends with the first input that succeeds; when none does: cancelled if
    // any input was cancelled, else the exception(s), else the error(s).
    static HOSTaskPtr taskForCompletionOfAnyTask(const std::vector<HOSTaskPtr>& tasks);
    // Completes with an empty result on the default global queue after the
    // delay. With a token: already cancelled gives cancelledTask() at once;
    // otherwise the token is polled when the delay ends.
    static HOSTaskPtr taskWithDelay(std::int32_t millis);
    static HOSTaskPtr taskWithDelay(std::int32_t millis, const HOSCancellationTokenPtr& token);
    // Runs the block on the executor; a returned HOSTaskPtr is chained.
    static HOSTaskPtr taskFromExecutor(const HOSExecutorPtr& executor, std::function<std::any()> block);

    // Outcome. Each read takes the task's lock.
    std::any result() const;
    platform::ErrorPtr error() const;
    HOSExceptionPtr exception() const;
    bool isCancelled() const;
    bool isFaulted() const;
    bool isCompleted() const;

    // The result as T, or nullptr when empty or of another type. The pointer
    // stays valid as long as the task, since a completed task never changes.
    template <class T>
    const T* resultAs() const {
        std::lock_guard<std::mutex> g(lock_);
        return completed_ ? std::any_cast<T>(&result_) : nullptr;
    }

    // Completion; true when this call completed the task, false when it had
    // already completed (nothing changes then).
    bool trySetResult(std::any result);
    bool trySetError(platform::ErrorPtr error);
    bool trySetException(HOSExceptionPtr exception);
    bool trySetCancelled();

    // Continuations; each returns the continuation's own task. A token that is
    // cancelled when the continuation is about to run cancels it instead (the
    // block is not called); no token counts as never cancelled.
    HOSTaskPtr continueWithBlock(Continuation block, const HOSCancellationTokenPtr& token = nullptr);
    HOSTaskPtr continueWithExecutor(const HOSExecutorPtr& executor, Continuation block,
                                    const HOSCancellationTokenPtr& token = nullptr);
    // Runs the block only when this task neither faulted nor was cancelled. A
    // token that is already cancelled at the call gives cancelledTask() at once.
    HOSTaskPtr continueWithSuccessBlock(Continuation block, const HOSCancellationTokenPtr& token = nullptr);
    HOSTaskPtr continueWithSuccessBlock(const HOSExecutorPtr& executor, Continuation block,
                                        const HOSCancellationTokenPtr& token = nullptr);

    // Blocks until the task completes (no timeout). On the main thread it
    // first writes the blocking-operation warning.
    void waitUntilFinished();
    // "<HOSTask: 0x...; completed = YES; cancelled = NO; faulted = NO; result = ...>"
    std::string description() const;
    void warnOperationOnMainThread();

private:
    friend class HOSTaskCompletionSource;
    struct Private {};

public:
    explicit HOSTask(Private) {}

private:
    static HOSTaskPtr make();
    template <class Set>
    bool complete(Set&& set);
    static void setFromTask(HOSTaskCompletionSource& source, const HOSTaskPtr& task,
                            const HOSCancellationTokenPtr& token);

    mutable std::mutex lock_;
    std::condition_variable condition_;
    std::any result_;
    platform::ErrorPtr error_;
    HOSExceptionPtr exception_;
    bool cancelled_ = false;
    bool faulted_ = false;
    bool completed_ = false;
    std::vector<std::function<void()>> callbacks_;
};

// Text form of a task result for logs and descriptions: Value, text and
// numbers as the platform prints them, a task by its description, "(null)"
// when empty, otherwise the stored type's name.
std::string hosDescribeResult(const std::any& result);

}  // namespace pellix
