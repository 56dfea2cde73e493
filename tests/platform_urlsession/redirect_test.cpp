// Redirects: method and body rules per status, limits, refusals and the
// delegate's say.
#include <algorithm>
#include <cstring>

#include "SessionFixture.h"

namespace pellix::platform::urltest {
namespace {

using M = URLSessionDelegate::Method;

struct Rule {
    int status;
    const char* finalMethod;
    int finalLength;
};

class RedirectOf : public ::testing::TestWithParam<Rule> {};

TEST_P(RedirectOf, PostFollowsWithTheRightMethodAndBody) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    s.delegate->implemented.insert(M::WillPerformHTTPRedirection);
    URLRequest request(peer.url("/redirect/" + std::to_string(GetParam().status) + "?to=/echo"));
    request.setHTTPMethod("POST");
    request.setValue("text/plain", "Content-Type");
    request.setHTTPBody(bytesOf("abc"));
    auto task = s.session->dataTaskWithRequest(request);
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    ASSERT_FALSE(s.delegate->error(task->taskIdentifier()));
    std::string echo = s.delegate->body(task->taskIdentifier());
    EXPECT_NE(echo.find(std::string("\"method\":\"") + GetParam().finalMethod + "\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"length\":" + std::to_string(GetParam().finalLength)), std::string::npos) << echo;
    // A body-less follow-up carries no content type.
    EXPECT_EQ(echo.find("content-type") != std::string::npos, GetParam().finalLength > 0) << echo;
    auto events = s.delegate->events(task->taskIdentifier());
    EXPECT_NE(std::find(events.begin(), events.end(), "redirect " + std::to_string(GetParam().status)), events.end());
    EXPECT_EQ(task->currentRequest().url().percentEncodedPath(), "/echo");
    EXPECT_EQ(task->originalRequest().url().percentEncodedPath(), "/redirect/" + std::to_string(GetParam().status));
}

INSTANTIATE_TEST_SUITE_P(Statuses, RedirectOf,
                         ::testing::Values(Rule{301, "GET", 0}, Rule{302, "GET", 0}, Rule{303, "GET", 0},
                                           Rule{307, "POST", 3}, Rule{308, "POST", 3}),
                         [](const auto& info) { return std::to_string(info.param.status); });

TEST(Redirect, GetThroughEveryStatusReachesTheTarget) {
    Peer peer(certs().leaf);
    SessionUnderTest s;  // delegate without the redirect method: followed silently
    for (int status : {301, 302, 303, 307, 308}) {
        auto task = s.session->dataTaskWithURL(peer.url("/redirect/" + std::to_string(status) + "?to=/small"));
        task->resume();
        ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
        EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "hello") << status;
        EXPECT_EQ(task->response()->statusCode(), 200);
    }
}

TEST(Redirect, LoopFailsWithTooManyRedirects) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    auto task = s.session->dataTaskWithURL(peer.url("/loop/0"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    ASSERT_TRUE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->error(task->taskIdentifier())->code(), -1007);
    EXPECT_EQ(task->currentRequest().url().percentEncodedPath(), "/loop/16");
}

TEST(Redirect, FromHttpsToHttpIsNotFollowed) {
    Peer peer(certs().leaf);
    Peer plain(certs().leaf, true);
    SessionUnderTest s;
    auto task = s.session->dataTaskWithURL(peer.url("/redirect/302?to=" + plain.base() + "/small"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    EXPECT_FALSE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(task->response()->statusCode(), 302);
    EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "redirect");
}

TEST(Redirect, DelegateCanDeclineAndTheRedirectIsTheAnswer) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    s.delegate->implemented.insert(M::WillPerformHTTPRedirection);
    s.delegate->implemented.insert(M::DidReceiveResponse);
    s.delegate->onRedirect = [](auto&, auto, URLRequest, auto completion) { completion(std::nullopt); };
    auto task = s.session->dataTaskWithURL(peer.url("/redirect/301?to=/small"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->events(task->taskIdentifier()),
              (std::vector<std::string>{"challenge", "redirect 301", "response 301", "data", "complete"}));
    EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "redirect");
}

TEST(Redirect, AuthorizationStaysWithItsOrigin) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    std::string other = "https://localhost:" + std::to_string(peer.port());
    for (auto [target, kept] : {std::pair{std::string("/headers"), true}, std::pair{other + "/headers", false}}) {
        URLRequest request(peer.url("/redirect/307?to=" + target));
        request.setValue("Basic YTpi", "Authorization");
        auto task = s.session->dataTaskWithRequest(request);
        task->resume();
        ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
        std::string headers = s.delegate->body(task->taskIdentifier());
        EXPECT_EQ(headers.find("Basic YTpi") != std::string::npos, kept) << target << " " << headers;
    }
}

// A host stream that cannot be replayed.
class OneShotStream : public InputStream {
public:
    void open() override { status_ = Status::Open; }
    void close() override { status_ = Status::Closed; }
    std::int64_t read(std::uint8_t* buffer, std::size_t max) override {
        std::size_t n = std::min(max, data_.size() - offset_);
        std::memcpy(buffer, data_.data() + offset_, n);
        offset_ += n;
        return static_cast<std::int64_t>(n);
    }
    Status streamStatus() const override { return status_; }
    ErrorPtr streamError() const override { return nullptr; }

private:
    std::string data_ = "streamed body";
    std::size_t offset_ = 0;
    Status status_ = Status::NotOpen;
};

TEST(Redirect, StreamedBodyIsReplacedForA307) {
    Peer peer(certs().leaf);
    struct Case {
        std::shared_ptr<InputStream> stream;
        bool askDelegate;
        int code;  // 0: success
    };
    for (auto c : {Case{InputStream::withData(bytesOf("streamed body")), true, 0},
                   Case{InputStream::withData(bytesOf("streamed body")), false, 0},
                   Case{std::make_shared<OneShotStream>(), false, -1021}}) {
        SessionUnderTest s;
        if (c.askDelegate) s.delegate->implemented.insert(M::NeedNewBodyStream);
        URLRequest request(peer.url("/redirect/307?to=/echo"));
        request.setHTTPMethod("POST");
        request.setHTTPBodyStream(c.stream);
        auto task = s.session->uploadTaskWithStreamedRequest(request);
        task->resume();
        ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
        auto error = s.delegate->error(task->taskIdentifier());
        EXPECT_EQ(error ? error->code() : 0, c.code);
        if (!c.code) {
            EXPECT_NE(s.delegate->body(task->taskIdentifier()).find("\"length\":13"), std::string::npos);
        }
        auto events = s.delegate->events(task->taskIdentifier());
        EXPECT_EQ(std::count(events.begin(), events.end(), "need-stream"), c.askDelegate ? 1 : 0);
    }
}

}  // namespace
}  // namespace pellix::platform::urltest
