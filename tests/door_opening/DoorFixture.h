// Shared pieces of the door-opening tests: running a group of this program's
// tests again inside a private network namespace and/or a private D-Bus, a
// python3-dbusmock template on that bus, and main-loop waiting.
#pragma once

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix::doortest {

inline bool pumpUntil(const std::function<bool()>& pred, double seconds = 10) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

inline void pumpFor(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    platform::RunLoop::main()->runUntil([&] { return std::chrono::steady_clock::now() >= end; }, seconds + 1);
}

inline int quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// The environment variable that marks a child run.
inline constexpr const char* kChildMark = "PELLIX_DOOR_OPENING_CHILD";

// Skips unless this process is the child started by runChildren.
#define PELLIX_CHILD_ONLY() \
    if (!std::getenv(::pellix::doortest::kChildMark)) GTEST_SKIP() << "runs only as the child of its wrapper test"

// Why a private bus with python3-dbusmock cannot be had here; empty when it can.
inline std::string missingMockBus() {
    if (quietly("dbus-run-session -- true") != 0) return "dbus-run-session cannot start a private bus here";
    if (quietly("/usr/bin/python3 -c 'import dbusmock'") != 0) return "python3-dbusmock is not installed";
    return {};
}

// Runs the tests matching `filter` again as a child of `wrapper` (for
// instance {"unshare", "-rn"} or {"dbus-run-session", "--"}); expects all of
// them to pass and at least one to run.
inline void runChildren(const std::vector<std::string>& wrapper, const std::string& filter) {
    char self[PATH_MAX] = {};
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    std::vector<std::string> argv = wrapper;
    argv.push_back(self);
    argv.push_back("--gtest_filter=" + filter);
    test::Process child(argv, {{kChildMark, "1"}});
    int status = child.wait();
    EXPECT_EQ(status, 0) << child.output() << child.errorOutput();
    EXPECT_NE(child.output().find("[  PASSED  ]"), std::string::npos) << child.output();
    EXPECT_EQ(child.output().find("[  SKIPPED ]"), std::string::npos) << child.output();
}

// A python3-dbusmock template serving as a system service on this child's
// private bus: the system bus address is pointed at the session bus that
// dbus-run-session made, for the mock and for the library alike.
class MockService {
public:
    MockService(const std::string& templateName, const std::string& busName) {
        const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!session) throw std::runtime_error("no private bus (run under dbus-run-session)");
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", session, 1);
        process_ = std::make_unique<test::Process>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", templateName});
        bus_ = sdbus::createSystemBusConnection();
        auto daemon = sdbus::createProxy(*bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        for (int i = 0; i < 200; ++i) {
            bool owned = false;
            daemon->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(busName).storeResultsTo(owned);
            if (owned) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        throw std::runtime_error("dbusmock did not start: " + process_->errorOutput());
    }
    ~MockService() {
        bus_.reset();
        process_->stop();
    }
    sdbus::IConnection& bus() { return *bus_; }
    std::unique_ptr<sdbus::IProxy> proxy(const std::string& service, const std::string& path) {
        return sdbus::createProxy(*bus_, service, path);
    }

private:
    std::unique_ptr<test::Process> process_;
    std::unique_ptr<sdbus::IConnection> bus_;
};

}  // namespace pellix::doortest
