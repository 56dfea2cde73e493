// TVHTTPSessionManager against real peers: every verb, the multipart upload,
// base URLs, the pinning refusal, serializer failures and pinning on the wire.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "ManagerFixture.h"
#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVHTTPSessionManager.h"
#include "platform/NotificationCenter.h"
#include "platform/URLError.h"

namespace pellix::tvtest {
namespace {

using platform::Dictionary;
using platform::Value;

struct Result {
    std::atomic<int> successes{0}, failures{0};
    TVURLSessionTaskPtr task;
    TVResponseObject object;
    platform::ErrorPtr error;
    bool onMain = false;
    TVHTTPSessionManager::Success success() {
        return [this](const TVURLSessionTaskPtr& t, const TVResponseObject& o) {
            task = t;
            object = o;
            onMain = platform::RunLoop::isMainThread();
            ++successes;
        };
    }
    TVHTTPSessionManager::Failure failure() {
        return [this](const TVURLSessionTaskPtr& t, const platform::ErrorPtr& e) {
            task = t;
            error = e;
            onMain = platform::RunLoop::isMainThread();
            ++failures;
        };
    }
    bool finished() const { return successes + failures > 0; }
    const Value& json() const { return *object.value(); }
};

class HTTPSessionManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        certs();
        peer_ = httpsPeer(certs().leaf);
        manager_ = TVHTTPSessionManager::create(*platform::URL::parse(peer_->base()));
    }
    void TearDown() override { manager_->invalidateSessionCancelingTasks(true); }
    std::unique_ptr<NodePeer> peer_;
    std::shared_ptr<TVHTTPSessionManager> manager_;
};

TEST_F(HTTPSessionManagerTest, EveryVerbReachesTheServer) {
    const Value params = Dictionary{{"name", "门 1"}, {"n", 2}};
    struct Verb {
        std::string method;
        bool queryInURL;
    };
    for (const Verb& v : {Verb{"GET", true}, Verb{"POST", false}, Verb{"PUT", false}, Verb{"PATCH", false},
                          Verb{"DELETE", true}}) {
        Result r;
        TVURLSessionTaskPtr task;
        if (v.method == "GET") task = manager_->GET("echo", params, r.success(), r.failure());
        if (v.method == "POST") task = manager_->POST("echo", params, r.success(), r.failure());
        if (v.method == "PUT") task = manager_->PUT("echo", params, r.success(), r.failure());
        if (v.method == "PATCH") task = manager_->PATCH("echo", params, r.success(), r.failure());
        if (v.method == "DELETE") task = manager_->DELETE("echo", params, r.success(), r.failure());
        ASSERT_TRUE(task) << v.method;
        ASSERT_TRUE(pumpUntil([&] { return r.finished(); })) << v.method;
        ASSERT_EQ(r.successes, 1) << v.method << " " << (r.error ? r.error->description() : "");
        EXPECT_TRUE(r.onMain);
        EXPECT_EQ(r.task, task);
        EXPECT_EQ(r.json().get("method")->asString(), v.method);
        const std::string query = "n=2&name=%E9%97%A8%201";
        if (v.queryInURL) {
            EXPECT_EQ(r.json().get("url")->asString(), "/echo?" + query) << v.method;
            EXPECT_EQ(r.json().get("length")->intValue(), 0);
        } else {
            EXPECT_EQ(r.json().get("url")->asString(), "/echo") << v.method;
            EXPECT_EQ(r.json().get("length")->intValue(), static_cast<std::int64_t>(query.size())) << v.method;
            EXPECT_EQ(r.json().get("headers")->get("content-type")->asString(),
                      "application/x-www-form-urlencoded");
        }
    }

    // HEAD: the success block gets the task only.
    std::atomic<int> heads{0};
    TVURLSessionTaskPtr seen;
    auto head = manager_->HEAD(
        "echo", Value(),
        [&](const TVURLSessionTaskPtr& t) {
            seen = t;
            ++heads;
        },
        [&](const TVURLSessionTaskPtr&, const platform::ErrorPtr& e) { ADD_FAILURE() << e->description(); });
    ASSERT_TRUE(pumpUntil([&] { return heads > 0; }));
    EXPECT_EQ(seen, head);
    EXPECT_EQ(head->originalRequest().httpMethod(), "HEAD");
}

