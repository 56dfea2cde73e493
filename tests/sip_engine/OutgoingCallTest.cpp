#include <gtest/gtest.h>

#include "SipEngineSDK/CallMedia.h"
#include "SipTestKit.h"

namespace pellix::test {
namespace {

using client::Call;

TEST(SipOutgoingCall, AnsweredCallRunsThroughItsStatesAndEndsOnTheFarEndsBye) {
    auto callee = Sipp::server("uas_answer_bye");
    TestEngine engine;
    auto* profile = engine.profile(callee->port());
    Call* call = engine->GetCallManager()->MakeCall(profile, "2001", "ios-app", false, 1, true, 0, {});
    ASSERT_NE(call, nullptr);
    EXPECT_TRUE(engine.recorder().states.empty()) << "reported from inside MakeCall";
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().reached(Call::kConnected); })) << callee->errors();
    EXPECT_EQ(engine.recorder().states, (std::vector<int>{0, 4, 5, 6}));
    EXPECT_EQ(call->GetDirection(), Call::kOutgoing);
    EXPECT_TRUE(call->SupportVideo());
    EXPECT_STREQ(call->RemoteId(), "2001");
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().media.size() == 2; }));
    EXPECT_EQ(engine.recorder().media, (std::vector<int>{client::kAudioStream, client::kVideoStream}));

    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().reached(Call::kEnded); })) << callee->errors();
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    engine.pumpFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(engine->GetCallManager()->GetCalls().empty());

    // The offer: the codecs the host switched on that can be encoded, in its order.
    std::string log = callee->messages();
    auto invite = log.substr(log.find("INVITE sip:2001@127.0.0.1"));
    invite = invite.substr(0, invite.find("-----"));
    EXPECT_NE(invite.find("m=audio "), std::string::npos) << invite;
    EXPECT_NE(invite.find(" RTP/AVP 0 8\r\n"), std::string::npos) << invite;
    EXPECT_EQ(invite.find("G729"), std::string::npos) << "offered without an encoder";
    EXPECT_NE(invite.find("m=video "), std::string::npos);
    EXPECT_NE(invite.find("a=rtpmap:96 H264/90000"), std::string::npos);
    EXPECT_NE(invite.find("Subject: ios-app"), std::string::npos);
}

// The null media, counting the streams handed to it.
class CountingMedia final : public client::media::CallMedia {
public:
    CountingMedia(const client::media::MediaSettings& settings, std::shared_ptr<int> applied)
        : inner_(client::media::makeNullCallMedia(settings)), applied_(std::move(applied)) {}
    uint16_t localPort(client::media::StreamKind kind) const override { return inner_->localPort(kind); }
    void apply(const client::media::StreamPlan& plan) override {
        ++*applied_;
        inner_->apply(plan);
    }
    void setAudioMute(bool mute) override { inner_->setAudioMute(mute); }
    void startVideo(const client::media::VideoCapture& capture) override { inner_->startVideo(capture); }
    void changeCapture(int camera, int rotation, std::shared_ptr<client::media::VideoRenderer> r) override {
        inner_->changeCapture(camera, rotation, std::move(r));
    }
    void setRotation(int rotation) override { inner_->setRotation(rotation); }
    void poll(std::vector<client::media::MediaEvent>& out) override { inner_->poll(out); }

private:
    std::unique_ptr<client::media::CallMedia> inner_;
    std::shared_ptr<int> applied_;
};

