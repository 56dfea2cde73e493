// One conformance suite run over both flow stores (the SQLite store, memory
// only and file-backed, and the in-memory maps), then what each store does
// on its own: shared maps, proxies onto one row, the size limit, and flows
// that outlive the process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTInMemoryPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

using namespace pellix;
using pellix::platform::Bytes;

namespace {

struct SQLiteMemoryStore {
    static constexpr bool kByDeadline = true;
    static std::shared_ptr<MQTTPersistence> make() { return MQTTCoreDataPersistence::create(); }
};
struct SQLiteFileStore {
    static constexpr bool kByDeadline = true;
    static std::shared_ptr<MQTTPersistence> make() {
        auto store = MQTTCoreDataPersistence::create();
        store->setPersistent(true);
        return store;
    }
};
struct InMemoryStore {
    static constexpr bool kByDeadline = false;
    static std::shared_ptr<MQTTPersistence> make() { return MQTTInMemoryPersistence::create(); }
};

// A flow with only its triple set (the stores' own creation step).
MQTTFlowPtr createBare(const std::shared_ptr<MQTTPersistence>& store, const std::string& client, bool incoming,
                       std::uint16_t id) {
    if (auto s = std::dynamic_pointer_cast<MQTTCoreDataPersistence>(store)) return s->createFlowforClientId(client, incoming, id);
    if (auto s = std::dynamic_pointer_cast<MQTTInMemoryPersistence>(store)) return s->createFlowforClientId(client, incoming, id);
    return nullptr;
}

template <typename Store>
class FlowStore : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(MQTTLogLevelError);
        platform::Paths::setHomeDirectory(home_.path());
        store = Store::make();
        // The in-memory maps are shared by the whole process: start clean.
        for (const char* c : {"c1", "c2", "c3"}) store->deleteAllFlowsForClientId(c);
    }
    void TearDown() override { platform::Paths::setHomeDirectory(""); }

    MQTTFlowPtr put(const std::string& client, std::uint16_t id, bool incoming = false, std::uint8_t command = 3,
                    double deadline = 100, const std::string& topic = "t") {
        auto flow = store->storeMessageForClientId(client, topic, Bytes{1, 2, 3}, false, 1, id, incoming, command,
                                                   deadline);
        store->sync();
        return flow;
    }
    std::vector<std::uint16_t> ids(const std::string& client, bool incoming) {
        std::vector<std::uint16_t> out;
        for (const auto& f : store->allFlowsforClientId(client, incoming)) out.push_back(*f->messageId());
        return out;
    }

    pellix::test::TempDir home_;
    std::shared_ptr<MQTTPersistence> store;
};

using Stores = ::testing::Types<SQLiteMemoryStore, SQLiteFileStore, InMemoryStore>;
TYPED_TEST_SUITE(FlowStore, Stores);

TYPED_TEST(FlowStore, StoresFindsAndChangesAFlow) {
    auto& s = *this->store;
    EXPECT_EQ(s.maxMessages(), 1024u);
    EXPECT_EQ(s.maxWindowSize(), 16u);
    const Bytes payload{0, 0xff, 0x10, 0};
    auto flow = s.storeMessageForClientId("c1", "room/1", payload, true, 2, 4711, true, 5, 1234.5);
    ASSERT_TRUE(flow);
    s.sync();
    auto found = s.flowforClientId("c1", true, 4711);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->clientId(), "c1");
    EXPECT_EQ(found->incomingFlag(), true);
    EXPECT_EQ(found->retainedFlag(), true);
    EXPECT_EQ(found->commandType(), 5);
    EXPECT_EQ(found->qosLevel(), 2);
    EXPECT_EQ(found->messageId(), 4711);
    EXPECT_EQ(found->topic(), "room/1");
    EXPECT_EQ(found->data(), payload);
    EXPECT_EQ(found->deadline(), 1234.5);
    // What the session changes on a flow it holds is the store's content.
    flow->setCommandType(6);
    flow->setDeadline(99.25);
    s.sync();
    EXPECT_EQ(s.flowforClientId("c1", true, 4711)->commandType(), 6);
    EXPECT_EQ(s.flowforClientId("c1", true, 4711)->deadline(), 99.25);
    // Empty payloads and topics come back empty, not missing.
    auto empty = s.storeMessageForClientId("c1", "", Bytes{}, false, 1, 1, false, 0, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(s.flowforClientId("c1", false, 1)->data(), Bytes{});
    EXPECT_EQ(s.flowforClientId("c1", false, 1)->topic(), "");
    EXPECT_FALSE(s.flowforClientId("c1", false, 4711));
    EXPECT_FALSE(s.flowforClientId("c2", true, 4711));
}

