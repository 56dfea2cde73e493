// HOSNetworking: the transport of the storage client. It owns the URL
// sessions, sends each request handed to sendRequest(), drives every attempt
// through the request's interceptors, builds the HTTP request, feeds the
// reply to the response parser, maps failures onto the storage errors,
// retries what the retry handler allows, and checks the CRC-64 of the body.
//
// Threads: interceptors, building and task start run on `taskExecutor` (at
// most maxConcurrentRequestCount at a time); session callbacks and the
// completion step run on one delegate queue shared by both sessions, which
// has no width limit. A retry's back-off is a timer on the platform clock,
// not a sleep, so it holds no thread and no other transfer waits behind it
// (and a manual clock drives it in tests).
//
// Life cycle: invalidateAndCancel() (the client calls it when it goes away)
// cancels every transfer and releases the sessions, which hold this object
// as their delegate until then.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "HOSSDK/HOSSyncMutableDictionary.h"
#include "HOSSDK/HOSTask/HOSExecutor.h"
#include "HOSSDK/HOSTask/HOSTaskCompletionSource.h"
#include "platform/OperationQueue.h"
#include "platform/URLSession.h"

namespace pellix {

struct HOSNetworkingConfiguration {
    std::uint32_t maxRetryCount = 0;
    std::uint32_t maxConcurrentRequestCount = 0;  // 0: the queue's default width
    bool enableBackgroundTransmitService = false;
    std::optional<std::string> backgroundSessionIdentifier;
    double timeoutIntervalForRequest = 0;   // applied only when > 0
    double timeoutIntervalForResource = 0;  // applied only when > 0
    std::optional<std::string> proxyHost;
    std::optional<std::int64_t> proxyPort;
};

class HOSNetworking : public platform::URLSessionDelegate, public std::enable_shared_from_this<HOSNetworking> {
public:
    static std::shared_ptr<HOSNetworking> create(HOSNetworkingConfiguration configuration);
    ~HOSNetworking() override;

    // The task completes with the operation's result (an HOSResultPtr) or a
    // storage error. Never fails synchronously.
    HOSTaskPtr sendRequest(const HOSNetworkingRequestDelegatePtr& request);
    // Starts one attempt of the request.
    void dataTaskWithDelegate(const HOSNetworkingRequestDelegatePtr& request);
    // Settles the source with the result, or with a CRC error.
    static void checkForCrc64WithResult(const HOSResultPtr& result, const HOSNetworkingRequestDelegate& request,
                                        HOSTaskCompletionSource& source);
    // The error of a reply that failed the success test: client error 0 for
    // status 0, else a server error whose user info is the XML error body
    // (empty when the body is not an XML document).
    static platform::ErrorPtr errorForFailedReply(int statusCode, const platform::Bytes& body);
    // How much of a failed reply's body is kept: far more than any error
    // document. Once that much arrived the transfer is stopped and the reply
    // reported from what was kept, so a body without end neither fills memory
    // nor keeps the request going for ever (bytes that keep coming never let
    // the idle time-out fire).
    static constexpr std::size_t kMaxErrorBodyBytes = std::size_t{64} << 10;
    // The one success test of a storage reply.
    static bool isSuccessfulStatus(int statusCode) {
        return statusCode >= 200 && statusCode < 300 && statusCode != 203;
    }

    const HOSNetworkingConfiguration& configuration() const { return configuration_; }
    const std::shared_ptr<HOSExecutor>& taskExecutor() const { return taskExecutor_; }
    const std::shared_ptr<platform::URLSession>& dataSession() const { return dataSession_; }
    const std::shared_ptr<platform::URLSession>& uploadFileSession() const { return uploadFileSession_; }
    void invalidateAndCancel();

    // URLSessionDelegate.
    bool implements(Method method) const override {
        return method == Method::DidReceiveResponse || method == Method::TaskDidReceiveChallenge;
    }
    // The server's certificate is judged for the "Host" header's name, which
    // is what makes a connection to an HTTP-DNS address pass.
    void didReceiveChallenge(const SessionPtr&, const TaskPtr& task, const platform::URLAuthenticationChallenge&,
                             ChallengeCompletion completion) override;
    static bool evaluateServerTrust(const platform::ServerTrust& trust, const std::optional<std::string>& domain);
    void didReceiveResponse(const SessionPtr&, const DataTaskPtr& task, std::shared_ptr<const platform::HTTPURLResponse>,
                            ResponseCompletion completion) override;
    void didReceiveData(const SessionPtr&, const DataTaskPtr& task, const platform::Bytes& data) override;
    void didSendBodyData(const SessionPtr&, const TaskPtr& task, std::int64_t bytesSent, std::int64_t totalBytesSent,
                         std::int64_t totalBytesExpectedToSend) override;
    void didCompleteWithError(const SessionPtr&, const TaskPtr& task, platform::ErrorPtr error) override;

private:
    explicit HOSNetworking(HOSNetworkingConfiguration configuration);
    void completeAttempt(const HOSNetworkingRequestDelegatePtr& request, const TaskPtr& task,
                         platform::ErrorPtr sessionError);

    HOSNetworkingConfiguration configuration_;
    std::shared_ptr<platform::OperationQueue> delegateQueue_;
    std::shared_ptr<platform::URLSession> dataSession_;
    std::shared_ptr<platform::URLSession> uploadFileSession_;
    bool isUsingBackgroundSession_ = false;
    // Set by invalidateAndCancel(): attempts that come later fail as
    // cancelled instead of asking the closed sessions for a task.
    std::atomic<bool> invalidated_{false};
    HOSSyncMutableDictionary sessionDelagateManager_;
    std::shared_ptr<HOSExecutor> taskExecutor_;
};

using HOSNetworkingPtr = std::shared_ptr<HOSNetworking>;

}  // namespace pellix
