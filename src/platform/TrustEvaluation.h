// TrustEvaluation: certificate-chain facts that pinning needs beyond
// ServerTrust's verification.
//
// Thread-safety: free functions without shared state.
#pragma once

#include <vector>

#include "platform/Value.h"

namespace pellix::platform {

// The certificates (DER) of `presented` that form an unbroken signature chain
// from its first certificate: the first one, then each following certificate
// that issued the one before it and whose key verifies that one's signature.
// Dates and trust anchors are not looked at; a certificate appended by the
// server that signed nothing before it is left out. Unreadable data ends the
// chain.
std::vector<Bytes> signedCertificateChain(const std::vector<Bytes>& presented);

// Pinning: the one evaluation every TLS user shares (the HTTP security
// policy, the MQTT pinned-TLS transport, the WebSocket client). True when a
// certificate of signedCertificateChain(chain) equals a pinned certificate
// (DER, byte for byte): the server's own certificate or one that really
// signs it. A pinned certificate the server merely appended after an
// untrusted leaf does not count. `chain` is the presented chain, leaf first,
// or a chain a verifier built. No pins: false.
bool chainContainsPinnedCertificate(const std::vector<Bytes>& chain, const std::vector<Bytes>& pinnedCertificates);
// The same with public keys (DER SubjectPublicKeyInfo) of the pinned
// certificates compared to those of the signed chain.
bool chainContainsPinnedPublicKey(const std::vector<Bytes>& chain, const std::vector<Bytes>& pinnedPublicKeys);

}  // namespace pellix::platform
