// URLCredential: the answer to an authentication challenge. For a server
// trust challenge: "trust this server" (a credential for the challenge's
// ServerTrust).
#pragma once

#include <memory>

#include "platform/ServerTrust.h"

namespace pellix::platform {

class URLCredential {
public:
    static std::shared_ptr<const URLCredential> credentialForTrust(std::shared_ptr<const ServerTrust> trust) {
        return std::shared_ptr<const URLCredential>(new URLCredential(std::move(trust)));
    }
    const std::shared_ptr<const ServerTrust>& serverTrust() const { return trust_; }

private:
    explicit URLCredential(std::shared_ptr<const ServerTrust> trust) : trust_(std::move(trust)) {}
    std::shared_ptr<const ServerTrust> trust_;
};

using URLCredentialPtr = std::shared_ptr<const URLCredential>;

}  // namespace pellix::platform
