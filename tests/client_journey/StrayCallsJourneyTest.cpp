// Door calls against the SIP traffic a resident's network really sees: a
// caller that rings and never cancels, a second caller during a call, a door
// station that vanishes mid-call, and a door call naming another SIP host.
// After each, door calls still reach the host and carry sound, and the
// process holds no more descriptors than before.
#include <dirent.h>

#include "client_journey/JourneyKit.h"

#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixSipCallManager/PellixSipCallManager.h"
#include "SipEngineSDK/SofiaEngine.h"

namespace pellix::test {
namespace {

int openFds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

client::SofiaEngine& sofia() {
    return *static_cast<client::SofiaEngine*>(SipEngineManager::sharedInstance()->gainSipEngine());
}

class StrayCallsJourney : public JourneyTest {
protected:
    void TearDown() override {
        JourneyTest::TearDown();
        sofia().setRingingTimeout(0);
        SipEngineManager::config().media.rtpTimeoutMs = 10000;
    }

    // Publishes a door call for the home room and waits for the host to hear
    // of it; `data` is merged over the stand-in's door call.
    std::shared_ptr<PellixDoorCallModel> doorCallReachesHost(const std::string& data = "{}") {
        const std::size_t before = host_->doorCalls.size();
        publish(R"({"cmd":"makeCall","room_id":"5001","data":)" + data + "}");
        if (!pumpAll([&] { return host_->doorCalls.size() > before; })) return nullptr;
        return host_->doorCalls.back();
    }

    // The host answers the door call with audio; true once the door
    // station's echo carries the resident's tone back.
    bool answerWithSound(const PellixDoorCallModel& call, ToneCalls& tone) {
        const int connected = host_->countOf("connected");
        PellixClient::answerDoorMediaCallType(PellixMediaCallTypeAudio, call.doorCallerNO().value_or(""), nullptr);
        if (!pumpAll([&] { return host_->countOf("connected") > connected; })) {
            ADD_FAILURE() << sip_->messages() << sip_->errors();
            return false;
        }
        return pumpAll([&] { return tone.heardTone(); }, 20);
    }

    void hangUp() {
        const int ends = host_->countOf("ends");
        PellixClient::hangupCurrentCall();
        ASSERT_TRUE(pumpAll([&] { return host_->countOf("ends") > ends; })) << sip_->messages();
    }

