#include <gtest/gtest.h>

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
