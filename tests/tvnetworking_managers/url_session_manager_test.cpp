// TVURLSessionManager against the real HTTPS peer: completion delivery,
// serializers bound per task, notifications, downloads, task lists, trust
// and the life of managers made for one call.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "ManagerFixture.h"
#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVJSONResponseSerializer.h"
#include "TVNetworking/TVURLSessionManager.h"
#include "platform/DispatchGroup.h"
#include "platform/NotificationCenter.h"
#include "platform/URLError.h"

namespace pellix::tvtest {
namespace {

using platform::NotificationCenter;
using platform::URLRequest;

URLRequest requestFor(const std::string& url, const std::string& method = "GET") {
    URLRequest r(*platform::URL::parse(url));
    r.setHTTPMethod(method);
    return r;
}

// Records the notifications of some names, in arrival order, with the
// thread they came on.
class NotificationLog {
public:
    explicit NotificationLog(std::vector<std::string> names) {
        for (const auto& name : names)
            tokens_.push_back(NotificationCenter::defaultCenter().addObserver(
                name, nullptr, nullptr, [this](const platform::Notification& n) {
                    std::lock_guard lock(mutex_);
                    entries_.push_back({n.name(), n.object(), n.userInfo(), platform::RunLoop::isMainThread()});
                }));
    }
    ~NotificationLog() {
        for (auto t : tokens_) NotificationCenter::defaultCenter().removeObserver(t);
    }
    struct Entry {
        std::string name;
        std::shared_ptr<void> object;
        platform::Dictionary userInfo;
        bool onMain;
    };
    std::vector<Entry> entries(const std::string& name = {}) {
        std::lock_guard lock(mutex_);
        std::vector<Entry> out;
        for (const auto& e : entries_)
            if (name.empty() || e.name == name) out.push_back(e);
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
    std::vector<NotificationCenter::Token> tokens_;
};

struct Outcome {
    std::atomic<bool> done{false};
    TVResponse response;
    TVResponseObject object;
    platform::ErrorPtr error;
    bool onMain = false;
    TVURLSessionCompletionHandler handler() {
        return [this](const TVResponse& r, const TVResponseObject& o, platform::ErrorPtr e) {
            response = r;
            object = o;
            error = e;
            onMain = platform::RunLoop::isMainThread();
            done = true;
        };
    }
};

class URLSessionManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        certs();
        peer_ = httpsPeer(certs().leaf);
        manager_ = TVURLSessionManager::create();
    }
    void TearDown() override {
        if (!manager_) return;
        manager_->invalidateSessionCancelingTasks(true);
        // The cancelled tasks' completions and notifications arrive on the
        // main queue: let them come now rather than in the next test's log.
        pumpUntil([&] { return manager_->tasks().empty(); }, 5);
        pumpFor(0.2);
    }
    std::unique_ptr<NodePeer> peer_;
    std::shared_ptr<TVURLSessionManager> manager_;
};

TEST_F(URLSessionManagerTest, SuccessIsParsedAndDeliveredOnMainThenNotified) {
    NotificationLog log({TVNetworkingTaskDidCompleteNotification});
    Outcome out;
    auto task = manager_->dataTaskWithRequest(requestFor(peer_->url("/echo?x=1")), out.handler());
    ASSERT_TRUE(task);
    EXPECT_EQ(task->state(), TVURLSessionTask::State::Suspended);
    EXPECT_EQ(task->taskDescription(), manager_->taskDescriptionForSessionTasks());
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done && !log.entries().empty(); }));
    EXPECT_TRUE(out.onMain);
    ASSERT_FALSE(out.error) << out.error->description();
    ASSERT_TRUE(out.object.value());
    EXPECT_EQ(out.object.value()->get("method")->asString(), "GET");
    EXPECT_EQ(out.response->statusCode(), 200);

    auto entry = log.entries().at(0);
    EXPECT_TRUE(entry.onMain);
    EXPECT_EQ(entry.object.get(), task.get());
    EXPECT_TRUE(entry.userInfo.contains(TVNetworkingTaskDidCompleteResponseDataKey));
    EXPECT_TRUE(entry.userInfo.contains(TVNetworkingTaskDidCompleteSerializedResponseKey));
    EXPECT_FALSE(entry.userInfo.contains(TVNetworkingTaskDidCompleteErrorKey));
    auto info = task->completionUserInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->responseSerializer, manager_->responseSerializer());
    EXPECT_TRUE(manager_->tasks().empty());
}

