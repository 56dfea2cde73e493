// ServerTrust: the certificate chain a TLS server presented and the host it
// was reached as, with the X.509 checks a trust decision needs.
//
// A URL session hands one to its delegate for every new TLS connection (the
// server-trust challenge). Evaluation is ours, on OpenSSL, so that layers
// above can build pinning on it: evaluate against the system's trust store
// (plus the files named by SSL_CERT_FILE / SSL_CERT_DIR) or against anchors
// the caller gives, with or without the host-name check, and read the chain's
// certificates and public keys as DER.
//
// Immutable; every member may be called from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

struct x509_st;  // OpenSSL's X509

namespace pellix::platform {

class ServerTrust {
public:
    struct Policy {
        // The host name (or IP address) the leaf must be valid for; nullopt
        // evaluates the chain alone (the platform's basic X.509 policy).
        std::optional<std::string> host;
        // Certificates (DER) that replace the system's trust anchors; any of
        // them may be an intermediate. nullopt uses the system store.
        std::optional<std::vector<Bytes>> anchors;
    };

    struct Result {
        bool trusted = false;
        // OpenSSL's verification error text when not trusted.
        std::string reason;
        // The chain that was verified, leaf first, up to the anchor (empty
        // when no chain could be built).
        std::vector<Bytes> chain;
    };

    // chain: DER certificates as the server sent them, its own first.
    ServerTrust(std::vector<Bytes> chain, std::string host, int port = 443);
    // The same, with the certificates as OpenSSL already holds them (one per
    // DER entry, in the same order; the trust keeps a reference to each).
    // Evaluation and public keys then use these: parsing a certificate
    // again costs more than verifying it.
    ServerTrust(std::vector<Bytes> chain, const std::vector<x509_st*>& parsed, std::string host, int port);

    // The host and port the connection was made to.
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    // The presented certificates (DER), the server's own first.
    const std::vector<Bytes>& certificateChain() const { return chain_; }
    // The public key (DER SubjectPublicKeyInfo) of each presented certificate
    // that has a readable one, in the same order.
    std::vector<Bytes> publicKeys() const;

    // Verifies the presented chain under the policy (dates, signatures, CA
    // flags, server purpose, and the host when one is given).
    Result evaluate(const Policy& policy) const;
    // evaluate({host(), nullopt}).trusted: what "default handling" decides.
    bool evaluateDefault() const;

    // The public key (DER SubjectPublicKeyInfo) of a DER certificate; nullopt
    // when the bytes are no certificate.
    static std::optional<Bytes> publicKeyForCertificate(const Bytes& der);

private:
    std::vector<Bytes> chain_;
    std::vector<std::shared_ptr<x509_st>> parsed_;  // empty, or one per chain_ entry
    std::string host_;
    int port_;
};

}  // namespace pellix::platform
