// Trust decisions of TVSecurityPolicy on real certificate chains.
#include <gtest/gtest.h>

#include <mutex>

#include "ManagerFixture.h"
#include "TVNetworking/TVSecurityPolicy.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

namespace pellix::tvtest {
namespace {

using platform::ServerTrust;

// Collects log lines for the duration of a scope.
class LogCapture {
public:
    LogCapture() {
        platform::Log::setSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink({}); }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

enum class Chain { Leaf, WrongHost, Expired, SelfSigned, Chained, SelfSignedWithCA };

ServerTrust trustFor(Chain chain, const std::string& host = "127.0.0.1") {
    auto& c = certs();
    std::vector<Bytes> ders;
    switch (chain) {
        case Chain::Leaf: ders = derChain(c.leaf.cert); break;
        case Chain::WrongHost: ders = derChain(c.wrongHost.cert); break;
        case Chain::Expired: ders = derChain(c.expired.cert); break;
        case Chain::SelfSigned: ders = derChain(c.selfSigned.cert); break;
        case Chain::Chained: ders = derChain(c.chained.cert); break;
        case Chain::SelfSignedWithCA:
            // The pin-append attack: an untrusted server appends the pinned CA.
            ders = derChain(c.selfSigned.cert);
            ders.push_back(der(c.ca.cert));
            break;
    }
    return ServerTrust(ders, host);
}

enum class Pin { None, Empty, CA, Leaf, Intermediate, SelfSigned };

struct Case {
    const char* name;
    unsigned mode;
    Pin pin;
    bool allowInvalid;
    bool validatesDomain;
    Chain chain;
    std::optional<std::string> host;
    bool trusted;
};

std::optional<TVDataSet> pinsFor(Pin pin) {
    auto& c = certs();
    switch (pin) {
        case Pin::None: return std::nullopt;
        case Pin::Empty: return TVDataSet{};
        case Pin::CA: return TVDataSet{der(c.ca.cert)};
        case Pin::Leaf: return TVDataSet{der(c.leaf.cert)};
        case Pin::Intermediate: return TVDataSet{der(c.intermediate.cert)};
        case Pin::SelfSigned: return TVDataSet{der(c.selfSigned.cert)};
    }
    return std::nullopt;
}

class TrustMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(TrustMatrix, Decides) {
    const Case& k = GetParam();
    auto policy = TVSecurityPolicy::policyWithPinningMode(k.mode, pinsFor(k.pin));
    policy->setAllowInvalidCertificates(k.allowInvalid);
    policy->setValidatesDomainName(k.validatesDomain);
    EXPECT_EQ(policy->evaluateServerTrust(trustFor(k.chain), k.host), k.trusted) << k.name;
}

constexpr unsigned None = TVSSLPinningModeNone, Key = TVSSLPinningModePublicKey, Cert = TVSSLPinningModeCertificate;
const std::optional<std::string> ip = "127.0.0.1";

INSTANTIATE_TEST_SUITE_P(
    Policies, TrustMatrix,
    ::testing::Values(
        // The default policy: system trust plus the host name.
        Case{"default_valid", None, Pin::None, false, true, Chain::Leaf, ip, true},
        Case{"default_valid_through_intermediate", None, Pin::None, false, true, Chain::Chained, ip, true},
        Case{"default_other_host", None, Pin::None, false, true, Chain::Leaf, "other.example", false},
        Case{"default_wrong_host_certificate", None, Pin::None, false, true, Chain::WrongHost, ip, false},
        Case{"default_expired", None, Pin::None, false, true, Chain::Expired, ip, false},
        Case{"default_unknown_ca", None, Pin::None, false, true, Chain::SelfSigned, ip, false},
        // The SDK's policy: everything goes.
        Case{"sdk_expired", None, Pin::None, true, false, Chain::Expired, ip, true},
        Case{"sdk_self_signed", None, Pin::None, true, false, Chain::SelfSigned, ip, true},
        Case{"sdk_wrong_host", None, Pin::None, true, false, Chain::WrongHost, ip, true},
        // No domain check, invalid refused: the chain alone decides.
        Case{"no_domain_check_wrong_host", None, Pin::None, false, false, Chain::WrongHost, ip, true},
        Case{"no_domain_check_expired", None, Pin::None, false, false, Chain::Expired, ip, false},
        // Certificate pinning.
        Case{"cert_empty_pins", Cert, Pin::Empty, false, true, Chain::Leaf, ip, false},
        Case{"cert_pinned_leaf", Cert, Pin::Leaf, false, true, Chain::Leaf, ip, true},
        Case{"cert_pinned_ca", Cert, Pin::CA, false, true, Chain::Leaf, ip, true},
        Case{"cert_pinned_intermediate", Cert, Pin::Intermediate, false, true, Chain::Chained, ip, true},
        Case{"cert_intermediate_pin_other_chain", Cert, Pin::Intermediate, false, true, Chain::Leaf, ip, false},
        Case{"cert_pinned_leaf_other_server", Cert, Pin::Leaf, false, true, Chain::Chained, ip, false},
        Case{"cert_pinned_leaf_wrong_host", Cert, Pin::Leaf, false, true, Chain::Leaf, "other.example", false},
        Case{"cert_pinned_leaf_no_domain_check", Cert, Pin::Leaf, false, false, Chain::Leaf, "other.example", true},
        Case{"cert_self_signed_pinned_invalid_allowed", Cert, Pin::SelfSigned, true, true, Chain::SelfSigned, ip,
             true},
        Case{"cert_self_signed_pinned_invalid_refused", Cert, Pin::SelfSigned, false, true, Chain::SelfSigned, ip,
             false},
        Case{"cert_pin_append_attack", Cert, Pin::CA, true, true, Chain::SelfSignedWithCA, ip, false},
        Case{"cert_pin_append_attack_strict", Cert, Pin::CA, false, true, Chain::SelfSignedWithCA, ip, false},
        // Public-key pinning.
        Case{"key_pinned_ca", Key, Pin::CA, false, true, Chain::Leaf, ip, true},
        Case{"key_pinned_leaf", Key, Pin::Leaf, false, true, Chain::Leaf, ip, true},
        Case{"key_other_key", Key, Pin::Leaf, false, true, Chain::Chained, ip, false},
        Case{"key_self_signed_pinned_invalid_allowed", Key, Pin::SelfSigned, true, true, Chain::SelfSigned, ip, true},
        Case{"key_self_signed_unpinned_invalid_allowed", Key, Pin::Leaf, true, true, Chain::SelfSigned, ip, false},
        Case{"key_pin_append_attack", Key, Pin::CA, true, true, Chain::SelfSignedWithCA, ip, false},
        Case{"key_pin_append_attack_strict", Key, Pin::CA, false, true, Chain::SelfSignedWithCA, ip, false},
        Case{"unknown_mode", 7, Pin::Leaf, false, true, Chain::Leaf, ip, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(TVSecurityPolicy, DefaultsAndFactories) {
    auto policy = TVSecurityPolicy::defaultPolicy();
    EXPECT_EQ(policy->SSLPinningMode(), TVSSLPinningModeNone);
    EXPECT_FALSE(policy->pinnedCertificates());
    EXPECT_FALSE(policy->pinnedPublicKeys());
    EXPECT_FALSE(policy->allowInvalidCertificates());
    EXPECT_TRUE(policy->validatesDomainName());

    auto pinned = TVSecurityPolicy::policyWithPinningMode(Cert, TVDataSet{der(certs().leaf.cert)});
    ASSERT_TRUE(pinned->pinnedPublicKeys());
    EXPECT_EQ(pinned->pinnedPublicKeys()->size(), 1u);
    pinned->setPinnedCertificates(std::nullopt);
    EXPECT_FALSE(pinned->pinnedPublicKeys());
}

TEST(TVSecurityPolicy, SelfSignedDomainCheckWithoutPinsIsRefusedWithLogLine) {
    LogCapture log;
    auto policy = TVSecurityPolicy::defaultPolicy();
    policy->setAllowInvalidCertificates(true);
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(Chain::SelfSigned), std::string("127.0.0.1")));
    EXPECT_EQ(log.lines(), std::vector<std::string>{TVSecurityPolicy::kDomainWithoutPinningLogLine});
    // Without a host the refusal does not apply, and nothing is logged.
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(Chain::SelfSigned), std::nullopt));
    EXPECT_EQ(log.lines().size(), 1u);

