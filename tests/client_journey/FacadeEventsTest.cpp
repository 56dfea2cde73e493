// The facade between the MQTT door-call events and the host: a login that
// connects MQTT with the user record's topics, door calls reaching the host,
// the call time-out on the manual clock, remote hang-ups, notices, logout.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixToken.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "pellix_mqtt/MqttTestKit.h"
#include "platform/Application.h"
#include "platform/ManualClock.h"
#include "support/MosquittoBroker.h"

namespace pellix {
namespace {

using test::pump;
using test::kDoorCall;
using test::pumpFor;
using test::pumpingBroker;

// A host that implements only what it is built with.
class Host : public PellixClientDelegate {
public:
    explicit Host(std::vector<Method> implemented) : implemented_(std::move(implemented)) {}
    bool implements(Method method) const override {
        return std::find(implemented_.begin(), implemented_.end(), method) != implemented_.end();
    }
    void callDidReceiveDoor(std::shared_ptr<PellixDoorCallModel> call) override {
        seen.push_back("door");
        doorCalls.push_back(std::move(call));
    }
    void callDidHangupMessage() override { seen.push_back("hangup"); }
    void receivePropertyNoticeMessage(std::shared_ptr<PellixPropertyNotice>) override { seen.push_back("notice"); }
    void receiveAuthorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange>) override {
        seen.push_back("auth");
    }

    std::vector<std::string> seen;
    std::vector<std::shared_ptr<PellixDoorCallModel>> doorCalls;

private:
    std::vector<Method> implemented_;
};

using M = PellixClientDelegate::Method;
const std::vector<M> kEverything{M::CallDidReceiveDoor, M::CallDidHangupMessage, M::ReceivePropertyNoticeMessage,
                                 M::ReceiveAuthorizationChangeMessage};

std::shared_ptr<PellixDoorCallModel> doorCall(std::string caller, std::string room = "12") {
    auto call = std::make_shared<PellixDoorCallModel>();
    call->setDoorCallerNO(std::move(caller));
    call->setAppRoomID(std::move(room));
    return call;
}

class FacadeEvents : public ::testing::Test {
protected:
    void SetUp() override {
        test::logIn({"app/room_id/12"});
        PellixProxyInfo::sharedInstance()->setToken(std::make_shared<PellixToken>());
        PellixClient::registClientDelegate(host_);
        PellixClient::hangupCurrentCall();
    }
    void TearDown() override {
        PellixClient::hangupCurrentCall();
        PellixClient::removeClientDelegate();
        platform::Clock::setShared(nullptr);
    }
    static std::shared_ptr<platform::ManualClock> installManualClock() {
        auto clock = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(clock);
        return clock;
    }
    PellixClient& client() { return *PellixClient::sharedInstance(); }

