// Application state and its notifications, background tasks, device facts,
// bundles and folders.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Device.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

using namespace pellix::platform;
using State = Application::State;

namespace {
std::vector<std::string> recordLifecycle(std::vector<std::string>& seen) {
    for (const char* n : {Application::DidBecomeActiveNotification, Application::WillResignActiveNotification,
                          Application::DidEnterBackgroundNotification, Application::WillEnterForegroundNotification,
                          Application::WillTerminateNotification, Application::DidFinishLaunchingNotification})
        NotificationCenter::defaultCenter().addObserver(n, &Application::sharedApplication(), nullptr,
                                                        [&seen](const Notification& note) {
                                                            EXPECT_TRUE(RunLoop::isMainThread());
                                                            seen.push_back(note.name());
                                                        });
    return {};
}
}  // namespace

TEST(ApplicationTest, TransitionsPostTheirNotificationsOnTheMainQueue) {
    auto& app = Application::sharedApplication();
    EXPECT_EQ(app.applicationState(), State::Active) << "a silent host counts as active";
    std::vector<std::string> seen;
    recordLifecycle(seen);
    struct Step {
        State to;
        std::vector<std::string> posts;
    };
    const std::vector<Step> steps = {
        {State::Inactive, {"UIApplicationWillResignActiveNotification"}},
        {State::Active, {"UIApplicationDidBecomeActiveNotification"}},
        {State::Background,
         {"UIApplicationWillResignActiveNotification", "UIApplicationDidEnterBackgroundNotification"}},
        {State::Inactive, {"UIApplicationWillEnterForegroundNotification"}},
        {State::Background, {"UIApplicationDidEnterBackgroundNotification"}},
        {State::Active, {"UIApplicationWillEnterForegroundNotification", "UIApplicationDidBecomeActiveNotification"}},
        {State::Active, {}},
    };
    for (const auto& step : steps) {
        seen.clear();
        // The host reports from its own thread; delivery waits for the main loop.
        std::thread host([&] { app.setState(step.to); });
        host.join();
        RunLoop::main()->runUntil([&] { return RunLoop::main()->pendingCount() == 0; }, 5.0);
        EXPECT_EQ(seen, step.posts);
        EXPECT_EQ(app.applicationState(), step.to);
    }
    seen.clear();
    app.finishLaunching();  // on the main thread: posted at once
    app.terminate();
    EXPECT_EQ(seen, (std::vector<std::string>{"UIApplicationDidFinishLaunchingNotification",
                                              "UIApplicationWillTerminateNotification"}));
}

TEST(ApplicationTest, BackgroundTasksExpireOnMainAndEnd) {
    auto& app = Application::sharedApplication();
    std::vector<Application::BackgroundTaskIdentifier> expired;
    Application::BackgroundTaskIdentifier a = 0, b = 0;
    a = app.beginBackgroundTask("a", [&] {
        expired.push_back(a);
        app.endBackgroundTask(a);
    });
    b = app.beginBackgroundTask([&] { expired.push_back(b); });
    EXPECT_NE(a, Application::kInvalidBackgroundTask);
    EXPECT_NE(a, b);
    EXPECT_EQ(app.backgroundTaskCount(), 2u);
    app.endBackgroundTask(b);
    app.endBackgroundTask(12345);  // unknown: ignored
    app.expireBackgroundTasks();
    EXPECT_EQ(expired, (std::vector<Application::BackgroundTaskIdentifier>{a}));
    EXPECT_EQ(app.backgroundTaskCount(), 0u);
}

TEST(DeviceTest, DefaultsComeFromTheSystemAndHostSettingsWin) {
    auto& d = Device::currentDevice();
    EXPECT_FALSE(d.model().empty());
    EXPECT_EQ(d.systemName(), "Linux");
    EXPECT_FALSE(d.systemVersion().empty());
    EXPECT_DOUBLE_EQ(d.screenScale(), 1.0);
    const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(d.identifierForVendor(), uuid)) << d.identifierForVendor();
    EXPECT_EQ(d.identifierForVendor(), d.identifierForVendor()) << "stable within the process";
    EXPECT_NE(Device::makeUUID(), Device::makeUUID());

    d.setModel("iPhone12,1");
    d.setSystemName("iOS");
    d.setSystemVersion("16.1");
    d.setIdentifierForVendor("11111111-2222-4333-8444-555555555555");
    d.setScreenScale(3.0);
    EXPECT_EQ(d.model(), "iPhone12,1");
    EXPECT_EQ(d.systemName(), "iOS");
    EXPECT_EQ(d.systemVersion(), "16.1");
    EXPECT_EQ(d.identifierForVendor(), "11111111-2222-4333-8444-555555555555");
    EXPECT_DOUBLE_EQ(d.screenScale(), 3.0);
}

