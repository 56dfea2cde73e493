// Credential providers of the storage client: what the request signer needs
// to sign, either a finished Authorization value for a text or a temporary
// token (access key id, secret, security token, expiry).
//
// Secrets never leave through text: description() of a token and every log
// line name the access key id only; the secret and the security token are
// masked.
//
// Threads: getToken() of a federation provider holds the provider's lock for
// a whole fetch (the getter included), so concurrent callers wait for the
// fetch in progress and then share its token; the custom signer serialises
// its block the same way. The other providers are immutable after setup.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix {

class HOSFederationToken {
public:
    const std::optional<std::string>& tAccessKey() const { return tAccessKey_; }
    void setTAccessKey(std::optional<std::string> v) { tAccessKey_ = std::move(v); }
    const std::optional<std::string>& tSecretKey() const { return tSecretKey_; }
    void setTSecretKey(std::optional<std::string> v) { tSecretKey_ = std::move(v); }
    const std::optional<std::string>& tToken() const { return tToken_; }
    void setTToken(std::optional<std::string> v) { tToken_ = std::move(v); }
    std::int64_t expirationTimeInMilliSecond() const { return expirationTimeInMilliSecond_; }
    void setExpirationTimeInMilliSecond(std::int64_t v) { expirationTimeInMilliSecond_ = v; }
    std::optional<std::string> expirationTimeInGMTFormat() const;
    void setExpirationTimeInGMTFormat(std::optional<std::string> v);

    // The fields with the secret and the security token masked.
    std::string description() const;

private:
    std::optional<std::string> tAccessKey_, tSecretKey_, tToken_;
    std::int64_t expirationTimeInMilliSecond_ = 0;
    mutable std::mutex gmtLock_;
    std::optional<std::string> expirationTimeInGMTFormat_;
};

using HOSFederationTokenPtr = std::shared_ptr<HOSFederationToken>;

class HOSCredentialProvider {
public:
    virtual ~HOSCredentialProvider() = default;
    // The complete Authorization value for the text, or nullopt with *error
    // set (when error is not null).
    virtual std::optional<std::string> sign(const std::string& content, platform::ErrorPtr* error);
};

using HOSCredentialProviderPtr = std::shared_ptr<HOSCredentialProvider>;

class HOSPlainTextAKSKPairCredentialProvider : public HOSCredentialProvider {
public:
    HOSPlainTextAKSKPairCredentialProvider(const std::string& accessKey, const std::string& secretKey);
    const std::string& accessKey() const { return accessKey_; }
    void setAccessKey(std::string v) { accessKey_ = std::move(v); }
    const std::string& secretKey() const { return secretKey_; }
    void setSecretKey(std::string v) { secretKey_ = std::move(v); }
    std::optional<std::string> sign(const std::string& content, platform::ErrorPtr* error) override;

private:
    std::string accessKey_, secretKey_;
};

class HOSCustomSignerCredentialProvider : public HOSCredentialProvider {
public:
    using SignContent = std::function<std::optional<std::string>(const std::string& content, platform::ErrorPtr* error)>;
    // Raises platform::Exception "NSInternalInconsistencyException" for an
    // empty block.
    explicit HOSCustomSignerCredentialProvider(SignContent signContent);
    const SignContent& signContent() const { return signContent_; }
    std::optional<std::string> sign(const std::string& content, platform::ErrorPtr* error) override;

private:
    std::mutex lock_;
    SignContent signContent_;
};

class HOSFederationCredentialProvider : public HOSCredentialProvider {
public:
    using TokenGetter = std::function<HOSFederationTokenPtr()>;
    explicit HOSFederationCredentialProvider(TokenGetter getter);

    // The cached token, first fetched through the getter when none is cached
    // or less than 300 s of it remain. Null with *error set when the getter
    // gives nothing.
    HOSFederationTokenPtr getToken(platform::ErrorPtr* error);
    HOSFederationTokenPtr cachedToken() const;
    void setCachedToken(HOSFederationTokenPtr token);
    const TokenGetter& federationTokenGetter() const { return federationTokenGetter_; }

protected:
    void setFederationTokenGetter(TokenGetter getter) { federationTokenGetter_ = std::move(getter); }

private:
    mutable std::mutex lock_;
    HOSFederationTokenPtr cachedToken_;
    TokenGetter federationTokenGetter_;
};

class HOSStsTokenCredentialProvider : public HOSCredentialProvider {
public:
    HOSStsTokenCredentialProvider(const std::string& accessKeyId, const std::string& secretKeyId,
                                  const std::string& securityToken);
    // A token that never expires.
    HOSFederationTokenPtr getToken() const;
    std::optional<std::string> sign(const std::string& content, platform::ErrorPtr* error) override;
    const std::string& accessKeyId() const { return accessKeyId_; }
    const std::string& securityToken() const { return securityToken_; }

private:
    std::string accessKeyId_, secretKeyId_, securityToken_;
};

// Temporary credentials fetched with a plain GET from an authorisation
// server whose JSON reply carries "StatusCode", "AccessKeyId",
// "AccessKeySecret", "SecurityToken" and "Expiration".
class HOSAuthCredentialProvider : public HOSFederationCredentialProvider {
public:
    using ResponseDecoder = std::function<platform::Bytes(const platform::Bytes&)>;
    explicit HOSAuthCredentialProvider(const std::string& authServerUrl, ResponseDecoder decoder = nullptr);
    std::string authServerUrl() const;
    void setAuthServerUrl(std::string url);

private:
    static HOSFederationTokenPtr fetch(const std::string& url, const ResponseDecoder& decoder);
    mutable std::mutex urlLock_;
    std::string authServerUrl_;
};

}  // namespace pellix