TEST_F(URLSessionManagerTest, TransportFailureSkipsTheSerializer) {
    NotificationLog log({TVNetworkingTaskDidCompleteNotification});
    Outcome out;
    manager_->dataTaskWithRequest(requestFor(peer_->url("/close-mid-body")), out.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done && !log.entries().empty(); }));
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->domain(), "NSURLErrorDomain");
    EXPECT_TRUE(out.object.isNil());
    auto entry = log.entries().at(0);
    EXPECT_TRUE(entry.userInfo.contains(TVNetworkingTaskDidCompleteErrorKey));
    EXPECT_TRUE(entry.userInfo.contains(TVNetworkingTaskDidCompleteResponseSerializerKey));
    EXPECT_FALSE(entry.userInfo.contains(TVNetworkingTaskDidCompleteSerializedResponseKey));
}

TEST_F(URLSessionManagerTest, SerializerRejectionGivesObjectAndError) {
    auto helper = helperPeer();
    Outcome out;
    manager_->dataTaskWithRequest(requestFor(helper->url("/json-status/500")), out.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done.load(); }));
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->code(), kTVURLErrorBadServerResponse);
    ASSERT_TRUE(out.object.value());
    EXPECT_EQ(out.object.value()->get("status")->intValue(), 500);
}

TEST_F(URLSessionManagerTest, EachTaskKeepsTheSerializerItWasCreatedWith) {
    // Two overlapping requests: the first is created under the JSON
    // serializer, then the manager's serializer is replaced and the second
    // created; both run at once and the first still answers as JSON.
    Outcome first, second;
    auto json = manager_->responseSerializer();
    auto a = manager_->dataTaskWithRequest(requestFor(peer_->url("/echo?n=1")), first.handler());
    auto raw = TVHTTPResponseSerializer::serializer();
    manager_->setResponseSerializer(raw);
    auto b = manager_->dataTaskWithRequest(requestFor(peer_->url("/echo?n=2")), second.handler());
    b->resume();
    a->resume();
    ASSERT_TRUE(pumpUntil([&] { return first.done && second.done; }));
    ASSERT_FALSE(first.error);
    ASSERT_FALSE(second.error);
    ASSERT_TRUE(first.object.value());
    EXPECT_TRUE(first.object.value()->isDictionary());
    ASSERT_TRUE(second.object.value());
    EXPECT_TRUE(second.object.value()->isBytes());
    EXPECT_EQ(a->completionUserInfo()->responseSerializer, json);
    EXPECT_EQ(b->completionUserInfo()->responseSerializer, raw);
}

TEST_F(URLSessionManagerTest, CompletionQueueGroupAndNotificationOrder) {
    auto queue = platform::DispatchQueue::serial("tvtest.completion");
    auto group = platform::DispatchGroup::create();
    manager_->setCompletionQueue(queue);
    manager_->setCompletionGroup(group);

    std::mutex mutex;
    std::vector<std::string> order;
    auto note = [&](std::string s) {
        std::lock_guard lock(mutex);
        order.push_back(std::move(s));
    };
    bool onQueue = false;
    // Held open by the test until the completion block has joined it, so
    // the notify below cannot fire before that block.
    group->enter();
    auto task = manager_->dataTaskWithRequest(requestFor(peer_->url("/small")),
                                              [&](const TVResponse&, const TVResponseObject&, platform::ErrorPtr) {
                                                  onQueue = queue->isCurrent();
                                                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                                  note("handler");
                                              });
    // Only this task's notification: tasks of earlier tests may still be
    // finishing in this process. The observer goes before `note` does, even
    // when an assertion below ends the test early.
    struct Observer {
        NotificationCenter::Token token;
        ~Observer() { NotificationCenter::defaultCenter().removeObserver(token); }
    } observer{NotificationCenter::defaultCenter().addObserver(
        TVNetworkingTaskDidCompleteNotification, task.get(), nullptr, [&](const platform::Notification&) {
            note(platform::RunLoop::isMainThread() ? "notification-main" : "notification-elsewhere");
        })};
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return group->count() >= 2; }));
    std::atomic<bool> groupDone{false};
    group->notify(queue, [&] {
        note("group");
        groupDone = true;
    });
    group->leave();
    ASSERT_TRUE(pumpUntil([&] {
        std::lock_guard lock(mutex);
        return groupDone && order.size() == 3;
    }));
    EXPECT_TRUE(onQueue);
    // The handler first; the group's notify and the main-queue notification
    // both follow it, in either order.
    EXPECT_EQ(order[0], "handler");
    EXPECT_NE(std::find(order.begin(), order.end(), "notification-main"), order.end());
    EXPECT_NE(std::find(order.begin(), order.end(), "group"), order.end());
}

