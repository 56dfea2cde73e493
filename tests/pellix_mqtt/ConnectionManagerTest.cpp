// The connection manager against a mosquitto of its own: subscriptions per
// connect, door calls published by mosquitto_pub, the hangUpCall message read
// by mosquitto_sub, reconnection after a broker restart on a manual clock,
// resign-active and become-active, replacing and clearing the session.
#include <gtest/gtest.h>

#include <string>

#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "pellix_mqtt/MqttTestKit.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/JSON.h"
#include "platform/KeyedArchive.h"
#include "PellixProxyInfo/PellixFileManager.h"
#include "platform/ManualClock.h"
#include "platform/Timer.h"
#include "support/MosquittoBroker.h"

namespace pellix {
namespace {

using test::pump;
using test::kDoorCall;
using test::pumpFor;
using test::pumpingBroker;

class ConnectionManager : public ::testing::Test {
protected:
    void SetUp() override {
        test::logIn({"app/room_id/1"});
        PellixGlobleConfig::sharedInstance()->setMqttServer("127.0.0.1");
        PellixGlobleConfig::sharedInstance()->setMqttPort(static_cast<std::uint32_t>(broker_.port()));
        platform::Application::sharedApplication().setState(platform::Application::State::Active);
        PellixMQTTManager::clearCurrentSession();
        PellixMqttMessageHandle::sharedInstance()->clearTransaction();
        PellixMQTTManager::setDelegate(recorder_);
        pumpFor(0.01);
    }
    void TearDown() override {
        PellixMQTTManager::clearCurrentSession();
        PellixMQTTManager::setDelegate({});
        pumpFor(0.05);
        platform::Application::sharedApplication().setState(platform::Application::State::Active);
        platform::Clock::setShared(nullptr);
    }

    const std::shared_ptr<PellixMQTTManager>& manager() const { return PellixMQTTManager::sharedInstance(); }

    // Connects and waits until the broker has the subscription (or, without
    // topics, until the connect is reported).
    void connect(const std::vector<std::string>& topics, const std::string& clientID = test::kOwnSip) {
        const int before = recorder_->count("connected");
        const int subscribed = subscribes(clientID);
        PellixMQTTManager::conenctWithTopics(topics, clientID);
        ASSERT_TRUE(pump([&] { return recorder_->count("connected") > before; }));
        if (!topics.empty()) {
            ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from " + clientID}, subscribed + 1));
        }
    }

    // Timers fire only when the test advances this clock (TearDown puts the system clock back).
    static std::shared_ptr<platform::ManualClock> installManualClock() {
        auto clock = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(clock);
        return clock;
    }

    int subscribes(const std::string& clientID) const { return broker_.count({"Received SUBSCRIBE from " + clientID}); }

    void publish(const std::string& topic, const std::string& payload) {
        ASSERT_EQ(test::run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(broker_.port()) + " -q 1 -t '" + topic +
                            "' -m '" + payload + "'"),
                  0);
    }

