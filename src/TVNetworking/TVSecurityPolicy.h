// TVSecurityPolicy: decides whether the certificate chain a TLS server
// presented is trusted, with optional certificate or public-key pinning.
//
// Evaluation runs on the platform's X.509 verifier (ServerTrust): the SSL
// policy is chain plus host name (or IP address), the basic policy the chain
// alone. Certificate pinning makes the pinned certificates the only trust
// anchors (a pinned intermediate anchors on its own); public-key pinning
// compares SubjectPublicKeyInfo. A pin only counts on a certificate that is
// part of the chain that actually vouches for the server: a pinned
// certificate merely appended to what the server sent proves nothing.
//
// Threads: set the properties before installing the policy; evaluation only
// reads them and may run on any thread.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "platform/ServerTrust.h"
#include "platform/Value.h"

namespace pellix {

enum TVSSLPinningMode : unsigned {
    TVSSLPinningModeNone = 0,
    TVSSLPinningModePublicKey = 1,
    TVSSLPinningModeCertificate = 2,
};

// A set of DER byte strings (certificates or SubjectPublicKeyInfo keys).
using TVDataSet = std::set<platform::Bytes>;

class TVSecurityPolicy {
public:
    static constexpr const char* kDomainWithoutPinningLogLine =
        "In order to validate a domain name for self signed certificates, you MUST use pinning.";

    // The contents of every "*.cer" file in the bundle's resource folder;
    // unreadable files contribute nothing, identical files one member.
    static TVDataSet certificatesInBundle(const platform::Bundle& bundle);
    // certificatesInBundle of the main bundle, read on the first call only.
    static const TVDataSet& defaultPinnedCertificates();

    // Mode none, no pins, domain validation on, invalid certificates refused.
    static std::shared_ptr<TVSecurityPolicy> defaultPolicy();
    static std::shared_ptr<TVSecurityPolicy> policyWithPinningMode(unsigned pinningMode);
    static std::shared_ptr<TVSecurityPolicy> policyWithPinningMode(unsigned pinningMode,
                                                                   std::optional<TVDataSet> pinnedCertificates);

    TVSecurityPolicy() = default;
    virtual ~TVSecurityPolicy() = default;

    unsigned SSLPinningMode() const { return SSLPinningMode_; }
    void setSSLPinningMode(unsigned mode) { SSLPinningMode_ = mode; }
    // nullopt stands for "no set at all".
    const std::optional<TVDataSet>& pinnedCertificates() const { return pinnedCertificates_; }
    // Also rebuilds pinnedPublicKeys (members without a key are skipped).
    void setPinnedCertificates(std::optional<TVDataSet> certificates);
    const std::optional<TVDataSet>& pinnedPublicKeys() const { return pinnedPublicKeys_; }
    bool allowInvalidCertificates() const { return allowInvalidCertificates_; }
    void setAllowInvalidCertificates(bool allow) { allowInvalidCertificates_ = allow; }
    bool validatesDomainName() const { return validatesDomainName_; }
    void setValidatesDomainName(bool validates) { validatesDomainName_ = validates; }

    // True when the server is trusted for `domain` (nullopt: no host given).
    bool evaluateServerTrust(const platform::ServerTrust& serverTrust, const std::optional<std::string>& domain) const;

    // Archive form: "SSLPinningMode", "allowInvalidCertificates",
    // "validatesDomainName", "pinnedCertificates" (array of bytes, absent for
    // none). The public keys are derived again on decoding.
    static bool supportsSecureCoding() { return true; }
    platform::Dictionary encodeWithCoder() const;
    static std::shared_ptr<TVSecurityPolicy> initWithCoder(const platform::Dictionary& coder);
    std::shared_ptr<TVSecurityPolicy> copy() const;

private:
    unsigned SSLPinningMode_ = TVSSLPinningModeNone;
    std::optional<TVDataSet> pinnedCertificates_;
    std::optional<TVDataSet> pinnedPublicKeys_;
    bool allowInvalidCertificates_ = false;
    bool validatesDomainName_ = true;
};

// The public key (DER SubjectPublicKeyInfo) of a DER certificate, or nullopt.
std::optional<platform::Bytes> TVPublicKeyForCertificate(const platform::Bytes& certificate);
// The verification outcome of `trust` under `policy`.
bool TVServerTrustIsValid(const platform::ServerTrust& trust, const platform::ServerTrust::Policy& policy);
// The DER certificates the server presented, its own first.
std::vector<platform::Bytes> TVCertificateTrustChainForServerTrust(const platform::ServerTrust& trust);
// The public keys of the presented certificates, in the same order.
std::vector<platform::Bytes> TVPublicKeyTrustChainForServerTrust(const platform::ServerTrust& trust);
bool TVSecKeyIsEqualToKey(const platform::Bytes& key1, const platform::Bytes& key2);

}  // namespace pellix
