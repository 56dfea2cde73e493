#include "HOSSDK/HOSTask/HOSTaskCompletionSource.h"

namespace pellix {

namespace {
[[noreturn]] void raise(const char* reason) {
    throw platform::Exception(platform::Exception::kInternalInconsistencyException, reason);
}
}  // namespace

HOSTaskCompletionSource::HOSTaskCompletionSource() : task_(HOSTask::make()) {}

std::shared_ptr<HOSTaskCompletionSource> HOSTaskCompletionSource::taskCompletionSource() {
    return std::make_shared<HOSTaskCompletionSource>();
}

void HOSTaskCompletionSource::setResult(std::any result) {
    if (!task_->trySetResult(std::move(result))) raise("Cannot set the result on a completed task.");
}

void HOSTaskCompletionSource::setError(platform::ErrorPtr error) {
    if (!task_->trySetError(std::move(error))) raise("Cannot set the error on a completed task.");
}

void HOSTaskCompletionSource::setException(HOSExceptionPtr exception) {
    if (!task_->trySetException(std::move(exception))) raise("Cannot set the exception on a completed task.");
}

void HOSTaskCompletionSource::cancel() {
    if (!task_->trySetCancelled()) raise("Cannot cancel a completed task.");
}

}  // namespace pellix
