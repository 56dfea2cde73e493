// Transport failures and time-outs map to the platform's URL error codes.
#include <cstdlib>

#include "SessionFixture.h"

namespace pellix::platform::urltest {
namespace {

struct Failure {
    const char* name;
    std::string url;  // "{base}" is replaced by the peer's base URL
    double requestTimeout;
    int code;
};

class TransportFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(TransportFailure, ReportsItsCode) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    std::string text = GetParam().url;
    if (auto at = text.find("{base}"); at != std::string::npos) text.replace(at, 6, peer.base());
    if (auto at = text.find("{closed}"); at != std::string::npos) text.replace(at, 8, std::to_string(test::freePort()));
    URLRequest request(URL::parse(text).value_or(URL()));
    request.setTimeoutInterval(GetParam().requestTimeout);
    auto started = std::chrono::steady_clock::now();
    auto task = s.session->dataTaskWithRequest(request);
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    auto error = s.delegate->error(task->taskIdentifier());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "NSURLErrorDomain");
    const Value* reason = error->userInfo().find(Error::kLocalizedFailureReasonErrorKey);
    EXPECT_EQ(error->code(), GetParam().code) << (reason ? reason->description() : "");
    const Value* failing = error->userInfo().find(Error::kURLErrorFailingURLStringErrorKey);
    ASSERT_TRUE(failing);
    EXPECT_EQ(failing->asString(), request.url().absoluteString());
    EXPECT_TRUE(error->userInfo().contains(Error::kURLErrorFailingURLErrorKey));
    if (GetParam().code == -1001) {
        EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TransportFailure,
    ::testing::Values(Failure{"StalledServer", "{base}/stall", 0.5, -1001},
                      Failure{"StalledBody", "{base}/stall-body", 0.5, -1001},
                      Failure{"ClosedPort", "https://127.0.0.1:{closed}/small", 5, -1004},
                      Failure{"ClosedMidBody", "{base}/close-mid-body", 5, -1005},
                      Failure{"UnsupportedScheme", "ftp://127.0.0.1/file", 5, -1002},
                      Failure{"NoURL", "", 5, -1000},
                      Failure{"NoHost", "https:///path", 5, -1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Timeouts, ResourceLimitEndsASlowTransfer) {
    Peer peer(certs().leaf);
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.setTimeoutIntervalForResource(0.5);
    SessionUnderTest s(config);
    auto task = s.session->dataTaskWithURL(peer.url("/drip?n=40&ms=50"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    ASSERT_TRUE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->error(task->taskIdentifier())->code(), -1001);
}

TEST(Timeouts, SuspendedTimeDoesNotCount) {
    Peer peer(certs().leaf);
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.setTimeoutIntervalForRequest(2.0);
    config.setTimeoutIntervalForResource(3.0);
    SessionUnderTest s(config);
    std::atomic<bool> once{false};
    s.delegate->onData = [&](const auto& task, const Bytes&) {
        if (!once.exchange(true)) task->suspend();
    };
    auto task = s.session->dataTaskWithURL(peer.url("/drip?n=8&ms=50"));
    task->resume();
    ASSERT_TRUE(eventually([&] { return task->state() == URLSessionTask::State::Suspended; }));
    std::this_thread::sleep_for(3200ms);  // past both limits, had the clock run
    EXPECT_EQ(s.delegate->completions(task->taskIdentifier()), 0);
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    auto error = s.delegate->error(task->taskIdentifier());
    EXPECT_FALSE(error) << error->description();
    EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "xxxxxxxx");
}

TEST(DownloadFile, UnwritableTemporaryFolderFailsWithCannotWrite) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", "/nonexistent-folder-for-test", 1);
    auto task = s.session->downloadTaskWithRequest(URLRequest(peer.url("/small")));
    task->resume();
    bool done = s.delegate->waitComplete(task->taskIdentifier());
    if (saved.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", saved.c_str(), 1);
    ASSERT_TRUE(done);
    ASSERT_TRUE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->error(task->taskIdentifier())->code(), -3003);
}

}  // namespace
}  // namespace pellix::platform::urltest
