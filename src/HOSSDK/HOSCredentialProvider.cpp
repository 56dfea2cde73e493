#include "HOSSDK/HOSCredentialProvider.h"

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSTask/HOSTaskCompletionSource.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "HOSSDK/NSString+HOS.h"
#include "platform/JSON.h"
#include "platform/URLSession.h"

namespace pellix {

namespace {

std::string text(const std::optional<std::string>& s) { return s ? *s : "(null)"; }
std::string masked(const std::optional<std::string>& s) { return s ? "<hidden>" : "(null)"; }

// "yyyy-MM-dd'T'HH:mm:ssZ" with a numeric zone ("+0800", "-0130") or "Z":
// seconds since 1970, or nullopt.
std::optional<double> parseExpiration(const std::string& s) {
    int y, mo, d, h, mi, se, consumed = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &se, &consumed) != 6 ||
        consumed != 19)
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) return std::nullopt;
    const std::string zone = s.substr(19);
    int offset = 0;
    if (zone == "Z") {
        offset = 0;
    } else if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')) {
        for (int i = 1; i < 5; ++i)
            if (zone[i] < '0' || zone[i] > '9') return std::nullopt;
        offset = ((zone[1] - '0') * 10 + (zone[2] - '0')) * 3600 + ((zone[3] - '0') * 10 + (zone[4] - '0')) * 60;
        if (zone[0] == '-') offset = -offset;
    } else {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se;
    return static_cast<double>(::timegm(&tm)) - offset;
}

platform::ErrorPtr signError(const char* message) {
    return HOSClientError(HOSClientErrorCodeSignFailed, message);
}

}  // namespace

std::optional<std::string> HOSFederationToken::expirationTimeInGMTFormat() const {
    std::lock_guard<std::mutex> guard(gmtLock_);
    return expirationTimeInGMTFormat_;
}

void HOSFederationToken::setExpirationTimeInGMTFormat(std::optional<std::string> v) {
    std::lock_guard<std::mutex> guard(gmtLock_);
    expirationTimeInGMTFormat_ = std::move(v);
}

std::string HOSFederationToken::description() const {
    char head[48];
    std::snprintf(head, sizeof head, "HOSFederationToken<%p>:{", static_cast<const void*>(this));
    return head + std::string("AccessKeyId: ") + text(tAccessKey_) + "\nAccessKeySecret: " + masked(tSecretKey_) +
           "\nSecurityToken: " + masked(tToken_) + "\nExpiration: " + text(expirationTimeInGMTFormat()) + "}";
}

std::optional<std::string> HOSCredentialProvider::sign(const std::string&, platform::ErrorPtr* error) {
    if (error) *error = signError(HOSErrorMessage::kNullKeyPair);
    return std::nullopt;
}

HOSPlainTextAKSKPairCredentialProvider::HOSPlainTextAKSKPairCredentialProvider(const std::string& accessKey,
                                                                               const std::string& secretKey)
    : accessKey_(hos_trim(accessKey)), secretKey_(hos_trim(secretKey)) {}

std::optional<std::string> HOSPlainTextAKSKPairCredentialProvider::sign(const std::string& content,
                                                                        platform::ErrorPtr* error) {
    if (hos_isNotEmpty(std::string_view(accessKey_)) && hos_isNotEmpty(std::string_view(secretKey_)))
        return "HOS " + accessKey_ + ":" + HOSUtil::calBase64Sha1WithData(content, secretKey_);
    if (error) *error = signError(HOSErrorMessage::kNullKeyPair);
    return std::nullopt;
}

HOSCustomSignerCredentialProvider::HOSCustomSignerCredentialProvider(SignContent signContent)
    : signContent_(std::move(signContent)) {
    if (!signContent_)
        throw platform::Exception("NSInternalInconsistencyException",
                                  "Invalid parameter not satisfying: signContent");
}

std::optional<std::string> HOSCustomSignerCredentialProvider::sign(const std::string& content,
                                                                   platform::ErrorPtr* error) {
    std::lock_guard<std::mutex> guard(lock_);
    platform::ErrorPtr blockError;
    auto value = signContent_(content, &blockError);
    if (blockError) {
        if (error) *error = platform::Error::make(HOSClientErrorDomain, HOSClientErrorCodeSignFailed,
                                                  blockError->userInfo());
        return std::nullopt;
    }
    return value;
}

HOSFederationCredentialProvider::HOSFederationCredentialProvider(TokenGetter getter)
    : federationTokenGetter_(std::move(getter)) {}

HOSFederationTokenPtr HOSFederationCredentialProvider::cachedToken() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cachedToken_;
}

void HOSFederationCredentialProvider::setCachedToken(HOSFederationTokenPtr token) {
    std::lock_guard<std::mutex> guard(lock_);
    cachedToken_ = std::move(token);
}

