#include "TVNetworking/TVSecurityPolicy.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/Log.h"
#include "platform/TrustEvaluation.h"

namespace pellix {

using platform::Bytes;
using platform::ServerTrust;

std::optional<Bytes> TVPublicKeyForCertificate(const Bytes& certificate) {
    return ServerTrust::publicKeyForCertificate(certificate);
}

bool TVServerTrustIsValid(const ServerTrust& trust, const ServerTrust::Policy& policy) {
    return trust.evaluate(policy).trusted;
}

std::vector<Bytes> TVCertificateTrustChainForServerTrust(const ServerTrust& trust) { return trust.certificateChain(); }

std::vector<Bytes> TVPublicKeyTrustChainForServerTrust(const ServerTrust& trust) { return trust.publicKeys(); }

bool TVSecKeyIsEqualToKey(const Bytes& key1, const Bytes& key2) { return key1 == key2; }

TVDataSet TVSecurityPolicy::certificatesInBundle(const platform::Bundle& bundle) {
    TVDataSet certificates;
    const std::string dir = bundle.resourcePath();
    DIR* d = opendir(dir.c_str());
    if (!d) return certificates;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".cer") != 0) continue;
        std::ifstream in(dir + "/" + name, std::ios::binary);
        if (!in) continue;
        Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) continue;
        certificates.insert(std::move(data));
    }
    closedir(d);
    return certificates;
}

const TVDataSet& TVSecurityPolicy::defaultPinnedCertificates() {
    static std::once_flag once;
    static TVDataSet* certificates = nullptr;
    std::call_once(once, [] { certificates = new TVDataSet(certificatesInBundle(platform::Bundle::mainBundle())); });
    return *certificates;
}

std::shared_ptr<TVSecurityPolicy> TVSecurityPolicy::defaultPolicy() {
    auto policy = std::make_shared<TVSecurityPolicy>();
    policy->setSSLPinningMode(TVSSLPinningModeNone);
    return policy;
}

std::shared_ptr<TVSecurityPolicy> TVSecurityPolicy::policyWithPinningMode(unsigned pinningMode) {
    return policyWithPinningMode(pinningMode, defaultPinnedCertificates());
}

std::shared_ptr<TVSecurityPolicy> TVSecurityPolicy::policyWithPinningMode(unsigned pinningMode,
                                                                         std::optional<TVDataSet> pinnedCertificates) {
    auto policy = std::make_shared<TVSecurityPolicy>();
    policy->setSSLPinningMode(pinningMode);
    policy->setPinnedCertificates(std::move(pinnedCertificates));
    return policy;
}

void TVSecurityPolicy::setPinnedCertificates(std::optional<TVDataSet> certificates) {
    pinnedCertificates_ = std::move(certificates);
    if (!pinnedCertificates_) {
        pinnedPublicKeys_.reset();
        return;
    }
    TVDataSet keys;
    for (const auto& certificate : *pinnedCertificates_)
        if (auto key = TVPublicKeyForCertificate(certificate)) keys.insert(std::move(*key));
    pinnedPublicKeys_ = std::move(keys);
}

bool TVSecurityPolicy::evaluateServerTrust(const ServerTrust& serverTrust,
                                           const std::optional<std::string>& domain) const {
    const bool noPins = !pinnedCertificates_ || pinnedCertificates_->empty();
    if (domain && allowInvalidCertificates_ && validatesDomainName_ &&
        (SSLPinningMode_ == TVSSLPinningModeNone || noPins)) {
        platform::Log::write(kDomainWithoutPinningLogLine);
        return false;
    }

    ServerTrust::Policy policy;
    if (validatesDomainName_) policy.host = domain;

    if (SSLPinningMode_ == TVSSLPinningModeNone)
        return allowInvalidCertificates_ || TVServerTrustIsValid(serverTrust, policy);

    ServerTrust::Result system = serverTrust.evaluate(policy);
    if (!system.trusted && !allowInvalidCertificates_) return false;

    switch (SSLPinningMode_) {
        case TVSSLPinningModeCertificate: {
            // The pinned certificates become the only anchors; only the chain
            // the verifier built from them counts, never the raw list the
            // server sent.
            std::vector<Bytes> anchors;
            if (pinnedCertificates_)
                for (const auto& der : *pinnedCertificates_)
                    if (TVPublicKeyForCertificate(der)) anchors.push_back(der);
            policy.anchors = std::move(anchors);
            ServerTrust::Result pinned = serverTrust.evaluate(policy);
            if (!pinned.trusted) return false;
            return platform::chainContainsPinnedCertificate(
                pinned.chain, std::vector<Bytes>(pinnedCertificates_->begin(), pinnedCertificates_->end()));
        }
        case TVSSLPinningModePublicKey: {
            if (!pinnedPublicKeys_) return false;
            // Keys of the verified chain, or (invalid certificates allowed and
            // verification failed) of the certificates that really sign the
            // server's own one: a pinned certificate the server appended
            // without it signing anything must not match.
            return platform::chainContainsPinnedPublicKey(
                system.trusted ? system.chain : serverTrust.certificateChain(),
                std::vector<Bytes>(pinnedPublicKeys_->begin(), pinnedPublicKeys_->end()));
        }
        default:
            return false;
    }
}

platform::Dictionary TVSecurityPolicy::encodeWithCoder() const {
    platform::Dictionary coder;
    coder.set("SSLPinningMode", platform::Value(static_cast<std::uint64_t>(SSLPinningMode_)));
    coder.set("allowInvalidCertificates", allowInvalidCertificates_);
    coder.set("validatesDomainName", validatesDomainName_);
    if (pinnedCertificates_) {
        platform::Array pins;
        for (const auto& der : *pinnedCertificates_) pins.emplace_back(der);
        coder.set("pinnedCertificates", platform::Value(std::move(pins)));
    }
    return coder;
}

std::shared_ptr<TVSecurityPolicy> TVSecurityPolicy::initWithCoder(const platform::Dictionary& coder) {
    auto policy = std::make_shared<TVSecurityPolicy>();
    if (const auto* v = coder.find("SSLPinningMode"); v && v->isNumber())
        policy->setSSLPinningMode(static_cast<unsigned>(v->uintValue()));
    if (const auto* v = coder.find("allowInvalidCertificates"); v && (v->isBool() || v->isNumber()))
        policy->setAllowInvalidCertificates(v->boolValue());
    if (const auto* v = coder.find("validatesDomainName"); v && (v->isBool() || v->isNumber()))
        policy->setValidatesDomainName(v->boolValue());
    if (const auto* v = coder.find("pinnedCertificates"); v && v->isArray()) {
        TVDataSet pins;
        for (const auto& item : v->asArray())
            if (item.isBytes()) pins.insert(item.asBytes());
        policy->setPinnedCertificates(std::move(pins));
    }
    return policy;
}

std::shared_ptr<TVSecurityPolicy> TVSecurityPolicy::copy() const {
    auto policy = std::make_shared<TVSecurityPolicy>();
    policy->setSSLPinningMode(SSLPinningMode_);
    policy->setAllowInvalidCertificates(allowInvalidCertificates_);
    policy->setValidatesDomainName(validatesDomainName_);
    policy->setPinnedCertificates(pinnedCertificates_);
    return policy;
}

}  // namespace pellix
