// The session manager moved to another broker address while its old path is
// dead: what it accepted meanwhile (messages still in flight on the dead
// path and messages queued behind them) reaches the new broker exactly once,
// with the message ids sendData answered, in both flow stores. And a connect
// attempt into a dead path gives up in time for a returning path to be used.
#include <gtest/gtest.h>

#include <signal.h>

#include <map>
#include <set>

#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSessionManager.h"
#include "SessionTestKit.h"
#include "platform/DispatchQueue.h"
#include "platform/Paths.h"

namespace pellix::test {
namespace {

constexpr const char* kTopic = "move/t";

class Deliveries : public MQTTSessionManagerDelegate {
public:
    void sessionManager(MQTTSessionManager&, std::uint16_t msgID) override { ids.insert(msgID); }
    std::multiset<std::uint16_t> ids;
};

std::shared_ptr<MQTTSessionManager> managerWith(bool fileBacked) {
    return MQTTSessionManager::initWithPersistence(fileBacked, 16, 1024, 64 * 1024 * 1024, 64.0, false, std::nullopt,
                                                   platform::DispatchQueue::main());
}

void connectManager(MQTTSessionManager& manager, int port, std::int64_t keepalive = 60) {
    manager.connectTo("127.0.0.1", port, false, keepalive, false, false, std::nullopt, std::nullopt, false,
                      std::nullopt, std::nullopt, 0, false, std::string("mover"), nullptr, std::nullopt, 4, nullptr);
}

struct StoreCase {
    const char* name;
    bool fileBacked;
};

class ManagerMove : public ::testing::TestWithParam<StoreCase> {};

TEST_P(ManagerMove, MessagesAcceptedWhileThePathWasDeadReachTheNewBrokerOnce) {
    MQTTLog::setLogLevel(0);
    TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    Broker oldBroker;
    Broker newBroker;

    auto subscriber = makeSession(newBroker.port(), "move-subscriber", 4);
    auto received = std::make_shared<Recorder>();
    subscriber->setDelegate(received);
    connectAndWait(subscriber);
    ASSERT_TRUE(subscriber->subscribeAndWaitToTopic(kTopic, 2, 5));

    auto manager = managerWith(GetParam().fileBacked);
    auto deliveries = std::make_shared<Deliveries>();
    manager->setDelegate(deliveries);
    connectManager(*manager, oldBroker.port());
    ASSERT_TRUE(pump([&] { return manager->state() == MQTTSessionManagerStateConnected; }));

    // The old path goes silent: the broker still holds the connection but
    // answers nothing, so the first messages go out and stay unacknowledged
    // and the rest queue behind the full window.
    ASSERT_EQ(::kill(oldBroker.process().pid(), SIGSTOP), 0);
    constexpr int kMessages = 60;
    std::set<std::uint16_t> accepted;
    for (int i = 0; i < kMessages; ++i) {
        const auto id = manager->sendData(bytes("m" + std::to_string(i)), kTopic, i % 2 ? 2 : 1, false);
        ASSERT_NE(id, 0) << "message " << i << " refused";
        accepted.insert(id);
    }
    pumpFor(0.3);

    connectManager(*manager, newBroker.port());
    const bool all = pump([&] { return received->count(kTopic) >= static_cast<std::size_t>(kMessages); }, 30);
    pumpFor(0.5);  // a late duplicate would show now
    ::kill(oldBroker.process().pid(), SIGCONT);

    std::map<std::string, int> counts;
    for (const auto& message : received->messages()) ++counts[str(message.data)];
    for (int i = 0; i < kMessages; ++i) {
        EXPECT_EQ(counts["m" + std::to_string(i)], 1) << "message m" << i;
    }
    EXPECT_TRUE(all) << received->count(kTopic) << " of " << kMessages << " arrived";
    EXPECT_TRUE(pump([&] { return deliveries->ids.size() >= accepted.size(); }, 10));
    EXPECT_EQ(std::set<std::uint16_t>(deliveries->ids.begin(), deliveries->ids.end()), accepted);
    EXPECT_EQ(deliveries->ids.size(), accepted.size()) << "a delivery reported twice";

    manager->disconnectWithDisconnectHandler(nullptr);
    subscriber->close();
    pumpFor(0.05);
    platform::Paths::setHomeDirectory("");
}

INSTANTIATE_TEST_SUITE_P(Stores, ManagerMove,
                         ::testing::Values(StoreCase{"InMemory", false}, StoreCase{"FileBacked", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A path that takes the connection but never answers: the attempt must fail
// well before the session's own 30 s, and the manager then connects by
// itself once the path carries the broker's answers again.
TEST(ManagerConnectTimeout, AnAttemptIntoADeadPathGivesWayToTheReturningPath) {
    MQTTLog::setLogLevel(0);
    Broker broker;
    Proxy proxy(broker.port());
    proxy.setFilter([](Proxy::Direction direction, const platform::Bytes&) {
        return direction == Proxy::ToClient ? Proxy::Drop : Proxy::Forward;
    });
    auto manager = managerWith(false);
    connectManager(*manager, proxy.port(), 4);
    ASSERT_TRUE(pump([&] {
        auto error = manager->lastErrorCode();
        return error && error->code() == MQTTSessionErrorNoConnackInTime;
    }, 20)) << "the attempt into the dead path did not give up";
    proxy.setFilter([](Proxy::Direction, const platform::Bytes&) { return Proxy::Forward; });
    EXPECT_TRUE(pump([&] { return manager->state() == MQTTSessionManagerStateConnected; }, 20));
    manager->disconnectWithDisconnectHandler(nullptr);
    pumpFor(0.05);
}

}  // namespace
}  // namespace pellix::test