    test::MosquittoBroker broker_{pumpingBroker()};
    std::shared_ptr<test::Recorder> recorder_ = std::make_shared<test::Recorder>();
};

TEST_F(ConnectionManager, EveryConnectSubscribesTheRoomTopicsOnceAtQos2) {
    connect({"app/room_id/1", "app/room_id/2"});
    // MQTT 3.1.1, clean session off, keep-alive 60 s, the SIP number as client id.
    EXPECT_EQ(broker_.count({"as 1001 (p2, c0, k60)"}), 1) << broker_.log();
    EXPECT_EQ(broker_.count({"app/room_id/1 (QoS 2)"}), 1);
    EXPECT_EQ(broker_.count({"app/room_id/2 (QoS 2)"}), 1);
    pumpFor(0.2);
    EXPECT_EQ(subscribes("1001"), 1);
    EXPECT_EQ(recorder_->events, std::vector<std::string>{"connected"});
    EXPECT_FALSE(manager()->pxMQTTReconnectTimer());
}

TEST_F(ConnectionManager, AnEmptyTopicListConnectsWithoutSubscribing) {
    connect({});
    pumpFor(0.3);
    EXPECT_EQ(subscribes("1001"), 0);
    EXPECT_EQ(recorder_->count("connected"), 1);
    EXPECT_EQ(manager()->topics(), std::vector<std::string>{});
}

TEST_F(ConnectionManager, ADoorCallPublishedToTheRoomReachesTheDelegate) {
    connect({"app/room_id/12"});
    publish("app/room_id/12", kDoorCall);
    ASSERT_TRUE(pump([&] { return recorder_->count("door") == 1; })) << broker_.log();
    const auto& call = recorder_->doorCalls.at(0);
    EXPECT_EQ(call->callType(), 1);
    EXPECT_EQ(call->doorCallerNO(), "8001");
    EXPECT_EQ(call->doorName(), "Gate");
    EXPECT_EQ(call->doorGuid(), "g-1");
    EXPECT_EQ(call->appRoomID(), "12");
    EXPECT_TRUE(call->incomingImageObjectKey() && call->incomingImageObjectKey()->starts_with("caller/g-1/"));
    EXPECT_EQ(PellixMqttMessageHandle::sharedInstance()->transcationID(), "tx-1");

    // Another device of the room takes it: its hang-up reaches the delegate.
    publish("app/room_id/12", R"({"cmd":"hangUpCall","transactionID":"tx-1","data":{"toSipNO":"1002"}})");
    ASSERT_TRUE(pump([&] { return recorder_->count("hangup") == 1; }));
    // Rejected and unknown payloads reach nothing; a notice does.
    publish("app/room_id/12", "not json");
    publish("app/room_id/12", R"({"cmd":"openDoor","transactionID":"","data":{}})");
    publish("app/room_id/12", R"({"cmd":"notice","transactionID":"","data":{"title":"Water"}})");
    ASSERT_TRUE(pump([&] { return recorder_->count("notice") == 1; }));
    EXPECT_EQ(recorder_->notices.at(0)->title(), "Water");
    EXPECT_EQ(recorder_->events, (std::vector<std::string>{"connected", "door", "hangup", "notice"}));
}

// A room id that is not one room (empty, a wildcard, a level separator, a
// NUL) forms no topic: an authorisation change for it subscribes and
// archives nothing, a door call to it is dropped, and a hang-up for it is
// not published (a wildcard PUBLISH would make the broker drop us).
TEST_F(ConnectionManager, RoomIdsThatAreNotOneRoomFormNoTopic) {
    connect({"app/room_id/1"});
    const std::string archiveBefore = [] {
        auto a = platform::KeyedArchive::read(PellixFileManager::shareInstance()->userInfoFile());
        return a ? platform::Value(*a).description() : std::string();
    }();
    const std::vector<std::string> hostile = {"#", "+", "", "5/#", "a/b", "1+", R"(5\u0000)"};
    for (const std::string& room : hostile) {
        SCOPED_TRACE(room);
        publish("app/room_id/1", R"({"cmd":"auth_expires","transactionID":"","data":{"room_id":")" + room +
                                     R"(","type":"add"}})");
        publish("app/room_id/1", R"({"cmd":"makeCall","transactionID":"tx-h","data":{"incomingType":1,)"
                                 R"("doorSipNO":"8001","doorName":"Gate","doorGuid":"g-1","appRoomID":")" +
                                     room + R"("}})");
    }
    // A notice after them: once it is here, they have all been handled.
    publish("app/room_id/1", R"({"cmd":"notice","transactionID":"","data":{"title":"Marker"}})");
    ASSERT_TRUE(pump([&] { return recorder_->count("notice") == 1; })) << broker_.log();
    EXPECT_EQ(recorder_->events, (std::vector<std::string>{"connected", "notice"}));
    EXPECT_FALSE(PellixMqttMessageHandle::sharedInstance()->transcationID());
    EXPECT_EQ(PellixProxyInfo::sharedInstance()->userInfo()->topic(), std::vector<std::string>{"app/room_id/1"});
    EXPECT_EQ(manager()->topics(), std::vector<std::string>{"app/room_id/1"});
    const auto archived = platform::KeyedArchive::read(PellixFileManager::shareInstance()->userInfoFile());
    EXPECT_EQ(archived ? platform::Value(*archived).description() : std::string(), archiveBefore);
    pumpFor(0.1);
    EXPECT_EQ(subscribes(test::kOwnSip), 1) << broker_.log();

    test::Process watcher({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(broker_.port()), "-i", "watcher",
                           "-t", "#", "-C", "1", "-F", "%t %p"});
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from watcher"}));
    for (const std::string& room : {std::string("#"), std::string("+"), std::string(""), std::string("7/+"),
                                    std::string("a/b"), std::string("5\0", 2)})
        PellixMQTTManager::publishCallEnd(std::string(test::kOwnSip), room, std::string("tx-1"));
    PellixMQTTManager::publishCallEnd(std::string(test::kOwnSip), std::string("12"), std::string("tx-1"));
    ASSERT_TRUE(broker_.waitFor({"Received PUBLISH from 1001"})) << broker_.log();
    EXPECT_EQ(watcher.wait(), 0);
    EXPECT_EQ(watcher.output(),
              "app/room_id/12 {\"cmd\":\"hangUpCall\",\"transactionID\":\"tx-1\",\"data\":{\"toSipNO\":\"1001\"}}\n");
    pumpFor(0.1);
    EXPECT_EQ(broker_.count({"Received PUBLISH from 1001"}), 1) << broker_.log();
    EXPECT_EQ(recorder_->count("closed"), 0) << "the broker kept the connection\n" << broker_.log();
}

