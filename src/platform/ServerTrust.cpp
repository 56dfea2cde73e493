#include "platform/ServerTrust.h"

#include "platform/X509DER.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace pellix::platform {

namespace {

X509Ptr parse(const Bytes& der) { return x509FromDER(der); }
Bytes toDER(X509* x) { return x509ToDER(x); }

std::optional<Bytes> publicKeyOf(X509* x) {
    EVP_PKEY* key = X509_get0_pubkey(x);
    if (!key) return std::nullopt;
    int n = i2d_PUBKEY(key, nullptr);
    if (n <= 0) return std::nullopt;
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    i2d_PUBKEY(key, &p);
    return out;
}

// The system store, loaded once per distinct SSL_CERT_FILE / SSL_CERT_DIR.
X509_STORE* systemStore() {
    crypto::initialiseOpenSSL();
    static std::mutex mutex;
    static std::string loadedFor;
    static X509_STORE* store = nullptr;
    const char* f = std::getenv("SSL_CERT_FILE");
    const char* d = std::getenv("SSL_CERT_DIR");
    std::string key = std::string(f ? f : "") + '\n' + (d ? d : "");
    std::lock_guard lock(mutex);
    if (!store || key != loadedFor) {
        if (store) X509_STORE_free(store);
        store = X509_STORE_new();
        X509_STORE_set_default_paths(store);  // reads both variables
        ERR_clear_error();
        loadedFor = key;
    }
    X509_STORE_up_ref(store);
    return store;
}

}  // namespace

ServerTrust::ServerTrust(std::vector<Bytes> chain, std::string host, int port)
    : chain_(std::move(chain)), host_(std::move(host)), port_(port) {}

ServerTrust::ServerTrust(std::vector<Bytes> chain, const std::vector<X509*>& parsed, std::string host, int port)
    : chain_(std::move(chain)), host_(std::move(host)), port_(port) {
    if (parsed.size() != chain_.size()) return;  // not the same chain: the DER is what counts
    for (X509* x : parsed) {
        if (!x || X509_up_ref(x) != 1) {
            parsed_.clear();
            return;
        }
        parsed_.emplace_back(x, X509_free);
    }
}

std::vector<Bytes> ServerTrust::publicKeys() const {
    std::vector<Bytes> keys;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        auto k = parsed_.empty() ? publicKeyForCertificate(chain_[i]) : publicKeyOf(parsed_[i].get());
        if (k) keys.push_back(std::move(*k));
    }
    return keys;
}

std::optional<Bytes> ServerTrust::publicKeyForCertificate(const Bytes& der) {
    auto x = parse(der);
    if (!x) return std::nullopt;
    return publicKeyOf(x.get());
}

ServerTrust::Result ServerTrust::evaluate(const Policy& policy) const {
    Result result;
    if (chain_.empty()) {
        result.reason = "no certificate";
        return result;
    }
    // The certificates as parsed at the handshake, else from their DER.
    std::vector<X509Ptr> keep;
    auto cert = [&](std::size_t i) -> X509* {
        if (!parsed_.empty()) return parsed_[i].get();
        auto x = parse(chain_[i]);
        if (!x) return nullptr;
        keep.push_back(std::move(x));
        return keep.back().get();
    };
    X509* leaf = cert(0);
    if (!leaf) {
        result.reason = "unreadable certificate";
        return result;
    }
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (std::size_t i = 1; i < chain_.size(); ++i)
        if (X509* x = cert(i)) sk_X509_push(untrusted, x);

    X509_STORE* store = nullptr;
    if (policy.anchors) {
        store = X509_STORE_new();
        for (const auto& der : *policy.anchors)
            if (auto x = parse(der)) X509_STORE_add_cert(store, x.get());
        // A pinned intermediate is a trust anchor of its own.
        X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
    } else {
        store = systemStore();
    }

    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (ctx && X509_STORE_CTX_init(ctx, store, leaf, untrusted) == 1) {
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
        X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
        if (policy.host) {
            unsigned char buf[16];
            bool isIP = inet_pton(AF_INET, policy.host->c_str(), buf) == 1 ||
                        inet_pton(AF_INET6, policy.host->c_str(), buf) == 1;
            if (isIP)
                X509_VERIFY_PARAM_set1_ip_asc(param, policy.host->c_str());
            else
                X509_VERIFY_PARAM_set1_host(param, policy.host->c_str(), policy.host->size());
        }
        result.trusted = X509_verify_cert(ctx) == 1;
        if (!result.trusted) result.reason = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx));
        if (STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx)) {
            for (int i = 0; i < sk_X509_num(built); ++i) result.chain.push_back(toDER(sk_X509_value(built, i)));
        }
    } else {
        result.reason = "cannot set up verification";
    }
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    sk_X509_free(untrusted);
    ERR_clear_error();
    return result;
}

bool ServerTrust::evaluateDefault() const { return evaluate({host_, std::nullopt}).trusted; }

}  // namespace pellix::platform
