#include "platform/TLSIdentity.h"

#include "platform/X509DER.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <mutex>

namespace pellix::platform {

namespace {

// Held for the life of the process.
OSSL_PROVIDER* defaultProvider = nullptr;
OSSL_PROVIDER* legacyProvider = nullptr;

void loadProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        crypto::initialiseOpenSSL();
        // Loading "legacy" explicitly stops the implicit "default" load, so
        // both are named. Either may be missing; the import then fails on
        // the ciphers it lacks.
        defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        ERR_clear_error();
    });
}

Bytes toDer(X509* cert) { return x509ToDER(cert); }

}  // namespace

std::shared_ptr<const TLSIdentity> TLSIdentity::importPKCS12(const Bytes& data, const std::string& passphrase,
                                                             std::int32_t* status) {
    auto fail = [&](std::int32_t code) -> std::shared_ptr<const TLSIdentity> {
        if (status) *status = code;
        ERR_clear_error();
        return nullptr;
    };
    loadProviders();
    const unsigned char* p = data.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(data.size()));
    if (!p12) return fail(kStatusDecode);
    if (!PKCS12_verify_mac(p12, passphrase.c_str(), static_cast<int>(passphrase.size()))) {
        PKCS12_free(p12);
        return fail(kStatusAuthFailed);
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    int ok = PKCS12_parse(p12, passphrase.c_str(), &key, &cert, &ca);
    PKCS12_free(p12);
    if (!ok) return fail(kStatusDecode);
    std::vector<Bytes> chain;
    for (int i = 0; ca && i < sk_X509_num(ca); ++i) chain.push_back(toDer(sk_X509_value(ca, i)));
    sk_X509_pop_free(ca, X509_free);
    if (!key || !cert) {
        EVP_PKEY_free(key);
        X509_free(cert);
        return fail(kStatusItemNotFound);
    }
    if (status) *status = kStatusSuccess;
    return std::shared_ptr<const TLSIdentity>(new TLSIdentity(key, cert, std::move(chain)));
}

TLSIdentity::TLSIdentity(EVP_PKEY* key, X509* cert, std::vector<Bytes> chain)
    : key_(key), cert_(cert), chainDer_(std::move(chain)) {}

TLSIdentity::~TLSIdentity() {
    EVP_PKEY_free(key_);
    X509_free(cert_);
}

Bytes TLSIdentity::certificate() const { return toDer(cert_); }

std::string TLSIdentity::subjectSummary() const {
    char buf[512];
    X509_NAME_oneline(X509_get_subject_name(cert_), buf, sizeof buf);
    return buf;
}

}  // namespace pellix::platform