TEST_F(ConnectionManager, ADelegateThatImplementsNothingOrNoDelegateHearsNothing) {
    auto bare = std::make_shared<PellixMQTTDelegate>();
    PellixMQTTManager::setDelegate(bare);
    PellixMQTTManager::conenctWithTopics(std::vector<std::string>{"app/room_id/12"}, std::string("1001"));
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from 1001"}));
    publish("app/room_id/12", kDoorCall);
    ASSERT_TRUE(pump([] { return PellixMqttMessageHandle::sharedInstance()->transcationID().has_value(); }));
    PellixMqttMessageHandle::sharedInstance()->clearTransaction();
    PellixMQTTManager::setDelegate({});
    publish("app/room_id/12", kDoorCall);
    ASSERT_TRUE(pump([] { return PellixMqttMessageHandle::sharedInstance()->transcationID().has_value(); }));
}

TEST_F(ConnectionManager, TheHangUpCallMessageGoesToTheRoomTopic) {
    connect({"app/room_id/1"});
    test::Process watcher({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(broker_.port()), "-i", "watcher",
                           "-t", "app/room_id/#", "-C", "2", "-F", "%r %q %t %p"});
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from watcher"}));

    // Skipped: no room, no transaction, an empty transaction.
    PellixMQTTManager::publishCallEnd(std::string("1001"), std::nullopt, std::string("tx-0"));
    PellixMQTTManager::publishCallEnd(std::string("1001"), std::string("12"), std::nullopt);
    PellixMQTTManager::publishCallConnected(std::string("1001"), std::string("12"), std::string(""));
    PellixMQTTManager::publishCallConnected(std::string("1001"), std::string("12"), std::string("tx-1"));
    // Without a SIP number the message carries an empty one.
    PellixMQTTManager::publishCallEnd(std::nullopt, std::string("13"), std::string("tx-2"));
    ASSERT_TRUE(broker_.waitFor({"Received PUBLISH from 1001"}, 2)) << broker_.log();
    EXPECT_EQ(watcher.wait(), 0);
    EXPECT_EQ(watcher.output(),
              "0 0 app/room_id/12 {\"cmd\":\"hangUpCall\",\"transactionID\":\"tx-1\",\"data\":{\"toSipNO\":\"1001\"}}\n"
              "0 0 app/room_id/13 {\"cmd\":\"hangUpCall\",\"transactionID\":\"tx-2\",\"data\":{\"toSipNO\":\"\"}}\n");
    pumpFor(0.1);
    EXPECT_EQ(broker_.count({"Received PUBLISH from 1001"}), 2);

    // Without a session nothing is published.
    PellixMQTTManager::clearCurrentSession();
    PellixMQTTManager::publishCallEnd(std::string("1001"), std::string("12"), std::string("tx-3"));
    pumpFor(0.1);
    EXPECT_EQ(broker_.count({"Received PUBLISH from 1001"}), 2);
}

