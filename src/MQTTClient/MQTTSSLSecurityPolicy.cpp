#include "MQTTClient/MQTTSSLSecurityPolicy.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/Bundle.h"
#include "platform/ServerTrust.h"
#include "platform/TrustEvaluation.h"

namespace pellix {

using platform::Bytes;
using platform::ServerTrust;

namespace {

std::vector<Bytes> certificatesInFolder(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cer") == 0) names.push_back(std::move(name));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<Bytes> certificates;
    for (const auto& name : names) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        if (!in) continue;
        Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.bad()) certificates.push_back(std::move(data));
    }
    return certificates;
}

bool keyIsPinned(const Bytes& certificate, const std::vector<Bytes>& pinnedKeys) {
    return platform::chainContainsPinnedPublicKey({certificate}, pinnedKeys);
}

}  // namespace

const std::vector<Bytes>& MQTTSSLSecurityPolicy::defaultPinnedCertificates() {
    static const std::vector<Bytes> certificates = certificatesInFolder(platform::Bundle::mainBundle().resourcePath());
    return certificates;
}

std::shared_ptr<MQTTSSLSecurityPolicy> MQTTSSLSecurityPolicy::defaultPolicy() {
    return std::make_shared<MQTTSSLSecurityPolicy>();
}

std::shared_ptr<MQTTSSLSecurityPolicy> MQTTSSLSecurityPolicy::policyWithPinningMode(MQTTSSLPinningMode mode) {
    auto policy = std::make_shared<MQTTSSLSecurityPolicy>();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(defaultPinnedCertificates());
    return policy;
}

void MQTTSSLSecurityPolicy::setPinnedCertificates(std::optional<std::vector<Bytes>> certificates) {
    pinnedPublicKeys_.reset();
    pinnedCertificates_.reset();
    if (!certificates) return;
    std::vector<Bytes> unique;
    for (auto& certificate : *certificates)
        if (std::find(unique.begin(), unique.end(), certificate) == unique.end()) unique.push_back(std::move(certificate));
    std::vector<Bytes> keys;
    for (const auto& certificate : unique)
        if (auto key = ServerTrust::publicKeyForCertificate(certificate)) keys.push_back(std::move(*key));
    pinnedCertificates_ = std::move(unique);
    pinnedPublicKeys_ = std::move(keys);
}

bool MQTTSSLSecurityPolicy::evaluateServerTrust(const ServerTrust& trust,
                                                const std::optional<std::string>& domain) const {
    ServerTrust::Policy policy;
    if (validatesDomainName_) policy.host = domain;

    if (SSLPinningMode_ == MQTTSSLPinningModeNone) return allowInvalidCertificates_ || trust.evaluate(policy).trusted;

    const ServerTrust::Result system = trust.evaluate(policy);
    if (!system.trusted && !allowInvalidCertificates_) return false;
    const std::vector<Bytes> pins = pinnedCertificates_.value_or(std::vector<Bytes>{});

    switch (SSLPinningMode_) {
        case MQTTSSLPinningModePublicKey: {
            const std::vector<Bytes> keys = pinnedPublicKeys_.value_or(std::vector<Bytes>{});
            // Only the certificates that really sign the server's own count,
            // never one it merely appended.
            const std::vector<Bytes> chain =
                system.trusted ? system.chain : platform::signedCertificateChain(trust.certificateChain());
            if (chain.empty()) return false;
            if (!validatesCertificateChain_) return keyIsPinned(chain.front(), keys);
            return std::all_of(chain.begin(), chain.end(), [&](const Bytes& c) { return keyIsPinned(c, keys); });
        }
        case MQTTSSLPinningModeCertificate: {
            for (const auto& der : pins)
                if (!ServerTrust::publicKeyForCertificate(der)) return false;
            // The pinned certificates become the only anchors; only the chain
            // the verifier built from them counts.
            policy.anchors = pins;
            const ServerTrust::Result pinned = trust.evaluate(policy);
            if (!pinned.trusted || !platform::chainContainsPinnedCertificate(pinned.chain, pins)) return false;
            if (!validatesCertificateChain_) return true;
            return std::all_of(pinned.chain.begin(), pinned.chain.end(), [&](const Bytes& c) {
                return std::find(pins.begin(), pins.end(), c) != pins.end();
            });
        }
        default:
            return false;
    }
}

}  // namespace pellix
