// wss against the Node `ws` server with the test CA: chain checks and pinning.
#include <gtest/gtest.h>

#include "BWSocket/BWWebSocket.h"
#include "WsPeer.h"

namespace pellix {
namespace {

using platform::Bytes;
using test::Client;
using test::TestCerts;
using test::WsPeer;

Bytes der(const std::string& pemFile) {
    const std::string d = TestCerts::der(pemFile);
    return Bytes(d.begin(), d.end());
}

TEST(BWWebSocketTLS, PinMatrix) {
    SKIP_WITHOUT_WS_PEER();
    TestCerts certs;
    test::TempDir dir;
    // A server that appends a certificate which signed nothing it sent.
    const std::string selfSignedPlusCA = dir.file("self-plus-ca.pem");
    test::writeFile(selfSignedPlusCA, test::readFile(certs.selfSigned.cert) + test::readFile(certs.ca.cert));
    const std::string leafPlusCA = dir.file("leaf-plus-ca.pem");
    test::writeFile(leafPlusCA, test::readFile(certs.leaf.cert) + test::readFile(certs.ca.cert));

    WsPeer leaf(certs.leaf);
    WsPeer chained(certs.chained);
    WsPeer appended(TestCerts::Pair{selfSignedPlusCA, certs.selfSigned.key});
    WsPeer leafWithCA(TestCerts::Pair{leafPlusCA, certs.leaf.key});

    const std::string refused = "fail:org.quennel.BWSocket:23556:Invalid server cert";
    struct Case {
        const char* name;
        WsPeer* server;
        std::optional<std::vector<Bytes>> pins;
        bool allowUntrusted;
        std::string outcome;  // "open" or the failure's prefix
    };
    const std::vector<Case> cases{
        {"untrusted CA, no pins", &leaf, std::nullopt, false, "fail:NSOSStatusErrorDomain:"},
        {"untrusted CA allowed", &leaf, std::nullopt, true, "open"},
        {"leaf pinned", &leaf, std::vector<Bytes>{der(certs.leaf.cert)}, false, "open"},
        {"intermediate pinned, sent by the server", &chained, std::vector<Bytes>{der(certs.intermediate.cert)}, false, "open"},
        {"CA pinned and appended after the leaf it signed", &leafWithCA, std::vector<Bytes>{der(certs.ca.cert)}, false, "open"},
        {"another certificate pinned", &leaf, std::vector<Bytes>{der(certs.selfSigned.cert)}, false, refused},
        {"empty pin array", &leaf, std::vector<Bytes>{}, false, refused},
        {"empty pin array, untrusted allowed", &leaf, std::vector<Bytes>{}, true, refused},
        {"pinned CA appended after an untrusted leaf", &appended, std::vector<Bytes>{der(certs.ca.cert)}, false, refused},
    };
    for (const auto& k : cases) {
        Client c(k.server->url("/echo"), std::nullopt, k.allowUntrusted);
        c.socket->setSSLPinnedCertificates(k.pins);
        c.socket->open();
        const std::string first = k.outcome == "open" ? c.recorder->waitFor("open") : c.recorder->waitFor("fail:");
        EXPECT_EQ(first.substr(0, k.outcome.size()), k.outcome) << k.name;
        if (k.outcome != "open") {
            EXPECT_TRUE(c.recorder->waitFor("open", std::chrono::milliseconds(0)).empty()) << k.name;
            continue;
        }
        c.socket->send(platform::Value(std::string("over tls")));
        EXPECT_EQ(c.recorder->waitFor("text:"), "text:over tls") << k.name;
    }
}

}  // namespace
}  // namespace pellix
