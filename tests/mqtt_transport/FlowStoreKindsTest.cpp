// What each flow store does beyond the shared contract.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTInMemoryPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

using namespace pellix;
using pellix::platform::Bytes;

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

class StoreHome : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(MQTTLogLevelError);
        platform::Paths::setHomeDirectory(home.path());
    }
    void TearDown() override { platform::Paths::setHomeDirectory(""); }
    pellix::test::TempDir home;
};

using InMemoryPersistence = StoreHome;
using SQLitePersistence = StoreHome;

TEST_F(InMemoryPersistence, StoresShareTheirFlowsAndAReplacedFlowLeavesTheStore) {
    auto a = MQTTInMemoryPersistence::create();
    auto b = MQTTInMemoryPersistence::create();
    EXPECT_EQ(a->maxSize(), 0u);
    a->setMaxSize(1);  // never tested here
    auto first = a->storeMessageForClientId("shared", "one", Bytes{1}, false, 1, 5, false, 3, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(b->flowforClientId("shared", false, 5), first);  // the stored record itself
    auto second = b->storeMessageForClientId("shared", "two", Bytes{2}, false, 1, 5, false, 3, 2);
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    first->setTopic("stale");  // no longer in the store
    EXPECT_EQ(a->flowforClientId("shared", false, 5)->topic(), "two");
    a->deleteFlow(first);  // removes whatever its triple holds now
    EXPECT_FALSE(b->flowforClientId("shared", false, 5));
    b->deleteAllFlowsForClientId("shared");
}

TEST_F(SQLitePersistence, MemoryOnlyByDefaultWritingNoFile) {
    auto store = MQTTCoreDataPersistence::create();
    EXPECT_FALSE(store->persistent());
    EXPECT_EQ(store->maxSize(), 64u * 1024 * 1024);
    ASSERT_TRUE(store->storeMessageForClientId("c", "t", Bytes(1000, 7), false, 1, 1, false, 3, 1));
    store->sync();
    EXPECT_EQ(store->fileSize(), 0u);
    EXPECT_FALSE(exists(MQTTCoreDataPersistence::storePath()));
    // Another store object has memory of its own.
    EXPECT_FALSE(MQTTCoreDataPersistence::create()->flowforClientId("c", false, 1));
}

TEST_F(SQLitePersistence, ProxiesOfOneRowSeeTheSameRow) {
    auto store = MQTTCoreDataPersistence::create();
    auto a = store->storeMessageForClientId("c", "t", Bytes{1}, false, 2, 9, false, 3, 1);
    auto b = store->flowforClientId("c", false, 9);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    a->setCommandType(6);
    EXPECT_EQ(b->commandType(), 6);
    store->deleteFlow(b);
    EXPECT_FALSE(a->commandType());  // the row is gone
    a->setTopic("x");                // and changing it does nothing
    EXPECT_TRUE(store->allFlowsforClientId("c", false).empty());
}

// Changing `persistent` after the store was first used would hide the flows
// it holds (or send new ones to memory only); the kind stays what it was.
TEST_F(SQLitePersistence, TheKindIsFixedAtFirstUse) {
    for (const bool fileBacked : {false, true}) {
        SCOPED_TRACE(fileBacked ? "file-backed first" : "memory-only first");
        auto store = MQTTCoreDataPersistence::create();
        store->setPersistent(fileBacked);
        ASSERT_TRUE(store->storeMessageForClientId("kind", "t", Bytes{1}, false, 1, 1, false, 3, 10));
        store->sync();
        store->setPersistent(!fileBacked);
        EXPECT_EQ(store->persistent(), fileBacked);
        EXPECT_TRUE(store->flowforClientId("kind", false, 1));
        ASSERT_TRUE(store->storeMessageForClientId("kind", "t", Bytes{2}, false, 1, 2, false, 3, 20));
        store->sync();
        EXPECT_EQ(store->allFlowsforClientId("kind", false).size(), 2u);
        auto later = MQTTCoreDataPersistence::create();
        later->setPersistent(true);
        EXPECT_EQ(later->allFlowsforClientId("kind", false).size(), fileBacked ? 2u : 0u);
        later->deleteAllFlowsForClientId("kind");
    }
}

TEST_F(SQLitePersistence, FileBackedFlowsAreFoundByALaterStoreOnlyOnceSynced) {
    {
        auto store = MQTTCoreDataPersistence::create();
        store->setPersistent(true);
        ASSERT_TRUE(store->storeMessageForClientId("c", "kept", Bytes{1, 2}, true, 2, 1, true, 5, 10));
        store->sync();
        EXPECT_GT(store->fileSize(), 0u);
        ASSERT_TRUE(store->storeMessageForClientId("c", "unsynced", Bytes{3}, false, 1, 2, false, 3, 20));
    }  // dropped without a sync: the second flow was never saved
    auto later = MQTTCoreDataPersistence::create();
    later->setPersistent(true);
    auto flows = later->allFlowsforClientId("c", true);
    ASSERT_EQ(flows.size(), 1u);
    EXPECT_EQ(flows[0]->topic(), "kept");
    EXPECT_FALSE(later->flowforClientId("c", false, 2));
    struct stat st {};
    ASSERT_EQ(::stat(MQTTCoreDataPersistence::storePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SQLitePersistence, StoringIsRefusedOnceTheFileExceedsMaxSize) {
    auto store = MQTTCoreDataPersistence::create();
    store->setPersistent(true);
    store->setMaxSize(64 * 1024);
    std::uint16_t id = 0;
    MQTTFlowPtr flow;
    do {
        ++id;
        flow = store->storeMessageForClientId("c", "t", Bytes(8000, 1), false, 1, id, false, 3, id);
        store->sync();
    } while (flow && id < 100);
    EXPECT_FALSE(flow);
    EXPECT_GT(store->fileSize(), 64u * 1024);
    EXPECT_GT(id, 2);
    // Freed again once the limit is raised.
    store->setMaxSize(MQTT_MAX_SIZE);
    EXPECT_TRUE(store->storeMessageForClientId("c", "t", Bytes{1}, false, 1, 1000, false, 3, 1));
}

TEST_F(SQLitePersistence, AnUnusableFileFindsNothingAndRefusesEveryStore) {
    ASSERT_EQ(::mkdir(MQTTCoreDataPersistence::storePath().c_str(), 0700), 0);  // a folder where the file goes
    auto store = MQTTCoreDataPersistence::create();
    store->setPersistent(true);
    EXPECT_FALSE(store->storeMessageForClientId("c", "t", Bytes{1}, false, 1, 1, false, 3, 1));
    EXPECT_FALSE(store->createFlowforClientId("c", false, 1));
    EXPECT_TRUE(store->allFlowsforClientId("c", false).empty());
    EXPECT_FALSE(store->flowforClientId("c", false, 1));
    EXPECT_EQ(store->windowSize("c"), 0u);
    store->deleteAllFlowsForClientId("c");
    store->sync();
}

// ---- across a restart of the process ----------------------------------------

// Runs only as the child of the test below: stores flows in the home it is
// given, syncs some, and ends the process without any clean-up.
TEST(SQLitePersistenceRestart, ChildWritesFlows) {
    const char* home = std::getenv("PELLIX_FLOW_CHILD_HOME");
    if (!home) GTEST_SKIP() << "child of SQLitePersistenceRestart.FlowsSurviveTheProcess";
    platform::Paths::setHomeDirectory(home);
    auto store = MQTTCoreDataPersistence::create();
    store->setPersistent(true);
    store->storeMessageForClientId("restart", "out/1", Bytes{1}, false, 1, 11, false, 3, 100);
    auto rel = store->storeMessageForClientId("restart", "out/2", Bytes{2, 2}, true, 2, 12, false, 3, 200);
    store->storeMessageForClientId("restart", "in/1", Bytes{3}, false, 2, 13, true, 5, 300);
    store->sync();
    rel->setCommandType(6);  // PUBREC came: PUBREL sent
    store->sync();
    store->deleteFlow(store->flowforClientId("restart", false, 11));  // PUBACK came
    store->storeMessageForClientId("restart", "lost", Bytes{4}, false, 1, 14, false, 3, 400);  // never synced
    std::fflush(nullptr);
    ::_exit(0);
}

TEST(SQLitePersistenceRestart, FlowsSurviveTheProcess) {
    MQTTLog::setLogLevel(MQTTLogLevelError);
    pellix::test::TempDir home;
    {
        pellix::test::Process child({"/proc/self/exe", "--gtest_filter=SQLitePersistenceRestart.ChildWritesFlows"},
                                    {{"PELLIX_FLOW_CHILD_HOME", home.path()}});
        ASSERT_EQ(child.wait(), 0) << child.output() << child.errorOutput();
    }
    platform::Paths::setHomeDirectory(home.path());
    auto store = MQTTCoreDataPersistence::create();
    store->setPersistent(true);
    auto out = store->allFlowsforClientId("restart", false);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->messageId(), 12);
    EXPECT_EQ(out[0]->commandType(), 6);
    EXPECT_EQ(out[0]->topic(), "out/2");
    EXPECT_EQ(out[0]->data(), (Bytes{2, 2}));
    EXPECT_EQ(out[0]->retainedFlag(), true);
    EXPECT_EQ(out[0]->qosLevel(), 2);
    EXPECT_EQ(out[0]->deadline(), 200);
    auto in = store->allFlowsforClientId("restart", true);
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0]->commandType(), 5);
    EXPECT_FALSE(store->flowforClientId("restart", false, 14));
    // A clean session throws them away for good.
    store->deleteAllFlowsForClientId("restart");
    auto again = MQTTCoreDataPersistence::create();
    again->setPersistent(true);
    EXPECT_TRUE(again->allFlowsforClientId("restart", true).empty());
    platform::Paths::setHomeDirectory("");
}

}  // namespace
