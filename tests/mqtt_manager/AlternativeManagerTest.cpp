// The alternative MQTT manager against mosquitto: the SDK's connection
// parameters through the session manager, the room topics at QoS 2 restored
// on every connect, and its option record.
#include <gtest/gtest.h>

#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixMqttManager2.h"
#include "PellixMQTTManager/PellixMqttOption.h"
#include "platform/RunLoop.h"
#include "support/MosquittoBroker.h"

using namespace pellix;
using pellix::platform::Bytes;
using pellix::test::MosquittoBroker;

namespace {

bool pump(const std::function<bool()>& pred, double seconds = 10) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

class Messages : public MQTTSessionManagerDelegate {
public:
    std::vector<std::pair<std::string, std::string>> received;  // topic, payload
    void handleMessage(const Bytes& data, const std::string& topic, bool) override {
        received.emplace_back(topic, std::string(data.begin(), data.end()));
    }
};

class AlternativeManager : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(MQTTLogLevelError);
        PellixGlobleConfig::sharedInstance()->setMqttServer("127.0.0.1");
        PellixGlobleConfig::sharedInstance()->setMqttPort(static_cast<std::uint32_t>(broker.port()));
    }
    void TearDown() override {
        manager->sessionManager()->disconnectWithDisconnectHandler(nullptr);
        manager.reset();
        pump([] { return false; }, 0.05);
    }
    bool connected() {
        return pump([&] { return manager->sessionManager()->state() == MQTTSessionManagerStateConnected; });
    }

    // The SDK's session moves on the main queue: keep it turning while the
    // broker's log is read.
    MosquittoBroker broker{{.whileWaiting = [] { pump([] { return false; }, 0.02); }}};
    std::shared_ptr<PellixMqttManager2> manager = PellixMqttManager2::create();
};

TEST_F(AlternativeManager, ConnectsLikeTheSDKAndSubscribesEveryTopicAtQoS2) {
    auto messages = std::make_shared<Messages>();
    manager->sessionManager()->setDelegate(messages);
    manager->conectToMqttSeverWithClientID(std::string("alt-1"), {"app/room_id/1", "app/room_id/2"});
    ASSERT_TRUE(connected());
    // Keep-alive 60, clean session off, level 4, no credentials, no will.
    EXPECT_TRUE(broker.waitFor({"New client connected", "as alt-1 (p2, c0, k60)"}));
    EXPECT_EQ(broker.count({"alt-1", "u'"}), 0);
    EXPECT_TRUE(broker.waitFor({"alt-1 2 app/room_id/1"}));
    EXPECT_TRUE(broker.waitFor({"alt-1 2 app/room_id/2"}));
    const auto wanted = manager->sessionManager()->subscriptions();
    EXPECT_EQ(wanted.keys(), (std::vector<std::string>{"app/room_id/1", "app/room_id/2"}));
    for (const auto& key : wanted.keys()) EXPECT_EQ(*wanted.find(key), platform::Value("2")) << key;

    // The session manager it was given: flows in memory with the usual
    // limits, retries up to 320 s, the application's life cycle followed.
    auto session = manager->sessionManager()->session();
    ASSERT_TRUE(session);
    auto store = std::dynamic_pointer_cast<MQTTCoreDataPersistence>(session->persistence());
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->persistent());
    EXPECT_EQ(store->maxWindowSize(), 16u);
    EXPECT_EQ(store->maxMessages(), 1024u);
    EXPECT_EQ(store->maxSize(), 64u * 1024 * 1024);
    EXPECT_EQ(manager->sessionManager()->reconnectTimer()->maxRetryInterval(), 320.0);
    EXPECT_TRUE(manager->sessionManager()->foregroundReconnection());
    EXPECT_EQ(session->streamSSLLevel(), std::optional<std::string>(MQTTSession::kStreamSocketSecurityLevelNegotiatedSSL));

    // A door station's message on a room topic arrives.
    ASSERT_TRUE(pump([&] { return manager->sessionManager()->effectiveSubscriptions().size() == 2; }));
    auto station = MQTTSession::initWithClientId(std::string("station"));
    station->connectToHost("127.0.0.1", broker.port(), false);
    ASSERT_TRUE(pump([&] { return station->status() == MQTTSessionStatusConnected; }));
    station->publishData(Bytes{'r', 'i', 'n', 'g'}, "app/room_id/2", false, 2);
    ASSERT_TRUE(pump([&] { return !messages->received.empty(); }));
    EXPECT_EQ(messages->received.front(), (std::pair<std::string, std::string>{"app/room_id/2", "ring"}));
    station->close();

    // Connecting again with other topics replaces the wanted map whole.
    manager->conectToMqttSeverWithClientID(std::string("alt-1"), {"app/room_id/3"});
    EXPECT_TRUE(broker.waitFor({"alt-1 2 app/room_id/3"}));
    EXPECT_EQ(manager->sessionManager()->subscriptions().keys(), std::vector<std::string>{"app/room_id/3"});
}

TEST_F(AlternativeManager, NoTopicsConnectsWithoutSubscribing) {
    manager->conectToMqttSeverWithClientID(std::string("alt-empty"), {});
    ASSERT_TRUE(connected());
    EXPECT_TRUE(manager->sessionManager()->subscriptions().empty());
    pump([] { return false; }, 0.2);
    EXPECT_EQ(broker.count({"Received SUBSCRIBE from alt-empty"}), 0);
}

TEST_F(AlternativeManager, OneSharedInstance) {
    const auto& shared = PellixMqttManager2::sharedInstance();
    EXPECT_EQ(shared, PellixMqttManager2::sharedInstance());
    ASSERT_TRUE(shared->sessionManager());
    EXPECT_EQ(shared->sessionManager()->state(), MQTTSessionManagerStateStarting);
    EXPECT_NE(shared, manager);
}

TEST(MqttOption, DefaultsAndAnEmptyRecord) {
    auto defaults = PellixMqttOption::defaultOption();
    auto empty = PellixMqttOption::create();
    EXPECT_EQ(defaults->keepAliveInterval(), 60);
    EXPECT_EQ(defaults->protocolLevel(), 4);
    EXPECT_EQ(empty->keepAliveInterval(), 0);
    EXPECT_EQ(empty->protocolLevel(), 0);
    for (const auto& option : {defaults, empty}) {
        EXPECT_FALSE(option->clientId() || option->userName() || option->password() || option->willTopic() ||
                     option->willMsg() || option->runloop() || option->runloopMode());
        EXPECT_FALSE(option->cleanSessionFlag() || option->willFlag() || option->willRetainFlag());
        EXPECT_EQ(option->willQos(), 0);
    }
}

}  // namespace