TEST_F(URLSessionManagerTest, WithoutOwnGroupCompletionsJoinTheSharedGroup) {
    Outcome out;
    std::atomic<bool> notified{false};
    manager_->dataTaskWithRequest(requestFor(peer_->url("/small")), out.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return url_session_manager_completion_group()->count() > 0 || out.done; }));
    url_session_manager_completion_group()->notify(platform::DispatchQueue::main(), [&] { notified = true; });
    ASSERT_TRUE(pumpUntil([&] { return notified && out.done; }));
}

TEST_F(URLSessionManagerTest, ResumeAndSuspendAreAnnouncedOnlyOnChange) {
    NotificationLog log({TVNetworkingTaskDidResumeNotification, TVNetworkingTaskDidSuspendNotification});
    auto task = manager_->dataTaskWithRequest(requestFor(peer_->url("/stall")), nullptr);
    task->resume();
    task->resume();
    task->suspend();
    task->suspend();
    task->resume();
    pumpUntil([&] { return log.entries().size() >= 3; });
    pumpFor(0.2);
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, TVNetworkingTaskDidResumeNotification);
    EXPECT_EQ(entries[1].name, TVNetworkingTaskDidSuspendNotification);
    EXPECT_EQ(entries[2].name, TVNetworkingTaskDidResumeNotification);
    for (const auto& e : entries) {
        EXPECT_TRUE(e.onMain);
        EXPECT_EQ(e.object.get(), task.get());
    }

    // A task whose description is not the manager's is not announced.
    auto other = manager_->dataTaskWithRequest(requestFor(peer_->url("/stall")), nullptr);
    other->setTaskDescription("someone else's");
    other->resume();
    pumpFor(0.2);
    EXPECT_EQ(log.entries().size(), 3u);
    task->cancel();
    other->cancel();
}

TEST_F(URLSessionManagerTest, TaskListsInKindOrderAndReadableFromCallbacks) {
    auto helper = helperPeer();
    auto download = manager_->downloadTaskWithRequest(requestFor(peer_->url("/stall")), nullptr, nullptr, nullptr);
    auto upload = manager_->uploadTaskWithRequest(requestFor(peer_->url("/stall"), "POST"), bytesOf("x"), nullptr,
                                                  nullptr);
    auto data = manager_->dataTaskWithRequest(requestFor(peer_->url("/stall")), nullptr);
    EXPECT_EQ(manager_->tasks(), (std::vector<TVURLSessionTaskPtr>{data, upload, download}));
    EXPECT_EQ(manager_->dataTasks(), std::vector<TVURLSessionTaskPtr>{data});
    EXPECT_EQ(manager_->uploadTasks(), std::vector<TVURLSessionTaskPtr>{upload});
    EXPECT_EQ(manager_->downloadTasks(), std::vector<TVURLSessionTaskPtr>{download});

    // Reading the lists from a callback on the delegate queue must not wait
    // for that same queue.
    std::atomic<std::size_t> seen{0};
    std::atomic<bool> read{false};
    manager_->setDataTaskDidReceiveDataBlock([&](const auto&, const auto&, const Bytes&) {
        seen = manager_->tasks().size();
        read = true;
    });
    Outcome out;
    manager_->dataTaskWithRequest(requestFor(peer_->url("/small")), out.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done.load(); }, 10));
    EXPECT_TRUE(read);
    EXPECT_EQ(seen, 4u);
}