TEST_F(ConnectionManager, AfterABrokerRestartItReconnectsTwoSecondsLaterAndSubscribesAgain) {
    auto clock = installManualClock();
    connect({"app/room_id/1"});

    broker_.restart();
    ASSERT_TRUE(pump([&] { return recorder_->count("closed") == 1; }));
    auto timer = manager()->pxMQTTReconnectTimer();
    ASSERT_TRUE(timer && timer->isValid());
    EXPECT_DOUBLE_EQ(timer->timeInterval(), 2.0);

    clock->advance(1.9);
    pumpFor(0.3);
    EXPECT_EQ(broker_.count({"as 1001"}), 0);
    clock->advance(0.1);
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from 1001"})) << broker_.log();
    EXPECT_EQ(broker_.count({"app/room_id/1 (QoS 2)"}), 1);
    EXPECT_EQ(recorder_->events, (std::vector<std::string>{"connected", "closed", "connected"}));
    // The connect disarmed the timer: nothing more happens.
    EXPECT_FALSE(manager()->pxMQTTReconnectTimer());
    clock->advance(10);
    pumpFor(0.2);
    EXPECT_EQ(broker_.count({"as 1001"}), 1);
}

TEST_F(ConnectionManager, ResignActiveDisconnectsWithoutATimerAndBecomeActiveReconnects) {
    auto clock = installManualClock();
    connect({"app/room_id/1"});

    platform::Application::sharedApplication().setState(platform::Application::State::Inactive);
    ASSERT_TRUE(pump([&] { return recorder_->count("closed") == 1; }));
    EXPECT_TRUE(broker_.waitFor({"Received DISCONNECT from 1001"}));
    EXPECT_FALSE(manager()->pxMQTTReconnectTimer());
    EXPECT_FALSE(manager()->isNeedMqttSessionReconnect());
    clock->advance(5);
    pumpFor(0.2);
    EXPECT_EQ(broker_.count({"as 1001"}), 1);

    platform::Application::sharedApplication().setState(platform::Application::State::Active);
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from 1001"}, 2));
    EXPECT_EQ(broker_.count({"as 1001"}), 2);
    EXPECT_TRUE(manager()->isNeedMqttSessionReconnect());
}

TEST_F(ConnectionManager, ATimerFiringInTheBackgroundWaitsForTheNextActivation) {
    auto clock = installManualClock();
    connect({"app/room_id/1"});
    broker_.restart();
    ASSERT_TRUE(pump([&] { return recorder_->count("closed") == 1; }));
    ASSERT_TRUE(manager()->pxMQTTReconnectTimer());

    // Straight to the background from a notification the manager does not watch.
    platform::Application::sharedApplication().setState(platform::Application::State::Inactive);
    platform::Application::sharedApplication().setState(platform::Application::State::Background);
    pumpFor(0.05);
    clock->advance(2.0);
    pumpFor(0.3);
    EXPECT_EQ(broker_.count({"as 1001"}), 0);

    platform::Application::sharedApplication().setState(platform::Application::State::Active);
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from 1001"}));
}