// Splits a multipart body into {name: (headers, body)}.
std::map<std::string, std::pair<std::string, std::string>> parseMultipart(const std::string& body,
                                                                          const std::string& boundary) {
    std::map<std::string, std::pair<std::string, std::string>> parts;
    const std::string delimiter = "--" + boundary;
    std::size_t pos = body.find(delimiter);
    while (pos != std::string::npos) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0) break;
        pos += 2;  // CRLF
        std::size_t headEnd = body.find("\r\n\r\n", pos);
        std::size_t next = body.find("\r\n" + delimiter, headEnd);
        if (headEnd == std::string::npos || next == std::string::npos) break;
        std::string headers = body.substr(pos, headEnd - pos);
        std::string content = body.substr(headEnd + 4, next - headEnd - 4);
        auto n = headers.find("name=\"");
        std::string name = headers.substr(n + 6, headers.find('"', n + 6) - n - 6);
        parts[name] = {headers, content};
        pos = next + 2;
    }
    return parts;
}

TEST_F(HTTPSessionManagerTest, MultipartUploadRoundTrip) {
    auto helper = helperPeer();
    auto plain = TVHTTPSessionManager::manager();
    plain->setResponseSerializer(TVHTTPResponseSerializer::serializer());
    Bytes image(150000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
    std::atomic<std::int64_t> uploaded{0};
    Result r;
    auto task = plain->POST(
        helper->url("/raw"), Dictionary{{"api_key", "k-1"}, {"api_secret", "s 2"}},
        [&](TVMultipartFormData& form) { form.appendPartWithFileData(image, "image_file", "card.jpg", "image/jpeg/png"); },
        [&](TVProgress& p) { uploaded = p.completedUnitCount(); }, r.success(), r.failure());
    ASSERT_TRUE(task);
    EXPECT_EQ(task->kind(), TVURLSessionTask::Kind::Upload);
    ASSERT_TRUE(pumpUntil([&] { return r.finished(); }));
    plain->invalidateSessionCancelingTasks(false);
    ASSERT_EQ(r.successes, 1) << r.error->description();

    auto contentType = r.task->response()->valueForHTTPHeaderField("X-Request-Content-Type");
    ASSERT_TRUE(contentType);
    const std::string marker = "boundary=";
    ASSERT_NE(contentType->find("multipart/form-data"), std::string::npos);
    std::string boundary = contentType->substr(contentType->find(marker) + marker.size());
    auto parts = parseMultipart(textOf(r.object.value()->asBytes()), boundary);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts["api_key"].second, "k-1");
    EXPECT_EQ(parts["api_secret"].second, "s 2");
    EXPECT_NE(parts["image_file"].first.find("filename=\"card.jpg\""), std::string::npos);
    EXPECT_NE(parts["image_file"].first.find("Content-Type: image/jpeg/png"), std::string::npos);
    EXPECT_EQ(parts["image_file"].second, textOf(image));
    EXPECT_EQ(uploaded.load(), static_cast<std::int64_t>(r.object.value()->asBytes().size()));
}

TEST_F(HTTPSessionManagerTest, BaseURLGetsTrailingSlashAndRelativePathsResolveBelowIt) {
    auto withPath = TVHTTPSessionManager::create(*platform::URL::parse(peer_->base() + "/api/v1"));
    EXPECT_EQ(withPath->baseURL()->absoluteString(), peer_->base() + "/api/v1/");
    Result r;
    withPath->GET("echo", Value(), r.success(), r.failure());
    ASSERT_TRUE(pumpUntil([&] { return r.finished(); }));
    // The peer answers 404 (not JSON) for unknown paths; the request line
    // tells where it went.
    ASSERT_TRUE(r.task);
    EXPECT_EQ(r.task->originalRequest().url().absoluteString(), peer_->base() + "/api/v1/echo");
    withPath->invalidateSessionCancelingTasks(true);

    auto bare = TVHTTPSessionManager::create(*platform::URL::parse(peer_->base()));
    EXPECT_EQ(bare->baseURL()->absoluteString(), peer_->base());
    bare->invalidateSessionCancelingTasks(true);

    // Without base URL the string must be absolute.
    auto none = TVHTTPSessionManager::manager();
    EXPECT_FALSE(none->baseURL());
    Result abs;
    none->GET(peer_->url("/echo"), Value(), abs.success(), abs.failure());
    ASSERT_TRUE(pumpUntil([&] { return abs.finished(); }));
    EXPECT_EQ(abs.successes, 1);
    none->invalidateSessionCancelingTasks(false);
}

