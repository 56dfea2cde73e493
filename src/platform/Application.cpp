#include "platform/Application.h"

#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

namespace pellix::platform {

namespace {
// Runs `fn` on the main thread: now when already there, else as a main-queue block.
void onMain(std::function<void()> fn) {
    if (RunLoop::isMainThread())
        fn();
    else
        DispatchQueue::main()->async(std::move(fn));
}
}  // namespace

Application& Application::sharedApplication() {
    static auto* app = new Application();
    return *app;
}

Application::State Application::applicationState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void Application::setState(State state) {
    onMain([this, state] { applyOnMain(state); });
}

void Application::applyOnMain(State next) {
    State prev;
    {
        std::lock_guard lock(mutex_);
        prev = state_;
        state_ = next;
    }
    if (prev == next) return;
    std::vector<const char*> names;
    switch (next) {
        case State::Active:
            if (prev == State::Background) names.push_back(WillEnterForegroundNotification);
            names.push_back(DidBecomeActiveNotification);
            break;
        case State::Inactive:
            names.push_back(prev == State::Active ? WillResignActiveNotification : WillEnterForegroundNotification);
            break;
        case State::Background:
            if (prev == State::Active) names.push_back(WillResignActiveNotification);
            names.push_back(DidEnterBackgroundNotification);
            break;
    }
    for (const char* n : names) NotificationCenter::defaultCenter().post(n, static_cast<const void*>(this));
}

void Application::postOnMain(const char* name) {
    onMain([this, name] { NotificationCenter::defaultCenter().post(name, static_cast<const void*>(this)); });
}

bool Application::isNetworkActivityIndicatorVisible() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return networkActivityIndicatorVisible_;
}

void Application::setNetworkActivityIndicatorVisible(bool visible) {
    std::lock_guard<std::mutex> lock(mutex_);
    networkActivityIndicatorVisible_ = visible;
}

void Application::finishLaunching() { postOnMain(DidFinishLaunchingNotification); }

void Application::terminate() { postOnMain(WillTerminateNotification); }

Application::BackgroundTaskIdentifier Application::beginBackgroundTask(std::string, std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    const BackgroundTaskIdentifier id = nextTask_++;
    tasks_.emplace(id, std::move(handler));
    return id;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier id) {
    std::function<void()> dropped;
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(id);
    if (it == tasks_.end()) return;
    dropped = std::move(it->second);
    tasks_.erase(it);
}

void Application::expireBackgroundTasks() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, h] : tasks_)
            if (h) handlers.push_back(h);
    }
    for (auto& h : handlers) onMain(std::move(h));
}

std::size_t Application::backgroundTaskCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

}  // namespace pellix::platform