    // Back to the descriptors counted at the start, once the calls' media
    // have wound down.
    void expectFdsBackTo(int before) {
        pumpAll([&] { return openFds() <= before; }, 5);
        EXPECT_EQ(openFds(), before);
    }
};

// A caller rings and never cancels: the host is never told of it, door
// calls still reach the host, declining one or hanging up the one answered
// with sound leaves the caller ringing, and the caller is refused as
// unavailable once the ringing time-out passes, its media sockets closed.
TEST_F(StrayCallsJourney, ACallerThatNeverCancelsDoesNotKeepDoorCallsFromTheHost) {
    ToneCalls tone;
    startPeers("door_station.xml");
    login();
    sofia().setRingingTimeout(8000);
    const int fdsBefore = openFds();
    {
        auto stray = SippPeer::caller("stray_caller.xml", engineSipPort(), kResidentSip);
        ASSERT_TRUE(pumpAll([] { return PellixClient::isExistCall(); })) << stray->messages() << stray->errors();
        EXPECT_TRUE(host_->seen.empty() || host_->seen.back() == "registered") << "the host hears nothing of it";

        // The host declines a first door call: that refuses nothing at the
        // SIP side, where the caller it never heard of rings on.
        ASSERT_TRUE(doorCallReachesHost()) << "a ringing caller the host never heard of kept the door call away";
        PellixClient::rejectCurrentCall();
        settleAll(0.3);
        EXPECT_EQ(stray->count("SIP/2.0 603"), 0) << stray->messages();
        EXPECT_TRUE(PellixClient::isExistCall());

        const auto call = doorCallReachesHost();
        ASSERT_TRUE(call);
        EXPECT_TRUE(answerWithSound(*call, tone)) << "played " << fileSize(tone.played()) << " bytes";
        EXPECT_EQ(stray->count("SIP/2.0 480"), 0) << "still ringing during the door call";
        hangUp();
        EXPECT_TRUE(pumpAll([&] { return sip_->count("BYE sip:") == 1; })) << sip_->messages();

        // Hanging up ended the door call alone: the caller rings on until the
        // time-out turns it away.
        ASSERT_TRUE(pumpAll([&] { return !stray->running(); }, 20)) << stray->messages();
        EXPECT_EQ(stray->wait(), 0) << stray->messages() << stray->errors();
        EXPECT_EQ(stray->count("SIP/2.0 480"), 1);
        EXPECT_EQ(stray->count("SIP/2.0 603"), 0);
        EXPECT_FALSE(PellixClient::isExistCall());
        EXPECT_FALSE(host_->saw("cancelled"));
        EXPECT_FALSE(host_->saw("hangup message"));
    }
    expectFdsBackTo(fdsBefore);
}

// A second caller during a connected door call hears busy; the door call
// stays connected with sound, the host is told nothing, the host's hang-up
// ends it with a BYE, and the next door call reaches the host and carries
// sound again.
TEST_F(StrayCallsJourney, ASecondCallerDuringADoorCallHearsBusyAndTakesNothingOver) {
    ToneCalls tone;
    startPeers("door_station.xml");
    login();
    // A call whose far end keeps sending is never taken for a silent one.
    SipEngineManager::config().media.rtpTimeoutMs = 2000;
    const int fdsBefore = openFds();
    {
        const auto first = doorCallReachesHost();
        ASSERT_TRUE(first);
        ASSERT_TRUE(answerWithSound(*first, tone));
        const auto seenBefore = host_->seen;

        auto second = SippPeer::caller("second_caller.xml", engineSipPort(), kResidentSip);
        ASSERT_TRUE(pumpAll([&] { return !second->running(); })) << second->messages();
        EXPECT_EQ(second->wait(), 0) << second->messages() << second->errors();
        EXPECT_EQ(second->count("SIP/2.0 486"), 1);
        settleAll(2.5);
        EXPECT_EQ(host_->seen, seenBefore) << "the host hears nothing of the second caller";
        EXPECT_TRUE(PellixClient::isCalling());
        EXPECT_EQ(PellixSipCallManager::currentCallStatus(), 6);
        EXPECT_TRUE(pumpAll([&] { return tone.heardTone(); }, 10)) << "the door call still carries sound";

        hangUp();
        EXPECT_TRUE(pumpAll([&] { return sip_->count("BYE sip:") == 1; })) << sip_->messages();
        EXPECT_FALSE(PellixClient::isExistCall());

        const auto next = doorCallReachesHost();
        ASSERT_TRUE(next) << "the next door call reaches the host";
        EXPECT_TRUE(answerWithSound(*next, tone));
        hangUp();
        EXPECT_TRUE(pumpAll([&] { return sip_->count("BYE sip:") == 2; })) << sip_->messages();
    }
    expectFdsBackTo(fdsBefore);
}

// The door station answers and then vanishes (no media, its BYE lost): once
// nothing has arrived for the media time-out the call is ended with a BYE,
// the host hears the failure, and the next door call reaches the host.
TEST_F(StrayCallsJourney, ACallWhoseFarEndFellSilentEndsAfterTheMediaTimeOut) {
    ToneCalls tone;
    startPeers("door_station_silent.xml");
    login();
    SipEngineManager::config().media.rtpTimeoutMs = 2000;
    TopicWatch room(broker_->port(), "app/room_id/5001");
    ASSERT_TRUE(broker_->waitFor({"watch-"})) << broker_->log();
    const auto call = doorCallReachesHost();
    ASSERT_TRUE(call);
    PellixClient::answerDoorMediaCallType(PellixMediaCallTypeAudio, call->doorCallerNO().value_or(""), nullptr);
    ASSERT_TRUE(pumpAll([&] { return host_->saw("connected"); })) << sip_->messages();

    ASSERT_TRUE(pumpAll([&] { return host_->saw("failed 408"); }, 15)) << sip_->messages();
    EXPECT_TRUE(pumpAll([&] { return sip_->count("BYE sip:") == 1; })) << sip_->messages();
    EXPECT_FALSE(PellixClient::isExistCall());
    EXPECT_EQ(PellixClient::sharedInstance()->makeCallType(), -1);
    // The room's other devices were told when the call was taken here.
    ASSERT_TRUE(pumpAll([&] { return room.lines().size() >= 2; })) << broker_->log();
    EXPECT_NE(room.lines().at(1).find("\"hangUpCall\""), std::string::npos) << room.lines().at(1);

    EXPECT_TRUE(doorCallReachesHost()) << "the next door call reaches the host";
}

// A door call whose caller number is a SIP URI at another host is not called
// there: the host hears the call fail and that host never gets an INVITE
// (nor, when it challenges, the account's digest).
TEST_F(StrayCallsJourney, ADoorCallNamingAnotherSipHostIsRefused) {
    startPeers("door_station.xml");
    login();
    auto foreign = SippPeer::server("foreign_host.xml");
    const std::string uri = "sip:" + std::string(kGateSip) + "@127.0.0.1:" + std::to_string(foreign->port());
    const auto call = doorCallReachesHost(R"({"doorSipNO":")" + uri + R"("})");
    ASSERT_TRUE(call);
    EXPECT_EQ(call->doorCallerNO(), uri);
    PellixClient::answerDoorMediaCallType(PellixMediaCallTypeAudio, uri, nullptr);
    ASSERT_TRUE(pumpAll([&] { return host_->saw("failed 403"); })) << foreign->messages();
    settleAll(1);
    EXPECT_EQ(foreign->count("INVITE sip:"), 0) << foreign->messages();
    EXPECT_EQ(foreign->count("Proxy-Authorization"), 0) << foreign->messages();
    EXPECT_FALSE(PellixClient::isExistCall());
    EXPECT_EQ(PellixClient::sharedInstance()->makeCallType(), -1);
}

}  // namespace
}  // namespace pellix::test