    std::shared_ptr<Host> host_ = std::make_shared<Host>(kEverything);
};

TEST_F(FacadeEvents, LoginConnectsTheRoomTopicsAndADoorCallReachesTheHostThenTimesOutAfter30s) {
    test::MosquittoBroker broker(pumpingBroker());
    PellixGlobleConfig::sharedInstance()->setMqttServer("127.0.0.1");
    PellixGlobleConfig::sharedInstance()->setMqttPort(static_cast<std::uint32_t>(broker.port()));
    platform::Application::sharedApplication().setState(platform::Application::State::Active);

    auto user = PellixProxyInfo::sharedInstance()->userInfo();
    platform::NotificationCenter::defaultCenter().post(PellixClient::kInitUserInfoNotification, user);
    ASSERT_TRUE(broker.waitFor({"app/room_id/12 (QoS 2)"})) << broker.log();
    EXPECT_EQ(broker.count({"as 1001"}), 1) << "the SIP number is the client id";

    ASSERT_EQ(test::run("mosquitto_pub -h 127.0.0.1 -p " + std::to_string(broker.port()) +
                        " -q 1 -t app/room_id/12 -m '" + kDoorCall + "'"),
              0);
    ASSERT_TRUE(pump([&] { return !host_->doorCalls.empty(); })) << broker.log();
    EXPECT_EQ(host_->doorCalls.at(0)->doorCallerNO(), "8001");
    EXPECT_EQ(client().receiveCallToRoomID(), "12");
    EXPECT_EQ(PellixMqttMessageHandle::sharedInstance()->transcationID(), "tx-1");
    EXPECT_TRUE(client().callTimeOutTimerRunning());

    // Nobody answers: the time-out resets the call data and tells the host once.
    // The manual clock starts at the system clock's reading, so the running
    // timer keeps its deadline.
    auto clock = installManualClock();
    clock->advance(29.5);
    pumpFor(0.05);
    EXPECT_EQ(host_->seen, std::vector<std::string>{"door"});
    clock->advance(1);
    ASSERT_TRUE(pump([&] { return host_->seen.size() == 2; }, 2));
    EXPECT_EQ(host_->seen, (std::vector<std::string>{"door", "hangup"}));
    EXPECT_EQ(client().makeCallType(), -1);
    EXPECT_FALSE(client().receiveCallToRoomID());
    EXPECT_FALSE(PellixMqttMessageHandle::sharedInstance()->transcationID());
    EXPECT_FALSE(client().callTimeOutTimerRunning());

    // Logout closes the MQTT session.
    platform::NotificationCenter::defaultCenter().post(PellixClient::kLogoutNotification, nullptr);
    ASSERT_TRUE(broker.waitFor({"Client 1001 disconnected"}))
        << broker.log();
    PellixMQTTManager::setDelegate({});
}

// A logout that comes before the login's delayed MQTT connect must not be
// followed by a connection for the logged-out resident.
TEST_F(FacadeEvents, ALogoutRightAfterLoginLeavesMqttClosed) {
    test::MosquittoBroker broker(pumpingBroker());
    PellixGlobleConfig::sharedInstance()->setMqttServer("127.0.0.1");
    PellixGlobleConfig::sharedInstance()->setMqttPort(static_cast<std::uint32_t>(broker.port()));
    platform::Application::sharedApplication().setState(platform::Application::State::Active);
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(PellixClient::kInitUserInfoNotification, PellixProxyInfo::sharedInstance()->userInfo());
    center.post(PellixClient::kLogoutNotification, nullptr);
    pumpFor(PellixClient::kMqttConnectDelay + 1);
    EXPECT_EQ(broker.count({"as 1001"}), 0) << broker.log();
    EXPECT_FALSE(PellixMQTTManager::sharedInstance()->session());

    // The next login connects as usual.
    center.post(PellixClient::kInitUserInfoNotification, PellixProxyInfo::sharedInstance()->userInfo());
    EXPECT_TRUE(broker.waitFor({"as 1001"})) << broker.log();
    center.post(PellixClient::kLogoutNotification, nullptr);
    PellixMQTTManager::setDelegate({});
}

TEST_F(FacadeEvents, WithoutACallTheSwitchesRefuseAndAHangUpOnlyResets) {
    EXPECT_FALSE(PellixClient::isExistCall());
    EXPECT_FALSE(PellixClient::isCalling());
    EXPECT_FALSE(PellixClient::switchMicrophone(true));
    EXPECT_FALSE(PellixClient::switchSpeaker(false));
    EXPECT_FALSE(PellixClient::switchCameraDirection());
    EXPECT_FALSE(PellixClient::switchVideoModeToAudioMode());
    client().doorIncomingMessage(doorCall("8001", "34"));
    PellixClient::hangupCurrentCall();
    EXPECT_EQ(client().makeCallType(), -1);
    EXPECT_FALSE(client().receiveCallToRoomID());
    EXPECT_FALSE(client().pellixCallModel());
    EXPECT_FALSE(client().callTimeOutTimerRunning());
    EXPECT_EQ(host_->seen, std::vector<std::string>{"door"}) << "a local hang-up is not reported as a remote one";
}

TEST_F(FacadeEvents, DoorCallsTheHostDoesNotTakeStartNoTimer) {
    struct Case {
        const char* name;
        std::vector<M> implemented;
        std::string caller;
        bool reachesHost;
    };
    const Case cases[] = {
        {"the user's own SIP number", kEverything, test::kOwnSip, false},
        {"a host without callDidReceiveDoor", {M::CallDidHangupMessage}, "8001", false},
        {"a host that takes it", kEverything, "8001", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto host = std::make_shared<Host>(c.implemented);
        PellixClient::registClientDelegate(host);
        client().doorIncomingMessage(doorCall(c.caller));
        EXPECT_EQ(host->seen.size(), c.reachesHost ? 1u : 0u);
        EXPECT_EQ(client().callTimeOutTimerRunning(), c.reachesHost);
        PellixClient::hangupCurrentCall();
    }
    // No host at all: nothing to tell, no timer.
    PellixClient::removeClientDelegate();
    client().doorIncomingMessage(doorCall("8001"));
    EXPECT_FALSE(client().callTimeOutTimerRunning());
}

// The timer of a call that ended must not report a hang-up later, least of
// all during the next call.
TEST_F(FacadeEvents, EveryEndOfACallStopsTheTimeOut) {
    auto clock = installManualClock();
    const std::vector<std::pair<const char*, std::function<void()>>> ends{
        {"hang-up", [] { PellixClient::hangupCurrentCall(); }},
        {"refusal", [] { PellixClient::rejectCurrentCall(); }},
        {"remote hang-up", [this] { client().hangupMessage(); }},
        {"logout",
         [] { platform::NotificationCenter::defaultCenter().post(PellixClient::kLogoutNotification, nullptr); }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        host_->seen.clear();
        client().doorIncomingMessage(doorCall("8001"));
        ASSERT_TRUE(client().callTimeOutTimerRunning());
        end();
        EXPECT_FALSE(client().callTimeOutTimerRunning());
        clock->advance(31);
        pumpFor(0.02);
        EXPECT_EQ(std::count(host_->seen.begin(), host_->seen.end(), "hangup"), name == std::string("remote hang-up"))
            << "only the remote hang-up itself is reported";
    }
}

TEST_F(FacadeEvents, ARemoteHangUpResetsTheCallDataAndTellsTheHost) {
    client().doorIncomingMessage(doorCall("8001", "34"));
    PellixMqttMessageHandle::sharedInstance()->setTranscationID(std::string("tx-9"));
    client().hangupMessage();
    EXPECT_EQ(host_->seen, (std::vector<std::string>{"door", "hangup"}));
    EXPECT_FALSE(client().receiveCallToRoomID());
    EXPECT_FALSE(PellixMqttMessageHandle::sharedInstance()->transcationID());
    EXPECT_EQ(client().makeCallType(), -1);
}

TEST_F(FacadeEvents, NoticesReachTheHostOnlyWhileLoggedInWithAToken) {
    struct Case {
        const char* name;
        bool user;
        bool token;
        std::vector<M> implemented;
        bool delivered;
    };
    const Case cases[] = {
        {"logged in", true, true, kEverything, true},
        {"no user record", false, true, kEverything, false},
        {"no token", true, false, kEverything, false},
        {"host takes neither", true, true, {M::CallDidReceiveDoor}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto user = c.user ? std::make_shared<PellixInitUserInfo>() : nullptr;
        PellixProxyInfo::sharedInstance()->setUserInfo(user);
        PellixProxyInfo::sharedInstance()->setToken(c.token ? std::make_shared<PellixToken>() : nullptr);
        auto host = std::make_shared<Host>(c.implemented);
        PellixClient::registClientDelegate(host);
        client().propertyNoticeMessage(std::make_shared<PellixPropertyNotice>());
        client().authorizationChangeMessage(std::make_shared<PellixAuthorizationChange>());
        EXPECT_EQ(host->seen,
                  c.delivered ? (std::vector<std::string>{"notice", "auth"}) : std::vector<std::string>{});
    }
}

TEST(FacadeTokenObserver, EveryTokenInvalidNoticeReachesTheObserverUntilItIsRemoved) {
    int heard = 0;
    const int owner = 0;
    PellixClient::addTokenInvalideObserver(&owner, [&](const platform::Notification&) { ++heard; });
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(PellixClient::kTokenInvalideNotification, nullptr);
    center.post(PellixClient::kTokenInvalideNotification, std::make_shared<int>(1));  // any sender
    EXPECT_EQ(heard, 2);
    center.removeObserver(&owner);
    center.post(PellixClient::kTokenInvalideNotification, nullptr);
    EXPECT_EQ(heard, 2);
}

}  // namespace
}  // namespace pellix

namespace pellix {
namespace {

// A call host that records the events it says it implements.
class CallHost : public PellixCallManagerDelegate {
public:
    explicit CallHost(bool all) : all_(all) {}
    bool implements(Method) const override { return all_; }
    void callDidRegistrationFailed(std::int64_t code, const std::optional<std::string>& message) override {
        seen.push_back("registration failed " + std::to_string(code) + " " + message.value_or("-"));
    }
    void callDidTheCallIsConnectedSupportVideo(bool video, bool data) override {
        seen.push_back(std::string("connected ") + (video ? "1" : "0") + (data ? "1" : "0"));
    }
    void callDidTheCallEnds() override { seen.push_back("ends"); }
    void callDidRemoteVideoFps(std::int64_t fps, std::int64_t bitrate) override {
        seen.push_back("remote fps " + std::to_string(fps) + " " + std::to_string(bitrate));
    }
    std::vector<std::string> seen;

private:
    bool all_;
};

TEST(FacadeSipEvents, EventsReachOnlyAHostThatImplementsThemWithTheirValuesUnchanged) {
    auto& client = *PellixClient::sharedInstance();
    for (const bool all : {true, false}) {
        SCOPED_TRACE(all);
        auto host = std::make_shared<CallHost>(all);
        PellixClient::registCallManagerDelegate(host);
        client.sipRegistrationFailed(403, std::string("Forbidden"));
        client.sipTheCallIsConnectedDirection(1, true, false);
        client.sipRemoteVideoFps(25, 512);
        client.sipTheCallEndsDirection(1);
        EXPECT_EQ(host->seen, all ? (std::vector<std::string>{"registration failed 403 Forbidden", "connected 10",
                                                              "remote fps 25 512", "ends"})
                                  : std::vector<std::string>{});
    }
    PellixClient::removeCallManagerDelegate();
}

// Every end of a SIP call stops the time-out, so it cannot report a stray
// hang-up during a later call; a connection stops it too.
TEST(FacadeSipEvents, SipCallEndsAndTheConnectionStopTheTimeOut) {
    auto& client = *PellixClient::sharedInstance();
    auto host = std::make_shared<Host>(kEverything);
    PellixClient::registClientDelegate(host);
    const std::vector<std::pair<const char*, std::function<void()>>> events{
        {"cancelled", [&] { client.sipTheCallIsCanceledDirection(1); }},
        {"failed", [&] { client.sipCallFailedOrWrong(486, std::string("Busy")); }},
        {"rejected", [&] { client.sipTheCallWasRejected(603, std::nullopt); }},
        {"connected", [&] { client.sipTheCallIsConnectedDirection(2, false, false); }},
        {"ended", [&] { client.sipTheCallEndsDirection(2); }},
    };
    for (const auto& [name, event] : events) {
        SCOPED_TRACE(name);
        client.doorIncomingMessage(doorCall("8001"));
        ASSERT_TRUE(client.callTimeOutTimerRunning());
        event();
        EXPECT_FALSE(client.callTimeOutTimerRunning());
        PellixClient::hangupCurrentCall();
    }
    PellixClient::removeClientDelegate();
}

}  // namespace
}  // namespace pellix
