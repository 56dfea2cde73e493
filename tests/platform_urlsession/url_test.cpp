// URL parsing and resolution, request header rules and response head
// reading.
#include <gtest/gtest.h>

#include "SessionFixture.h"
#include "platform/HTTPURLResponse.h"
#include "platform/OutputStream.h"
#include "platform/URL.h"
#include "platform/URLRequest.h"

namespace pellix::platform::urltest {
namespace {

TEST(URLParse, ComponentsOfAFullURL) {
    auto u = URL::parse("HTTPS://user:pw@Example.COM:8443/a%20b/c?x=1&y=%2F#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme(), "https");
    EXPECT_EQ(u->user(), "user");
    EXPECT_EQ(u->password(), "pw");
    EXPECT_EQ(u->host(), "example.com");
    EXPECT_EQ(u->port(), 8443);
    EXPECT_EQ(u->percentEncodedPath(), "/a%20b/c");
    EXPECT_EQ(u->path(), "/a b/c");
    EXPECT_EQ(u->query(), "x=1&y=%2F");
    EXPECT_EQ(u->fragment(), "frag");
    EXPECT_EQ(u->absoluteString(), "https://user:pw@example.com:8443/a%20b/c?x=1&y=%2F#frag");
    auto v6 = URL::parse("https://[::1]:8090/x");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host(), "::1");
    EXPECT_EQ(v6->hostForURL(), "[::1]");
    EXPECT_EQ(v6->effectivePort(), 8090);
    EXPECT_EQ(URL::parse("http://h/")->effectivePort(), 80);
    EXPECT_EQ(URL::parse("https://h")->effectivePort(), 443);
}

TEST(URLParse, RefusesWhatIsNoURL) {
    for (const char* bad : {"http://a b/", "http://h/\r\nX: y", "http://h/%zz", "http://h:99999/", "http://h:8a/",
                            "http://[::1/", "1http://h/", "http://h/\x7f", "http://h/\xc3\xa9", "http://h/<x>",
                            ":nothing", "http://h/a#b#c"}) {
        EXPECT_FALSE(URL::parse(bad)) << bad;
    }
    EXPECT_TRUE(URL::parse(""));
    EXPECT_TRUE(URL::parse("relative/path?q"));
}

TEST(URLResolve, ReferenceResolutionExamples) {
    // Normal and abnormal examples of RFC 3986 section 5.4.
    auto base = *URL::parse("http://a/b/c/d;p?q");
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"g:h", "g:h"},           {"g", "http://a/b/c/g"},       {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"}, {"/g", "http://a/g"},          {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"}, {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"}, {"g?y#s", "http://a/b/c/g?y#s"}, {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"}, {"", "http://a/b/c/d;p?q"},   {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},   {"..", "http://a/b/"},         {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},  {"../..", "http://a/"},        {"../../", "http://a/"},
        {"../../g", "http://a/g"}, {"../../../g", "http://a/g"},  {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},    {"/../g", "http://a/g"},       {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"}, {"g..", "http://a/b/c/g.."},   {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"}, {"./g/.", "http://a/b/c/g/"}, {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"}, {"g;x=1/./y", "http://a/b/c/g;x=1/y"}, {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"}, {"g#s/../x", "http://a/b/c/g#s/../x"}, {"http:g", "http:g"},
    };
    for (auto [ref, expected] : cases) {
        auto r = URL::parse(ref, base);
        ASSERT_TRUE(r) << ref;
        EXPECT_EQ(r->absoluteString(), expected) << ref;
    }
    EXPECT_FALSE(URL::parse("g", *URL::parse("relative")));
}

TEST(URLEncoding, PercentEncodeAndDecode) {
    EXPECT_EQ(URL::percentEncode("a b/c?d=é", URL::kPathAllowed), "a%20b/c%3Fd=%C3%A9");
    EXPECT_EQ(URL::percentEncode("a b&c=d", ""), "a%20b%26c%3Dd");
    EXPECT_EQ(URL::percentDecode("a%20b%2fc"), "a b/c");
    EXPECT_FALSE(URL::percentDecode("bad%2"));
    EXPECT_FALSE(URL::percentDecode("bad%g0"));
    auto file = URL::fileURL("/tmp/a b#c");
    EXPECT_EQ(file.absoluteString(), "file:///tmp/a%20b%23c");
    EXPECT_EQ(file.path(), "/tmp/a b#c");
    EXPECT_TRUE(file.isFileURL());
}

TEST(URLRequestFields, RefuseHeaderInjection) {
    URLRequest r(*URL::parse("https://h/"));
    EXPECT_EQ(r.httpMethod(), "GET");
    EXPECT_DOUBLE_EQ(r.timeoutInterval(), 60.0);
    EXPECT_TRUE(r.setValue("1", "X-Ok"));
    for (const std::string& bad : {std::string("a\r\nX-Injected: 1"), std::string("a\nb"), std::string("a\rb"),
                                  std::string("a\0b", 3)}) {
        EXPECT_FALSE(r.setValue(bad, "X-Ok"));
        EXPECT_FALSE(r.addValue(bad, "X-Ok"));
    }
    EXPECT_FALSE(r.setValue("v", "Bad Name"));
    EXPECT_FALSE(r.setValue("v", "Bad:Name"));
    EXPECT_FALSE(r.setValue("v", ""));
    EXPECT_FALSE(r.setHTTPMethod("GET / HTTP/1.1\r\nX: y"));
    EXPECT_FALSE(r.setAllHTTPHeaderFields({{"A", "1"}, {"B", "x\r\ny"}}));
    EXPECT_EQ(r.valueForHTTPHeaderField("x-ok"), "1");
    EXPECT_EQ(r.allHTTPHeaderFields().size(), 1u);
    EXPECT_EQ(r.httpMethod(), "GET");
    EXPECT_TRUE(r.addValue("2", "x-OK"));
    EXPECT_EQ(r.valueForHTTPHeaderField("X-Ok"), "1, 2");
    EXPECT_TRUE(r.setValue(std::nullopt, "X-OK"));
    EXPECT_TRUE(r.allHTTPHeaderFields().empty());
}

TEST(URLRequestFields, InjectionThroughSessionHeadersIsNotSent) {
    Peer peer(certs().leaf);
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.setHTTPAdditionalHeaders({{"X-Extra", "ok"}, {"X-Evil", "a\r\nX-Injected: 1"}});
    SessionUnderTest s(config);
    auto task = s.session->dataTaskWithURL(peer.url("/headers"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    std::string headers = s.delegate->body(task->taskIdentifier());
    EXPECT_NE(headers.find("\"x-extra\":\"ok\""), std::string::npos) << headers;
    EXPECT_EQ(headers.find("x-injected"), std::string::npos) << headers;
    EXPECT_EQ(headers.find("x-evil"), std::string::npos) << headers;
}

TEST(HTTPResponseHead, HeaderLookupTypeAndLength) {
    HTTPURLResponse r(*URL::parse("https://h/"), 200, "HTTP/1.1",
                      {{"Content-Type", "Text/HTML; Charset=\"UTF-8\""}, {"Set-Cookie", "a=1"}, {"set-cookie", "b=2"},
                       {"Content-Length", "42"}});
    EXPECT_EQ(r.mimeType(), "text/html");
    EXPECT_EQ(r.textEncodingName(), "utf-8");
    EXPECT_EQ(r.expectedContentLength(), 42);
    EXPECT_EQ(r.valueForHTTPHeaderField("SET-COOKIE"), "a=1, b=2");
    EXPECT_EQ(r.allHeaderFields().size(), 3u);
    HTTPURLResponse bad(*URL::parse("https://h/"), 204, "HTTP/1.1", {{"Content-Length", "12x"}});
    EXPECT_EQ(bad.expectedContentLength(), -1);
    EXPECT_FALSE(bad.mimeType());
    EXPECT_FALSE(bad.textEncodingName());
}

TEST(Streams, DataAndFileStreamsReadAndCopy) {
    test::TempDir dir;
    test::writeFile(dir.file("in"), "file bytes");
    for (auto stream : {InputStream::withData(bytesOf("file bytes")), InputStream::withFile(dir.file("in"))}) {
        EXPECT_EQ(stream->knownLength(), 10);
        for (int round = 0; round < 2; ++round) {
            stream->open();
            std::uint8_t buf[4];
            std::string got;
            std::int64_t n;
            while ((n = stream->read(buf, sizeof buf)) > 0) got.append(reinterpret_cast<char*>(buf), n);
            EXPECT_EQ(n, 0);
            EXPECT_EQ(got, "file bytes");
            stream->close();
            stream = stream->copy();
            ASSERT_TRUE(stream);
        }
    }
    auto missing = InputStream::withFile(dir.file("missing"));
    missing->open();
    std::uint8_t b;
    EXPECT_EQ(missing->read(&b, 1), -1);
    ASSERT_TRUE(missing->streamError());
    EXPECT_EQ(missing->streamError()->domain(), "NSPOSIXErrorDomain");

    auto memory = OutputStream::toMemory();
    memory->open();
    EXPECT_EQ(memory->write(reinterpret_cast<const std::uint8_t*>("abc"), 3), 3);
    EXPECT_EQ(memory->dataWritten(), bytesOf("abc"));
    auto file = OutputStream::toFile(dir.file("out"), false);
    file->open();
    EXPECT_EQ(file->write(reinterpret_cast<const std::uint8_t*>("xyz"), 3), 3);
    file->close();
    EXPECT_EQ(test::readFile(dir.file("out")), "xyz");
    auto nowhere = OutputStream::toFile(dir.file("no/such/dir"), false);
    nowhere->open();
    EXPECT_EQ(nowhere->write(reinterpret_cast<const std::uint8_t*>("x"), 1), -1);
    EXPECT_TRUE(nowhere->streamError());
}

}  // namespace
}  // namespace pellix::platform::urltest
