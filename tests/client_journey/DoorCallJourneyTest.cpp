// A resident's day with the facade against real peers: log in (SIP
// registered at the building's registrar, MQTT subscribed to the room
// topics), a door station calls, the host answers, the door station's echo
// carries the resident's own sound back, the room's other devices are told
// to stop ringing, the door opens through the platform, the call is hung up
// and logout takes SIP and MQTT down.
#include <chrono>

#include "client_journey/JourneyKit.h"

#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixSipCallManager/PellixSipCallManager.h"
#include "platform/ManualClock.h"

namespace pellix::test {
namespace {


class DoorCallJourney : public JourneyTest {};

TEST_F(DoorCallJourney, AnsweredDoorCallCarriesSoundTellsTheRoomOpensTheDoorAndLogoutTearsDown) {
    ToneCalls tone;
    startPeers("door_station.xml");
    login();
    EXPECT_EQ(broker_->count({"as 1000101"}), 1) << "the SIP number is the MQTT client id\n" << broker_->log();
    const std::string registers = sip_->messages();
    EXPECT_NE(registers.find("REGISTER sip:127.0.0.1:" + std::to_string(sip_->port())), std::string::npos)
        << registers;
    EXPECT_NE(registers.find("Expires: 1800"), std::string::npos) << registers;

    TopicWatch room(broker_->port(), "app/room_id/5001");
    ASSERT_TRUE(broker_->waitFor({"watch-"})) << broker_->log();
    const auto published = publish(R"({"cmd":"makeCall","room_id":"5001"})");
    const std::string transaction = text(published, "transactionID");
    ASSERT_FALSE(transaction.empty()) << published.description();

    ASSERT_TRUE(pumpAll([&] { return !host_->doorCalls.empty(); })) << broker_->log();
    const auto call = host_->doorCalls.front();
    EXPECT_EQ(call->doorCallerNO(), kGateSip);
    EXPECT_EQ(call->appRoomID(), kHomeRoom);
    EXPECT_TRUE(PellixClient::sharedInstance()->callTimeOutTimerRunning());

    PellixClient::answerDoorMediaCallType(PellixMediaCallTypeAudio, call->doorCallerNO().value_or(""), nullptr);
    ASSERT_TRUE(pumpAll([&] { return host_->saw("connected"); })) << sip_->messages() << sip_->errors();
    EXPECT_TRUE(PellixClient::isCalling());
    EXPECT_FALSE(PellixClient::sharedInstance()->callTimeOutTimerRunning()) << "a connected call has no time-out";
    EXPECT_NE(sip_->messages().find("INVITE sip:8007001@127.0.0.1:" + std::to_string(sip_->port())),
              std::string::npos);

    // The room's other devices are told the call was taken here: one
    // "hangUpCall" from this device's SIP number for the call's transaction.
    ASSERT_TRUE(pumpAll([&] { return room.lines().size() >= 2; })) << broker_->log();
    settleAll(0.3);
    const auto lines = room.lines();
    ASSERT_EQ(lines.size(), 2u) << "the door call and one hang-up";
    const auto hangUp = platform::JSON::parse(lines.at(1));
    ASSERT_TRUE(hangUp) << lines.at(1);
    EXPECT_EQ(text(*hangUp, "cmd"), "hangUpCall");
    EXPECT_EQ(text(*hangUp, "transactionID"), transaction);
    EXPECT_EQ(text(member(*hangUp, "data"), "toSipNO"), kResidentSip);

    // Sound flows both ways: the door station echoes the resident's tone.
    EXPECT_TRUE(pumpAll([&] { return tone.heardTone(); }, 20))
        << "played " << fileSize(tone.played()) << " bytes\n" << sip_->errors();

    // This device's own "hangUpCall" comes back on the room topic it
    // subscribes: a connected call is ended over SIP only, so it stays up.
    EXPECT_FALSE(host_->saw("hangup message"));
    EXPECT_TRUE(PellixClient::isCalling());

    // The door opens through the platform during the call.
    std::optional<bool> opened;
    PellixDataManager::openDoorWithRoomId(std::string(kHomeRoom), std::string(kGate),
                                          [&](bool ok, const PellixErrorPtr&) { opened = ok; });
    ASSERT_TRUE(pumpAll([&] { return opened.has_value(); }));
    EXPECT_TRUE(*opened);
    EXPECT_EQ(standIn_->requests("/sdkapi/v1/door/app_open").size(), 1u);

    PellixClient::hangupCurrentCall();
    ASSERT_TRUE(pumpAll([&] { return host_->saw("ends"); })) << sip_->messages();
    EXPECT_TRUE(pumpAll([&] { return sip_->count("BYE sip:") == 1; })) << sip_->messages();
    EXPECT_FALSE(PellixClient::isExistCall());
    EXPECT_EQ(PellixClient::sharedInstance()->makeCallType(), -1);

    std::optional<bool> loggedOut;
    PellixDataManager::loginoutWithCompletion([&](bool ok, const PellixErrorPtr&) { loggedOut = ok; });
    ASSERT_TRUE(pumpAll([&] { return loggedOut.has_value(); }));
    EXPECT_TRUE(*loggedOut);
    EXPECT_TRUE(broker_->waitFor({"Client 1000101 disconnected"})) << broker_->log();
    EXPECT_TRUE(pumpAll([&] {
        const std::string log = sip_->messages();
        return log.find("expires=0") != std::string::npos || log.find("Expires: 0") != std::string::npos;
    })) << sip_->messages();
}

// The host answers, but the door station only rings: the time-out the door
// call started ends the call after 30 s, tells the host and cancels the SIP
// call. The call data is reset before the host hears of it.
TEST_F(DoorCallJourney, AnAnsweredDoorCallThatNeverConnectsIsGivenUpAfter30s) {
    startPeers("door_station_rings.xml");
    login();
    publish(R"({"cmd":"makeCall","room_id":"5001"})");
    ASSERT_TRUE(pumpAll([&] { return !host_->doorCalls.empty(); })) << broker_->log();
    // The time-out started on the real clock just before the host heard of
    // the call; the manual clock below takes over from wherever that is now.
    const auto doorCallSeen = platform::Clock::monotonic();
    auto& client = *PellixClient::sharedInstance();
    PellixClient::answerDoorMediaCallType(PellixMediaCallTypeAudio, kGateSip, nullptr);
    ASSERT_TRUE(pumpAll([&] { return sip_->count("SIP/2.0 180 Ringing") >= 1; })) << sip_->messages();
    EXPECT_TRUE(client.callTimeOutTimerRunning()) << "answering keeps the door call's time-out";
    EXPECT_EQ(client.makeCallType(), 1);

    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    const double elapsed = std::chrono::duration<double>(clock->monotonicTime() - doorCallSeen).count();
    clock->advance(29.0 - elapsed);
    settleAll(0.2);
    EXPECT_FALSE(host_->saw("hangup message"));
    EXPECT_TRUE(PellixClient::isExistCall());

    clock->advance(2);
    ASSERT_TRUE(pumpAll([&] { return host_->saw("hangup message"); }));
    EXPECT_EQ(host_->countOf("hangup message"), 1);
    EXPECT_EQ(host_->makeCallTypeAtHangup, -1) << "the call data is reset before the host is told";
    EXPECT_EQ(client.makeCallType(), -1);
    EXPECT_FALSE(client.receiveCallToRoomID());
    EXPECT_FALSE(client.callTimeOutTimerRunning());
    ASSERT_TRUE(pumpAll([&] { return sip_->count("CANCEL sip:") >= 1 && !PellixClient::isExistCall(); }))
        << sip_->messages();
    EXPECT_FALSE(host_->saw("connected"));
}

}  // namespace
}  // namespace pellix::test