TEST_F(URLSessionManagerTest, DownloadsMoveToTheDestination) {
    test::TempDir dir;
    NotificationLog log({TVNetworkingTaskDidCompleteNotification, TVURLSessionDownloadTaskDidFailToMoveFileNotification});
    manager_->setResponseSerializer(TVHTTPResponseSerializer::serializer());

    // Moved: the answer is the destination URL, the notification names it.
    Outcome moved;
    auto dest = platform::URL::fileURL(dir.file("moved.bin"));
    std::atomic<int> progressCalls{0};
    manager_
        ->downloadTaskWithRequest(
            requestFor(peer_->url("/bytes/100000")), [&](TVProgress&) { ++progressCalls; },
            [&](const platform::URL&, const TVResponse& r) -> std::optional<platform::URL> {
                EXPECT_EQ(r->statusCode(), 200);
                return dest;
            },
            moved.handler())
        ->resume();
    ASSERT_TRUE(pumpUntil([&] { return moved.done && log.entries().size() == 1; }));
    ASSERT_FALSE(moved.error) << moved.error->description();
    ASSERT_TRUE(moved.object.value());
    EXPECT_EQ(moved.object.value()->asString(), dest.absoluteString());
    EXPECT_EQ(std::filesystem::file_size(dir.file("moved.bin")), 100000u);
    EXPECT_GT(progressCalls.load(), 0);
    auto entry = log.entries().at(0);
    EXPECT_EQ(entry.userInfo.find(TVNetworkingTaskDidCompleteAssetPathKey)->asString(), dest.absoluteString());
    EXPECT_FALSE(entry.userInfo.contains(TVNetworkingTaskDidCompleteResponseDataKey));

    // No destination: nothing is moved, the serializer answers.
    Outcome kept;
    manager_
        ->downloadTaskWithRequest(
            requestFor(peer_->url("/bytes/10")), nullptr,
            [](const platform::URL&, const TVResponse&) -> std::optional<platform::URL> { return std::nullopt; },
            kept.handler())
        ->resume();
    ASSERT_TRUE(pumpUntil([&] { return kept.done.load(); }));
    EXPECT_FALSE(kept.error);
    EXPECT_FALSE(kept.object.value() && kept.object.value()->isString());

    // A move that fails is a failure of the task, not a success naming a
    // file that is not there.
    Outcome failed;
    auto nowhere = platform::URL::fileURL(dir.file("no-such-folder/file.bin"));
    manager_
        ->downloadTaskWithRequest(
            requestFor(peer_->url("/bytes/10")), nullptr,
            [&](const platform::URL&, const TVResponse&) -> std::optional<platform::URL> { return nowhere; },
            failed.handler())
        ->resume();
    ASSERT_TRUE(pumpUntil([&] { return failed.done.load(); }));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->domain(), TVNetworkingFileErrorDomain);
    EXPECT_TRUE(failed.object.isNil());
    EXPECT_EQ(log.entries(TVURLSessionDownloadTaskDidFailToMoveFileNotification).size(), 1u);
}

TEST_F(URLSessionManagerTest, ProgressFollowsTheTaskAndBodySentUsesContentLength) {
    std::atomic<std::int64_t> lastTotal{0}, blockTotal{0};
    std::atomic<bool> uploadSeen{false};
    manager_->setTaskDidSendBodyDataBlock(
        [&](const auto&, const auto&, std::int64_t, std::int64_t, std::int64_t total) { blockTotal = total; });
    Bytes body(200000, 'b');
    Outcome out;
    auto task = manager_->uploadTaskWithRequest(
        requestFor(peer_->url("/echo"), "POST"), body,
        [&](TVProgress& p) {
            uploadSeen = true;
            lastTotal = p.totalUnitCount();
        },
        out.handler());
    ASSERT_TRUE(manager_->uploadProgressForTask(task));
    EXPECT_EQ(manager_->uploadProgressForTask(task)->totalUnitCount(), platform::URLSessionTask::kTransferSizeUnknown);
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done.load(); }));
    EXPECT_TRUE(uploadSeen);
    EXPECT_EQ(lastTotal, 200000);
    EXPECT_EQ(blockTotal, 200000);
    EXPECT_EQ(out.object.value()->get("length")->intValue(), 200000);
    EXPECT_FALSE(manager_->uploadProgressForTask(task));
}

