// The object-store stand-in (tests/peers/hos) on a free loopback port, and a
// client pointed at its test domain. Bucket hosts of the test domain are
// mapped to 127.0.0.1 through the request delegate's host resolver, so the
// client builds the same virtual-host requests it sends to the service.
#pragma once

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSClient.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "platform/JSON.h"
#include "platform/URLSession.h"
#include "support/TestSupport.h"

namespace pellix::test {

inline constexpr const char* kTestDomain = "test.hos.halvane.com";
inline constexpr const char* kBucket = "photos";

class StandIn {
public:
    explicit StandIn(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{"node", sourceDir() + "/tests/peers/hos/server.js", "--port", "0",
                                      "--bucket", kBucket};
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ = std::make_unique<Process>(argv);
        auto line = process_->waitForLine("^(\\{.*\\})$");
        if (!line) throw std::runtime_error("stand-in did not start: " + process_->errorOutput());
        info_ = platform::JSON::parse(*line).value_or(platform::Value());
        port_ = static_cast<int>(info_.get("http")->intValue());
        if (const auto* https = info_.get("https"); https && !https->isNull())
            httpsPort_ = static_cast<int>(https->intValue());
    }
    std::string httpsEndpoint() const {
        return std::string("https://") + kTestDomain + ":" + std::to_string(httpsPort_);
    }
    int port() const { return port_; }
    std::string accessKeyId() const { return info_.get("accessKeyId")->asString(); }
    std::string accessKeySecret() const { return info_.get("accessKeySecret")->asString(); }
    std::string endpoint() const { return std::string("http://") + kTestDomain + ":" + std::to_string(port_); }
    std::string authURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/__auth/credentials"; }

    // A blocking admin call; the reply's JSON (null when it has none).
    platform::Value admin(const std::string& method, const std::string& path, const std::string& body = {}) {
        platform::URLRequest request(*platform::URL::parse("http://127.0.0.1:" + std::to_string(port_) + path));
        request.setHTTPMethod(method);
        if (!body.empty()) {
            request.setHTTPBody(platform::Bytes(body.begin(), body.end()));
            request.setValue("application/json", "Content-Type");
        }
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        platform::Value reply;
        auto task = platform::URLSession::sharedSession()->dataTaskWithRequest(
            request, [&](std::optional<platform::Bytes> data, auto, platform::ErrorPtr) {
                std::lock_guard<std::mutex> g(m);
                if (data) reply = platform::JSON::parse(*data).value_or(platform::Value());
                done = true;
                cv.notify_all();
            });
        task->resume();
        std::unique_lock<std::mutex> g(m);
        cv.wait_for(g, std::chrono::seconds(10), [&] { return done; });
        return reply;
    }
    void fault(const std::string& json) { admin("POST", "/__admin/faults", json); }
    void config(const std::string& json) { admin("POST", "/__admin/config", json); }
    // Requests the service saw for an operation name ("PutObject").
    std::vector<platform::Value> requests(const std::string& op) {
        std::vector<platform::Value> out;
        auto log = admin("GET", "/__admin/requests");
        if (const auto* list = log.arrayIf())
            for (const auto& entry : *list)
                if (const auto* o = entry.get("op"); o && o->isString() && o->asString() == op) out.push_back(entry);
        return out;
    }

private:
    std::unique_ptr<Process> process_;
    platform::Value info_;
    int port_ = 0;
    int httpsPort_ = 0;
};

// A client of the stand-in with its permanent key pair.
inline std::unique_ptr<HOSClient> clientOf(const StandIn& standIn,
                                           std::shared_ptr<HOSClientConfiguration> configuration) {
    return std::make_unique<HOSClient>(
        standIn.endpoint(),
        std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(standIn.accessKeyId(), standIn.accessKeySecret()),
        std::move(configuration));
}

// Maps the test domain and its bucket hosts to loopback for the test's life.
class LoopbackResolver {
public:
    LoopbackResolver() {
        HOSNetworkingRequestDelegate::setHostResolver([](const std::string& host) {
            const std::string suffix = std::string(".") + kTestDomain;
            if (host == kTestDomain ||
                (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0))
                return std::string("127.0.0.1");
            return host;
        });
    }
    ~LoopbackResolver() { HOSNetworkingRequestDelegate::setHostResolver(nullptr); }
};

inline platform::Bytes bytesOf(const std::string& s) { return platform::Bytes(s.begin(), s.end()); }

inline platform::Bytes patternBytes(std::size_t n, unsigned seed = 1) {
    platform::Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

// Waits (at most 30 s) for a storage task and returns it. Not through
// waitUntilFinished, which warns about waiting on the main thread.
inline HOSTaskPtr waitFor(const HOSTaskPtr& task) {
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    task->continueWithBlock([done](const HOSTaskPtr&) -> std::any {
        done->set_value();
        return std::any();
    });
    EXPECT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    return task;
}

inline std::shared_ptr<HOSPutObjectRequest> putRequest(const std::string& key, const platform::Bytes& data) {
    auto request = std::make_shared<HOSPutObjectRequest>();
    request->setBucketName(kBucket);
    request->setObjectKey(key);
    request->setUploadingData(data);
    return request;
}

inline std::shared_ptr<HOSGetObjectRequest> getRequest(const std::string& key) {
    auto request = std::make_shared<HOSGetObjectRequest>();
    request->setBucketName(kBucket);
    request->setObjectKey(key);
    return request;
}

// A 200 response head with these headers, for feeding a parser directly.
inline std::shared_ptr<platform::HTTPURLResponse> reply(platform::HTTPURLResponse::HeaderFields headers) {
    return std::make_shared<platform::HTTPURLResponse>(*platform::URL::parse("http://h/"), 200, "HTTP/1.1",
                                                       std::move(headers));
}

template <class Result>
std::shared_ptr<Result> resultOf(const HOSTaskPtr& task) {
    const auto* r = task->resultAs<HOSResultPtr>();
    return r ? std::dynamic_pointer_cast<Result>(*r) : nullptr;
}

}  // namespace pellix::test
