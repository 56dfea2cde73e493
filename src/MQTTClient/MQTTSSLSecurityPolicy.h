// MQTTSSLSecurityPolicy: the program's own verdict on a broker's TLS
// certificate, optionally pinned to known certificates or public keys.
//
// Every pinning check goes through the platform's one evaluation
// (ServerTrust + TrustEvaluation): certificate mode verifies the server's
// chain against the pinned certificates as the only anchors, public-key mode
// compares the keys of the verified chain (or, invalid certificates allowed,
// of the certificates that really sign the server's one). A pinned
// certificate the server merely appends to what it sends never counts.
//
// Thread-safety: a plain value object; configure it before handing it to a
// transport, which only reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace pellix {

namespace platform {
class ServerTrust;
}

using MQTTSSLPinningMode = std::uint64_t;
constexpr MQTTSSLPinningMode MQTTSSLPinningModeNone = 0;
constexpr MQTTSSLPinningMode MQTTSSLPinningModePublicKey = 1;
constexpr MQTTSSLPinningMode MQTTSSLPinningModeCertificate = 2;

class MQTTSSLSecurityPolicy {
public:
    // The DER files of type "cer" in the host-set bundle folder, read once
    // per process, in name order.
    static const std::vector<platform::Bytes>& defaultPinnedCertificates();
    static std::shared_ptr<MQTTSSLSecurityPolicy> defaultPolicy();
    // The mode, and the default pinned certificates.
    static std::shared_ptr<MQTTSSLSecurityPolicy> policyWithPinningMode(MQTTSSLPinningMode mode);

    bool validatesCertificateChain() const { return validatesCertificateChain_; }
    void setValidatesCertificateChain(bool v) { validatesCertificateChain_ = v; }
    bool allowInvalidCertificates() const { return allowInvalidCertificates_; }
    void setAllowInvalidCertificates(bool v) { allowInvalidCertificates_ = v; }
    bool validatesDomainName() const { return validatesDomainName_; }
    void setValidatesDomainName(bool v) { validatesDomainName_ = v; }
    MQTTSSLPinningMode SSLPinningMode() const { return SSLPinningMode_; }
    void setSSLPinningMode(MQTTSSLPinningMode mode) { SSLPinningMode_ = mode; }

    const std::optional<std::vector<platform::Bytes>>& pinnedCertificates() const { return pinnedCertificates_; }
    // Stores the list without repeats (first kept, order kept) and derives
    // pinnedPublicKeys from it; a certificate that cannot be read adds no key.
    void setPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates);
    // DER SubjectPublicKeyInfo of each readable pinned certificate.
    const std::optional<std::vector<platform::Bytes>>& pinnedPublicKeys() const { return pinnedPublicKeys_; }

    // True when the connection to `domain` may be used.
    bool evaluateServerTrust(const platform::ServerTrust& trust, const std::optional<std::string>& domain) const;

private:
    bool validatesCertificateChain_ = true;
    bool allowInvalidCertificates_ = false;
    bool validatesDomainName_ = true;
    MQTTSSLPinningMode SSLPinningMode_ = MQTTSSLPinningModeNone;
    std::optional<std::vector<platform::Bytes>> pinnedCertificates_;
    std::optional<std::vector<platform::Bytes>> pinnedPublicKeys_;
};

}  // namespace pellix
