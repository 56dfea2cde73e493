// A process that dies with a QoS 1 message unacknowledged: the next process
// with the same client id and the file-backed store sends it again as soon as
// the broker accepts it, not when the old deadline (the duplicate time-out,
// 20 s here) passes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "SessionTestKit.h"
#include "platform/Paths.h"

namespace pellix::test {
namespace {

std::shared_ptr<MQTTSession> restartingSession(int port) {
    auto session = makeSession(port, "restarting", 4);
    auto store = MQTTCoreDataPersistence::create();
    store->setPersistent(true);
    session->setPersistence(store);
    session->setCleanSessionFlag(false);
    return session;
}

// Runs only as the child of the test below: publishes through a proxy that
// swallows the PUBLISH, and dies once it is sent.
TEST(SessionRestart, ChildPublishesAndDies) {
    const char* home = std::getenv("PELLIX_RESTART_HOME");
    const char* port = std::getenv("PELLIX_RESTART_PORT");
    if (!home || !port) GTEST_SKIP() << "child of SessionRestart.UnfinishedFlowsAreResentOnTheFirstCONNACK";
    MQTTLog::setLogLevel(0);
    platform::Paths::setHomeDirectory(home);
    auto session = restartingSession(std::atoi(port));
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connectAndWait(session);
    ASSERT_NE(session->publishData(bytes("survivor"), "restart/t", false, 1), 0);
    ASSERT_TRUE(pump([&] { return !recorder->sent().empty() && recorder->sent().back().type == MQTTPublish; }));
    std::fflush(nullptr);
    ::_exit(0);
}

TEST(SessionRestart, UnfinishedFlowsAreResentOnTheFirstCONNACK) {
    MQTTLog::setLogLevel(0);
    TempDir home;
    Broker broker;
    Proxy proxy(broker.port());
    proxy.setFilter([](Proxy::Direction direction, const platform::Bytes& packet) {
        return direction == Proxy::ToBroker && packet[0] >> 4 == MQTTPublish ? Proxy::Drop : Proxy::Forward;
    });
    auto subscriber = makeSession(broker.port(), "restart-subscriber", 4);
    auto recorder = std::make_shared<Recorder>();
    subscriber->setDelegate(recorder);
    connectAndWait(subscriber);
    ASSERT_TRUE(subscriber->subscribeAndWaitToTopic("restart/t", 1, 5));
    {
        Process child({"/proc/self/exe", "--gtest_filter=SessionRestart.ChildPublishesAndDies"},
                      {{"PELLIX_RESTART_HOME", home.path()}, {"PELLIX_RESTART_PORT", std::to_string(proxy.port())}});
        ASSERT_EQ(child.wait(), 0) << child.output() << child.errorOutput();
    }
    EXPECT_EQ(recorder->count("restart/t"), 0u);

    platform::Paths::setHomeDirectory(home.path());
    auto session = restartingSession(broker.port());
    ASSERT_EQ(session->persistence()->allFlowsforClientId("restarting", false).size(), 1u);
    connectAndWait(session);
    EXPECT_TRUE(pump([&] { return recorder->count("restart/t") == 1; }, 5)) << "not resent on the CONNACK";
    EXPECT_TRUE(pump([&] { return session->persistence()->allFlowsforClientId("restarting", false).empty(); }, 5));
    session->close();
    subscriber->close();
    platform::Paths::setHomeDirectory("");
}

}  // namespace
}  // namespace pellix::test
