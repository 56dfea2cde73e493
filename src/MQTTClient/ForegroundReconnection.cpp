#include "MQTTClient/ForegroundReconnection.h"

#include "MQTTClient/MQTTSessionManager.h"
#include "platform/NotificationCenter.h"

namespace pellix {

using platform::Application;
using platform::NotificationCenter;

std::shared_ptr<ForegroundReconnection> ForegroundReconnection::initWithMQTTSessionManager(
    const std::shared_ptr<MQTTSessionManager>& manager) {
    auto self = std::shared_ptr<ForegroundReconnection>(new ForegroundReconnection());
    self->sessionManager_ = manager;
    std::weak_ptr<ForegroundReconnection> weak = self;
    auto& center = NotificationCenter::defaultCenter();
    const auto observe = [&](const char* name, void (ForegroundReconnection::*action)()) {
        center.addObserverWithOwner(self.get(), name, nullptr, [weak, action](const auto&) {
            if (auto s = weak.lock()) ((*s).*action)();
        });
    };
    observe(Application::WillResignActiveNotification, &ForegroundReconnection::appWillResignActive);
    observe(Application::DidEnterBackgroundNotification, &ForegroundReconnection::appDidEnterBackground);
    observe(Application::DidBecomeActiveNotification, &ForegroundReconnection::appDidBecomeActive);
    return self;
}

ForegroundReconnection::~ForegroundReconnection() { NotificationCenter::defaultCenter().removeObserver(this); }

void ForegroundReconnection::appWillResignActive() {
    if (auto manager = sessionManager_.lock()) manager->disconnectWithDisconnectHandler(nullptr);
}

void ForegroundReconnection::appDidEnterBackground() {
    auto manager = sessionManager_.lock();
    if (!manager || !manager->requiresTearDown()) return;
    std::weak_ptr<ForegroundReconnection> weak = weak_from_this();
    backgroundTask_ = Application::sharedApplication().beginBackgroundTask([weak] {
        if (auto self = weak.lock()) self->endBackgroundTask();
    });
}

void ForegroundReconnection::appDidBecomeActive() {
    if (auto manager = sessionManager_.lock()) manager->connectToLast(nullptr);
}

void ForegroundReconnection::endBackgroundTask() {
    if (backgroundTask_ == Application::kInvalidBackgroundTask) return;
    Application::sharedApplication().endBackgroundTask(backgroundTask_);
    backgroundTask_ = Application::kInvalidBackgroundTask;
}

}  // namespace pellix