TYPED_TEST(FlowStore, OneFlowPerTripleAndDirectionsAreDistinct) {
    auto& s = *this->store;
    this->put("c1", 7, false, 3, 10, "first");
    this->put("c1", 7, false, 6, 20, "second");
    this->put("c1", 7, true, 5, 30, "incoming");
    ASSERT_EQ(s.allFlowsforClientId("c1", false).size(), 1u);
    auto out = s.flowforClientId("c1", false, 7);
    EXPECT_EQ(out->topic(), "second");
    EXPECT_EQ(out->commandType(), 6);
    EXPECT_EQ(out->deadline(), 20);
    EXPECT_EQ(s.flowforClientId("c1", true, 7)->topic(), "incoming");
}

TYPED_TEST(FlowStore, MaxMessagesAdmitsOneMoreThanTheLimitPerDirection) {
    auto& s = *this->store;
    s.setMaxMessages(0);
    EXPECT_TRUE(this->put("c1", 1, false));
    EXPECT_FALSE(this->put("c1", 2, false));
    EXPECT_TRUE(this->put("c1", 1, true));  // the other direction counts apart
    EXPECT_TRUE(this->put("c2", 1, false));  // and so does another client
    // A refused store changes nothing, even for a triple that exists.
    EXPECT_FALSE(s.storeMessageForClientId("c1", "changed", Bytes{9}, true, 2, 1, false, 6, 5));
    EXPECT_EQ(s.flowforClientId("c1", false, 1)->topic(), "t");
    EXPECT_EQ(this->ids("c1", false), std::vector<std::uint16_t>{1});

    s.setMaxMessages(1024);
    for (std::uint16_t id = 1; id <= 1025; ++id) ASSERT_TRUE(this->put("c3", id)) << id;
    EXPECT_FALSE(this->put("c3", 1026));
    EXPECT_EQ(s.allFlowsforClientId("c3", false).size(), 1025u);
}

TYPED_TEST(FlowStore, WindowSizeCountsOutgoingFlowsInFlight) {
    auto& s = *this->store;
    EXPECT_EQ(s.windowSize("c1"), 0u);
    this->put("c1", 1, false, 0);  // queued
    this->put("c1", 2, false, 3);
    this->put("c1", 3, false, 6);
    this->put("c1", 4, true, 5);  // incoming
    ASSERT_TRUE(createBare(this->store, "c1", false, 5));  // commandType unset
    EXPECT_FALSE(s.flowforClientId("c1", false, 5)->commandType());
    EXPECT_EQ(s.windowSize("c1"), 2u);
}

TYPED_TEST(FlowStore, DeletingOneFlowOrAllOfAClient) {
    auto& s = *this->store;
    this->put("c1", 1, false);
    auto doomed = this->put("c1", 2, false);
    this->put("c1", 2, true);
    this->put("c2", 2, false);
    s.deleteFlow(doomed);
    EXPECT_FALSE(s.flowforClientId("c1", false, 2));
    EXPECT_TRUE(s.flowforClientId("c1", true, 2));
    EXPECT_EQ(this->ids("c1", false), std::vector<std::uint16_t>{1});

    s.deleteAllFlowsForClientId("c1");
    EXPECT_TRUE(s.allFlowsforClientId("c1", false).empty());
    EXPECT_TRUE(s.allFlowsforClientId("c1", true).empty());
    EXPECT_TRUE(s.flowforClientId("c2", false, 2));
    s.deleteAllFlowsForClientId("nobody");
    EXPECT_TRUE(this->put("c1", 9));  // the client starts again from nothing
    EXPECT_EQ(this->ids("c1", false), std::vector<std::uint16_t>{9});
}

TYPED_TEST(FlowStore, ListsInTheStoresOrder) {
    this->put("c1", 300, false, 3, 5);
    this->put("c1", 2, false, 3, 10);
    this->put("c1", 17, false, 3, 20);
    if (TypeParam::kByDeadline) {
        EXPECT_EQ(this->ids("c1", false), (std::vector<std::uint16_t>{300, 2, 17}));
    } else {
        EXPECT_EQ(this->ids("c1", false), (std::vector<std::uint16_t>{2, 17, 300}));
    }
}