TEST(BundleTest, MainBundleInfoAndResourcesAndNamedBundles) {
    pellix::test::TempDir dir;
    auto& main = Bundle::mainBundle();
    EXPECT_TRUE(main.objectForInfoDictionaryKey("CFBundleExecutable").has_value());
    EXPECT_FALSE(main.bundleIdentifier().has_value());

    main.setInfoDictionary(Dictionary{{"CFBundleIdentifier", "com.example.door"},
                                      {"CFBundleShortVersionString", "2.3.1"},
                                      {"CFBundleExecutable", "door"}});
    EXPECT_EQ(main.bundleIdentifier().value_or(""), "com.example.door");
    EXPECT_EQ(main.objectForInfoDictionaryKey("CFBundleShortVersionString")->asString(), "2.3.1");
    EXPECT_FALSE(main.objectForInfoDictionaryKey("missing").has_value());

    main.setResourcePath(dir.path());
    pellix::test::writeFile(dir.file("ring.caf"), "x");
    EXPECT_EQ(main.pathForResource("ring", "caf").value_or(""), dir.file("ring.caf"));
    EXPECT_FALSE(main.pathForResource("absent", "caf").has_value());

    std::filesystem::create_directory(dir.file("Tones.bundle"));
    auto tones = Bundle::bundleNamed("Tones");
    ASSERT_TRUE(tones);
    EXPECT_EQ(tones->resourcePath(), dir.file("Tones.bundle"));
    EXPECT_TRUE(tones->infoDictionary().empty());
    EXPECT_FALSE(Bundle::bundleNamed("Nope"));
    EXPECT_FALSE(Bundle::bundleWithPath(dir.file("ring.caf"))) << "a file is not a bundle";
}

TEST(PathsTest, FoldersLiveUnderTheHostsHomeAndAreCreated) {
    pellix::test::TempDir dir;
    Paths::setHomeDirectory(dir.path() + "/app/");
    EXPECT_EQ(Paths::homeDirectory(), dir.path() + "/app");
    EXPECT_EQ(Paths::documentsDirectory(), dir.path() + "/app/Documents");
    EXPECT_EQ(Paths::libraryDirectory(), dir.path() + "/app/Library");
    EXPECT_EQ(Paths::cachesDirectory(), dir.path() + "/app/Library/Caches");
    EXPECT_EQ(Paths::temporaryDirectory(), dir.path() + "/app/tmp/");
    for (const char* sub : {"/app/Documents", "/app/Library/Caches", "/app/tmp"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dir.path() + sub).c_str(), &st), 0) << sub;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    struct stat st {};
    ::stat((dir.path() + "/app/Documents").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(PathsTest, DefaultsFollowXdgFolders) {
    pellix::test::TempDir dir;
    // The variables are the whole process's: put them back, or later tests
    // make their temporary folders under this one after it is gone.
    struct RestoreEnvironment {
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        RestoreEnvironment() {
            for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"}) {
                const char* v = std::getenv(name);
                saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            }
        }
        ~RestoreEnvironment() {
            for (const auto& [name, value] : saved) {
                if (value) {
                    ::setenv(name.c_str(), value->c_str(), 1);
                } else {
                    ::unsetenv(name.c_str());
                }
            }
            Paths::setHomeDirectory("");
        }
    } restore;
    ::setenv("XDG_DATA_HOME", (dir.path() + "/data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (dir.path() + "/cache").c_str(), 1);
    ::setenv("TMPDIR", (dir.path() + "/tmp").c_str(), 1);
    Paths::setHomeDirectory("");
    EXPECT_EQ(Paths::documentsDirectory(), dir.path() + "/data/pellix/Documents");
    EXPECT_EQ(Paths::cachesDirectory(), dir.path() + "/cache/pellix");
    EXPECT_EQ(Paths::temporaryDirectory(), dir.path() + "/tmp/pellix-" + std::to_string(::getuid()) + "/");
}
