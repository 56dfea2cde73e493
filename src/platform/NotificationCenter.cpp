#include "platform/NotificationCenter.h"

#include <algorithm>
#include <atomic>

#include "platform/DispatchQueue.h"

namespace pellix::platform {

struct NotificationCenter::Entry {
    Token token = 0;
    const void* owner = nullptr;
    std::string name;
    const void* object = nullptr;
    std::shared_ptr<DispatchQueue> queue;
    Block block;
    std::atomic<bool> removed{false};

    bool matches(const Notification& n) const {
        return (name.empty() || name == n.name()) && (object == nullptr || object == n.objectIdentity());
    }
};

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter();
    return *center;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* object,
                                                          std::shared_ptr<DispatchQueue> queue, Block block) {
    auto e = std::make_shared<Entry>();
    e->name = std::move(name);
    e->object = object;
    e->queue = std::move(queue);
    e->block = std::move(block);
    std::lock_guard lock(mutex_);
    e->token = nextToken_++;
    entries_.push_back(e);
    return e->token;
}

NotificationCenter::Token NotificationCenter::addObserverWithOwner(const void* owner, std::string name, const void* object,
                                                          Block block) {
    auto e = std::make_shared<Entry>();
    e->owner = owner;
    e->name = std::move(name);
    e->object = object;
    e->block = std::move(block);
    std::lock_guard lock(mutex_);
    e->token = nextToken_++;
    entries_.push_back(e);
    return e->token;
}

void NotificationCenter::removeObserver(Token token) {
    std::shared_ptr<Entry> gone;  // released outside the lock: the block may own anything
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->token == token; });
    if (it == entries_.end()) return;
    (*it)->removed = true;
    gone = std::move(*it);
    entries_.erase(it);
}

void NotificationCenter::removeObserver(const void* owner, const std::string& name, const void* object) {
    if (!owner) return;
    std::vector<std::shared_ptr<Entry>> gone;
    std::lock_guard lock(mutex_);
    auto keep = std::stable_partition(entries_.begin(), entries_.end(), [&](const auto& e) {
        const bool match =
            e->owner == owner && (name.empty() || e->name == name) && (object == nullptr || e->object == object);
        return !match;
    });
    for (auto it = keep; it != entries_.end(); ++it) {
        (*it)->removed = true;
        gone.push_back(std::move(*it));
    }
    entries_.erase(keep, entries_.end());
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e->matches(notification)) targets.push_back(e);
    }
    for (const auto& e : targets) {
        // Removed by an earlier observer of this same post, or by another thread.
        if (e->removed.load()) continue;
        if (e->queue && !e->queue->isCurrent()) {
            e->queue->async([e, notification] {
                if (!e->removed.load()) e->block(notification);
            });
        } else if (e->block) {
            e->block(notification);
        }
    }
}

void NotificationCenter::post(std::string name, std::shared_ptr<void> object, Dictionary userInfo) {
    post(Notification(std::move(name), std::move(object), std::move(userInfo)));
}

void NotificationCenter::post(std::string name, const void* object, Dictionary userInfo) {
    post(Notification(std::move(name), Notification::identity(object), std::move(userInfo)));
}

void NotificationCenter::post(std::string name, std::nullptr_t, Dictionary userInfo) {
    post(Notification(std::move(name), nullptr, std::move(userInfo)));
}

std::size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace pellix::platform
