// TLSIdentity: a client identity for TLS (private key, its certificate and
// the certificates that complete its chain), imported from PKCS#12.
//
// PKCS#12 files made by older tools use RC2/3DES, which OpenSSL 3 keeps in
// its "legacy" provider; the import loads that provider next to "default"
// once per process so such files still open.
//
// Immutable after import; every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Value.h"

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace pellix::platform {

class TLSIdentity {
public:
    // Import status codes, as the platform's PKCS#12 import reports them.
    static constexpr std::int32_t kStatusSuccess = 0;
    static constexpr std::int32_t kStatusDecode = -26275;         // not PKCS#12 / unreadable
    static constexpr std::int32_t kStatusAuthFailed = -25293;     // wrong passphrase
    static constexpr std::int32_t kStatusItemNotFound = -25300;   // no key or no certificate inside

    // Imports the first identity of a PKCS#12 blob. On failure returns null
    // and stores one of the codes above in *status (when given).
    static std::shared_ptr<const TLSIdentity> importPKCS12(const Bytes& data, const std::string& passphrase,
                                                           std::int32_t* status = nullptr);

    ~TLSIdentity();
    TLSIdentity(const TLSIdentity&) = delete;
    TLSIdentity& operator=(const TLSIdentity&) = delete;

    // DER of the identity's own certificate.
    Bytes certificate() const;
    // DER of the further certificates the file carried (CA chain), in file order.
    const std::vector<Bytes>& chain() const { return chainDer_; }
    // Subject of the certificate, one line (for logs).
    std::string subjectSummary() const;

    // OpenSSL handles for the socket layer; owned by this object.
    EVP_PKEY* privateKey() const { return key_; }
    X509* x509() const { return cert_; }

private:
    TLSIdentity(EVP_PKEY* key, X509* cert, std::vector<Bytes> chain);
    EVP_PKEY* key_;
    X509* cert_;
    std::vector<Bytes> chainDer_;
};

// One element of a TLS certificates array: an identity, or a certificate as
// DER bytes (sent as part of the client's chain).
using TLSCertificateItem = std::variant<std::shared_ptr<const TLSIdentity>, Bytes>;

}  // namespace pellix::platform
