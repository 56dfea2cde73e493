// The order of delegate callbacks for each kind of task, and what the
// completion-handler forms deliver.
#include <filesystem>
#include <fstream>

#include "SessionFixture.h"

namespace pellix::platform::urltest {
namespace {

using Events = std::vector<std::string>;

class CallbackOrder : public ::testing::Test {
protected:
    Peer peer{certs().leaf};
    SessionUnderTest s;
    void SetUp() override { s.delegate->implemented.insert(URLSessionDelegate::Method::DidReceiveResponse); }
};

TEST_F(CallbackOrder, DataTaskGoesChallengeResponseDataComplete) {
    auto task = s.session->dataTaskWithURL(peer.url("/bytes/300000"));
    EXPECT_EQ(task->state(), URLSessionTask::State::Suspended);
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->events(task->taskIdentifier()), (Events{"challenge", "response 200", "data", "complete"}));
    std::string body = s.delegate->body(task->taskIdentifier());
    ASSERT_EQ(body.size(), 300000u);
    for (std::size_t i = 0; i < body.size(); i += 997) ASSERT_EQ(static_cast<unsigned char>(body[i]), i % 251) << i;
    EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
    EXPECT_EQ(task->countOfBytesReceived(), 300000);
    EXPECT_EQ(task->countOfBytesExpectedToReceive(), 300000);
    EXPECT_EQ(task->response()->statusCode(), 200);
    EXPECT_EQ(task->response()->mimeType(), "application/octet-stream");
}

TEST_F(CallbackOrder, UploadTaskSendsBodyBeforeResponse) {
    std::string payload(200000, 'u');
    URLRequest request(peer.url("/echo"));
    request.setHTTPMethod("PUT");
    auto task = s.session->uploadTaskWithRequest(request, bytesOf(payload));
    EXPECT_EQ(task->countOfBytesExpectedToSend(), 200000);
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->events(task->taskIdentifier()),
              (Events{"challenge", "sent", "response 200", "data", "complete"}));
    EXPECT_EQ(s.delegate->sent(task->taskIdentifier()), 200000);
    std::string echo = s.delegate->body(task->taskIdentifier());
    EXPECT_NE(echo.find("\"method\":\"PUT\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"length\":200000"), std::string::npos) << echo;
}

TEST_F(CallbackOrder, DownloadTaskFinishesFileBeforeCompletion) {
    test::TempDir keep;
    std::string kept = keep.file("kept.bin");
    std::string location;
    s.delegate->onDownloaded = [&](const URL& url) {
        location = url.path();
        std::filesystem::copy_file(location, kept);
    };
    auto task = s.session->downloadTaskWithRequest(URLRequest(peer.url("/bytes/100000")));
    task->resume();
    ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->events(task->taskIdentifier()), (Events{"challenge", "written", "downloaded", "complete"}));
    EXPECT_EQ(test::readFile(kept).size(), 100000u);
    EXPECT_FALSE(std::filesystem::exists(location)) << "the temporary file outlived the callback";
}

TEST_F(CallbackOrder, CompletionHandlersGetBodyOrFileInsteadOfDelegateCalls) {
    std::mutex m;
    std::condition_variable cv;
    std::optional<Bytes> data;
    std::string downloaded;
    int calls = 0;
    auto dataTask = s.session->dataTaskWithURL(peer.url("/small"),
                                               [&](std::optional<Bytes> d, auto response, ErrorPtr error) {
                                                   std::lock_guard lock(m);
                                                   EXPECT_FALSE(error);
                                                   EXPECT_EQ(response->statusCode(), 200);
                                                   EXPECT_EQ(response->textEncodingName(), "utf-8");
                                                   data = std::move(d);
                                                   ++calls;
                                                   cv.notify_all();
                                               });
    auto downloadTask = s.session->downloadTaskWithRequest(
        URLRequest(peer.url("/bytes/5000")), [&](std::optional<URL> location, auto, ErrorPtr error) {
            std::lock_guard lock(m);
            EXPECT_FALSE(error);
            if (location) downloaded = test::readFile(location->path());
            ++calls;
            cv.notify_all();
        });
    dataTask->resume();
    downloadTask->resume();
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return calls == 2; }));
    ASSERT_TRUE(data);
    EXPECT_EQ(std::string(data->begin(), data->end()), "hello");
    EXPECT_EQ(downloaded.size(), 5000u);
    // The delegate saw the challenge only.
    EXPECT_EQ(s.delegate->events(dataTask->taskIdentifier()), (Events{"challenge"}));
}

TEST_F(CallbackOrder, PerTaskOrderHoldsOnAWideDelegateQueue) {
    auto wide = OperationQueue::create("wide");
    wide->setMaxConcurrentOperationCount(8);
    SessionUnderTest w(URLSessionConfiguration::defaultSessionConfiguration(), wide);
    w.delegate->implemented.insert(URLSessionDelegate::Method::DidReceiveResponse);
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (int i = 0; i < 20; ++i) {
        tasks.push_back(w.session->dataTaskWithURL(peer.url("/bytes/" + std::to_string(50000 + i))));
        tasks.back()->resume();
    }
    for (auto& t : tasks) {
        ASSERT_TRUE(w.delegate->waitComplete(t->taskIdentifier()));
        auto events = w.delegate->events(t->taskIdentifier());
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events[events.size() - 3], "response 200");
        EXPECT_EQ(events.back(), "complete");
        EXPECT_EQ(w.delegate->body(t->taskIdentifier()).size(), 50000u + (t->taskIdentifier() - 1));
    }
}

TEST_F(CallbackOrder, FiveHundredConcurrentRequestsEachCompleteOnce) {
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    for (int i = 0; i < 500; ++i) {
        tasks.push_back(s.session->dataTaskWithURL(peer.url("/small")));
        tasks.back()->resume();
    }
    for (auto& t : tasks) {
        ASSERT_TRUE(s.delegate->waitComplete(t->taskIdentifier(), 30s)) << t->taskIdentifier();
        EXPECT_FALSE(s.delegate->error(t->taskIdentifier()));
        EXPECT_EQ(s.delegate->body(t->taskIdentifier()), "hello");
    }
    std::this_thread::sleep_for(50ms);
    for (auto& t : tasks) EXPECT_EQ(s.delegate->completions(t->taskIdentifier()), 1);
}

TEST_F(CallbackOrder, InvalidationComesLastAndClosesTheSession) {
    auto task = s.session->dataTaskWithURL(peer.url("/drip?n=5&ms=20"));
    task->resume();
    s.session->finishTasksAndInvalidate();
    EXPECT_THROW(s.session->dataTaskWithURL(peer.url("/small")), Exception);
    ASSERT_TRUE(s.delegate->waitInvalid());
    EXPECT_EQ(s.delegate->completions(task->taskIdentifier()), 1);
    EXPECT_FALSE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "xxxxx");
    EXPECT_EQ(s.session->delegate(), nullptr);
}

}  // namespace
}  // namespace pellix::platform::urltest
