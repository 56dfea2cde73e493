// The whole road from the platform to the broker: a resident logged in
// through the platform stand-in, the connection made from the user record,
// the room-list operation bringing a second room's topic, and a door call
// the stand-in publishes to that room reaching the delegate.
#include <gtest/gtest.h>

#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "pellix_mqtt/MqttTestKit.h"
#include "sdk_pipeline/PipelineFixture.h"
#include "support/MosquittoBroker.h"

namespace pellix {
namespace {

class RoomListResubscribe : public ::testing::Test {
protected:
    void SetUp() override {
        test::pipelineCerts();
        test::useProgramHome();
        broker_ = std::make_unique<test::MosquittoBroker>(test::pumpingBroker());
        standIn_ = std::make_unique<test::PlatformStandIn>(test::pipelineCerts().leaf,
                                                           std::vector<std::string>{"--broker-port", std::to_string(broker_->port())});
        for (std::uint64_t row = 0; row < 3; ++row) {
            PellixGlobleConfig::setEnvironment(row, {standIn_->baseURL(), "127.0.0.1", 1});
        }
        PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
        PellixGlobleConfig::sharedInstance()->setRequestTimeout(10);
        PellixMQTTManager::clearCurrentSession();
        PellixMqttMessageHandle::sharedInstance()->clearTransaction();

        int answers = 0;
        bool ok = false;
        const auto block = [&](bool success, const PellixErrorPtr&) {
            ++answers;
            ok = success;
        };
        PellixDataManager::registSDKWithAppId(std::string(kAppId), std::string(kSecret), nullptr, block);
        ASSERT_TRUE(test::pump([&] { return answers > 0; }, 15));
        ASSERT_TRUE(ok);
        answers = 0;
        PellixDataManager::loginSDKWithNationCode(std::nullopt, std::string("13800138000"), std::nullopt, block);
        ASSERT_TRUE(test::pump([&] { return answers > 0; }, 15));
        ASSERT_TRUE(ok);
        // Login makes the client facade the MQTT delegate a moment later;
        // these tests listen in its place once it has.
        test::pumpFor(PellixClient::kMqttConnectDelay + 0.2);
        PellixMQTTManager::clearCurrentSession();
        PellixMQTTManager::setDelegate(recorder_);
    }
    void TearDown() override {
        // The login's storage-credential fetch ends against this stand-in.
        test::pump([] { return PellixHalvaneUploadAndDownloadTool::pendingCredentialFetches() == 0; }, 30);
        PellixMQTTManager::clearCurrentSession();
        PellixMQTTManager::setDelegate({});
        PellixProxyInfo::sharedInstance()->setUserInfo(nullptr);
        test::pumpFor(0.05);
    }

    static constexpr const char* kAppId = "px-test-app-0001";
    static constexpr const char* kSecret = "px-test-secret-5f3c2a9d";

    std::unique_ptr<test::MosquittoBroker> broker_;
    std::unique_ptr<test::PlatformStandIn> standIn_;
    std::shared_ptr<test::Recorder> recorder_ = std::make_shared<test::Recorder>();
};

TEST_F(RoomListResubscribe, TheRoomListBringsASecondRoomWhoseDoorCallsThenArrive) {
    const auto& store = PellixProxyInfo::sharedInstance();
    auto user = store->userInfo();
    ASSERT_TRUE(user && user->sip_no());
    const std::string sip = *user->sip_no();
    // The stored record knows one room of the two the platform has.
    user->setTopic(std::vector<std::string>{"app/room_id/5001"});
    store->setUserInfo(user);
    PellixGlobleConfig::sharedInstance()->setMqttServer("127.0.0.1");
    PellixGlobleConfig::sharedInstance()->setMqttPort(static_cast<std::uint32_t>(broker_->port()));
    PellixMQTTManager::conenctWithTopics(user->topic(), user->sip_no());
    ASSERT_TRUE(broker_->waitFor({"Received SUBSCRIBE from " + sip})) << broker_->log();

    standIn_->admin("POST", "/__admin/publish", R"({"cmd":"makeCall","room_id":"5003","transactionID":"tx-a"})");
    ASSERT_TRUE(broker_->waitFor({"Received PUBLISH from", "app/room_id/5003"}));
    test::pumpFor(0.3);
    EXPECT_EQ(recorder_->count("door"), 0);

    bool listed = false;
    PellixDataManager::getUserRoomListWithCompletion([&](auto, auto) { listed = true; });
    ASSERT_TRUE(test::pump([&] { return listed; }, 15));
    EXPECT_EQ(PellixMQTTManager::sharedInstance()->topics(),
              (std::vector<std::string>{"app/room_id/5001", "app/room_id/5003"}));
    ASSERT_TRUE(broker_->waitFor({"Received SUBSCRIBE from " + sip}, 2));
    EXPECT_EQ(broker_->count({"app/room_id/5003 (QoS 2)"}), 1);

    standIn_->admin("POST", "/__admin/publish", R"({"cmd":"makeCall","room_id":"5003","transactionID":"tx-b"})");
    ASSERT_TRUE(test::pump([&] { return recorder_->count("door") == 1; })) << broker_->log();
    const auto& call = recorder_->doorCalls.at(0);
    EXPECT_EQ(call->appRoomID(), "5003");
    EXPECT_TRUE(call->doorName() && !call->doorName()->empty());
    EXPECT_EQ(PellixMqttMessageHandle::sharedInstance()->transcationID(), "tx-b");
}

}  // namespace
}  // namespace pellix
