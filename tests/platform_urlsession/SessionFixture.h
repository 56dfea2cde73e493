// Shared pieces of the URL-session tests: the HTTPS peer, a recording
// delegate and waiting helpers.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/URLSession.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::platform::urltest {

using namespace std::chrono_literals;

// The Node.js HTTPS peer (tests/peers/https/server.js) on a free port.
class Peer {
public:
    Peer(const test::TestCerts::Pair& pair, bool plain = false) {
        std::vector<std::string> argv = {"node", test::sourceDir() + "/tests/peers/https/server.js", "--port", "0",
                                         "--cert", pair.cert, "--key", pair.key};
        if (plain) argv.push_back("--plain");
        process_ = std::make_unique<test::Process>(argv);
        auto port = process_->waitForLine("listening (\\d+)");
        if (!port) throw std::runtime_error("peer did not start: " + process_->errorOutput());
        port_ = std::stoi(*port);
        base_ = std::string(plain ? "http" : "https") + "://127.0.0.1:" + std::to_string(port_);
    }
    int port() const { return port_; }
    URL url(const std::string& path) const { return *URL::parse(base_ + path); }
    const std::string& base() const { return base_; }

private:
    std::unique_ptr<test::Process> process_;
    int port_ = 0;
    std::string base_;
};

// Records every callback as a short text, per task, and answers the
// questions as configured.
class Recorder : public URLSessionDelegate {
public:
    using Disposition = URLAuthenticationChallenge::Disposition;

    std::set<Method> implemented = {Method::TaskDidReceiveChallenge};
    bool keepBodies = true;
    Disposition trustAnswer = Disposition::PerformDefaultHandling;
    // Called on the delegate queue instead of the automatic answers, when set.
    std::function<void(const TaskPtr&, ChallengeCompletion)> onChallenge;
    std::function<void(const TaskPtr&, std::shared_ptr<const HTTPURLResponse>, URLRequest, RedirectCompletion)>
        onRedirect;
    std::function<void(const DataTaskPtr&, ResponseCompletion)> onResponse;
    std::function<void(const TaskPtr&, BodyStreamCompletion)> onNeedStream;
    std::function<void(const URL&)> onDownloaded;
    std::function<void(const DataTaskPtr&, const Bytes&)> onData;

    bool implements(Method m) const override { return implemented.count(m) != 0; }

    void didBecomeInvalid(const SessionPtr&, ErrorPtr) override {
        std::lock_guard lock(mutex_);
        sessionEvents_.push_back("invalid");
        cv_.notify_all();
    }
    void didReceiveChallenge(const SessionPtr&, const URLAuthenticationChallenge& c,
                             ChallengeCompletion completion) override {
        record(0, "session-challenge");
        lastTrust_ = c.serverTrust();
        completion(trustAnswer, trustAnswer == Disposition::UseCredential
                                    ? URLCredential::credentialForTrust(c.serverTrust())
                                    : nullptr);
    }
    void didReceiveChallenge(const SessionPtr&, const TaskPtr& task, const URLAuthenticationChallenge& c,
                             ChallengeCompletion completion) override {
        record(task->taskIdentifier(), "challenge");
        {
            std::lock_guard lock(mutex_);
            lastTrust_ = c.serverTrust();
            challengeHost_ = c.host();
        }
        if (onChallenge) return onChallenge(task, completion);
        completion(trustAnswer, trustAnswer == Disposition::UseCredential
                                    ? URLCredential::credentialForTrust(c.serverTrust())
                                    : nullptr);
    }
    void willPerformHTTPRedirection(const SessionPtr&, const TaskPtr& task, std::shared_ptr<const HTTPURLResponse> r,
                                    URLRequest next, RedirectCompletion completion) override {
        record(task->taskIdentifier(), "redirect " + std::to_string(r->statusCode()));
        if (onRedirect) return onRedirect(task, r, std::move(next), completion);
        completion(std::move(next));
    }
    void needNewBodyStream(const SessionPtr&, const TaskPtr& task, BodyStreamCompletion completion) override {
        record(task->taskIdentifier(), "need-stream");
        if (onNeedStream) return onNeedStream(task, completion);
        auto s = task->originalRequest().httpBodyStream();
        completion(s ? s->copy() : nullptr);
    }
    void didSendBodyData(const SessionPtr&, const TaskPtr& task, std::int64_t, std::int64_t total,
                         std::int64_t) override {
        record(task->taskIdentifier(), "sent");
        std::lock_guard lock(mutex_);
        sent_[task->taskIdentifier()] = total;
    }
    void didCompleteWithError(const SessionPtr&, const TaskPtr& task, ErrorPtr error) override {
        record(task->taskIdentifier(), error ? "complete " + std::to_string(error->code()) : "complete");
        std::lock_guard lock(mutex_);
        ++completions_[task->taskIdentifier()];
        errors_[task->taskIdentifier()] = error;
        cv_.notify_all();
    }
    void didReceiveResponse(const SessionPtr&, const DataTaskPtr& task, std::shared_ptr<const HTTPURLResponse> r,
                            ResponseCompletion completion) override {
        record(task->taskIdentifier(), "response " + std::to_string(r->statusCode()));
        if (onResponse) return onResponse(task, completion);
        completion(ResponseDisposition::Allow);
    }
    void didReceiveData(const SessionPtr&, const DataTaskPtr& task, const Bytes& data) override {
        record(task->taskIdentifier(), "data");
        if (keepBodies) {
            std::lock_guard lock(mutex_);
            auto& b = bodies_[task->taskIdentifier()];
            b.insert(b.end(), data.begin(), data.end());
        }
        if (onData) onData(task, data);
    }
    void didWriteData(const SessionPtr&, const DownloadTaskPtr& task, std::int64_t, std::int64_t,
                      std::int64_t) override {
        record(task->taskIdentifier(), "written");
    }
    void didFinishDownloadingToURL(const SessionPtr&, const DownloadTaskPtr& task, const URL& location) override {
        record(task->taskIdentifier(), "downloaded");
        if (onDownloaded) onDownloaded(location);
    }

