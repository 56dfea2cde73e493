// A request pinned to an address keeps its host name for TLS and "Host":
// what lets a storage request go to an HTTP-DNS address safely.
#include <gtest/gtest.h>

#include <future>

#include "platform/JSON.h"
#include "platform/URLError.h"
#include "platform/URLSession.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::hostest {
namespace {

using platform::URLRequest;

struct Reply {
    std::optional<platform::Bytes> data;
    int status = 0;
    platform::ErrorPtr error;
};

// The HTTPS peer of the URL-session tests, serving `pair`'s certificate.
struct HttpsPeer {
    explicit HttpsPeer(const test::TestCerts::Pair& pair)
        : process({"node", test::sourceDir() + "/tests/peers/https/server.js", "--port", "0", "--cert", pair.cert,
                   "--key", pair.key}) {
        auto p = process.waitForLine("listening (\\d+)");
        if (!p) throw std::runtime_error("https peer did not start: " + process.errorOutput());
        port = std::stoi(*p);
    }
    test::Process process;
    int port = 0;
};

Reply fetch(const URLRequest& request) {
    std::promise<Reply> done;
    platform::URLSession::sharedSession()
        ->dataTaskWithRequest(request,
                              [&](std::optional<platform::Bytes> data,
                                  std::shared_ptr<const platform::HTTPURLResponse> response, platform::ErrorPtr error) {
                                  done.set_value({std::move(data), response ? response->statusCode() : 0, error});
                              })
        ->resume();
    auto f = done.get_future();
    if (f.wait_for(std::chrono::seconds(20)) != std::future_status::ready) throw std::runtime_error("no completion");
    return f.get();
}

class ConnectTo : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certs = new test::TestCerts(); }
    static void TearDownTestSuite() {
        delete certs;
        certs = nullptr;
    }
    void SetUp() override { ::setenv("SSL_CERT_FILE", certs->ca.cert.c_str(), 1); }
    static inline test::TestCerts* certs = nullptr;
};

TEST_F(ConnectTo, OnlyAddressLiteralsAreAccepted) {
    struct Case {
        const char* given;
        std::optional<std::string> kept;
    };
    for (const auto& c : {Case{"127.0.0.1", "127.0.0.1"}, Case{"::1", "[::1]"}, Case{"[2001:db8::5]", "[2001:db8::5]"},
                          Case{"wrong.example", std::nullopt}, Case{"127.0.0.1:443", std::nullopt},
                          Case{"", std::nullopt}, Case{"127.0.0.1\r\nHost: x", std::nullopt},
                          Case{"[127.0.0.1]", std::nullopt}}) {
        URLRequest r(*platform::URL::parse("https://bucket.test/"));
        EXPECT_EQ(r.setConnectToAddress(std::string(c.given)), c.kept.has_value()) << c.given;
        EXPECT_EQ(r.connectToAddress(), c.kept) << c.given;
    }
    URLRequest r(*platform::URL::parse("https://bucket.test/"));
    ASSERT_TRUE(r.setConnectToAddress(std::string("127.0.0.1")));
    EXPECT_FALSE(r.setConnectToAddress(std::string("nope")));
    EXPECT_EQ(r.connectToAddress(), "127.0.0.1") << "a refused address changes nothing";
    EXPECT_TRUE(r.setConnectToAddress(std::nullopt));
    EXPECT_EQ(r.connectToAddress(), std::nullopt);
}

TEST_F(ConnectTo, TheNameIsWhatTlsAndTheHostFieldSee) {
    // A certificate for "wrong.example" only: valid when the name is kept.
    HttpsPeer named(certs->wrongHost);
    const std::string origin = "https://wrong.example:" + std::to_string(named.port);
    URLRequest request(*platform::URL::parse(origin + "/headers"));
    ASSERT_TRUE(request.setConnectToAddress(std::string("127.0.0.1")));
    Reply ok = fetch(request);
    ASSERT_FALSE(ok.error) << ok.error->description();
    EXPECT_EQ(ok.status, 200);
    auto headers = platform::JSON::parse(*ok.data);
    ASSERT_TRUE(headers && headers->dictionaryIf());
    EXPECT_EQ(headers->dictionaryIf()->find("host")->description(), "wrong.example:" + std::to_string(named.port));

    // A certificate for 127.0.0.1 does not pass for the name the URL holds.
    HttpsPeer byAddress(certs->leaf);
    URLRequest pinned(*platform::URL::parse("https://wrong.example:" + std::to_string(byAddress.port) + "/small"));
    ASSERT_TRUE(pinned.setConnectToAddress(std::string("127.0.0.1")));
    Reply refused = fetch(pinned);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), platform::URLError::ServerCertificateUntrusted);
}

}  // namespace
}  // namespace pellix::hostest
