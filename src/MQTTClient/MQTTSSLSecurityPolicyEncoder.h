// MQTTSSLSecurityPolicyEncoder: the pinned transport's writer. The security
// policy is applied once per connection, during the TLS handshake, by the
// transport's trust hook (MQTTSSLSecurityPolicyTransport), before the encoder
// writes a byte; so the pinned transport writes with the plain socket
// encoder, which this name stands for.
#pragma once

#include "MQTTClient/MQTTCFSocketEncoder.h"

namespace pellix {

using MQTTSSLSecurityPolicyEncoder = MQTTCFSocketEncoder;

}  // namespace pellix
