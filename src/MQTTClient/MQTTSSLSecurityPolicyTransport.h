// MQTTSSLSecurityPolicyTransport: the socket transport with the streams' own
// chain and host checks replaced by a security policy.
//
// With tls() on, the streams complete the handshake with any certificate and
// hand the presented chain to securityPolicy() (through the platform trust
// hook) before a byte is written or read; a refused server ends the
// connection with "MQTT" -9807 "Unable to apply security policy, the SSL
// connection is insecure!" through mqttTransport(t, error). Without a policy
// the server is accepted; with tls() off nothing is evaluated.
//
// Threads: as MQTTCFSocketTransport. The policy is read on the socket
// layer's thread during the handshake; do not change it while connecting.
#pragma once

#include <atomic>
#include <memory>

#include "MQTTClient/MQTTCFSocketTransport.h"
#include "MQTTClient/MQTTSSLSecurityPolicy.h"

namespace pellix {

class MQTTSSLSecurityPolicyTransport : public MQTTCFSocketTransport {
public:
    static std::shared_ptr<MQTTSSLSecurityPolicyTransport> create();

    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy() const;
    void setSecurityPolicy(std::shared_ptr<MQTTSSLSecurityPolicy> policy);

    void open() override;
    void encoder(MQTTCFSocketEncoder& encoder, platform::ErrorPtr error) override;

    static constexpr std::int64_t kInsecureConnection = -9807;

protected:
    MQTTSSLSecurityPolicyTransport() = default;
    platform::TLSSettings tlsSettings() const override;

private:
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy_;
    // Set by the trust hook of the current connection when the policy said no.
    std::shared_ptr<std::atomic<bool>> refused_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace pellix
