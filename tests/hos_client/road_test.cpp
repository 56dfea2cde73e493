// The request road without a peer: what is signed, the URL and headers that
// are built, validation, the retry decision, the response parser, records
// and settings.
#include <gtest/gtest.h>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSOperation.h"
#include "HOSSDK/HOSRequestInterceptor.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

std::shared_ptr<HOSAllRequestNeededMessage> message(HOSOptString endpoint, HOSOptString method, HOSOptString bucket,
                                                    HOSOptString key, platform::Dictionary headers = {},
                                                    platform::Dictionary query = {}) {
    return std::make_shared<HOSAllRequestNeededMessage>(endpoint, method, bucket, key, std::nullopt, std::nullopt,
                                                        std::nullopt, "Thu, 10 Dec 2026 10:00:00 GMT",
                                                        std::move(headers), std::move(query));
}

TEST(SignerTest, StringToSign) {
    struct Case {
        const char* name;
        std::shared_ptr<HOSAllRequestNeededMessage> message;
        std::string expected;
    };
    const std::string date = "Thu, 10 Dec 2026 10:00:00 GMT";
    const Case cases[] = {
        {"plain get", message("https://e", "GET", "b", "photo.jpg"), "GET\n\n\n" + date + "\n/b/photo.jpg"},
        {"x-hos headers sorted, others and upper case left out",
         message("https://e", "PUT", "b", "k",
                 platform::Dictionary{{"x-hos-meta-b", "2"}, {"Content-Length", "9"}, {"x-hos-meta-a", "1"},
                                      {"X-HOS-Meta-c", "3"}}),
         "PUT\n\n\n" + date + "\nx-hos-meta-a:1\nx-hos-meta-b:2\n/b/k"},
        {"only sub-resources, sorted",
         message("https://e", "GET", "b", "k", {},
                 platform::Dictionary{{"uploadId", "u1"}, {"partNumber", "3"}, {"max-parts", "10"}}),
         "GET\n\n\n" + date + "\n/b/k?partNumber=3&uploadId=u1"},
        {"bare sub-resource", message("https://e", "GET", "b", "k", {}, platform::Dictionary{{"acl", ""}}),
         "GET\n\n\n" + date + "\n/b/k?acl"},
        {"no bucket, no key", message("https://e", "GET", std::nullopt, std::nullopt), "GET\n\n\n" + date + "\n/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HOSSignerInterceptor::stringToSign(*c.message), c.expected);
    }
}

TEST(SignerTest, ShaAndTokenAreSignedAndEmptyKeysFail) {
    auto m = message("https://e", "PUT", "b", "k");
    m->setContentSHA1("da39a3ee5e6b4b0d3255bfef95601890afd80709");
    HOSSignerInterceptor sts(std::make_shared<HOSStsTokenCredentialProvider>(" id ", "secret", "tok"));
    ASSERT_FALSE(sts.interceptRequestMessage(*m)->error());
    const auto signedText = HOSSignerInterceptor::stringToSign(*m);
    EXPECT_NE(signedText.find("x-hos-hash-sha1:da39a3ee5e6b4b0d3255bfef95601890afd80709\n"), std::string::npos);
    EXPECT_NE(signedText.find("x-hos-security-token:tok\n"), std::string::npos);
    EXPECT_EQ(m->headerParams().find("Authorization")->asString(),
              "HOS id:" + HOSUtil::calBase64Sha1WithData(signedText, "secret"));

    HOSSignerInterceptor empty(std::make_shared<HOSPlainTextAKSKPairCredentialProvider>("id", "  "));
    auto failed = empty.interceptRequestMessage(*message("https://e", "GET", "b", "k"));
    ASSERT_TRUE(failed->error());
    EXPECT_EQ(failed->error()->code(), HOSClientErrorCodeSignFailed);
    EXPECT_EQ(failed->error()->userInfo().find(HOSErrorMessageKey)->asString(), "accessKey or secretKey can't be null");
}

TEST(RequestBuildingTest, UrlAndHostHeader) {
    HOSNetworkingRequestDelegate::setHostResolver([](const std::string& host) {
        return host == "bkt.test.hos.halvane.com" ? std::string("127.0.0.9") : host;
    });
    struct Case {
        const char* name;
        const char* endpoint;
        bool httpdns;
        bool proxy;
        bool cname;
        platform::Dictionary query;
        const char* url;
        const char* host;
        std::optional<std::string> connectTo = std::nullopt;
    };
    const Case cases[] = {
        {"virtual host", "https://x.hos.halvane.com", false, false, false, {}, "https://bkt.x.hos.halvane.com/a/k%20%2A",
         "bkt.x.hos.halvane.com"},
        {"port kept", "http://test.hos.halvane.com:8080", false, false, false, {},
         "http://bkt.test.hos.halvane.com:8080/a/k%20%2A", "bkt.test.hos.halvane.com:8080"},
        {"HTTP-DNS address, port kept, name in Host", "http://test.hos.halvane.com:8080", true, false, false, {},
         "http://bkt.test.hos.halvane.com:8080/a/k%20%2A", "bkt.test.hos.halvane.com:8080", "127.0.0.9"},
        {"proxy keeps the name", "http://test.hos.halvane.com:8080", true, true, false, {},
         "http://bkt.test.hos.halvane.com:8080/a/k%20%2A", "bkt.test.hos.halvane.com:8080"},
        {"the scheme's own port is left out", "https://x.hos.halvane.com:443", false, false, false, {},
         "https://bkt.x.hos.halvane.com:443/a/k%20%2A", "bkt.x.hos.halvane.com"},
        {"address with a port", "http://10.1.2.3:8080", true, false, false, {}, "http://10.1.2.3:8080/a/k%20%2A",
         "10.1.2.3:8080"},
        {"IPv6 address with a port", "http://[fd00::1]:8080", false, false, false, {},
         "http://[fd00::1]:8080/a/k%20%2A", "[fd00::1]:8080"},
        {"custom domain excluded from CNAME, with a port", "https://cdn.example.com:8443", false, false, true, {},
         "https://cdn.example.com:8443/a/k%20%2A", "bkt.cdn.example.com:8443"},
        {"custom domain unchanged", "https://cdn.example.com", true, false, false, {},
         "https://cdn.example.com/a/k%20%2A", "cdn.example.com"},
        {"custom domain excluded from CNAME", "https://cdn.example.com", false, false, true, {},
         "https://cdn.example.com/a/k%20%2A", "bkt.cdn.example.com"},
        {"query, bare key", "https://x.hos.halvane.com", false, false, false,
         platform::Dictionary{{"append", ""}, {"position", "10"}}, "https://bkt.x.hos.halvane.com/a/k%20%2A?append&position=10",
         "bkt.x.hos.halvane.com"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HOSNetworkingRequestDelegate d;
        d.setOperType(HOSOperationTypeGetObject);
        d.setIsHttpdnsEnable(c.httpdns);
        d.setIsAccessViaProxy(c.proxy);
        auto m = message(c.endpoint, "GET", "bkt", "a/k *", {}, c.query);
        m->setIsHostInCnameExcludeList(c.cname);
        d.setAllNeededMessage(m);
        auto built = d.buildInternalHttpRequest();
        ASSERT_FALSE(built->error()) << built->error()->description();
        EXPECT_EQ(d.internalRequest()->url().absoluteString(), c.url);
        EXPECT_EQ(d.internalRequest()->valueForHTTPHeaderField("Host"), c.host);
        EXPECT_EQ(d.internalRequest()->connectToAddress(), c.connectTo);
        EXPECT_EQ(d.internalRequest()->valueForHTTPHeaderField("Date"), "Thu, 10 Dec 2026 10:00:00 GMT");
    }
    HOSNetworkingRequestDelegate::setHostResolver(nullptr);
}

TEST(RequestBuildingTest, ValidationMessages) {
    TempDir dir;
    struct Case {
        std::int64_t type;
        HOSOptString endpoint, bucket, key;
        bool body;
        std::optional<std::string> file;
        const char* message;  // null: valid
    };
    const Case cases[] = {
        {0, "https://e", std::nullopt, std::nullopt, false, std::nullopt, nullptr},
        {6, "https://e", "bucket", std::nullopt, false, std::nullopt, "Object key should not be nil"},
        {6, std::nullopt, "b!", "k", false, std::nullopt, "Bucket name invalid"},
        {6, "https://e", "bucket", "/k", false, std::nullopt, "Object key invalid"},
        {6, "https://e", "bucket", "a/../victim", false, std::nullopt, "Object key invalid"},
        {8, "https://e", "bucket", "k", false, std::nullopt,
         "This operation need data or file to upload but none is set"},
        {10, "https://e", "bucket", "k", false, dir.file("missing"), "File doesn't exist"},
        {8, "https://e", "bucket", "k", true, std::nullopt, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message ? c.message : "valid");
        HOSNetworkingRequestDelegate d;
        d.setOperType(c.type);
        d.setAllNeededMessage(message(c.endpoint, "GET", c.bucket, c.key));
        if (c.body) d.setUploadingData(bytesOf("x"));
        if (c.file) d.setUploadingFileURL(platform::URL::fileURL(*c.file));
        auto task = d.validateRequestParams();
        if (!c.message) {
            EXPECT_FALSE(task->error());
            continue;
        }
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->code(), HOSClientErrorCodeInvalidArgument);
        EXPECT_EQ(task->error()->userInfo().find(HOSErrorMessageKey)->asString(), c.message);
    }
}

TEST(RetryHandlerTest, DecisionAndDelay) {
    auto forbidden = std::make_shared<platform::HTTPURLResponse>(*platform::URL::parse("http://h/"), 403, "HTTP/1.1",
                                                                 platform::HTTPURLResponse::HeaderFields{});
    auto skew = HOSServerError(403, platform::Dictionary{{"Code", "RequestTimeTooSkewed"}});
    struct Case {
        const char* name;
        std::uint32_t count, max;
        platform::ErrorPtr error;
        bool streamed;
        HOSRetryType expected;
    };
    const Case cases[] = {
        {"transport", 0, 3, HOSClientError(HOSClientErrorCodeNetworkError), false, HOSRetryTypeRetry},
        {"status 0", 2, 3, HOSClientError(HOSClientErrorCodeResponseCodeZero), false, HOSRetryTypeRetry},
        {"count used up", 3, 3, HOSClientError(HOSClientErrorCodeNetworkError), false, HOSRetryTypeNoRetry},
        {"no retries", 0, 0, HOSClientError(HOSClientErrorCodeNetworkError), false, HOSRetryTypeNoRetry},
        {"cancelled", 0, 3, HOSClientError(HOSClientErrorCodeTaskCancelled), false, HOSRetryTypeNoRetry},
        {"disk full", 0, 3, HOSClientError(HOSClientErrorCodeFileCannotWrite), false, HOSRetryTypeNoRetry},
        {"oversized reply", 0, 3, HOSClientError(HOSClientErrorCodeInvalidResponse), false, HOSRetryTypeNoRetry},
        {"streamed download", 0, 3, HOSClientError(HOSClientErrorCodeNetworkError), true, HOSRetryTypeNoRetry},
        {"500", 0, 3, HOSServerError(500, {}), false, HOSRetryTypeNoRetry},
        {"403 other", 0, 3, HOSServerError(403, platform::Dictionary{{"Code", "AccessDenied"}}), false,
         HOSRetryTypeNoRetry},
        {"403 skew", 0, 3, skew, false, HOSRetryTypeFixClockSkew},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HOSNetworkingRequestDelegate d;
        if (c.streamed) d.setOnRecieveData([](const platform::Bytes&) {});
        HOSURLRequestRetryHandler handler;
        handler.setMaxRetryCount(c.max);
        EXPECT_EQ(handler.shouldRetry(c.count, d, forbidden, c.error), c.expected);
    }
    HOSURLRequestRetryHandler handler;
    EXPECT_DOUBLE_EQ(handler.timeIntervalForRetry(0, HOSRetryTypeRetry), 0.2);
    EXPECT_DOUBLE_EQ(handler.timeIntervalForRetry(3, HOSRetryTypeRetry), 1.6);
    EXPECT_DOUBLE_EQ(handler.timeIntervalForRetry(3, HOSRetryTypeFixClockSkew), 0.0);
}

TEST(ResponseParserTest, DownloadCrcRunsOverChunksAndRestartsOnReset) {
    const auto body = patternBytes(100000, 2);
    const std::size_t cuts[] = {0, 1, 65536, 100000};
    for (bool verify : {true, false}) {
        HOSHttpResponseParser parser(HOSOperationTypeGetObject);
        parser.setCrc64Verifiable(verify);
        parser.consumeHttpResponse(reply({{"etag", "\"E\""}}));
        // A first attempt that broke off part-way must not leak into the next.
        parser.consumeHttpResponseBody(platform::Bytes(body.begin(), body.begin() + 500));
        parser.reset();
        EXPECT_EQ(parser.crc64ecma(), 0u);
        parser.consumeHttpResponse(reply({{"etag", "\"E\""}, {"X-HOS-Request-Id", "r1"}, {"X-Hos-Meta-Door", "3"}}));
        for (int i = 0; i < 3; ++i)
            parser.consumeHttpResponseBody(platform::Bytes(body.begin() + cuts[i], body.begin() + cuts[i + 1]));
        auto result = std::dynamic_pointer_cast<HOSGetObjectResult>(parser.constructResultObject());
        ASSERT_TRUE(result);
        EXPECT_EQ(*result->downloadedData(), body);
        EXPECT_EQ(result->requestId(), "r1");  // header names without regard to case
        EXPECT_EQ(result->objectMeta().find("X-Hos-Meta-Door")->asString(), "3");
        EXPECT_EQ(result->objectMeta().find("etag")->asString(), "\"E\"");
        if (verify)
            EXPECT_EQ(result->localCRC64ecma(), std::to_string(hos_crc64(body)));
        else
            EXPECT_FALSE(result->localCRC64ecma());
    }
    HOSHttpResponseParser empty(HOSOperationTypeGetObject);
    empty.setCrc64Verifiable(true);
    empty.consumeHttpResponse(reply({}));
    // An empty body has a CRC-64 too (0), to be compared with the service's.
    EXPECT_EQ(empty.constructResultObject()->localCRC64ecma(), "0");
}

// Large bodies announced by Content-Length are collected into memory taken up
// front and faulted in ahead of the bytes. Whatever the reply really carries,
// the result holds exactly the bytes received and their CRC-64: a body
// longer than announced moves to a larger block, and a retry that broke off
// part-way leaves nothing behind.
TEST(ResponseParserTest, LargeBodiesInMemoryHoldExactlyTheBytesReceived) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const struct {
        const char* name;
        std::size_t announced, sent, brokenOffAfter;
    } cases[] = {
        {"as announced", 40 * kMiB, 40 * kMiB, 0},
        {"longer than announced", 20 * kMiB, 24 * kMiB + 7, 0},
        {"shorter than announced", 40 * kMiB, 3 * kMiB + 1, 0},
        {"a retry after a break", 40 * kMiB, 40 * kMiB, 5 * kMiB},
    };
    const auto body = patternBytes(40 * kMiB + 7 * kMiB, 5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::Bytes expected(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(c.sent));
        const auto head = reply({{"Content-Length", std::to_string(c.announced)}});
        HOSHttpResponseParser parser(HOSOperationTypeGetObject);
        parser.setCrc64Verifiable(true);
        const auto feed = [&](std::size_t upTo) {
            // Pieces of uneven size, as the network hands them over.
            for (std::size_t at = 0, piece = 1; at < upTo; piece = piece * 7 % 300001 + 1) {
                const std::size_t n = std::min(piece, upTo - at);
                ASSERT_FALSE(parser.consumeHttpResponseBody(
                                        platform::Bytes(expected.begin() + static_cast<std::ptrdiff_t>(at),
                                                        expected.begin() + static_cast<std::ptrdiff_t>(at + n)))
                                 ->error());
                at += n;
            }
        };
        parser.consumeHttpResponse(head);
        if (c.brokenOffAfter) {
            feed(c.brokenOffAfter);
            parser.reset();
            parser.consumeHttpResponse(head);
        }
        feed(c.sent);
        auto result = std::dynamic_pointer_cast<HOSGetObjectResult>(parser.constructResultObject());
        ASSERT_TRUE(result && result->downloadedData());
        EXPECT_TRUE(*result->downloadedData() == expected);
        EXPECT_EQ(result->localCRC64ecma(), std::to_string(hos_crc64(expected)));
    }
}