HOSFederationTokenPtr HOSFederationCredentialProvider::getToken(platform::ErrorPtr* error) {
    std::unique_lock<std::mutex> guard(lock_);
    auto fetch = [this] { return federationTokenGetter_ ? federationTokenGetter_() : nullptr; };
    if (!cachedToken_) {
        cachedToken_ = fetch();
    } else {
        if (auto gmt = cachedToken_->expirationTimeInGMTFormat()) {
            const auto seconds = parseExpiration(*gmt);
            const std::int64_t ms = seconds ? static_cast<std::int64_t>(*seconds * 1000.0) : 0;
            cachedToken_->setExpirationTimeInMilliSecond(ms);
            cachedToken_->setExpirationTimeInGMTFormat(std::nullopt);
            HOS_LOG_VERBOSE("Transform GMT date to expirationTimeInMilliSecond: %" PRId64, ms);
        }
        const double remaining =
            static_cast<double>(cachedToken_->expirationTimeInMilliSecond() / 1000) - hos_clockSkewFixedDate();
        if (remaining < 300.0) {
            HOS_LOG_DEBUG("get federation token, but after %lf second it would be expired", remaining);
            cachedToken_ = fetch();
        }
    }
    auto token = cachedToken_;
    guard.unlock();
    if (!token && error) *error = signError(HOSErrorMessage::kNoFederationToken);
    return token;
}

HOSStsTokenCredentialProvider::HOSStsTokenCredentialProvider(const std::string& accessKeyId,
                                                             const std::string& secretKeyId,
                                                             const std::string& securityToken)
    : accessKeyId_(hos_trim(accessKeyId)), secretKeyId_(hos_trim(secretKeyId)), securityToken_(hos_trim(securityToken)) {}

HOSFederationTokenPtr HOSStsTokenCredentialProvider::getToken() const {
    auto token = std::make_shared<HOSFederationToken>();
    token->setTAccessKey(accessKeyId_);
    token->setTSecretKey(secretKeyId_);
    token->setTToken(securityToken_);
    token->setExpirationTimeInMilliSecond(INT64_MAX);
    return token;
}

std::optional<std::string> HOSStsTokenCredentialProvider::sign(const std::string& content, platform::ErrorPtr*) {
    return "HOS " + accessKeyId_ + ":" + HOSUtil::calBase64Sha1WithData(content, secretKeyId_);
}

HOSAuthCredentialProvider::HOSAuthCredentialProvider(const std::string& authServerUrl, ResponseDecoder decoder)
    : HOSFederationCredentialProvider(nullptr), authServerUrl_(authServerUrl) {
    // The getter reads the URL at every fetch, so a changed URL takes effect.
    setFederationTokenGetter([this, decoder = std::move(decoder)] { return fetch(this->authServerUrl(), decoder); });
}

std::string HOSAuthCredentialProvider::authServerUrl() const {
    std::lock_guard<std::mutex> guard(urlLock_);
    return authServerUrl_;
}

void HOSAuthCredentialProvider::setAuthServerUrl(std::string url) {
    std::lock_guard<std::mutex> guard(urlLock_);
    authServerUrl_ = std::move(url);
}

HOSFederationTokenPtr HOSAuthCredentialProvider::fetch(const std::string& urlText, const ResponseDecoder& decoder) {
    auto url = platform::URL::parse(urlText);
    if (!url) return nullptr;
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    platform::URLRequest request(*url);
    auto task = platform::URLSession::sharedSession()->dataTaskWithRequest(
        request, [source](std::optional<platform::Bytes> data, std::shared_ptr<const platform::HTTPURLResponse>,
                          platform::ErrorPtr error) {
            if (error)
                source->setError(error);
            else
                source->setResult(data ? std::move(*data) : platform::Bytes{});
        });
    task->resume();
    source->task()->waitUntilFinished();
    if (source->task()->error()) return nullptr;
    const auto* body = source->task()->resultAs<platform::Bytes>();
    if (!body) return nullptr;
    const platform::Bytes decoded = decoder ? decoder(*body) : *body;
    auto json = platform::JSON::parse(decoded);
    if (!json || !json->isDictionary()) return nullptr;
    const auto* status = json->get("StatusCode");
    if (!status || status->intValue() != 200) return nullptr;
    auto field = [&](const char* key) -> std::optional<std::string> {
        const auto* v = json->get(key);
        if (!v || v->isNull()) return std::nullopt;
        return v->isString() ? v->asString() : v->description();
    };
    auto token = std::make_shared<HOSFederationToken>();
    token->setTAccessKey(field("AccessKeyId"));
    token->setTSecretKey(field("AccessKeySecret"));
    token->setTToken(field("SecurityToken"));
    token->setExpirationTimeInGMTFormat(field("Expiration"));
    // The secret and the security token stay out of the log.
    HOS_LOG_DEBUG("token: %s <hidden> <hidden> %s", text(token->tAccessKey()).c_str(),
                  text(token->expirationTimeInGMTFormat()).c_str());
    return token;
}

}  // namespace pellix
