// Request serializers: where parameters go, default headers, observed request
// properties, JSON and property-list bodies, header-injection refusal.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVJSONRequestSerializer.h"
#include "TVNetworking/TVPropertyListRequestSerializer.h"
#include "platform/Bundle.h"
#include "platform/Device.h"
#include "platform/PropertyList.h"

namespace pellix {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::ErrorPtr;
using platform::URLRequest;
using platform::Value;

std::string bodyText(const URLRequest& r) {
    if (!r.httpBody()) return "<none>";
    return std::string(r.httpBody()->begin(), r.httpBody()->end());
}

TEST(TVHTTPRequestSerializer, WhereParametersGo) {
    struct Case {
        const char* method;
        const char* url;
        Value parameters;
        const char* expectedURL;
        const char* expectedBody;  // "<none>" when no body
    };
    const Dictionary ba{{"b", 2}, {"a", 1}};
    const Case cases[] = {
        {"GET", "http://h.test/p", ba, "http://h.test/p?a=1&b=2", "<none>"},
        {"GET", "http://h.test/p?x=1", ba, "http://h.test/p?x=1&a=1&b=2", "<none>"},
        {"GET", "http://h.test/p", Dictionary{}, "http://h.test/p", "<none>"},
        {"get", "http://h.test/p", ba, "http://h.test/p?a=1&b=2", "<none>"},
        {"HEAD", "http://h.test/p", ba, "http://h.test/p?a=1&b=2", "<none>"},
        {"DELETE", "http://h.test/p", ba, "http://h.test/p?a=1&b=2", "<none>"},
        {"POST", "http://h.test/p", ba, "http://h.test/p", "a=1&b=2"},
        {"PUT", "http://h.test/p", ba, "http://h.test/p", "a=1&b=2"},
        {"POST", "http://h.test/p", Value(), "http://h.test/p", ""},
        // The query goes before the fragment, never into it.
        {"GET", "http://h.test/p#frag", ba, "http://h.test/p?a=1&b=2#frag", "<none>"},
    };
    auto serializer = TVHTTPRequestSerializer::serializer();
    for (const Case& c : cases) {
        ErrorPtr error;
        auto request = serializer->requestWithMethod(c.method, c.url, c.parameters, &error);
        ASSERT_TRUE(request) << c.method << " " << c.url;
        EXPECT_EQ(request->url().absoluteString(), c.expectedURL) << c.method << " " << c.url;
        EXPECT_EQ(request->httpMethod(), c.method);
        EXPECT_EQ(bodyText(*request), c.expectedBody) << c.method << " " << c.url;
        if (std::string(c.expectedBody) != "<none>")
            EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");
        else
            EXPECT_FALSE(request->valueForHTTPHeaderField("Content-Type"));
    }
}

TEST(TVHTTPRequestSerializer, HeadersOnTheRequestWin) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    ASSERT_TRUE(serializer->setValue("application/json", "Accept"));
    URLRequest original(*platform::URL::parse("http://h.test/"));
    original.setHTTPMethod("POST");
    original.setValue("text/plain", "accept");
    original.setValue("text/csv", "Content-Type");
    auto request = serializer->requestBySerializingRequest(original, Dictionary{{"a", 1}}, nullptr);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->valueForHTTPHeaderField("Accept"), "text/plain");
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "text/csv");
    EXPECT_EQ(bodyText(*request), "a=1");
    // Without a header of its own the default applies.
    auto plain = serializer->requestWithMethod("GET", "http://h.test/", Value(), nullptr);
    EXPECT_EQ(plain->valueForHTTPHeaderField("Accept"), "application/json");
}

TEST(TVHTTPRequestSerializer, HeaderValuesThatWouldInjectLinesAreRefused) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    for (const char* bad : {"a\r\nX-Evil: 1", "a\nb", "a\rb", "a\0b"}) {
        std::string value(bad, bad == std::string("a\0b") ? 3 : std::char_traits<char>::length(bad));
        EXPECT_FALSE(serializer->setValue(value, "X-Test")) << value;
    }
    EXPECT_FALSE(serializer->setValue("v", "Bad Name"));
    EXPECT_FALSE(serializer->setValue("v", "X-Evil\r\n"));
    EXPECT_FALSE(serializer->valueForHTTPHeaderField("X-Test"));
    EXPECT_TRUE(serializer->setValue("ok", "X-Test"));
    EXPECT_EQ(serializer->valueForHTTPHeaderField("x-test"), "ok");
    auto request = serializer->requestWithMethod("GET", "http://h.test/", Value(), nullptr);
    for (const auto& [name, value] : request->allHTTPHeaderFields()) {
        EXPECT_EQ(value.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << name;
    }
}

