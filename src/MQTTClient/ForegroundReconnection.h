// ForegroundReconnection: ties a session manager to the application's life
// cycle: disconnects when the application stops being active, holds a
// background task while the connection is still being torn down, and
// reconnects when the application becomes active again.
//
// Notifications come from platform::Application through the default
// notification center; they and the expiration handler arrive on the main
// queue, where the manager's operations then run.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Application.h"

namespace pellix {

class MQTTSessionManager;

class ForegroundReconnection : public std::enable_shared_from_this<ForegroundReconnection> {
public:
    static std::shared_ptr<ForegroundReconnection> initWithMQTTSessionManager(
        const std::shared_ptr<MQTTSessionManager>& manager);
    ~ForegroundReconnection();

    void appWillResignActive();
    void appDidEnterBackground();
    void appDidBecomeActive();
    void endBackgroundTask();

    std::weak_ptr<MQTTSessionManager> sessionManager() const { return sessionManager_; }
    platform::Application::BackgroundTaskIdentifier backgroundTask() const { return backgroundTask_; }

private:
    ForegroundReconnection() = default;

    std::weak_ptr<MQTTSessionManager> sessionManager_;
    platform::Application::BackgroundTaskIdentifier backgroundTask_ = platform::Application::kInvalidBackgroundTask;
};

}  // namespace pellix