// The per-client counts and the indexes (queued, in flight) must answer what
// a walk of the flows answers, through every kind of change a session makes:
// storing, storing again under a used triple, stepping a flow on, moving its
// deadline, deleting one flow or all of a client.
TYPED_TEST(FlowStore, CountsAndQueueAnswerWhatTheWalkAnswers) {
    auto& s = *this->store;
    std::uint32_t seed = 17;
    const auto next = [&seed](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    double clock = 1000;
    const auto check = [&](int step) {
        for (const char* c : {"c1", "c2"}) {
            SCOPED_TRACE(std::string(c) + " after step " + std::to_string(step));
            std::uint64_t inFlight = 0;
            for (const auto& f : s.allFlowsforClientId(c, false)) inFlight += f->commandType().value_or(0) != 0;
            ASSERT_EQ(s.windowSize(c), inFlight);
            for (bool incoming : {false, true}) {
                ASSERT_EQ(s.flowCountforClientId(c, incoming), s.allFlowsforClientId(c, incoming).size());
            }
            ASSERT_EQ(s.queuedCountforClientId(c), s.MQTTPersistence::queuedCountforClientId(c));
            const auto indexed = s.queuedFlowsforClientId(c, 1000);
            const auto walked = s.MQTTPersistence::queuedFlowsforClientId(c, 1000);
            ASSERT_EQ(indexed.size(), walked.size());
            for (std::size_t i = 0; i < indexed.size(); ++i) ASSERT_EQ(indexed[i]->messageId(), walked[i]->messageId());
            const auto head = s.queuedFlowsforClientId(c, 2);
            ASSERT_EQ(head.size(), std::min<std::size_t>(2, walked.size()));
            const auto flying = s.inFlightFlowsforClientId(c);
            const auto flyingWalked = s.MQTTPersistence::inFlightFlowsforClientId(c);
            ASSERT_EQ(flying.size(), flyingWalked.size());
            for (std::size_t i = 0; i < flying.size(); ++i) ASSERT_EQ(flying[i]->messageId(), flyingWalked[i]->messageId());
        }
    };
    for (int step = 0; step < 400; ++step) {
        const std::string client = next(3) == 0 ? "c2" : "c1";
        const auto id = static_cast<std::uint16_t>(1 + next(40));
        const bool incoming = next(5) == 0;
        auto flow = s.flowforClientId(client, incoming, id);
        switch (next(6)) {
        case 0:
        case 1:  // store (again, when the triple is taken)
            s.storeMessageForClientId(client, "t", Bytes{1}, false, 1, id, incoming,
                                      incoming ? 5 : (next(2) ? 0 : 3), clock += 1);
            break;
        case 2:  // a queued flow goes out, or one in flight steps on
            if (flow) flow->setCommandType(flow->commandType().value_or(0) == 0 ? 3 : 6);
            break;
        case 3:  // back to the queue (a failed write), or a resend's new deadline
            if (flow) {
                if (next(2)) flow->setCommandType(0);
                flow->setDeadline(clock += 1);
            }
            break;
        case 4:
            if (flow) s.deleteFlow(flow);
            break;
        case 5:
            if (next(20) == 0) {
                s.deleteAllFlowsForClientId(client);
            } else if (!flow) {
                // commandType unset: counts as queued. A deadline of its own,
                // since equal deadlines leave the walk's order open.
                if (auto bare = createBare(this->store, client, incoming, id)) bare->setDeadline(clock += 1);
            }
            break;
        }
        s.sync();
        check(step);
    }
    // Equal deadlines leave the queue in the order they were stored.
    s.deleteAllFlowsForClientId("c1");
    for (std::uint16_t id : {30, 10, 20}) this->put("c1", id, false, 0, 50);
    this->put("c1", 5, false, 0, 40);
    std::vector<std::uint16_t> order;
    for (const auto& f : s.queuedFlowsforClientId("c1", 10)) order.push_back(*f->messageId());
    EXPECT_EQ(order, (std::vector<std::uint16_t>{5, 30, 10, 20}));
}

TYPED_TEST(FlowStore, ManyThreadsOnOneStore) {
    auto& s = *this->store;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&s, t] {
            const std::string client = "thread" + std::to_string(t);
            for (std::uint16_t id = 1; id <= 50; ++id) {
                auto flow = s.storeMessageForClientId(client, "t", Bytes{1}, false, 1, id, false, 3, id);
                s.sync();
                if (flow && id % 2 == 0) {
                    s.deleteFlow(flow);
                    s.sync();
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        const std::string client = "thread" + std::to_string(t);
        EXPECT_EQ(s.allFlowsforClientId(client, false).size(), 25u);
        s.deleteAllFlowsForClientId(client);
    }
}

}  // namespace
