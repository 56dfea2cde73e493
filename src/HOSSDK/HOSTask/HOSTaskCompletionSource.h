// HOSTaskCompletionSource: the producer side of one pending HOSTask.
//
// The set forms throw platform::Exception NSInternalInconsistencyException
// when the task has already completed ("Cannot set the result on a completed
// task.", "Cannot set the error on a completed task.", "Cannot set the
// exception on a completed task.", "Cannot cancel a completed task."); the try
// forms never throw and report whether they completed the task. Any thread.
#pragma once

#include <any>
#include <memory>

#include "HOSSDK/HOSTask/HOSTask.h"

namespace pellix {

class HOSTaskCompletionSource {
public:
    HOSTaskCompletionSource();
    HOSTaskCompletionSource(const HOSTaskCompletionSource&) = delete;
    HOSTaskCompletionSource& operator=(const HOSTaskCompletionSource&) = delete;

    static std::shared_ptr<HOSTaskCompletionSource> taskCompletionSource();

    const HOSTaskPtr& task() const { return task_; }

    void setResult(std::any result);
    void setError(platform::ErrorPtr error);
    void setException(HOSExceptionPtr exception);
    void cancel();

    bool trySetResult(std::any result) { return task_->trySetResult(std::move(result)); }
    bool trySetError(platform::ErrorPtr error) { return task_->trySetError(std::move(error)); }
    bool trySetException(HOSExceptionPtr exception) { return task_->trySetException(std::move(exception)); }
    bool trySetCancelled() { return task_->trySetCancelled(); }

private:
    HOSTaskPtr task_;
};

}  // namespace pellix