    // The SDK's settings never log.
    auto sdk = TVSecurityPolicy::defaultPolicy();
    sdk->setAllowInvalidCertificates(true);
    sdk->setValidatesDomainName(false);
    EXPECT_TRUE(sdk->evaluateServerTrust(trustFor(Chain::Expired, "other.example"), std::string("other.example")));
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(TVSecurityPolicy, UnreadablePinAddsNothingAndOthersStillWork) {
    TVDataSet pins{bytesOf("not a certificate"), der(certs().ca.cert)};
    for (unsigned mode : {Cert, Key}) {
        auto policy = TVSecurityPolicy::policyWithPinningMode(mode, pins);
        ASSERT_TRUE(policy->pinnedPublicKeys());
        EXPECT_EQ(policy->pinnedPublicKeys()->size(), 1u);
        EXPECT_TRUE(policy->evaluateServerTrust(trustFor(Chain::Leaf), ip)) << mode;
    }
}

TEST(TVSecurityPolicy, ArchiveAndCopyKeepSettingsAndRebuildKeys) {
    auto policy = TVSecurityPolicy::policyWithPinningMode(Key, TVDataSet{der(certs().ca.cert)});
    policy->setAllowInvalidCertificates(true);
    policy->setValidatesDomainName(false);
    auto archived = policy->encodeWithCoder();
    EXPECT_FALSE(archived.contains("pinnedPublicKeys"));
    for (const auto& other : {TVSecurityPolicy::initWithCoder(archived), policy->copy()}) {
        EXPECT_EQ(other->SSLPinningMode(), Key);
        EXPECT_TRUE(other->allowInvalidCertificates());
        EXPECT_FALSE(other->validatesDomainName());
        EXPECT_EQ(other->pinnedCertificates(), policy->pinnedCertificates());
        EXPECT_EQ(other->pinnedPublicKeys(), policy->pinnedPublicKeys());
    }
    EXPECT_FALSE(TVSecurityPolicy::initWithCoder(TVSecurityPolicy::defaultPolicy()->encodeWithCoder())
                     ->pinnedCertificates());
}

TEST(TVSecurityPolicy, CertificatesInBundleAreTheCerFiles) {
    test::TempDir dir;
    test::writeFile(dir.file("a.cer"), textOf(der(certs().ca.cert)));
    test::writeFile(dir.file("copy-of-a.cer"), textOf(der(certs().ca.cert)));
    test::writeFile(dir.file("b.cer"), textOf(der(certs().leaf.cert)));
    test::writeFile(dir.file("c.pem"), textOf(der(certs().intermediate.cert)));
    auto bundle = platform::Bundle::bundleWithPath(dir.path());
    ASSERT_TRUE(bundle);
    auto set = TVSecurityPolicy::certificatesInBundle(*bundle);
    EXPECT_EQ(set, (TVDataSet{der(certs().ca.cert), der(certs().leaf.cert)}));

    // The default pins come from the main bundle, read once.
    platform::Bundle::mainBundle().setResourcePath(dir.path());
    EXPECT_EQ(TVSecurityPolicy::defaultPinnedCertificates(), set);
    test::writeFile(dir.file("d.cer"), textOf(der(certs().chained.cert)));
    EXPECT_EQ(TVSecurityPolicy::defaultPinnedCertificates().size(), 2u);
    EXPECT_EQ(TVSecurityPolicy::policyWithPinningMode(Cert)->pinnedCertificates()->size(), 2u);
}

}  // namespace
}  // namespace pellix::tvtest
