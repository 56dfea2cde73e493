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

}  // namespace pellix::platform
