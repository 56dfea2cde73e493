// TLSSettings: how a socket stream pair wraps its connection in TLS.
//
// By default the server's chain is verified against the system's trust store
// (plus the files named by SSL_CERT_FILE / SSL_CERT_DIR) and its certificate
// must name the host connected to (or peerName); SNI carries that name
// unless it is an IP address. A trust evaluator, when set, replaces the
// stream's own chain and host checks: it gets the presented chain after the
// handshake and decides (the hook pinning builds on).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/TLSIdentity.h"

namespace pellix::platform {

class ServerTrust;

struct TLSSettings {
    // Security levels (the platform's names).
    static constexpr const char* kLevelNone = "kCFStreamSocketSecurityLevelNone";
    static constexpr const char* kLevelSSLv2 = "kCFStreamSocketSecurityLevelSSLv2";
    static constexpr const char* kLevelSSLv3 = "kCFStreamSocketSecurityLevelSSLv3";
    static constexpr const char* kLevelTLSv1 = "kCFStreamSocketSecurityLevelTLSv1";
    static constexpr const char* kLevelNegotiatedSSL = "kCFStreamSocketSecurityLevelNegotiatedSSL";

    // One of the levels above. SSLv2/SSLv3 are no longer offered by OpenSSL
    // and are taken to mean "the best the peers share", as NegotiatedSSL;
    // TLSv1 means TLS 1.0 or newer. Any other text is refused.
    std::string level = kLevelNegotiatedSSL;
    // Client identity: the first element an identity, the rest extra
    // certificates (DER) sent with it. A first element that is no identity
    // is refused.
    std::optional<std::vector<TLSCertificateItem>> certificates;
    // Name checked against the server certificate and sent as SNI; nullopt
    // uses the host the pair connects to.
    std::optional<std::string> peerName;
    // false: accept any chain (no chain and host checks at all).
    bool validatesCertificateChain = true;
    // Runs on the socket layer's own thread after the handshake; true trusts
    // the server. Must not block for long.
    std::function<bool(const ServerTrust& trust)> trustEvaluator;

    // Why the streams refuse these settings; nullopt when they are usable.
    std::optional<std::string> refusal() const;
};

}  // namespace pellix::platform
