// Request interceptors: run in list order on the message before each attempt
// of a storage request. The User-Agent interceptor stamps "User-Agent"; the
// signer adds the security token and the version-1 "Authorization"; the
// clock-skew interceptor, put first after a RequestTimeTooSkewed reply,
// restamps "Date" with the corrected clock before signing.
//
// Interceptors keep no per-request state and may run for several requests
// at once; providers serialise their own token fetching.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSAllRequestNeededMessage.h"
#include "HOSSDK/HOSClientConfiguration.h"
#include "HOSSDK/HOSCredentialProvider.h"
#include "HOSSDK/HOSTask/HOSTask.h"

namespace pellix {

class HOSRequestInterceptor {
public:
    virtual ~HOSRequestInterceptor() = default;
    // Edits the message; a task with nil result, or the error that stops
    // the request.
    virtual HOSTaskPtr interceptRequestMessage(HOSAllRequestNeededMessage& message) = 0;
};

class HOSSignerInterceptor : public HOSRequestInterceptor {
public:
    explicit HOSSignerInterceptor(HOSCredentialProviderPtr credentialProvider)
        : credentialProvider_(std::move(credentialProvider)) {}
    const HOSCredentialProviderPtr& credentialProvider() const { return credentialProvider_; }
    HOSTaskPtr interceptRequestMessage(HOSAllRequestNeededMessage& message) override;

    // The text that is signed for the message as it stands.
    static std::string stringToSign(const HOSAllRequestNeededMessage& message);

private:
    HOSCredentialProviderPtr credentialProvider_;
};

class HOSUASettingInterceptor : public HOSRequestInterceptor {
public:
    explicit HOSUASettingInterceptor(std::weak_ptr<const HOSClientConfiguration> clientConfiguration)
        : clientConfiguration_(std::move(clientConfiguration)) {}
    HOSTaskPtr interceptRequestMessage(HOSAllRequestNeededMessage& message) override;
    // The base text, followed by "/" and the mark when there is one.
    static std::string getUserAgent(const std::optional<std::string>& mark);

private:
    std::weak_ptr<const HOSClientConfiguration> clientConfiguration_;
};

class HOSTimeSkewedFixingInterceptor : public HOSRequestInterceptor {
public:
    HOSTaskPtr interceptRequestMessage(HOSAllRequestNeededMessage& message) override;
};

}  // namespace pellix