TEST_F(HTTPSessionManagerTest, PinningNeedsAnHTTPSBaseURL) {
    auto none = TVHTTPSessionManager::manager();
    auto httpBase = TVHTTPSessionManager::create(*platform::URL::parse("http://127.0.0.1:1/"));
    struct Refusal {
        unsigned mode;
        const char* name;
    };
    for (const auto& k : {Refusal{TVSSLPinningModePublicKey, "TVSSLPinningModePublicKey"},
                          Refusal{TVSSLPinningModeCertificate, "TVSSLPinningModeCertificate"},
                          Refusal{9, "Unknown Pinning Mode"}}) {
        for (const auto& m : {none, httpBase}) {
            auto before = m->securityPolicy();
            try {
                m->setSecurityPolicy(TVSecurityPolicy::policyWithPinningMode(k.mode, TVDataSet{}));
                ADD_FAILURE() << "accepted " << k.name;
            } catch (const platform::Exception& e) {
                EXPECT_EQ(e.name(), "Invalid Security Policy");
                EXPECT_EQ(e.reason(), std::string("A security policy configured with `") + k.name +
                                          "` can only be applied on a manager with a secure base URL (i.e. https)");
            }
            EXPECT_EQ(m->securityPolicy(), before);
        }
    }
    auto plainPolicy = TVSecurityPolicy::defaultPolicy();
    none->setSecurityPolicy(plainPolicy);
    EXPECT_EQ(none->securityPolicy(), plainPolicy);
    auto pinned = TVSecurityPolicy::policyWithPinningMode(TVSSLPinningModeCertificate, TVDataSet{});
    manager_->setSecurityPolicy(pinned);
    EXPECT_EQ(manager_->securityPolicy(), pinned);
    none->invalidateSessionCancelingTasks(true);
    httpBase->invalidateSessionCancelingTasks(true);
}

TEST_F(HTTPSessionManagerTest, RequestSerializationFailureCallsFailureOnceWithoutTask) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    serializer->setQueryStringSerializationWithBlock(
        [](const platform::URLRequest&, const Value&, platform::ErrorPtr* error) -> std::optional<std::string> {
            *error = platform::Error::make("tvtest", 42);
            return std::nullopt;
        });
    manager_->setRequestSerializer(serializer);
    Result r;
    bool nullTask = false;
    auto task = manager_->GET("echo", Dictionary{{"a", 1}}, r.success(),
                              [&](const TVURLSessionTaskPtr& t, const platform::ErrorPtr& e) {
                                  nullTask = t == nullptr;
                                  r.error = e;
                                  ++r.failures;
                              });
    EXPECT_FALSE(task);
    EXPECT_EQ(r.failures, 0);  // reported asynchronously
    ASSERT_TRUE(pumpUntil([&] { return r.finished(); }));
    pumpFor(0.1);
    EXPECT_EQ(r.failures, 1);
    EXPECT_TRUE(nullTask);
    EXPECT_EQ(r.error->code(), 42);
    EXPECT_TRUE(manager_->tasks().empty());
}

TEST_F(HTTPSessionManagerTest, ReturnedTaskIsRunningAndResumingAgainAnnouncesNothing) {
    std::atomic<int> resumes{0};
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        TVNetworkingTaskDidResumeNotification, nullptr, nullptr, [&](const platform::Notification&) { ++resumes; });
    Result r;
    auto task = manager_->GET(peer_->url("/stall"), Value(), r.success(), r.failure());
    EXPECT_EQ(task->state(), TVURLSessionTask::State::Running);
    task->resume();
    pumpUntil([&] { return resumes > 0; });
    pumpFor(0.2);
    EXPECT_EQ(resumes.load(), 1);
    task->cancel();
    ASSERT_TRUE(pumpUntil([&] { return r.finished(); }));
    EXPECT_EQ(r.failures, 1);
    EXPECT_EQ(r.task, task);
    EXPECT_EQ(r.error->code(), platform::URLError::Cancelled);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(HTTPSessionManagerTest, PinnedServersOnTheWire) {
    // Certificate pinning of the CA accepts the peer; pinning another
    // certificate refuses it; public-key pinning alike.
    struct Pinning {
        unsigned mode;
        std::string pinFile;
        bool accepted;
    };
    for (const auto& p : {Pinning{TVSSLPinningModeCertificate, certs().ca.cert, true},
                          Pinning{TVSSLPinningModeCertificate, certs().selfSigned.cert, false},
                          Pinning{TVSSLPinningModePublicKey, certs().leaf.cert, true},
                          Pinning{TVSSLPinningModePublicKey, certs().intermediate.cert, false}}) {
        auto m = TVHTTPSessionManager::create(*platform::URL::parse(peer_->base()));
        m->setSecurityPolicy(TVSecurityPolicy::policyWithPinningMode(p.mode, TVDataSet{der(p.pinFile)}));
        Result r;
        m->GET("echo", Value(), r.success(), r.failure());
        ASSERT_TRUE(pumpUntil([&] { return r.finished(); }));
        EXPECT_EQ(r.successes, p.accepted ? 1 : 0) << p.pinFile;
        if (!p.accepted) {
            EXPECT_EQ(r.error->code(), platform::URLError::Cancelled);
        }
        m->invalidateSessionCancelingTasks(true);
    }

    // The pin-append attack: an unknown server sends the pinned CA along.
    test::TempDir dir;
    test::writeFile(dir.file("attack.pem"),
                    test::readFile(certs().selfSigned.cert) + test::readFile(certs().ca.cert));
    auto attacker = httpsPeer(dir.file("attack.pem"), certs().selfSigned.key);
    for (unsigned mode : {TVSSLPinningModeCertificate, TVSSLPinningModePublicKey}) {
        auto m = TVHTTPSessionManager::create(*platform::URL::parse(attacker->base()));
        auto policy = TVSecurityPolicy::policyWithPinningMode(mode, TVDataSet{der(certs().ca.cert)});
        policy->setAllowInvalidCertificates(true);
        m->setSecurityPolicy(policy);
        Result r;
        m->GET("echo", Value(), r.success(), r.failure());
        ASSERT_TRUE(pumpUntil([&] { return r.finished(); }));
        EXPECT_EQ(r.failures, 1) << mode;
        m->invalidateSessionCancelingTasks(true);
    }
}

