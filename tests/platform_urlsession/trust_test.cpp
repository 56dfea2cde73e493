// Server-trust challenges: each outcome, and what the ServerTrust offers
// for pinning.
#include "SessionFixture.h"
#include "platform/TrustEvaluation.h"
#include "platform/X509DER.h"

namespace pellix::platform::urltest {
namespace {

using M = URLSessionDelegate::Method;
using Disposition = URLAuthenticationChallenge::Disposition;

enum class Server { Leaf, Chained, Expired, WrongHost, SelfSigned };

const test::TestCerts::Pair& pairOf(Server s) {
    switch (s) {
        case Server::Leaf: return certs().leaf;
        case Server::Chained: return certs().chained;
        case Server::Expired: return certs().expired;
        case Server::WrongHost: return certs().wrongHost;
        case Server::SelfSigned: return certs().selfSigned;
    }
    return certs().leaf;
}

struct Outcome {
    const char* name;
    Server server;
    std::optional<Disposition> answer;  // nullopt: the delegate has no challenge method
    int code;                           // 0: success
};

class Trust : public ::testing::TestWithParam<Outcome> {};

TEST_P(Trust, DecidesTheTask) {
    Peer peer(pairOf(GetParam().server));
    SessionUnderTest s;
    if (GetParam().answer)
        s.delegate->trustAnswer = *GetParam().answer;
    else
        s.delegate->implemented.clear();
    auto task = s.session->dataTaskWithURL(peer.url("/small"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    auto error = s.delegate->error(task->taskIdentifier());
    EXPECT_EQ(error ? error->code() : 0, GetParam().code);
    auto events = s.delegate->events(task->taskIdentifier());
    EXPECT_EQ(events.front() == "challenge", GetParam().answer.has_value());
    if (!GetParam().code) {
        EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "hello");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Trust,
    ::testing::Values(Outcome{"DefaultAcceptsValidChain", Server::Leaf, Disposition::PerformDefaultHandling, 0},
                      Outcome{"DefaultAcceptsIntermediateChain", Server::Chained, Disposition::PerformDefaultHandling, 0},
                      Outcome{"DefaultRefusesExpired", Server::Expired, Disposition::PerformDefaultHandling, -1202},
                      Outcome{"DefaultRefusesWrongHost", Server::WrongHost, Disposition::PerformDefaultHandling, -1202},
                      Outcome{"DefaultRefusesUnknownCA", Server::SelfSigned, Disposition::PerformDefaultHandling, -1202},
                      Outcome{"RejectSpaceIsDefault", Server::SelfSigned, Disposition::RejectProtectionSpace, -1202},
                      Outcome{"CredentialAcceptsUnknownCA", Server::SelfSigned, Disposition::UseCredential, 0},
                      Outcome{"CredentialAcceptsExpired", Server::Expired, Disposition::UseCredential, 0},
                      Outcome{"CancelFailsTask", Server::Leaf, Disposition::CancelAuthenticationChallenge, -999},
                      Outcome{"NoDelegateMethodValid", Server::Leaf, std::nullopt, 0},
                      Outcome{"NoDelegateMethodUnknownCA", Server::SelfSigned, std::nullopt, -1202}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrustChallenge, SessionLevelMethodIsAskedWhenTheTaskLevelIsMissing) {
    Peer peer(certs().selfSigned);
    SessionUnderTest s;
    s.delegate->implemented = {M::SessionDidReceiveChallenge};
    s.delegate->trustAnswer = Disposition::UseCredential;
    auto task = s.session->dataTaskWithURL(peer.url("/small"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    EXPECT_FALSE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->events(0), (std::vector<std::string>{"session-challenge"}));
}

TEST(TrustChallenge, CarriesThePresentedChainAndHost) {
    Peer peer(certs().chained);
    SessionUnderTest s;
    auto task = s.session->dataTaskWithURL(peer.url("/small"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    auto trust = s.delegate->lastTrust();
    ASSERT_TRUE(trust);
    EXPECT_EQ(trust->host(), "127.0.0.1");
    EXPECT_EQ(trust->port(), peer.port());
    EXPECT_EQ(s.delegate->challengeHost(), "127.0.0.1");
    ASSERT_EQ(trust->certificateChain().size(), 2u);
    auto leafDER = test::TestCerts::der(certs().chained.cert);
    EXPECT_EQ(std::string(trust->certificateChain()[0].begin(), trust->certificateChain()[0].end()), leafDER);
    EXPECT_EQ(trust->publicKeys().size(), 2u);
}

Bytes derOf(const std::string& pem) {
    std::string d = test::TestCerts::der(pem);
    return Bytes(d.begin(), d.end());
}

TEST(ServerTrustEvaluation, PoliciesAndAnchors) {
    auto leaf = derOf(certs().leaf.cert);
    auto self = derOf(certs().selfSigned.cert);
    auto wrong = derOf(certs().wrongHost.cert);
    auto chainedLeaf = derOf(certs().chained.cert);
    auto intermediate = derOf(certs().intermediate.cert);
    auto ca = derOf(certs().ca.cert);
    struct Case {
        const char* name;
        std::vector<Bytes> chain;
        ServerTrust::Policy policy;
        bool trusted;
    };
    const std::vector<Case> cases = {
        {"system store, right host", {leaf}, {"127.0.0.1", std::nullopt}, true},
        {"system store, other host", {leaf}, {"example.org", std::nullopt}, false},
        {"system store, no host check", {wrong}, {std::nullopt, std::nullopt}, true},
        {"system store, unknown issuer", {self}, {std::nullopt, std::nullopt}, false},
        {"pinned self-signed", {self}, {"localhost", std::vector<Bytes>{self}}, true},
        {"pinned intermediate", {chainedLeaf, intermediate}, {"localhost", std::vector<Bytes>{intermediate}}, true},
        {"pins replace the system store", {leaf}, {"localhost", std::vector<Bytes>{self}}, false},
        {"empty pin set", {leaf}, {"localhost", std::vector<Bytes>{}}, false},
        {"pinned root", {chainedLeaf, intermediate}, {"localhost", std::vector<Bytes>{ca}}, true},
        {"garbage certificate", {Bytes{1, 2, 3}}, {std::nullopt, std::nullopt}, false},
        {"no certificate", {}, {std::nullopt, std::nullopt}, false},
    };
    for (const auto& c : cases) {
        // From the DER alone, and with the certificates as a handshake hands
        // them over, already parsed (the trust keeps its own references):
        // the same decision, chain and keys.
        std::optional<ServerTrust> handed;
        {
            std::vector<X509Ptr> owned;
            std::vector<X509*> parsed;
            for (const auto& der : c.chain) {
                owned.push_back(x509FromDER(der));
                parsed.push_back(owned.back().get());
            }
            handed.emplace(c.chain, parsed, "127.0.0.1", 443);
        }
        const ServerTrust fromDER(c.chain, "127.0.0.1");
        const auto expected = fromDER.evaluate(c.policy);
        EXPECT_EQ(expected.trusted, c.trusted) << c.name << ": " << expected.reason;
        if (expected.trusted) {
            EXPECT_EQ(expected.chain.front(), c.chain.front()) << c.name;
        }
        const auto result = handed->evaluate(c.policy);
        EXPECT_EQ(result.trusted, expected.trusted) << c.name << ", parsed: " << result.reason;
        EXPECT_EQ(result.reason, expected.reason) << c.name;
        EXPECT_EQ(result.chain, expected.chain) << c.name;
        EXPECT_EQ(handed->publicKeys(), fromDER.publicKeys()) << c.name;
        EXPECT_EQ(handed->certificateChain(), c.chain) << c.name;
    }
    EXPECT_EQ(ServerTrust::publicKeyForCertificate(leaf), ServerTrust({leaf}, "h").publicKeys().at(0));
    EXPECT_FALSE(ServerTrust::publicKeyForCertificate(Bytes{0x30, 0x00}));
}

// The pinning decision every TLS user shares: only certificates that really
// sign the server's own one count, not whatever the server appends.
TEST(ServerTrustEvaluation, PinsMatchOnlyTheSignedChain) {
    auto leaf = derOf(certs().leaf.cert);
    auto self = derOf(certs().selfSigned.cert);
    auto chainedLeaf = derOf(certs().chained.cert);
    auto intermediate = derOf(certs().intermediate.cert);
    auto ca = derOf(certs().ca.cert);
    auto key = [](const Bytes& der) { return *ServerTrust::publicKeyForCertificate(der); };
    struct Case {
        const char* name;
        std::vector<Bytes> chain;
        std::vector<Bytes> pins;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"leaf pinned", {leaf}, {leaf}, true},
        {"intermediate pinned", {chainedLeaf, intermediate}, {intermediate}, true},
        {"root appended after the leaf it signed", {leaf, ca}, {ca}, true},
        {"pin appended after an untrusted leaf", {self, ca}, {ca}, false},
        {"pin appended after an unrelated intermediate", {chainedLeaf, intermediate, leaf}, {leaf}, false},
        {"no pins", {leaf}, {}, false},
        {"no chain", {}, {leaf}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chainContainsPinnedCertificate(c.chain, c.pins), c.matches) << c.name;
        std::vector<Bytes> keys;
        for (const auto& pin : c.pins) keys.push_back(key(pin));
        EXPECT_EQ(chainContainsPinnedPublicKey(c.chain, keys), c.matches) << c.name;
    }
}

}  // namespace
}  // namespace pellix::platform::urltest
