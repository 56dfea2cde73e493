// URLSessionTask: one transfer of a URL session (base of the data, upload
// and download tasks).
//
// A task is created suspended; `resume` starts it. Its state moves
// Suspended ⇄ Running → Canceling → Completed (or straight to Completed when
// the transfer ends). `suspend` stops the transfer and its timers, `resume`
// continues it; `cancel` ends the task with NSURLErrorDomain -999, exactly once
// and as its last callback, whatever stage it is at. All members may be called
// from any thread, also from the session's delegate callbacks; none of them
// waits for the network.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/HTTPURLResponse.h"
#include "platform/URLRequest.h"

namespace pellix::platform {

class URLSessionEngine;

class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
public:
    // The platform's numbering.
    enum class State { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };
    enum class Kind { Data, Upload, Download };

    // The platform's "unknown size" (NSURLSessionTransferSizeUnknown).
    static constexpr std::int64_t kTransferSizeUnknown = -1;

    virtual ~URLSessionTask() = default;
    URLSessionTask(const URLSessionTask&) = delete;
    URLSessionTask& operator=(const URLSessionTask&) = delete;

    Kind kind() const { return kind_; }
    // Unique within its session, counting from 1.
    std::uint64_t taskIdentifier() const { return identifier_; }
    // The request as created, and as sent now (after redirects).
    const URLRequest& originalRequest() const { return originalRequest_; }
    URLRequest currentRequest() const;
    // The final response head, once it has arrived.
    std::shared_ptr<const HTTPURLResponse> response() const;
    // The completion error, once completed (null for success).
    ErrorPtr error() const;
    State state() const { return state_.load(); }

    std::optional<std::string> taskDescription() const;
    void setTaskDescription(std::optional<std::string> description);

    // Body bytes sent and received so far, and what is expected
    // (kTransferSizeUnknown when not known; 0 when there is no body to send).
    std::int64_t countOfBytesSent() const { return bytesSent_.load(); }
    std::int64_t countOfBytesExpectedToSend() const { return bytesExpectedToSend_.load(); }
    std::int64_t countOfBytesReceived() const { return bytesReceived_.load(); }
    std::int64_t countOfBytesExpectedToReceive() const { return bytesExpectedToReceive_.load(); }

    void resume();
    void suspend();
    void cancel();

protected:
    URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSessionEngine> engine);

private:
    friend class URLSessionEngine;

    const Kind kind_;
    const std::uint64_t identifier_;
    const URLRequest originalRequest_;
    const std::weak_ptr<URLSessionEngine> engine_;

    std::atomic<State> state_{State::Suspended};
    std::atomic<bool> cancelRequested_{false};
    std::atomic<std::int64_t> bytesSent_{0};
    std::atomic<std::int64_t> bytesExpectedToSend_{0};
    std::atomic<std::int64_t> bytesReceived_{0};
    std::atomic<std::int64_t> bytesExpectedToReceive_{kTransferSizeUnknown};

    mutable std::mutex mutex_;
    URLRequest currentRequest_;
    std::shared_ptr<const HTTPURLResponse> response_;
    ErrorPtr error_;
    std::optional<std::string> description_;
};

}  // namespace pellix::platform
