// A task's progress objects act on the task they belong to: pausing one
// suspends a running transfer, resuming it lets the transfer finish,
// cancelling it ends the task as cancelled; each acts once and only when
// the progress allows it.
#include <gtest/gtest.h>

#include <atomic>

#include "ManagerFixture.h"
#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVURLSessionManager.h"
#include "platform/URLError.h"

namespace pellix::tvtest {
namespace {

using platform::URLRequest;
using platform::URLSessionTask;

URLRequest requestFor(const std::string& url, const std::string& method = "GET") {
    URLRequest r(*platform::URL::parse(url));
    r.setHTTPMethod(method);
    return r;
}

struct Outcome {
    std::atomic<int> calls{0};
    TVResponseObject object;
    platform::ErrorPtr error;
    TVURLSessionCompletionHandler handler() {
        return [this](const TVResponse&, const TVResponseObject& o, platform::ErrorPtr e) {
            object = o;
            error = e;
            ++calls;
        };
    }
    std::int64_t code() const { return error ? error->code() : 0; }
};

class TVProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        certs();
        peer_ = httpsPeer(certs().leaf);
        manager_ = TVURLSessionManager::create();
        manager_->setResponseSerializer(TVHTTPResponseSerializer::serializer());
    }
    void TearDown() override {
        manager_->invalidateSessionCancelingTasks(true);
        pumpUntil([&] { return manager_->tasks().empty(); }, 30);
        // A task's completion notification is queued on the main queue
        // behind its handler: deliver it here, not to the next test's
        // observers.
        pumpFor(0.2);
    }
    std::unique_ptr<NodePeer> peer_;
    std::shared_ptr<TVURLSessionManager> manager_;
};

TEST_F(TVProgressTest, PausingTheDownloadSuspendsTheTransferAndResumingLetsItFinish) {
    // One byte every 20 ms: the whole answer takes about two seconds.
    constexpr int kBytes = 100;
    Outcome out;
    auto task = manager_->dataTaskWithRequest(
        requestFor(peer_->url("/drip?n=" + std::to_string(kBytes) + "&ms=20")), nullptr, nullptr, out.handler());
    auto progress = manager_->downloadProgressForTask(task);
    ASSERT_TRUE(progress);
    EXPECT_TRUE(progress->isPausable());
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return progress->completedUnitCount() > 0; }, 60));

    progress->pause();
    EXPECT_TRUE(progress->isPaused());
    EXPECT_EQ(task->state(), URLSessionTask::State::Suspended);
    // Paused for twice the whole answer's time: it cannot have finished.
    pumpFor(4);
    EXPECT_EQ(out.calls, 0) << "the transfer went on while paused";
    EXPECT_LT(progress->completedUnitCount(), kBytes);

    progress->resume();
    EXPECT_FALSE(progress->isPaused());
    // Running, or already done: what arrived during the pause may finish it at once.
    EXPECT_NE(task->state(), URLSessionTask::State::Suspended);
    ASSERT_TRUE(pumpUntil([&] { return out.calls > 0; }, 60));
    EXPECT_FALSE(out.error) << out.error->description();
    EXPECT_EQ(progress->completedUnitCount(), kBytes);
    EXPECT_EQ(progress->fractionCompleted(), 1.0);
    const platform::Value* body = out.object.value();
    ASSERT_TRUE(body && body->isBytes());
    EXPECT_EQ(body->asBytes(), Bytes(kBytes, 'x'));
}

TEST_F(TVProgressTest, ResumingWhatWasNotPausedAndPausingWhatIsNotPausableDoNothing) {
    Outcome out;
    auto task = manager_->dataTaskWithRequest(requestFor(peer_->url("/drip?n=50&ms=10")), nullptr, nullptr,
                                              out.handler());
    auto progress = manager_->downloadProgressForTask(task);
    ASSERT_TRUE(progress);
    // The task comes back suspended; only a pause makes the progress resume it.
    progress->resume();
    EXPECT_EQ(task->state(), URLSessionTask::State::Suspended);
    task->resume();
    progress->setPausable(false);
    progress->pause();
    EXPECT_FALSE(progress->isPaused());
    EXPECT_EQ(task->state(), URLSessionTask::State::Running);
    ASSERT_TRUE(pumpUntil([&] { return out.calls > 0; }, 60));
    EXPECT_FALSE(out.error);
}

TEST_F(TVProgressTest, CancellingEitherProgressCancelsTheTaskOnce) {
    struct Case {
        const char* name;
        bool upload;
    };
    for (const Case& c : {Case{"download progress of a data task", false}, Case{"upload progress of an upload", true}}) {
        SCOPED_TRACE(c.name);
        Outcome out;
        auto task = c.upload ? manager_->uploadTaskWithRequest(requestFor(peer_->url("/stall"), "POST"),
                                                                Bytes(4096, 'u'), nullptr, out.handler())
                             : manager_->dataTaskWithRequest(requestFor(peer_->url("/stall-body")), nullptr, nullptr,
                                                             out.handler());
        auto progress = c.upload ? manager_->uploadProgressForTask(task) : manager_->downloadProgressForTask(task);
        ASSERT_TRUE(progress);
        EXPECT_TRUE(progress->isCancellable());
        task->resume();
        // Under way: the upload's body has gone out, the download's first bytes came.
        ASSERT_TRUE(pumpUntil([&] { return progress->completedUnitCount() > 0; }, 60));
        progress->cancel();
        progress->cancel();
        EXPECT_TRUE(progress->isCancelled());
        ASSERT_TRUE(pumpUntil([&] { return out.calls > 0; }, 60));
        pumpFor(0.3);
        EXPECT_EQ(out.calls, 1);
        EXPECT_EQ(out.code(), static_cast<std::int64_t>(platform::URLError::Cancelled));
        EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
    }
}

TEST_F(TVProgressTest, AProgressThatIsNotCancellableLeavesTheTaskAlone) {
    Outcome out;
    auto task = manager_->dataTaskWithRequest(requestFor(peer_->url("/drip?n=50&ms=10")), nullptr, nullptr,
                                              out.handler());
    auto progress = manager_->downloadProgressForTask(task);
    ASSERT_TRUE(progress);
    progress->setCancellable(false);
    task->resume();
    ASSERT_TRUE(pumpUntil([&] { return progress->completedUnitCount() > 0; }, 60));
    progress->cancel();
    EXPECT_FALSE(progress->isCancelled());
    ASSERT_TRUE(pumpUntil([&] { return out.calls > 0; }, 60));
    EXPECT_FALSE(out.error) << out.error->description();
    EXPECT_EQ(progress->completedUnitCount(), 50);
}

}  // namespace
}  // namespace pellix::tvtest