TEST(ResponseParserTest, FileSinkAndUnknownTypes) {
    TempDir dir;
    HOSHttpResponseParser parser(HOSOperationTypeGetObject);
    parser.setDownloadingFileURL(platform::URL::fileURL(dir.file("a/b/out.bin")));
    ASSERT_FALSE(parser.consumeHttpResponseBody(bytesOf("stale bytes"))->error());
    parser.reset();
    ASSERT_FALSE(parser.consumeHttpResponseBody(bytesOf("fresh"))->error());
    auto result = std::dynamic_pointer_cast<HOSGetObjectResult>(parser.constructResultObject());
    EXPECT_FALSE(result->downloadedData());
    EXPECT_EQ(readFile(dir.file("a/b/out.bin")), "fresh");

    writeFile(dir.file("plain"), "x");
    HOSHttpResponseParser blocked(HOSOperationTypeGetObject);
    blocked.setDownloadingFileURL(platform::URL::fileURL(dir.file("plain/out.bin")));
    auto failed = blocked.consumeHttpResponseBody(bytesOf("x"));
    ASSERT_TRUE(failed->error());
    EXPECT_EQ(failed->error()->code(), HOSClientErrorCodeFileCannotWrite);

    for (std::int64_t type : {21, -1}) EXPECT_FALSE(HOSHttpResponseParser(type).constructResultObject());
}