TEST_F(ConnectionManager, ASecondConnectEndsTheFirstSession) {
    connect({"app/room_id/1"}, "1001");
    const std::shared_ptr<MQTTSession> first = manager()->session();
    connect({"app/room_id/2"}, "1002");
    EXPECT_NE(manager()->session(), first);
    EXPECT_FALSE(first->delegate());

    // The first one was unsubscribed, then disconnected, before the second connected.
    const std::string log = broker_.log();
    const auto unsubscribe = log.find("Received UNSUBSCRIBE from 1001");
    const auto disconnect = log.find("Received DISCONNECT from 1001");
    const auto second = log.find("as 1002");
    ASSERT_NE(unsubscribe, std::string::npos) << log;
    ASSERT_NE(disconnect, std::string::npos) << log;
    EXPECT_LT(unsubscribe, disconnect);
    EXPECT_LT(disconnect, second);
    // Only the second session's room is heard.
    publish("app/room_id/1", R"({"cmd":"notice","transactionID":"","data":{"title":"one"}})");
    publish("app/room_id/2", R"({"cmd":"notice","transactionID":"","data":{"title":"two"}})");
    ASSERT_TRUE(pump([&] { return recorder_->count("notice") == 1; }));
    pumpFor(0.2);
    ASSERT_EQ(recorder_->notices.size(), 1u);
    EXPECT_EQ(recorder_->notices[0]->title(), "two");
}

TEST_F(ConnectionManager, ResubscribingReplacesTheListAndClearingUnsubscribesOnlyIt) {
    connect({"app/room_id/1"});
    PellixMQTTManager::resubcribleTopics(std::vector<std::string>{"app/room_id/5"});
    EXPECT_EQ(manager()->topics(), std::vector<std::string>{"app/room_id/5"});
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from 1001"}, 2));
    publish("app/room_id/5", R"({"cmd":"notice","transactionID":"","data":{"title":"five"}})");
    ASSERT_TRUE(pump([&] { return recorder_->count("notice") == 1; }));
    // The old room stays subscribed: nothing unsubscribes it.
    publish("app/room_id/1", R"({"cmd":"notice","transactionID":"","data":{"title":"one"}})");
    ASSERT_TRUE(pump([&] { return recorder_->count("notice") == 2; }));

    // An empty list replaces the kept one and subscribes nothing.
    PellixMQTTManager::resubcribleTopics(std::vector<std::string>{});
    PellixMQTTManager::resubcribleTopics(std::vector<std::string>{"app/room_id/5"});
    ASSERT_TRUE(broker_.waitFor({"Received SUBSCRIBE from 1001"}, 3));
    PellixMQTTManager::clearCurrentSession();
    ASSERT_TRUE(broker_.waitFor({"Client 1001 disconnected"}));
    const std::string log = broker_.log();
    const auto unsubscribe = log.find("Received UNSUBSCRIBE from 1001");
    ASSERT_NE(unsubscribe, std::string::npos);
    const std::string rest = log.substr(unsubscribe, log.find("Received DISCONNECT", unsubscribe) - unsubscribe);
    EXPECT_NE(rest.find("app/room_id/5"), std::string::npos) << rest;
    EXPECT_EQ(rest.find("app/room_id/1"), std::string::npos) << rest;
    EXPECT_FALSE(manager()->session());
    EXPECT_FALSE(manager()->topics());
    // Without a session only the list changes.
    PellixMQTTManager::resubcribleTopics(std::vector<std::string>{"app/room_id/6"});
    pumpFor(0.1);
    EXPECT_EQ(manager()->topics(), std::vector<std::string>{"app/room_id/6"});
}

TEST_F(ConnectionManager, ARefusedConnectIsReportedAndAnEmptyClientIdIsNeverRetried) {
    auto clock = installManualClock();
    // The broker rejects an empty client id that asks to keep its session.
    PellixMQTTManager::conenctWithTopics(std::vector<std::string>{"app/room_id/1"}, std::string(""));
    ASSERT_TRUE(pump([&] { return recorder_->count("refused") == 1; })) << broker_.log();
    ASSERT_TRUE(recorder_->errors.at(0));
    EXPECT_EQ(recorder_->errors[0]->domain(), "MQTT");
    EXPECT_EQ(recorder_->errors[0]->code(), MQTTSessionErrorConnackIdentifierRejected);
    pump([&] { return recorder_->count("closed") == 1; }, 2);
    const int attempts = broker_.count({"New connection from"});
    clock->advance(2.0);
    pumpFor(0.3);
    EXPECT_EQ(broker_.count({"New connection from"}), attempts);
    EXPECT_EQ(recorder_->count("connected"), 0);
}

}  // namespace
}  // namespace pellix
