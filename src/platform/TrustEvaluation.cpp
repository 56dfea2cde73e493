#include "platform/TrustEvaluation.h"

#include "platform/ServerTrust.h"
#include "platform/X509DER.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace pellix::platform {

namespace {

X509Ptr parse(const Bytes& der) { return x509FromDER(der); }

}  // namespace

std::vector<Bytes> signedCertificateChain(const std::vector<Bytes>& presented) {
    std::vector<Bytes> chain;
    if (presented.empty()) return chain;
    X509Ptr current = parse(presented[0]);
    if (!current) return chain;
    chain.push_back(presented[0]);
    for (std::size_t i = 1; i < presented.size(); ++i) {
        X509Ptr next = parse(presented[i]);
        if (!next) break;
        // The issuer must name and sign the certificate before it.
        if (X509_check_issued(next.get(), current.get()) != X509_V_OK) break;
        EVP_PKEY* key = X509_get0_pubkey(next.get());
        if (!key || X509_verify(current.get(), key) != 1) break;
        chain.push_back(presented[i]);
        current = std::move(next);
    }
    ERR_clear_error();
    return chain;
}

bool chainContainsPinnedCertificate(const std::vector<Bytes>& chain, const std::vector<Bytes>& pinnedCertificates) {
    if (pinnedCertificates.empty()) return false;
    for (const auto& der : signedCertificateChain(chain))
        for (const auto& pinned : pinnedCertificates)
            if (der == pinned) return true;
    return false;
}

bool chainContainsPinnedPublicKey(const std::vector<Bytes>& chain, const std::vector<Bytes>& pinnedPublicKeys) {
    if (pinnedPublicKeys.empty()) return false;
    for (const auto& der : signedCertificateChain(chain)) {
        auto key = ServerTrust::publicKeyForCertificate(der);
        if (!key) continue;
        for (const auto& pinned : pinnedPublicKeys)
            if (*key == pinned) return true;
    }
    return false;
}

}  // namespace pellix::platform
