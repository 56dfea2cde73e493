// MQTTSSLSecurityPolicyDecoder: the pinned transport's reader. The security
// policy is applied once per connection, during the TLS handshake, by the
// transport's trust hook (MQTTSSLSecurityPolicyTransport), before the decoder
// reads a byte; so the pinned transport reads with the plain socket decoder,
// which this name stands for.
#pragma once

#include "MQTTClient/MQTTCFSocketDecoder.h"

namespace pellix {

using MQTTSSLSecurityPolicyDecoder = MQTTCFSocketDecoder;

}  // namespace pellix