// A body stream that does not announce its length and may refuse copying.
class UnsizedStream : public platform::InputStream {
public:
    UnsizedStream(Bytes data, bool copyable)
        : data_(data), inner_(platform::InputStream::withData(std::move(data))), copyable_(copyable) {}
    void open() override { inner_->open(); }
    void close() override { inner_->close(); }
    std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override { return inner_->read(buffer, maxLength); }
    Status streamStatus() const override { return inner_->streamStatus(); }
    platform::ErrorPtr streamError() const override { return inner_->streamError(); }
    std::shared_ptr<InputStream> copy() const override {
        ++copies;
        return copyable_ ? std::make_shared<UnsizedStream>(data_, true) : nullptr;
    }
    mutable std::atomic<int> copies{0};

private:
    Bytes data_;
    std::shared_ptr<platform::InputStream> inner_;
    bool copyable_;
};

TEST_F(URLSessionManagerTest, StreamedUploadTotalsAndReplays) {
    // Unknown length with a Content-Length header: the block's total is the
    // header's value, the task's progress keeps the task's own counters.
    std::atomic<std::int64_t> blockTotal{0};
    manager_->setTaskDidSendBodyDataBlock(
        [&](const auto&, const auto&, std::int64_t, std::int64_t, std::int64_t total) { blockTotal = total; });
    auto request = requestFor(peer_->url("/echo"), "POST");
    request.setValue("5000", "Content-Length");
    request.setHTTPBodyStream(std::make_shared<UnsizedStream>(Bytes(5000, 'u'), false));
    Outcome out;
    auto task = manager_->uploadTaskWithStreamedRequest(request, nullptr, out.handler());
    auto progress = manager_->uploadProgressForTask(task);
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done.load(); }));
    ASSERT_FALSE(out.error) << out.error->description();
    EXPECT_EQ(out.object.value()->get("length")->intValue(), 5000);
    EXPECT_EQ(blockTotal.load(), 5000);
    EXPECT_EQ(progress->totalUnitCount(), platform::URLSessionTask::kTransferSizeUnknown);

    // A 307 sends the body again: from a copy of the stream when it has one,
    // otherwise the task fails.
    for (bool copyable : {true, false}) {
        auto body = std::make_shared<UnsizedStream>(Bytes(300, 'r'), copyable);
        auto redirected = requestFor(peer_->url("/redirect/307?to=/echo"), "POST");
        redirected.setHTTPBodyStream(body);
        Outcome r;
        manager_->uploadTaskWithStreamedRequest(redirected, nullptr, r.handler())->resume();
        ASSERT_TRUE(pumpUntil([&] { return r.done.load(); }));
        EXPECT_EQ(body->copies.load(), 1);
        if (copyable) {
            ASSERT_FALSE(r.error) << r.error->description();
            EXPECT_EQ(r.object.value()->get("length")->intValue(), 300);
        } else {
            ASSERT_TRUE(r.error);
            EXPECT_EQ(r.error->code(), -1021);
        }
    }
}

