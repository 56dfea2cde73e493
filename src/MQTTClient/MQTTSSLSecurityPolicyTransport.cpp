#include "MQTTClient/MQTTSSLSecurityPolicyTransport.h"

#include "MQTTClient/MQTTLog.h"
#include "platform/ServerTrust.h"

namespace pellix {

std::shared_ptr<MQTTSSLSecurityPolicyTransport> MQTTSSLSecurityPolicyTransport::create() {
    return std::shared_ptr<MQTTSSLSecurityPolicyTransport>(new MQTTSSLSecurityPolicyTransport());
}

std::shared_ptr<MQTTSSLSecurityPolicy> MQTTSSLSecurityPolicyTransport::securityPolicy() const {
    std::lock_guard lock(mutex_);
    return securityPolicy_;
}

void MQTTSSLSecurityPolicyTransport::setSecurityPolicy(std::shared_ptr<MQTTSSLSecurityPolicy> policy) {
    std::lock_guard lock(mutex_);
    securityPolicy_ = std::move(policy);
}

void MQTTSSLSecurityPolicyTransport::open() {
    MQTT_LOG_VERBOSE("[MQTTSSLSecurityPolicyTransport] open");
    {
        // Each connection is evaluated anew.
        std::lock_guard lock(mutex_);
        refused_ = std::make_shared<std::atomic<bool>>(false);
    }
    MQTTCFSocketTransport::open();
}

platform::TLSSettings MQTTSSLSecurityPolicyTransport::tlsSettings() const {
    platform::TLSSettings settings = MQTTCFSocketTransport::tlsSettings();
    settings.validatesCertificateChain = false;
    std::shared_ptr<MQTTSSLSecurityPolicy> policy;
    std::shared_ptr<std::atomic<bool>> refused;
    {
        std::lock_guard lock(mutex_);
        policy = securityPolicy_;
        refused = refused_;
    }
    if (!policy) return settings;
    const std::optional<std::string> domain = host();
    settings.trustEvaluator = [policy, refused, domain](const platform::ServerTrust& trust) {
        const bool accepted = policy->evaluateServerTrust(trust, domain);
        if (!accepted) *refused = true;
        return accepted;
    };
    return settings;
}

void MQTTSSLSecurityPolicyTransport::encoder(MQTTCFSocketEncoder& encoder, platform::ErrorPtr error) {
    std::shared_ptr<std::atomic<bool>> refused;
    {
        std::lock_guard lock(mutex_);
        refused = refused_;
    }
    if (*refused) {
        error = platform::Error::make(
            "MQTT", kInsecureConnection,
            platform::Dictionary{{platform::Error::kLocalizedDescriptionKey,
                                  platform::Value("Unable to apply security policy, the SSL connection is insecure!")}});
    }
    MQTTCFSocketTransport::encoder(encoder, std::move(error));
}

}  // namespace pellix
