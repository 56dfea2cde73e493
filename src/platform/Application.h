// Application: the application's life cycle as the host reports it.
//
// The host drives the state (`setState`, `finishLaunching`, `terminate`); the
// library reads it and listens to the lifecycle notifications, which are
// posted through NotificationCenter::defaultCenter() on the main queue (on the
// main thread, or queued there when the host calls from another thread), with
// the Application as object (`Notification::identity(&app)`). The state seen by
// `applicationState()` changes in the same main-queue turn, just before the
// notifications are posted.
//
// Transitions and what they post:
//   Inactive   -> Active     : DidBecomeActive
//   Active     -> Inactive   : WillResignActive
//   Active     -> Background : WillResignActive, DidEnterBackground
//   Inactive   -> Background : DidEnterBackground
//   Background -> Inactive   : WillEnterForeground
//   Background -> Active     : WillEnterForeground, DidBecomeActive
// A host that never reports anything is treated as active.
//
// Background tasks: `beginBackgroundTask` hands out an id (never
// `kInvalidBackgroundTask`) and keeps the expiration handler; `endBackgroundTask`
// forgets it (unknown ids are ignored). When the host's background time is up
// it calls `expireBackgroundTasks()`, which runs the outstanding handlers on the
// main queue; a handler is expected to end its task.
//
// Network-activity indicator: a flag the library raises around requests the
// user waits on and lowers when they end; the host may show it.
//
// Thread-safety: all members from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace pellix::platform {

class Application {
public:
    enum class State { Active, Inactive, Background };
    using BackgroundTaskIdentifier = std::uint64_t;
    static constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

    static constexpr const char* DidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
    static constexpr const char* WillResignActiveNotification = "UIApplicationWillResignActiveNotification";
    static constexpr const char* DidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
    static constexpr const char* WillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
    static constexpr const char* WillTerminateNotification = "UIApplicationWillTerminateNotification";
    static constexpr const char* DidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";

    static Application& sharedApplication();

    State applicationState() const;

    // Host side.
    void setState(State state);
    void finishLaunching();
    void terminate();

    BackgroundTaskIdentifier beginBackgroundTask(std::string name, std::function<void()> expirationHandler);
    BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler) {
        return beginBackgroundTask({}, std::move(expirationHandler));
    }
    void endBackgroundTask(BackgroundTaskIdentifier id);
    void expireBackgroundTasks();
    std::size_t backgroundTaskCount() const;

    bool isNetworkActivityIndicatorVisible() const;
    void setNetworkActivityIndicatorVisible(bool visible);

private:
    Application() = default;
    void applyOnMain(State state);
    void postOnMain(const char* name);

    mutable std::mutex mutex_;
    State state_ = State::Active;
    bool networkActivityIndicatorVisible_ = false;
    BackgroundTaskIdentifier nextTask_ = 1;
    std::map<BackgroundTaskIdentifier, std::function<void()>> tasks_;
};

}  // namespace pellix::platform
