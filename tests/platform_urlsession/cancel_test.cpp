// Cancelling a task at each stage of its life ends it with -999 exactly once,
// as its last callback.
#include "SessionFixture.h"

namespace pellix::platform::urltest {
namespace {

enum class Stage { NeverResumed, JustResumed, InChallenge, AwaitingResponse, MidBody, AwaitingRedirect, Suspended,
                   Twice };

struct Case {
    const char* name;
    Stage stage;
    const char* path;
};

class CancelAt : public ::testing::TestWithParam<Case> {};

TEST_P(CancelAt, EndsWithCancelledExactlyOnce) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    auto& d = *s.delegate;
    using M = URLSessionDelegate::Method;
    d.implemented = {M::TaskDidReceiveChallenge, M::DidReceiveResponse, M::WillPerformHTTPRedirection};
    std::shared_ptr<URLSessionDataTask> task = s.session->dataTaskWithURL(peer.url(GetParam().path));
    // Late answers after the cancel must change nothing.
    switch (GetParam().stage) {
        case Stage::InChallenge:
            d.onChallenge = [](const auto& t, auto completion) {
                t->cancel();
                std::this_thread::sleep_for(50ms);
                completion(Recorder::Disposition::PerformDefaultHandling, nullptr);
            };
            break;
        case Stage::AwaitingResponse:
            d.onResponse = [](const auto& t, auto completion) {
                t->cancel();
                completion(URLSessionDelegate::ResponseDisposition::Allow);
            };
            break;
        case Stage::MidBody:
            d.onData = [](const auto& t, const Bytes&) { t->cancel(); };
            break;
        case Stage::AwaitingRedirect:
            d.onRedirect = [](const auto& t, auto, URLRequest next, auto completion) {
                t->cancel();
                completion(std::move(next));
            };
            break;
        default: break;
    }
    switch (GetParam().stage) {
        case Stage::NeverResumed: task->cancel(); break;
        case Stage::JustResumed:
            task->resume();
            task->cancel();
            break;
        case Stage::Suspended:
            d.onData = [](const auto& t, const Bytes&) { t->suspend(); };
            task->resume();
            ASSERT_TRUE(eventually([&] { return task->state() == URLSessionTask::State::Suspended; }));
            std::this_thread::sleep_for(100ms);
            task->cancel();
            break;
        case Stage::Twice:
            task->resume();
            std::this_thread::sleep_for(50ms);
            task->cancel();
            task->cancel();
            break;
        default: task->resume(); break;
    }
    ASSERT_TRUE(d.waitComplete(task->taskIdentifier()));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(d.completions(task->taskIdentifier()), 1);
    ASSERT_TRUE(d.error(task->taskIdentifier()));
    EXPECT_EQ(d.error(task->taskIdentifier())->domain(), "NSURLErrorDomain");
    EXPECT_EQ(d.error(task->taskIdentifier())->code(), -999);
    EXPECT_EQ(d.events(task->taskIdentifier()).back(), "complete -999");
    EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
    task->resume();  // nothing happens to a completed task
    EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, CancelAt,
    ::testing::Values(Case{"NeverResumed", Stage::NeverResumed, "/small"},
                      Case{"JustResumed", Stage::JustResumed, "/small"},
                      Case{"InChallenge", Stage::InChallenge, "/small"},
                      Case{"AwaitingResponse", Stage::AwaitingResponse, "/small"},
                      Case{"MidBody", Stage::MidBody, "/drip?n=50&ms=20"},
                      Case{"AwaitingRedirect", Stage::AwaitingRedirect, "/redirect/302?to=/small"},
                      Case{"Suspended", Stage::Suspended, "/drip?n=50&ms=20"},
                      Case{"Twice", Stage::Twice, "/stall"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cancel, AfterCompletionChangesNothing) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    auto task = s.session->dataTaskWithURL(peer.url("/small"));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    task->cancel();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(s.delegate->completions(task->taskIdentifier()), 1);
    EXPECT_FALSE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
}

TEST(Cancel, InvalidateAndCancelEndsEveryTaskThenTheSession) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (const char* path : {"/stall", "/drip?n=100&ms=20", "/small"}) tasks.push_back(s.session->dataTaskWithURL(peer.url(path)));
    tasks[0]->resume();
    tasks[1]->resume();  // tasks[2] stays suspended
    std::this_thread::sleep_for(200ms);
    s.session->invalidateAndCancel();
    ASSERT_TRUE(s.delegate->waitInvalid());
    for (auto& t : tasks) {
        EXPECT_EQ(s.delegate->completions(t->taskIdentifier()), 1);
        ASSERT_TRUE(s.delegate->error(t->taskIdentifier()));
        EXPECT_EQ(s.delegate->error(t->taskIdentifier())->code(), -999);
    }
}

}  // namespace
}  // namespace pellix::platform::urltest
