// The security policy's verdicts on chains the test CA signs (two and three
// certificates, self-signed, wrong host, a pin appended by the server), and
// the pinned transport and the legacy connect against mosquitto over TLS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSSLSecurityPolicy.h"
#include "MQTTClient/MQTTSSLSecurityPolicyTransport.h"
#include "MQTTClient/MQTTSession.h"
#include "platform/Bundle.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "platform/ServerTrust.h"
#include "support/MosquittoBroker.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

using namespace pellix;
using pellix::platform::Bytes;
using pellix::platform::ErrorPtr;
using pellix::platform::ServerTrust;
using pellix::test::MosquittoBroker;
using pellix::test::TestCerts;

namespace {

TestCerts& certs() {
    static TestCerts* c = new TestCerts();
    return *c;
}

Bytes der(const std::string& pem) {
    std::string d = TestCerts::der(pem);
    return Bytes(d.begin(), d.end());
}

// The test CA stands in for the system's trust store while it lives.
struct SystemTrustsTestCA {
    explicit SystemTrustsTestCA(bool on) {
        if (on) ::setenv("SSL_CERT_FILE", certs().ca.cert.c_str(), 1);
    }
    ~SystemTrustsTestCA() { ::unsetenv("SSL_CERT_FILE"); }
};

enum Cert { Leaf, Chained, Intermediate, CA, SelfSigned, WrongHost, Garbage };

Bytes certBytes(Cert c) {
    switch (c) {
        case Leaf: return der(certs().leaf.cert);
        case Chained: return der(certs().chained.cert);
        case Intermediate: return der(certs().intermediate.cert);
        case CA: return der(certs().ca.cert);
        case SelfSigned: return der(certs().selfSigned.cert);
        case WrongHost: return der(certs().wrongHost.cert);
        case Garbage: return Bytes{0x30, 0x03, 0x01, 0x02, 0x03};
    }
    return {};
}

std::vector<Bytes> certList(const std::vector<Cert>& list) {
    std::vector<Bytes> out;
    for (Cert c : list) out.push_back(certBytes(c));
    return out;
}

struct PinCase {
    const char* name;
    MQTTSSLPinningMode mode;
    bool validatesChain;
    bool allowInvalid;
    bool systemTrustsCA;
    std::vector<Cert> presented;  // what the server sends, leaf first
    std::vector<Cert> pinned;
    bool accepted;
};

class PinMatrix : public ::testing::TestWithParam<PinCase> {};

TEST_P(PinMatrix, Verdict) {
    const PinCase& c = GetParam();
    SystemTrustsTestCA trust(c.systemTrustsCA);
    MQTTSSLSecurityPolicy policy;
    policy.setSSLPinningMode(c.mode);
    policy.setValidatesCertificateChain(c.validatesChain);
    policy.setAllowInvalidCertificates(c.allowInvalid);
    policy.setPinnedCertificates(certList(c.pinned));
    ServerTrust server(certList(c.presented), "127.0.0.1", 8883);
    EXPECT_EQ(policy.evaluateServerTrust(server, std::string("127.0.0.1")), c.accepted);
}

const PinCase kPinCases[] = {
    // No pinning: the system's verdict, or anything when invalid is allowed.
    {"NoneTrusted", 0, true, false, true, {Leaf}, {}, true},
    {"NoneUntrustedCA", 0, true, false, false, {Leaf}, {}, false},
    {"NoneWrongHost", 0, true, false, true, {WrongHost}, {}, false},
    {"NoneSelfSignedAllowed", 0, true, true, false, {SelfSigned}, {}, true},
    // Certificates: the pins are the only anchors (partial chains allowed).
    {"CertLeafAndRootPinned", 2, true, false, true, {Leaf}, {Leaf, CA}, true},
    {"CertRootOnlyTwoChainValidated", 2, true, false, true, {Leaf}, {CA}, false},
    {"CertRootOnlyThreeChainValidated", 2, true, false, true, {Chained, Intermediate}, {CA}, false},
    {"CertRootOnlyThreeChain", 2, false, false, true, {Chained, Intermediate}, {CA}, true},
    {"CertIntermediateOnlyThreeChain", 2, false, false, true, {Chained, Intermediate}, {Intermediate}, true},
    {"CertWholeThreeChainValidated", 2, true, false, true, {Chained, Intermediate}, {Chained, Intermediate, CA}, true},
    {"CertUnrelatedPin", 2, false, false, true, {Leaf}, {SelfSigned}, false},
    {"CertUntrustedCAFailsFirst", 2, false, false, false, {Leaf}, {CA}, false},
    {"CertUntrustedCAAllowed", 2, false, true, false, {Leaf}, {CA}, true},
    {"CertUnreadablePinRejects", 2, false, false, true, {Leaf}, {CA, Garbage}, false},
    {"CertNoPins", 2, false, true, true, {Leaf}, {}, false},
    // The server appends the pinned root after a certificate it did not sign.
    {"CertAppendedPin", 2, false, true, false, {SelfSigned, CA}, {CA}, false},
    {"CertAppendedPinValidated", 2, true, true, false, {SelfSigned, CA}, {CA}, false},
    // Public keys of the verified chain.
    {"KeyLeafOnly", 1, false, false, true, {Chained, Intermediate}, {Chained}, true},
    {"KeyLeafOnlyChainValidated", 1, true, false, true, {Leaf}, {Leaf}, false},
    {"KeyWholeChainValidated", 1, true, false, true, {Leaf}, {Leaf, CA}, true},
    {"KeyWholeThreeChainValidated", 1, true, false, true, {Chained, Intermediate}, {Chained, Intermediate, CA}, true},
    {"KeyRootOnlyNotLeaf", 1, false, false, true, {Leaf}, {CA}, false},
    {"KeyUntrustedCAFailsFirst", 1, false, false, false, {Leaf}, {Leaf}, false},
    {"KeyUntrustedAllowedLeafPinned", 1, false, true, false, {SelfSigned}, {SelfSigned}, true},
    {"KeyAppendedPinValidated", 1, true, true, false, {SelfSigned, CA}, {CA}, false},
    {"KeyAppendedPinLeafOnly", 1, false, true, false, {SelfSigned, CA}, {CA}, false},
    // Unknown modes reject even a trusted, pinned server.
    {"ModeThree", 3, false, true, true, {Leaf}, {Leaf, CA}, false},
};

INSTANTIATE_TEST_SUITE_P(SSLSecurityPolicy, PinMatrix, ::testing::ValuesIn(kPinCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SSLSecurityPolicy, DefaultsAndPinnedListWithoutRepeats) {
    auto policy = MQTTSSLSecurityPolicy::defaultPolicy();
    EXPECT_TRUE(policy->validatesCertificateChain());
    EXPECT_FALSE(policy->allowInvalidCertificates());
    EXPECT_TRUE(policy->validatesDomainName());
    EXPECT_EQ(policy->SSLPinningMode(), MQTTSSLPinningModeNone);
    EXPECT_FALSE(policy->pinnedCertificates());
    EXPECT_FALSE(policy->pinnedPublicKeys());

    policy->setPinnedCertificates(certList({CA, Garbage, Leaf, CA}));
    EXPECT_EQ(*policy->pinnedCertificates(), certList({CA, Garbage, Leaf}));
    // The unreadable one only lacks a key.
    ASSERT_EQ(policy->pinnedPublicKeys()->size(), 2u);
    EXPECT_EQ((*policy->pinnedPublicKeys())[0], *ServerTrust::publicKeyForCertificate(certBytes(CA)));
    EXPECT_EQ((*policy->pinnedPublicKeys())[1], *ServerTrust::publicKeyForCertificate(certBytes(Leaf)));
    policy->setPinnedCertificates(std::nullopt);
    EXPECT_FALSE(policy->pinnedPublicKeys());
}

TEST(SSLSecurityPolicy, DomainIsCheckedOnlyWhenAsked) {
    SystemTrustsTestCA trust(true);
    MQTTSSLSecurityPolicy policy;
    ServerTrust server(certList({Leaf}), "wrong.example", 8883);
    EXPECT_FALSE(policy.evaluateServerTrust(server, std::string("wrong.example")));
    EXPECT_TRUE(policy.evaluateServerTrust(server, std::string("localhost")));
    policy.setValidatesDomainName(false);
    EXPECT_TRUE(policy.evaluateServerTrust(server, std::string("wrong.example")));
}

TEST(SSLSecurityPolicy, DefaultPinsComeFromTheBundleFolderOnce) {
    auto& bundle = platform::Bundle::mainBundle();
    const std::string saved = bundle.resourcePath();
    pellix::test::TempDir dir;
    const auto write = [&](const std::string& name, const Bytes& data) {
        std::ofstream(dir.path() + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    };
    write("b.cer", certBytes(CA));
    write("a.cer", certBytes(Leaf));
    write("c.pem", certBytes(Intermediate));
    bundle.setResourcePath(dir.path());
    auto policy = MQTTSSLSecurityPolicy::policyWithPinningMode(MQTTSSLPinningModeCertificate);
    bundle.setResourcePath(saved);
    EXPECT_EQ(policy->SSLPinningMode(), MQTTSSLPinningModeCertificate);
    EXPECT_EQ(*policy->pinnedCertificates(), certList({Leaf, CA}));
    // Read once per process: the folder is not looked at again.
    EXPECT_EQ(MQTTSSLSecurityPolicy::defaultPinnedCertificates(), certList({Leaf, CA}));
}

// ---- against mosquitto --------------------------------------------------------

bool pumpUntil(const std::function<bool()>& pred, double seconds = 10) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

class PinnedBroker : public ::testing::Test {
protected:
    void SetUp() override { MQTTLog::setLogLevel(MQTTLogLevelError | MQTTLogLevelWarning); }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    // Connects a legacy session through host:port and waits for the handler.
    ErrorPtr connect(int port, std::shared_ptr<MQTTSSLSecurityPolicy> policy, bool usingSSL, bool* done) {
        session = MQTTSession::initWithClientId(std::string("pinned-test"), std::nullopt, std::nullopt, 60, true,
                                                false, std::nullopt, std::nullopt, 0, false, 4,
                                                platform::DispatchQueue::main(), std::move(policy));
        ErrorPtr result;
        *done = false;
        session->connectToHost("127.0.0.1", static_cast<std::uint32_t>(port), usingSSL, [&result, done](ErrorPtr e) {
            result = e;
            *done = true;
        });
        EXPECT_TRUE(pumpUntil([done] { return *done; }));
        return result;
    }
    std::shared_ptr<MQTTSession> session;
};

std::shared_ptr<MQTTSSLSecurityPolicy> pinning(MQTTSSLPinningMode mode, bool validatesChain,
                                               std::initializer_list<Cert> pins) {
    auto policy = MQTTSSLSecurityPolicy::defaultPolicy();
    policy->setSSLPinningMode(mode);
    policy->setValidatesCertificateChain(validatesChain);
    policy->setPinnedCertificates(certList(pins));
    return policy;
}

TEST_F(PinnedBroker, LegacyConnectPinsThroughTheTLSListener) {
    MosquittoBroker broker({.tls = MosquittoBroker::TLS{.certs = &certs(), .server = certs().chained}});
    SystemTrustsTestCA trust(true);
    struct Row {
        const char* what;
        std::shared_ptr<MQTTSSLSecurityPolicy> policy;
        bool accepted;
    } rows[] = {
        {"root anchors the three-certificate chain", pinning(2, false, {CA}), true},
        {"the whole chain must be pinned", pinning(2, true, {CA}), false},
        {"leaf key", pinning(1, false, {Chained}), true},
        {"unrelated pin", pinning(2, false, {SelfSigned}), false},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.what);
        bool done = false;
        ErrorPtr error = connect(broker.port(), row.policy, true, &done);
        EXPECT_TRUE(std::dynamic_pointer_cast<MQTTSSLSecurityPolicyTransport>(session->transport()));
        if (row.accepted) {
            EXPECT_FALSE(error) << error->description();
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->domain(), "MQTT");
            EXPECT_EQ(error->code(), -9807);
            EXPECT_EQ(error->localizedDescription(), "Unable to apply security policy, the SSL connection is insecure!");
        }
        session->disconnect();
        session->setDelegate({});
        session.reset();
    }
    // Refused connections never reached the MQTT layer.
    EXPECT_EQ(broker.count({"New client connected", "pinned-test"}), 2);
}

TEST_F(PinnedBroker, PolicyWithoutTLSEvaluatesNothing) {
    MosquittoBroker broker;
    bool done = false;
    // A policy no server could pass: with TLS off it is never asked.
    ErrorPtr error = connect(broker.port(), pinning(3, true, {}), false, &done);
    EXPECT_FALSE(error) << error->description();
    EXPECT_TRUE(std::dynamic_pointer_cast<MQTTSSLSecurityPolicyTransport>(session->transport()));
    session->disconnect();
}

TEST_F(PinnedBroker, SelfSignedBrokerWithInvalidAllowedForAnyName) {
    MosquittoBroker broker({.tls = MosquittoBroker::TLS{.certs = &certs(), .server = certs().wrongHost}});
    auto policy = MQTTSSLSecurityPolicy::defaultPolicy();
    policy->setAllowInvalidCertificates(true);
    bool done = false;
    ErrorPtr error = connect(broker.port(), policy, true, &done);
    EXPECT_FALSE(error) << error->description();
    session->disconnect();
    policy->setAllowInvalidCertificates(false);
    error = connect(broker.port(), policy, true, &done);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -9807);
}

}  // namespace
