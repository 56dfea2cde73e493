// Internal to the platform layer: certificates between OpenSSL's X509 and the
// DER bytes the rest of the library passes around.
#pragma once

#include <openssl/x509.h>

#include <memory>

#include "platform/Crypto.h"
#include "platform/Value.h"

namespace pellix::platform {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// nullptr when the bytes are not one DER certificate.
inline X509Ptr x509FromDER(const Bytes& der) {
    crypto::initialiseOpenSSL();
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

// Empty when OpenSSL cannot encode the certificate.
inline Bytes x509ToDER(X509* x) {
    int n = i2d_X509(x, nullptr);
    if (n <= 0) return {};
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    i2d_X509(x, &p);
    return out;
}

}  // namespace pellix::platform
