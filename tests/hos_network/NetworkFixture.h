// Shared pieces of the storage runtime's network tests: the storage log
// captured line by line, socket-address helpers, and a wait on real time.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HOSSDK/HOSFileLog/HOSFLAbstractLogger.h"
#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

namespace pellix::hostest {

// Keeps the text of every storage log line.
class LogLines : public HOSFLAbstractLogger {
public:
    LogLines() : HOSFLAbstractLogger("LogLines") {}
    void logMessage(const HOSFLLogMessagePtr& m) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(m->message());
    }
    // Lines so far, after everything queued was delivered.
    std::vector<std::string> lines() {
        HOSFLLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool has(const std::string& text) {
        for (const auto& l : lines())
            if (l == text) return true;
        return false;
    }
    bool hasPart(const std::string& part) {
        for (const auto& l : lines())
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Storage logging on, into a LogLines, with the home in a temporary folder.
class LoggedTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Paths::setHomeDirectory(home_.path());
        platform::Log::setSink([](std::string_view) {});
        HOSLog::enableLog();
        HOSFLLog::removeAllLoggers();
        HOSFLLog::addLogger(log_);
    }
    void TearDown() override {
        HOSLog::disableLog();
        HOSFLLog::removeAllLoggers();
        HOSFLLog::flushLog();
        platform::Log::setSink(nullptr);
        platform::Paths::setHomeDirectory("");
    }
    test::TempDir home_;
    std::shared_ptr<LogLines> log_ = std::make_shared<LogLines>();
};

inline sockaddr_storage socketAddress(const std::string& ip, int port = 53) {
    sockaddr_storage ss{};
    if (ip.find(':') != std::string::npos) {
        auto& a = reinterpret_cast<sockaddr_in6&>(ss);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET6, ip.c_str(), &a.sin6_addr);
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(ss);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    }
    return ss;
}

// Polls `pred` on real time (the tests may hold a manual clock).
inline bool waitFor(const std::function<bool()>& pred, double seconds = 15) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

}  // namespace pellix::hostest