TEST(RecordsTest, RangeConfigurationAndClient) {
    struct RangeCase {
        std::int64_t s, e;
        const char* text;
    };
    for (const auto& c : {RangeCase{0, 99, "bytes=0-99"}, RangeCase{100, -1, "bytes=100-"},
                          RangeCase{-1, 500, "bytes=-500"}, RangeCase{-1, -1, "bytes=-1--1"}})
        EXPECT_EQ(HOSRange(c.s, c.e).toHeaderString(), c.text);

    HOSClientConfiguration configuration;
    EXPECT_EQ(configuration.maxRetryCount(), 3u);
    EXPECT_EQ(configuration.maxConcurrentRequestCount(), 5u);
    EXPECT_TRUE(configuration.isHttpdnsEnable());
    EXPECT_EQ(configuration.backgroundSesseionIdentifier(), "com.halvane.hos.backgroundsession");
    EXPECT_EQ(configuration.timeoutIntervalForRequest(), 15.0);
    EXPECT_EQ(configuration.timeoutIntervalForResource(), 604800.0);
    EXPECT_FALSE(configuration.crc64Verifiable());
    configuration.setCnameExcludeList({"HTTPS://CDN.Example.com", "img.example.org", "http://a.example/path"});
    EXPECT_EQ(configuration.cnameExcludeList(),
              (std::vector<std::string>{"cdn.example.com", "img.example.org", "a.example/path"}));

    auto shared = std::make_shared<HOSClientConfiguration>();
    shared->setCrc64Verifiable(true);
    HOSClient client("  x.hos.halvane.com ", nullptr, shared);
    EXPECT_EQ(client.endpoint(), "https://x.hos.halvane.com");
    HOSNetworkingRequestDelegate d;
    for (auto [flag, expected] : {std::pair{HOSCrcFlagUnset, true}, {HOSCrcFlagOn, true}, {HOSCrcFlagOff, false}}) {
        client.enableCRC64WithFlag(flag, d);
        EXPECT_EQ(d.crc64Verifiable(), expected);
    }
}

}  // namespace
}  // namespace pellix::test
