// The client's helpers on URLs and requests: the Origin the handshake sends,
// and pinned certificates that travel with a request into the socket made
// from it (against the Node `ws` server with the test CA).
#include <gtest/gtest.h>

#include "BWSocket/BWAdditions.h"
#include "BWSocket/BWWebSocket.h"
#include "WsPeer.h"

namespace pellix {
namespace {

using platform::Bytes;
using test::Client;
using test::TestCerts;
using test::WsPeer;

TEST(BWAdditions, OriginMapsTheSchemeAndKeepsOnlyAPortThatIsNotTheDefault) {
    const struct {
        const char* url;
        const char* origin;
    } cases[] = {
        {"ws://example.com/chat", "http://example.com"},
        {"wss://example.com/chat", "https://example.com"},
        {"WSS://Example.com:443/chat", "https://example.com"},
        {"ws://example.com:80/", "http://example.com"},
        {"ws://example.com:443/", "http://example.com:443"},
        {"wss://example.com:80/", "https://example.com:80"},
        {"https://example.com:8443/x?y", "https://example.com:8443"},
        {"http://[::1]:9001/", "http://[::1]:9001"},
    };
    for (const auto& c : cases) {
        const auto url = platform::URL::parse(c.url);
        ASSERT_TRUE(url) << c.url;
        EXPECT_EQ(BW_origin(*url), c.origin) << c.url;
    }
}

TEST(BWAdditions, PinnedCertificatesTravelWithTheRequestIntoItsSocket) {
    SKIP_WITHOUT_WS_PEER();
    TestCerts certs;
    WsPeer leaf(certs.leaf);
    const Bytes leafDer = [&] {
        const std::string d = TestCerts::der(certs.leaf.cert);
        return Bytes(d.begin(), d.end());
    }();
    const Bytes otherDer = [&] {
        const std::string d = TestCerts::der(certs.selfSigned.cert);
        return Bytes(d.begin(), d.end());
    }();

    platform::URLRequest plain(leaf.url("/echo"));
    EXPECT_FALSE(BW_SSLPinnedCertificates(plain));

    const struct {
        const char* name;
        std::optional<std::vector<Bytes>> pins;
        const char* outcome;
    } cases[] = {
        {"the server's certificate", std::vector<Bytes>{otherDer, leafDer}, "open"},
        {"another certificate", std::vector<Bytes>{otherDer}, "fail:org.quennel.BWSocket:23556:"},
        {"an empty list", std::vector<Bytes>{}, "fail:org.quennel.BWSocket:23556:"},
        {"none (the CA is not trusted)", std::nullopt, "fail:NSOSStatusErrorDomain:"},
    };
    for (const auto& k : cases) {
        platform::URLRequest request(leaf.url("/echo"));
        setSR_SSLPinnedCertificates(request, k.pins);
        // The pins are the request's: a copy carries them, as does the socket.
        const platform::URLRequest copy = request;
        EXPECT_EQ(BW_SSLPinnedCertificates(copy), k.pins) << k.name;
        Client c(copy);
        EXPECT_EQ(c.socket->SSLPinnedCertificates(), k.pins) << k.name;
        c.socket->open();
        const std::string outcome(k.outcome);
        const std::string first = c.recorder->waitFor(outcome == "open" ? "open" : "fail:");
        EXPECT_EQ(first.substr(0, outcome.size()), outcome) << k.name;
    }

    // Removing them leaves the request as it was.
    platform::URLRequest request(leaf.url("/echo"));
    setSR_SSLPinnedCertificates(request, std::vector<Bytes>{leafDer});
    setSR_SSLPinnedCertificates(request, std::nullopt);
    EXPECT_FALSE(BW_SSLPinnedCertificates(request));
}

}  // namespace
}  // namespace pellix
