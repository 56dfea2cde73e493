// URLAuthenticationChallenge: what a session asks its delegate before it
// trusts a server: the protection space (host, port, protocol, method) and,
// for the server-trust method, the server's ServerTrust.
#pragma once

#include <memory>
#include <string>

#include "platform/ServerTrust.h"
#include "platform/URLCredential.h"

namespace pellix::platform {

class URLAuthenticationChallenge {
public:
    static constexpr const char* kAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";

    // How the delegate answers, in the platform's numbering.
    enum class Disposition {
        UseCredential = 0,           // trust the server (the credential's trust)
        PerformDefaultHandling = 1,  // the system's decision: valid chain for the host
        CancelAuthenticationChallenge = 2,  // fail the task with -999
        RejectProtectionSpace = 3,   // no other space to try: as default handling
    };

    URLAuthenticationChallenge(std::string host, int port, std::string protocol, std::string authenticationMethod,
                               std::shared_ptr<const ServerTrust> serverTrust)
        : host_(std::move(host)), port_(port), protocol_(std::move(protocol)),
          method_(std::move(authenticationMethod)), trust_(std::move(serverTrust)) {}

    // The protection space.
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    const std::string& protocol() const { return protocol_; }
    const std::string& authenticationMethod() const { return method_; }
    const std::shared_ptr<const ServerTrust>& serverTrust() const { return trust_; }

private:
    std::string host_;
    int port_;
    std::string protocol_;
    std::string method_;
    std::shared_ptr<const ServerTrust> trust_;
};

}  // namespace pellix::platform
