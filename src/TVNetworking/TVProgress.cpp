#include "TVNetworking/TVProgress.h"

namespace pellix {

double TVProgress::fractionCompleted() const {
    const std::int64_t total = total_.load();
    if (total <= 0) return 0.0;
    return static_cast<double>(completed_.load()) / static_cast<double>(total);
}

void TVProgress::update(std::int64_t total, std::int64_t completed) {
    const double before = fractionCompleted();
    const bool changed = total != total_.load() || completed != completed_.load();
    total_.store(total);
    completed_.store(completed);
    if (!changed || fractionCompleted() == before) return;
    Observer observer;
    {
        std::lock_guard lock(mutex_);
        observer = observer_;
    }
    if (observer) observer(*this);
}

void TVProgress::setCancellationHandler(Handler h) {
    std::lock_guard lock(mutex_);
    cancellation_ = std::move(h);
}
void TVProgress::setPausingHandler(Handler h) {
    std::lock_guard lock(mutex_);
    pausing_ = std::move(h);
}
void TVProgress::setResumingHandler(Handler h) {
    std::lock_guard lock(mutex_);
    resuming_ = std::move(h);
}
void TVProgress::setFractionCompletedObserver(Observer o) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(o);
}

void TVProgress::cancel() {
    if (!cancellable_ || cancelled_.exchange(true)) return;
    Handler h;
    {
        std::lock_guard lock(mutex_);
        h = cancellation_;
    }
    if (h) h();
}

void TVProgress::pause() {
    if (!pausable_ || paused_.exchange(true)) return;
    Handler h;
    {
        std::lock_guard lock(mutex_);
        h = pausing_;
    }
    if (h) h();
}

void TVProgress::resume() {
    if (!paused_.exchange(false)) return;
    Handler h;
    {
        std::lock_guard lock(mutex_);
        h = resuming_;
    }
    if (h) h();
}

}  // namespace pellix
