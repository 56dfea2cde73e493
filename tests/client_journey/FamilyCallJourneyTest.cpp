// Family (room-to-room) calls from the resident's side against real peers:
// the platform's "v1/call" places the call, its SIP leg reaches this device
// and is answered without the host's help; a call withdrawn before its leg
// arrives tells the called room once; a call the platform refuses fails
// once and leaves nothing behind.
#include "client_journey/JourneyKit.h"

#include "PellixSipCallManager/PellixSipCallManager.h"
#include "platform/ManualClock.h"

namespace pellix::test {
namespace {


class FamilyCallJourney : public JourneyTest {
protected:
    // Places an audio family call from the home room to `roomNo`; the
    // failure block's errors land in failures_.
    void placeFamilyCall(const std::string& roomNo) {
        PellixClient::makeEachFamilyAccessCallWithMediaCallType(
            PellixMediaCallTypeAudio, true, true, 0, nullptr, nullptr, std::string(kHomeRoom), roomNo,
            [this](const PellixErrorPtr& error) { failures_.push_back(error); });
    }
    // Logs in, watches the neighbour's room topic and places a family call
    // there; returns once the call's record is in hand.
    void placeWatchedCallToNeighbour() {
        startPeers("door_station.xml");
        login();
        neighbour_ = std::make_unique<TopicWatch>(broker_->port(), "app/room_id/5002");
        ASSERT_TRUE(broker_->waitFor({"watch-"})) << broker_->log();
        placeFamilyCall(kNeighbourRoomNo);
        ASSERT_TRUE(pumpAll([] { return PellixClient::sharedInstance()->pellixCallModel() != nullptr; }));
    }
    std::vector<PellixErrorPtr> failures_;
    std::unique_ptr<TopicWatch> neighbour_;
};

TEST_F(FamilyCallJourney, TheCallsSipLegIsAnsweredAtOnceCarriesSoundTellsNoRoomAndEndsAtLogout) {
    ToneCalls tone;
    startPeers("door_station.xml");
    login();
    TopicWatch home(broker_->port(), "app/room_id/5001");
    TopicWatch neighbour(broker_->port(), "app/room_id/5002");
    ASSERT_TRUE(broker_->waitFor({"watch-"}, 2)) << broker_->log();

    placeFamilyCall(kNeighbourRoomNo);
    auto& client = *PellixClient::sharedInstance();
    ASSERT_TRUE(pumpAll([&] { return client.pellixCallModel() != nullptr; })) << standIn_->requests().size();
    EXPECT_TRUE(client.isHTTPMakeCallOther());
    EXPECT_EQ(client.makeCallType(), 0);
    EXPECT_TRUE(client.callTimeOutTimerRunning());
    const auto requests = standIn_->requests("/v1/call");
    ASSERT_EQ(requests.size(), 1u);
    const auto& params = member(requests.at(0), "params");
    EXPECT_EQ(text(params, "from_room_id"), kHomeRoom);
    EXPECT_EQ(text(params, "to_room_id"), "");
    EXPECT_EQ(text(params, "to_room_no"), kNeighbourRoomNo);
    EXPECT_EQ(text(params, "call_type"), "0") << "an audio call";
    EXPECT_EQ(text(params, "device_guid"), platform::Device::currentDevice().identifierForVendor());
    EXPECT_EQ(text(member(requests.at(0), "answer"), "code"), "200");

    // The SIP server rings this device with the call's leg: no host action.
    const int enginePort = engineSipPort();
    ASSERT_NE(enginePort, 0) << sip_->messages();
    auto leg = SippPeer::caller("room_call_leg.xml", enginePort, kResidentSip);
    ASSERT_TRUE(pumpAll([&] { return host_->saw("connected"); })) << leg->messages() << leg->errors();
    EXPECT_FALSE(client.callTimeOutTimerRunning());
    EXPECT_TRUE(pumpAll([&] { return tone.heardTone(); }, 20)) << "played " << fileSize(tone.played()) << " bytes";

    // Logging out ends the call.
    std::optional<bool> loggedOut;
    PellixDataManager::loginoutWithCompletion([&](bool ok, const PellixErrorPtr&) { loggedOut = ok; });
    ASSERT_TRUE(pumpAll([&] { return loggedOut.has_value(); }));
    ASSERT_TRUE(pumpAll([&] { return !leg->running(); })) << leg->messages();
    EXPECT_EQ(leg->wait(), 0) << leg->messages() << leg->errors();
    EXPECT_EQ(leg->count("BYE sip:"), 1);
    // A call this device placed has no other ringing devices to stop.
    settleAll(0.3);
    EXPECT_TRUE(home.lines().empty());
    EXPECT_TRUE(neighbour.lines().empty());
    EXPECT_FALSE(client.isHTTPMakeCallOther());
    EXPECT_FALSE(client.pellixCallModel());
}

TEST_F(FamilyCallJourney, HangingUpBeforeTheSipLegArrivesWithdrawsTheCallOnceOnTheCalledRoom) {
    placeWatchedCallToNeighbour();
    if (HasFatalFailure()) return;
    auto& neighbour = *neighbour_;
    auto& client = *PellixClient::sharedInstance();
    const std::string transaction = client.pellixCallModel()->transactionId().value_or("");
    ASSERT_FALSE(transaction.empty());

    PellixClient::hangupCurrentCall();
    EXPECT_FALSE(client.callTimeOutTimerRunning());
    EXPECT_FALSE(client.pellixCallModel());
    EXPECT_EQ(client.makeCallType(), -1);
    // A second hang-up finds nothing left to withdraw.
    PellixClient::hangupCurrentCall();
    ASSERT_TRUE(pumpAll([&] { return !neighbour.lines().empty(); })) << broker_->log();
    settleAll(0.5);
    const auto lines = neighbour.lines();
    ASSERT_EQ(lines.size(), 1u);
    const auto message = platform::JSON::parse(lines.at(0));
    ASSERT_TRUE(message) << lines.at(0);
    EXPECT_EQ(text(*message, "cmd"), "hangUpCall");
    EXPECT_EQ(text(*message, "transactionID"), transaction);
    EXPECT_EQ(text(member(*message, "data"), "toSipNO"), "");
    EXPECT_TRUE(failures_.empty());
}

// Nobody takes the call within 30 s: the time-out resets the call data
// before it handles the hang-up, so the host is told and the pending call is
// given up without a withdrawal on the called room's topic.
TEST_F(FamilyCallJourney, APendingCallThatTimesOutIsGivenUpWithoutAWithdrawal) {
    placeWatchedCallToNeighbour();
    if (HasFatalFailure()) return;
    auto& neighbour = *neighbour_;
    auto& client = *PellixClient::sharedInstance();

    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    clock->advance(PellixClient::kCallOutTimerNumber + 0.5);
    ASSERT_TRUE(pumpAll([&] { return host_->saw("hangup message"); }));
    EXPECT_EQ(host_->makeCallTypeAtHangup, -1);
    EXPECT_FALSE(client.isHTTPMakeCallOther());
    EXPECT_FALSE(client.pellixCallModel());
    settleAll(0.5);
    EXPECT_TRUE(neighbour.lines().empty()) << neighbour.lines().front();
}

TEST_F(FamilyCallJourney, ACallThePlatformRefusesFailsOnceAndLeavesNoCallBehind) {
    startPeers("door_station.xml");
    login();
    placeFamilyCall("999");
    ASSERT_TRUE(pumpAll([&] { return !failures_.empty(); }));
    settleAll(0.3);
    ASSERT_EQ(failures_.size(), 1u);
    ASSERT_TRUE(failures_.front());
    EXPECT_EQ(failures_.front()->errorCode(), 400015);
    auto& client = *PellixClient::sharedInstance();
    EXPECT_FALSE(client.isHTTPMakeCallOther());
    EXPECT_FALSE(client.pellixCallModel());
    EXPECT_FALSE(client.callTimeOutTimerRunning());
    EXPECT_EQ(client.makeCallType(), -1);
}

// The platform's token runs out mid-journey: the facade's request and the
// host's next operation are refreshed and resent, and the host hears of
// neither the expiry nor the refresh.
TEST_F(FamilyCallJourney, ATokenThatExpiresMidJourneyIsRefreshedUnnoticed) {
    startPeers("door_station.xml");
    login();
    int invalidNotices = 0;
    const int observer = 0;
    PellixClient::addTokenInvalideObserver(&observer, [&](const platform::Notification&) { ++invalidNotices; });
    const auto before = PellixProxyInfo::sharedInstance()->token()->token();
    standIn_->admin("POST", "/__admin/token", R"({"expire":"now"})");

    placeFamilyCall(kNeighbourRoomNo);
    auto& client = *PellixClient::sharedInstance();
    ASSERT_TRUE(pumpAll([&] { return client.pellixCallModel() != nullptr || !failures_.empty(); }));
    EXPECT_TRUE(failures_.empty());
    EXPECT_TRUE(client.pellixCallModel());
    PellixClient::hangupCurrentCall();

    std::optional<bool> opened;
    PellixDataManager::openDoorWithRoomId(std::string(kHomeRoom), std::string(kGate),
                                          [&](bool ok, const PellixErrorPtr&) { opened = ok; });
    ASSERT_TRUE(pumpAll([&] { return opened.has_value(); }));
    EXPECT_TRUE(*opened);

    const auto calls = standIn_->requests("/v1/call");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(text(calls.at(0), "status"), "426");
    EXPECT_EQ(text(calls.at(1), "status"), "200");
    EXPECT_NE(PellixProxyInfo::sharedInstance()->token()->token(), before);
    EXPECT_EQ(invalidNotices, 0);
    platform::NotificationCenter::defaultCenter().removeObserver(&observer);
}

}  // namespace
}  // namespace pellix::test