    // Callbacks of one task, consecutive repeats of data / sent / written
    // folded into one.
    std::vector<std::string> events(std::uint64_t task) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (auto& e : events_[task])
            if (out.empty() || out.back() != e || (e != "data" && e != "sent" && e != "written")) out.push_back(e);
        return out;
    }
    std::vector<std::string> sessionEvents() {
        std::lock_guard lock(mutex_);
        return sessionEvents_;
    }
    bool waitComplete(std::uint64_t task, std::chrono::milliseconds timeout = 30s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return completions_[task] > 0; });
    }
    bool waitInvalid(std::chrono::milliseconds timeout = 30s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return !sessionEvents_.empty(); });
    }
    int completions(std::uint64_t task) {
        std::lock_guard lock(mutex_);
        return completions_[task];
    }
    ErrorPtr error(std::uint64_t task) {
        std::lock_guard lock(mutex_);
        return errors_[task];
    }
    std::string body(std::uint64_t task) {
        std::lock_guard lock(mutex_);
        auto& b = bodies_[task];
        return std::string(b.begin(), b.end());
    }
    std::int64_t sent(std::uint64_t task) {
        std::lock_guard lock(mutex_);
        return sent_[task];
    }
    std::shared_ptr<const ServerTrust> lastTrust() {
        std::lock_guard lock(mutex_);
        return lastTrust_;
    }
    std::string challengeHost() {
        std::lock_guard lock(mutex_);
        return challengeHost_;
    }

private:
    void record(std::uint64_t task, std::string event) {
        std::lock_guard lock(mutex_);
        events_[task].push_back(std::move(event));
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::uint64_t, std::vector<std::string>> events_;
    std::vector<std::string> sessionEvents_;
    std::map<std::uint64_t, int> completions_;
    std::map<std::uint64_t, ErrorPtr> errors_;
    std::map<std::uint64_t, Bytes> bodies_;
    std::map<std::uint64_t, std::int64_t> sent_;
    std::shared_ptr<const ServerTrust> lastTrust_;
    std::string challengeHost_;
};

// A certificate set shared by the tests of one process, with the CA made
// the system's trust store for "default handling".
inline test::TestCerts& certs() {
    static test::TestCerts* c = [] {
        auto* made = new test::TestCerts();
        ::setenv("SSL_CERT_FILE", made->ca.cert.c_str(), 1);
        ::setenv("SSL_CERT_DIR", made->dir().c_str(), 1);
        return made;
    }();
    return *c;
}

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Waits until pred holds (polling), or the timeout.
inline bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 30s) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return pred();
}

// A session with a Recorder on its own width-1 queue; invalidated (and its
// invalidation awaited) at the end of the test.
struct SessionUnderTest {
    std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
    std::shared_ptr<URLSession> session;
    explicit SessionUnderTest(URLSessionConfiguration config = URLSessionConfiguration::defaultSessionConfiguration(),
                              std::shared_ptr<OperationQueue> queue = nullptr) {
        session = URLSession::sessionWithConfiguration(config, delegate, queue);
    }
    ~SessionUnderTest() {
        session->invalidateAndCancel();
        delegate->waitInvalid();
    }
};

}  // namespace pellix::platform::urltest