TEST(TVHTTPRequestSerializer, ObservedPropertiesReachRequestsOnlyOnceSet) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    auto before = serializer->requestWithMethod("GET", "http://h.test/", Value(), nullptr);
    EXPECT_EQ(before->timeoutInterval(), URLRequest::kDefaultTimeoutInterval);
    EXPECT_TRUE(serializer->mutableObservedChangedKeyPaths().empty());
    serializer->setTimeoutInterval(15);
    serializer->setCachePolicy(URLRequest::CachePolicy::UseProtocolCachePolicy);  // the default, still marked
    EXPECT_EQ(serializer->mutableObservedChangedKeyPaths(), (std::set<std::string>{"cachePolicy", "timeoutInterval"}));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(serializer->requestWithMethod("POST", "http://h.test/", Value(), nullptr)->timeoutInterval(), 15);
    auto copy = serializer->copy();
    ASSERT_TRUE(copy->setValue("1", "X-Copy-Only"));
    EXPECT_EQ(copy->requestWithMethod("GET", "http://h.test/", Value(), nullptr)->timeoutInterval(),
              URLRequest::kDefaultTimeoutInterval);
    EXPECT_FALSE(serializer->valueForHTTPHeaderField("X-Copy-Only"));
    EXPECT_EQ(TVHTTPRequestSerializerObservedKeyPaths().front(), "allowsCellularAccess");
    EXPECT_EQ(TVHTTPRequestSerializerObservedKeyPaths().back(), "timeoutInterval");
}

// The four network settings travel on the request the serializer builds,
// where the URL session reads them; unset ones leave the request's defaults.
TEST(TVHTTPRequestSerializer, NetworkSettingsReachTheRequest) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    auto fresh = serializer->requestWithMethod("GET", "http://h.test/", Value(), nullptr);
    EXPECT_TRUE(fresh->allowsCellularAccess());
    EXPECT_TRUE(fresh->HTTPShouldHandleCookies());
    EXPECT_FALSE(fresh->HTTPShouldUsePipelining());
    EXPECT_EQ(fresh->networkServiceType(), 0u);

    serializer->setAllowsCellularAccess(false);
    serializer->setHTTPShouldHandleCookies(false);
    serializer->setHTTPShouldUsePipelining(true);
    serializer->setNetworkServiceType(2);
    for (const char* method : {"GET", "POST"}) {
        auto r = serializer->requestWithMethod(method, "http://h.test/", Value(Dictionary{{"a", Value("1")}}), nullptr);
        ASSERT_TRUE(r) << method;
        EXPECT_FALSE(r->allowsCellularAccess()) << method;
        EXPECT_FALSE(r->HTTPShouldHandleCookies()) << method;
        EXPECT_TRUE(r->HTTPShouldUsePipelining()) << method;
        EXPECT_EQ(r->networkServiceType(), 2u) << method;
    }
}

TEST(TVHTTPRequestSerializer, CopyKeepsHeadersAndQueryBlock) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    serializer->setValue("v", "X-Keep");
    serializer->setQueryStringSerializationWithBlock(
        [](const URLRequest&, const Value&, ErrorPtr*) { return std::optional<std::string>("custom=1"); });
    auto copy = serializer->copy();
    EXPECT_EQ(copy->valueForHTTPHeaderField("X-Keep"), "v");
    EXPECT_EQ(copy->requestWithMethod("GET", "http://h.test/", Dictionary{{"a", 1}}, nullptr)->url().absoluteString(),
              "http://h.test/?custom=1");
}