TEST_F(URLSessionManagerTest, UntrustedServerIsCancelledByThePolicy) {
    auto expired = httpsPeer(certs().expired);
    Outcome out;
    manager_->dataTaskWithRequest(requestFor(expired->url("/small")), out.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done.load(); }));
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->code(), platform::URLError::Cancelled);

    // The SDK's policy lets it through.
    auto sdk = TVSecurityPolicy::defaultPolicy();
    sdk->setAllowInvalidCertificates(true);
    sdk->setValidatesDomainName(false);
    manager_->setSecurityPolicy(sdk);
    Outcome ok;
    manager_->dataTaskWithRequest(requestFor(expired->url("/echo")), ok.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return ok.done.load(); }));
    EXPECT_FALSE(ok.error);

    // An override block decides instead of the policy.
    manager_->setTaskDidReceiveAuthenticationChallengeBlock(
        [](const auto&, const auto&, const platform::URLAuthenticationChallenge&, platform::URLCredentialPtr&) {
            return TVURLSessionManager::Disposition::CancelAuthenticationChallenge;
        });
    Outcome blocked;
    manager_->dataTaskWithRequest(requestFor(peer_->url("/small")), blocked.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return blocked.done.load(); }));
    ASSERT_TRUE(blocked.error);
    EXPECT_EQ(blocked.error->code(), platform::URLError::Cancelled);
}

TEST_F(URLSessionManagerTest, OptionalCallbacksFollowTheirBlocks) {
    using M = platform::URLSessionDelegate::Method;
    EXPECT_FALSE(manager_->implements(M::WillPerformHTTPRedirection));
    EXPECT_FALSE(manager_->implements(M::DidReceiveResponse));
    manager_->setTaskWillPerformHTTPRedirectionBlock(
        [](const auto&, const auto&, const TVResponse&, const URLRequest&) -> std::optional<URLRequest> {
            return std::nullopt;
        });
    EXPECT_TRUE(manager_->implements(M::WillPerformHTTPRedirection));
    // The block refuses the redirect: the redirect response is the answer.
    manager_->setResponseSerializer(TVHTTPResponseSerializer::serializer());
    Outcome out;
    manager_->dataTaskWithRequest(requestFor(peer_->url("/redirect/302?to=/small")), out.handler())->resume();
    ASSERT_TRUE(pumpUntil([&] { return out.done.load(); }));
    ASSERT_TRUE(out.response);
    EXPECT_EQ(out.response->statusCode(), 302);
}

TEST_F(URLSessionManagerTest, InvalidatedManagerForOneCallIsLetGo) {
    // A manager made for one request, invalidated right after its task is
    // started: the task still completes, then session and manager go away.
    std::weak_ptr<TVURLSessionManager> weakManager;
    std::weak_ptr<platform::URLSession> weakSession;
    // Counted without keeping the session (the notification's object).
    std::atomic<int> invalidations{0};
    auto token = NotificationCenter::defaultCenter().addObserver(
        TVURLSessionDidInvalidateNotification, nullptr, nullptr, [&](const platform::Notification&) { ++invalidations; });
    Outcome out;
    {
        auto once = TVURLSessionManager::create();
        weakManager = once;
        weakSession = once->session();
        once->dataTaskWithRequest(requestFor(peer_->url("/echo")), out.handler())->resume();
        once->invalidateSessionCancelingTasks(false);
    }
    ASSERT_TRUE(pumpUntil([&] { return out.done && weakManager.expired() && weakSession.expired(); }, 10))
        << out.done << weakManager.expired() << weakSession.expired();
    EXPECT_FALSE(out.error);
    EXPECT_EQ(invalidations.load(), 1);
    NotificationCenter::defaultCenter().removeObserver(token);

    // Cancelling: the task ends as cancelled.
    Outcome cancelled;
    {
        auto once = TVURLSessionManager::create();
        weakManager = once;
        once->dataTaskWithRequest(requestFor(peer_->url("/stall")), cancelled.handler())->resume();
        once->invalidateSessionCancelingTasks(true);
    }
    ASSERT_TRUE(pumpUntil([&] { return cancelled.done && weakManager.expired(); }, 10));
    ASSERT_TRUE(cancelled.error);
    EXPECT_EQ(cancelled.error->code(), platform::URLError::Cancelled);
}

TEST_F(URLSessionManagerTest, NullSerializerIsAProgrammingError) {
    try {
        manager_->setResponseSerializer(nullptr);
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.reason(), "Invalid parameter not satisfying: responseSerializer");
    }
    EXPECT_TRUE(manager_->responseSerializer());
}

}  // namespace
}  // namespace pellix::tvtest