TEST_F(HTTPSessionManagerTest, CopyCarriesSerializersAndPolicyButNotQueues) {
    auto policy = TVSecurityPolicy::defaultPolicy();
    policy->setValidatesDomainName(false);
    manager_->setSecurityPolicy(policy);
    manager_->setCompletionQueue(platform::DispatchQueue::serial("tvtest.copy"));
    auto copy = std::dynamic_pointer_cast<TVHTTPSessionManager>(manager_->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->baseURL()->absoluteString(), manager_->baseURL()->absoluteString());
    EXPECT_NE(copy->requestSerializer(), manager_->requestSerializer());
    EXPECT_NE(copy->securityPolicy(), policy);
    EXPECT_FALSE(copy->securityPolicy()->validatesDomainName());
    EXPECT_FALSE(copy->completionQueue());
    EXPECT_NE(copy->session(), manager_->session());
    EXPECT_NE(copy->description().find("baseURL: " + peer_->base()), std::string::npos);
    copy->invalidateSessionCancelingTasks(true);
}

TEST_F(HTTPSessionManagerTest, ArchiveRoundTrip) {
    auto background = TVHTTPSessionManager::create(
        *platform::URL::parse(peer_->base() + "/api"),
        platform::URLSessionConfiguration::backgroundSessionConfiguration("tv.background"));
    background->requestSerializer()->setValue("v1", "X-Archived");
    auto raw = TVHTTPResponseSerializer::serializer();
    raw->setAcceptableStatusCodes(std::set<int>{200, 201});
    background->setResponseSerializer(raw);
    auto policy = TVSecurityPolicy::policyWithPinningMode(TVSSLPinningModeCertificate, TVDataSet{der(certs().ca.cert)});
    background->setSecurityPolicy(policy);

    Dictionary archive;
    background->encodeWithCoder(archive);
    EXPECT_FALSE(archive.contains("sessionConfiguration"));
    auto decoded = TVHTTPSessionManager::initWithCoder(archive);
    EXPECT_EQ(decoded->baseURL()->absoluteString(), peer_->base() + "/api/");
    EXPECT_EQ(decoded->session()->configuration().identifier(), std::optional<std::string>("tv.background"));
    EXPECT_EQ(decoded->requestSerializer()->valueForHTTPHeaderField("X-Archived"), std::optional<std::string>("v1"));
    auto decodedRaw = std::dynamic_pointer_cast<TVHTTPResponseSerializer>(decoded->responseSerializer());
    ASSERT_TRUE(decodedRaw);
    EXPECT_EQ(decodedRaw->acceptableStatusCodes(), raw->acceptableStatusCodes());
    EXPECT_EQ(decoded->securityPolicy()->SSLPinningMode(), TVSSLPinningModeCertificate);
    EXPECT_EQ(decoded->securityPolicy()->pinnedPublicKeys(), policy->pinnedPublicKeys());

    // Only an identifier: a background configuration with it.
    auto fromIdentifier = TVHTTPSessionManager::initWithCoder(Dictionary{{"identifier", "tv.only"}});
    EXPECT_EQ(fromIdentifier->session()->configuration().identifier(), std::optional<std::string>("tv.only"));
    EXPECT_FALSE(fromIdentifier->baseURL());

    // A pinning policy archived with an http base URL is refused on decoding.
    archive.set("baseURL", "http://127.0.0.1:1/");
    EXPECT_THROW(TVHTTPSessionManager::initWithCoder(archive), platform::Exception);

    for (const auto& m : {background, decoded, fromIdentifier}) m->invalidateSessionCancelingTasks(true);
}

}  // namespace
}  // namespace pellix::tvtest