TEST(TVHTTPRequestSerializer, QueryBlockErrorFailsTheRequest) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    auto blockError = platform::Error::make("Test", 7);
    serializer->setQueryStringSerializationWithBlock([&](const URLRequest&, const Value&, ErrorPtr* error) {
        *error = blockError;
        return std::optional<std::string>();
    });
    ErrorPtr error;
    EXPECT_FALSE(serializer->requestWithMethod("POST", "http://h.test/", Dictionary{{"a", 1}}, &error));
    EXPECT_EQ(error, blockError);
    serializer->setQueryStringSerializationWithStyle(TVHTTPRequestSerializer::TVHTTPRequestQueryStringDefaultStyle);
    EXPECT_EQ(bodyText(*serializer->requestWithMethod("POST", "http://h.test/", Dictionary{{"a", 1}}, &error)), "a=1");
}

TEST(TVHTTPRequestSerializer, BasicAuthorization) {
    struct Case {
        const char* user;
        const char* password;
        const char* expected;
    };
    const Case cases[] = {{"user", "pass", "Basic dXNlcjpwYXNz"}, {"user", "", "Basic dXNlcjo="}, {"ü", "p", "Basic w7w6cA=="}};
    auto serializer = TVHTTPRequestSerializer::serializer();
    for (const Case& c : cases) {
        serializer->setAuthorizationHeaderFieldWithUsername(c.user, c.password);
        EXPECT_EQ(serializer->valueForHTTPHeaderField("Authorization"), c.expected);
    }
    serializer->clearAuthorizationHeader();
    EXPECT_FALSE(serializer->valueForHTTPHeaderField("Authorization"));
}

TEST(TVHTTPRequestSerializer, AcceptLanguageListsAtMostSixLanguages) {
    ::setenv("LANGUAGE", "de_DE.UTF-8:fr:en_GB:it:es:ja:zh_CN:pt", 1);
    auto serializer = TVHTTPRequestSerializer::serializer();
    EXPECT_EQ(serializer->valueForHTTPHeaderField("Accept-Language"),
              "de-DE;q=1, fr;q=0.9, en-GB;q=0.8, it;q=0.7, es;q=0.6, ja;q=0.5");
    ::setenv("LANGUAGE", "en", 1);
    EXPECT_EQ(TVHTTPRequestSerializer::serializer()->valueForHTTPHeaderField("Accept-Language"), "en;q=1");
}

TEST(TVHTTPRequestSerializer, UserAgentFromHostFactsInASCII) {
    platform::Bundle::mainBundle().setInfoDictionary(
        Dictionary{{"CFBundleExecutable", "Pellix门禁"}, {"CFBundleShortVersionString", "2.3"}, {"CFBundleVersion", "99"}});
    auto& device = platform::Device::currentDevice();
    device.setModel("iPhone14,2");
    device.setSystemVersion("17.1");
    device.setScreenScale(3);
    auto serializer = TVHTTPRequestSerializer::serializer();
    EXPECT_EQ(serializer->valueForHTTPHeaderField("User-Agent"), "Pellix men jin/2.3 (iPhone14,2; iOS 17.1; Scale/3.00)");

    platform::Bundle::mainBundle().setInfoDictionary(Dictionary{{"CFBundleIdentifier", "com.example.app"}, {"CFBundleVersion", "7"}});
    EXPECT_EQ(TVHTTPRequestSerializer::serializer()->valueForHTTPHeaderField("User-Agent"),
              "com.example.app/7 (iPhone14,2; iOS 17.1; Scale/3.00)");
}

TEST(TVHTTPRequestSerializer, BrokenPreconditionsRaise) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    struct Case {
        const char* method;
        const char* url;
        const char* reason;
    };
    const Case cases[] = {{"", "http://h.test/", "Invalid parameter not satisfying: method"},
                          {"GET", "", "Invalid parameter not satisfying: URLString"},
                          {"GET", "http://h.test/a b", "Invalid parameter not satisfying: url"}};
    for (const Case& c : cases) {
        try {
            serializer->requestWithMethod(c.method, c.url, Value(), nullptr);
            ADD_FAILURE() << "no exception for " << c.reason;
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.reason(), c.reason);
        }
    }
}

