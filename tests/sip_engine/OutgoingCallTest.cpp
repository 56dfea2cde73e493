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