TEST(SipOutgoingCall, ConnectedIsReportedWithTheAgreedVideoBeforeTheMediaStart) {
    // Starting real media takes tens of milliseconds; the host hears of the
    // connected call first, already knowing whether it has video.
    auto applied = std::make_shared<int>(0);
    client::media::setCallMediaFactory([applied](const client::media::MediaSettings& settings) {
        return std::make_unique<CountingMedia>(settings, applied);
    });
    struct Restore {
        ~Restore() { client::media::setCallMediaFactory({}); }
    } restore;
    struct Case {
        const char* scenario;
        bool video;
        int streams;
    };
    for (const Case& c : {Case{"uas_answer_video", true, 2}, Case{"uas_answer_audio_only", false, 1}}) {
        SCOPED_TRACE(c.scenario);
        *applied = 0;
        auto callee = Sipp::server(c.scenario);
        TestEngine engine;
        auto& rec = engine.recorder();
        int appliedAtConnect = -1;
        bool videoAtConnect = false;
        rec.onState = [&](Call* connected, Call::CallState state) {
            if (state != Call::kConnected) return;
            appliedAtConnect = *applied;
            videoAtConnect = connected->SupportVideo();
        };
        Call* call = engine->GetCallManager()->MakeCall(engine.profile(callee->port()), "2001", "ios-app", false, 1,
                                                        true, 0, {});
        ASSERT_NE(call, nullptr);
        ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kConnected); })) << callee->errors();
        EXPECT_EQ(appliedAtConnect, 0);
        EXPECT_EQ(videoAtConnect, c.video);
        // Then the streams start, and the host hears of each one agreed.
        ASSERT_TRUE(engine.pumpUntil([&] { return static_cast<int>(rec.media.size()) == c.streams; }));
        EXPECT_EQ(*applied, 2) << "an audio and a video plan, active or not";
        EXPECT_TRUE(call->Hangup());
        ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kEnded); }));
        EXPECT_EQ(callee->wait(), 0) << callee->errors();
    }
}

TEST(SipOutgoingCall, ProxyChallengeOnTheInviteIsAnsweredWithTheAccountsCredentials) {
    auto callee = Sipp::server("uas_proxy_auth");
    TestEngine engine;
    auto& rec = engine.recorder();
    Call* call = engine->GetCallManager()->MakeCall(engine.profile(callee->port()), "2001", "ios-app", false, 1, false,
                                                    0, {});
    ASSERT_NE(call, nullptr);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kConnected) || call->GetErrorCode() != 0; }))
        << callee->errors();
    // The challenge itself is nothing the host hears of.
    EXPECT_EQ(rec.states, (std::vector<int>{0, 4, 6}));
    EXPECT_TRUE(call->Hangup());
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kEnded); }));
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    const std::string log = callee->messages();
    EXPECT_EQ(digestProblem(log, "Proxy-Authorization", "INVITE", "secret"), "");
}

TEST(SipOutgoingCall, ProxyThatChallengesTheAnswerAgainFailsTheCallWithItsOwnStatus) {
    auto callee = Sipp::server("uas_proxy_auth_refused");
    TestEngine engine;
    auto& rec = engine.recorder();
    Call* call = engine->GetCallManager()->MakeCall(engine.profile(callee->port(), "1001", "wrong"), "2001", "ios-app",
                                                    false, 1, false, 0, {});
    ASSERT_NE(call, nullptr);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kFailed); })) << callee->errors();
    EXPECT_EQ(call->GetErrorCode(), 407);
    EXPECT_STREQ(call->GetErrorReason(), "Proxy Authentication Required");
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    engine.pumpFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(engine->GetCallManager()->GetCalls().empty());
    const std::string log = callee->messages();
    std::size_t invites = 0;
    for (std::size_t at = 0; (at = log.find("\nINVITE sip:", at)) != std::string::npos; ++at) ++invites;
    EXPECT_EQ(invites, 2u) << "the refused credentials were sent again\n" << log;
}

// The account's digest goes only to its own server, in the realm its
// registrar challenged with: a callee URI at another host, or a proxy that
// challenges in another realm, gets no credentials and the call fails with
// the challenge's status.
TEST(SipOutgoingCall, ChallengesAreAnsweredOnlyByTheAccountsOwnServerInItsRealm) {
    auto registrar = Sipp::server("register_digest");
    TestEngine engine;
    auto& rec = engine.recorder();
    auto* profile = engine.profile(registrar->port());
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.has("registered"); })) << registrar->errors();

    for (const bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "proxy in another realm" : "callee at another host");
        auto other = Sipp::server("uas_foreign_challenge");
        const std::string otherHost = "127.0.0.1:" + std::to_string(other->port());
        std::string callee = "sip:2001@" + otherHost;
        if (viaProxy) {
            profile->SetProxy(otherHost.c_str());
            callee = "2001";
        }
        rec.states.clear();
        Call* call = engine->GetCallManager()->MakeCall(profile, callee.c_str(), "ios-app", false, 1, false, 0, {});
        ASSERT_NE(call, nullptr);
        ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kFailed); })) << other->messages();
        EXPECT_EQ(call->GetErrorCode(), 407);
        EXPECT_EQ(other->wait(), 0) << other->errors() << other->messages();
        EXPECT_EQ(other->messages().find("Proxy-Authorization"), std::string::npos) << other->messages();
        engine.pumpFor(std::chrono::milliseconds(20));
    }
    profile->SetProxy("");
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.has("cleared"); })) << registrar->errors();
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
}