TEST(TVJSONRequestSerializer, Bodies) {
    auto serializer = TVJSONRequestSerializer::serializer();
    auto post = serializer->requestWithMethod("POST", "http://h.test/", Dictionary{{"a", 1}, {"s", "x/y"}}, nullptr);
    ASSERT_TRUE(post);
    EXPECT_EQ(bodyText(*post), R"({"a":1,"s":"x\/y"})");
    EXPECT_EQ(post->valueForHTTPHeaderField("Content-Type"), "application/json");

    auto get = serializer->requestWithMethod("GET", "http://h.test/", Dictionary{{"a", 1}}, nullptr);
    EXPECT_EQ(get->url().absoluteString(), "http://h.test/?a=1");
    EXPECT_FALSE(get->httpBody());

    auto none = serializer->requestWithMethod("POST", "http://h.test/", Value(), nullptr);
    EXPECT_FALSE(none->httpBody());
    EXPECT_FALSE(none->valueForHTTPHeaderField("Content-Type"));

    for (const Value& bad : {Value("text"), Value(Dictionary{{"d", std::numeric_limits<double>::quiet_NaN()}}),
                             Value(Dictionary{{"b", platform::Bytes{1}}})}) {
        ErrorPtr error;
        EXPECT_FALSE(serializer->requestWithMethod("POST", "http://h.test/", bad, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), TVURLRequestSerializationErrorDomain);
        EXPECT_EQ(error->code(), -1016);
        EXPECT_EQ(error->userInfo().find(platform::Error::kLocalizedFailureReasonErrorKey)->asString(),
                  "The `parameters` argument is not valid JSON.");
    }
    auto copy = std::dynamic_pointer_cast<TVJSONRequestSerializer>(
        TVJSONRequestSerializer::serializerWithWritingOptions(1)->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->writingOptions(), 1u);
}

TEST(TVPropertyListRequestSerializer, Bodies) {
    auto serializer = TVPropertyListRequestSerializer::serializer();
    auto post = serializer->requestWithMethod("POST", "http://h.test/", Dictionary{{"a", 1}}, nullptr);
    ASSERT_TRUE(post);
    EXPECT_EQ(post->valueForHTTPHeaderField("Content-Type"), "application/x-plist");
    std::string text = bodyText(*post);
    EXPECT_NE(text.find("<?xml"), std::string::npos);
    EXPECT_EQ(platform::PropertyList::read(*post->httpBody()), Value(Dictionary{{"a", 1}}));

    ErrorPtr error;
    EXPECT_FALSE(serializer->requestWithMethod("POST", "http://h.test/", Dictionary{{"n", nullptr}}, &error));
    EXPECT_TRUE(error);

    auto binary = TVPropertyListRequestSerializer::serializerWithFormat(TVPropertyListBinaryFormat_v1_0, 0);
    auto b = binary->requestWithMethod("PUT", "http://h.test/", Dictionary{{"a", 1}}, nullptr);
    EXPECT_EQ(bodyText(*b).substr(0, 8), "bplist00");
}

}  // namespace
}  // namespace pellix

namespace pellix {
namespace {

TEST(TVHTTPRequestSerializer, ArchivingRoundTrip) {
    auto plist = TVPropertyListRequestSerializer::serializerWithFormat(TVPropertyListBinaryFormat_v1_0, 3);
    plist->setValue("v", "X-Archived");
    platform::Dictionary archive;
    plist->encodeWithCoder(archive);
    EXPECT_EQ(archive.find("format")->intValue(), 200);

    auto restored = std::make_shared<TVPropertyListRequestSerializer>();
    restored->initWithCoder(archive);
    EXPECT_EQ(restored->format(), TVPropertyListBinaryFormat_v1_0);
    EXPECT_EQ(restored->writeOptions(), 3u);
    EXPECT_EQ(restored->valueForHTTPHeaderField("X-Archived"), "v");
    EXPECT_EQ(restored->HTTPRequestHeaders(), plist->HTTPRequestHeaders());

    // Hostile or missing entries: no injected lines, numbers read as 0.
    platform::Dictionary hostile{
        {"mutableHTTPRequestHeaders", Dictionary{{"X-Ok", "1"}, {"X-Bad", "a\r\nX-Evil: 1"}, {"Bad Name", "x"}, {"X-Num", 5}}}};
    auto json = std::make_shared<TVJSONRequestSerializer>();
    json->setWritingOptions(1);
    json->initWithCoder(hostile);
    EXPECT_EQ(json->HTTPRequestHeaders(), (TVHTTPRequestSerializer::HeaderMap{{"X-Ok", "1"}}));
    EXPECT_EQ(json->writingOptions(), 0u);
    EXPECT_EQ(json->queryStringSerializationStyle(), 0u);
}

}  // namespace
}  // namespace pellix