TEST(SipOutgoingCall, AudioOnlyCallOffersNoVideo) {
    auto callee = Sipp::server("uas_busy");
    TestEngine engine;
    auto* profile = engine.profile(callee->port());
    Call* call = engine->GetCallManager()->MakeCall(profile, "2001", "ios-app", false, 1, false, 0,
                                                    {{"X-room-no", "101"}});
    ASSERT_NE(call, nullptr);
    EXPECT_FALSE(call->SupportVideo());
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().reached(Call::kRejected); })) << callee->errors();
    EXPECT_EQ(engine.recorder().states, (std::vector<int>{0, 4, 3}));
    EXPECT_EQ(call->GetErrorCode(), 486);
    EXPECT_STREQ(call->GetErrorReason(), "Busy Here");
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    std::string log = callee->messages();
    EXPECT_EQ(log.find("m=video"), std::string::npos) << log;
    EXPECT_NE(log.find("X-room-no: 101"), std::string::npos) << log;
}

}  // namespace
}  // namespace pellix::test

namespace pellix::test {
namespace {

TEST(SipOutgoingCall, DroppingVideoSendsAReInviteWithTheVideoLineRejected) {
  for (const char* scenario : {"uas_update", "uas_update_glare"}) {
    // The second: the far end's own offer crossed ours (491), and ours is
    // sent again a little later.
    SCOPED_TRACE(scenario);
    auto callee = Sipp::server(scenario);
    TestEngine engine;
    auto& rec = engine.recorder();
    Call* call = engine->GetCallManager()->MakeCall(engine.profile(callee->port()), "2001", "ios-app", false, 1, true,
                                                    0, {});
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kConnected); })) << callee->errors();
    EXPECT_TRUE(call->SupportVideo());
    ASSERT_TRUE(call->UpdateMedia(false));
    EXPECT_FALSE(call->UpdateMedia(false)) << "a second update while the first is in flight";
    ASSERT_TRUE(engine.pumpUntil([&] { return !call->SupportVideo(); })) << callee->errors() << callee->messages();
    EXPECT_EQ(call->GetState(), Call::kConnected);
    EXPECT_TRUE(call->Hangup());
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kEnded); }));
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    EXPECT_EQ(rec.states, (std::vector<int>{0, 4, 5, 6, 7}));
  }
}

TEST(SipOutgoingCall, HangingUpBeforeTheAnswerCancels) {
    auto callee = Sipp::server("uas_no_answer");
    TestEngine engine;
    auto& rec = engine.recorder();
    Call* call = engine->GetCallManager()->MakeCall(engine.profile(callee->port()), "2001", "ios-app", false, 1, false,
                                                    0, {});
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kRinging); })) << callee->errors();
    EXPECT_TRUE(call->Hangup());
    EXPECT_FALSE(call->Hangup());
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kCancel); })) << callee->errors();
    EXPECT_EQ(rec.states, (std::vector<int>{0, 4, 5, 1}));
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
}

TEST(SipOutgoingCall, UnusableCalleeOrProfileGivesNoCall) {
    TestEngine engine;
    auto* profile = engine.profile(5060);
    auto* calls = engine->GetCallManager();
    for (const char* callee : {"", " ", "a b", "2001>", "sip:nohost", "x\r\nX-Evil: 1", "sip:a@b;c"})
        EXPECT_EQ(calls->MakeCall(profile, callee, "", false, 1, false, 0, {}), nullptr) << callee;
    EXPECT_EQ(calls->MakeCall(nullptr, "2001", "", false, 1, false, 0, {}), nullptr);
    profile->SetUserName("");
    EXPECT_EQ(calls->MakeCall(profile, "2001", "", false, 1, false, 0, {}), nullptr);
    engine.pumpFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(engine.recorder().states.empty());
}

}  // namespace
}  // namespace pellix::test
