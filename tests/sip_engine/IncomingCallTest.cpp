#include <gtest/gtest.h>

#include "SipTestKit.h"

namespace pellix::test {
namespace {

using client::Call;

// The body of the n-th message in the log that starts with `firstLine`.
std::string messageStartingWith(const std::string& log, const std::string& firstLine, int n = 0) {
    std::size_t pos = 0;
    for (int i = 0; i <= n; ++i) {
        pos = log.find("\n" + firstLine, pos ? pos + 1 : 0);
        if (pos == std::string::npos) return {};
    }
    auto end = log.find("-----", pos);
    return log.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

TEST(SipIncomingCall, RoomCallAnsweredWithVideoThenDtmfBothWaysThenRemoteDropsVideoThenHangUp) {
    TestEngine engine;
    auto door = Sipp::client("uac_room_call", engine.port());
    auto& rec = engine.recorder();
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kNewCall); })) << door->errors();
    Call* call = rec.lastCall;
    EXPECT_EQ(call->GetDirection(), Call::kIncoming);
    EXPECT_STREQ(call->RemoteId(), "2001");
    EXPECT_TRUE(call->SupportVideo());
    EXPECT_EQ(call->GetCustomHeaders(), (std::map<std::string, std::string>{{"X-room-no", "a0101"}}));
    EXPECT_EQ(engine->GetCallManager()->GetCalls(), std::vector<Call*>{call});

    ASSERT_TRUE(call->Answer(true, true));
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kConnected) && rec.media.size() == 2; }))
        << door->errors();
    EXPECT_FALSE(call->Answer(true, true)) << "answered twice";

    ASSERT_TRUE(engine.pumpUntil([&] { return rec.tones == "7"; })) << door->errors();
    EXPECT_TRUE(call->SendDtmf(0, "7", 0));

    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kRemoteUpdated); })) << door->errors();
    EXPECT_EQ(rec.states, (std::vector<int>{0, 6, 12, 13}));
    EXPECT_FALSE(call->SupportVideo());

    ASSERT_TRUE(call->Hangup());
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kEnded); }));
    EXPECT_EQ(door->wait(), 0) << door->errors();

    std::string log = door->messages();
    std::string answer = messageStartingWith(log, "SIP/2.0 200 OK", 0);
    EXPECT_NE(answer.find("m=video "), std::string::npos) << answer;
    EXPECT_EQ(answer.find("m=video 0 "), std::string::npos) << answer;
    EXPECT_NE(answer.find("a=rtpmap:98 H264/90000"), std::string::npos) << "answer keeps the offerer's number";
    EXPECT_NE(answer.find("a=rtcp-fb:* nack pli"), std::string::npos) << "keyframe requests are answered";
    EXPECT_NE(answer.find("a=rtcp-fb:* ccm fir"), std::string::npos) << answer;
    std::string reanswer;
    for (int i = 1; i < 4 && reanswer.find("m=audio") == std::string::npos; ++i)
        reanswer = messageStartingWith(log, "SIP/2.0 200 OK", i);
    EXPECT_NE(reanswer.find("m=video 0 "), std::string::npos) << reanswer;
}

TEST(SipIncomingCall, CallerCancelsOrResidentDeclines) {
    struct Case {
        const char* scenario;
        bool reject;
        int finalState;
        int code;
    };
    for (const Case& c : {Case{"uac_cancel", false, Call::kCancel, 487}, Case{"uac_rejected", true, Call::kRejected, 603}}) {
        SCOPED_TRACE(c.scenario);
        TestEngine engine;
        auto door = Sipp::client(c.scenario, engine.port());
        auto& rec = engine.recorder();
        ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(Call::kNewCall); })) << door->errors();
        Call* call = rec.lastCall;
        EXPECT_TRUE(call->GetCustomHeaders().empty());
        EXPECT_FALSE(call->SupportVideo());
        if (c.reject) {
            EXPECT_TRUE(call->Reject(603, 0));
        }
        ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(c.finalState); })) << door->errors();
        EXPECT_EQ(rec.states, (std::vector<int>{0, c.finalState}));
        EXPECT_EQ(call->GetErrorCode(), c.code);
        EXPECT_FALSE(call->Answer(true, false)) << "answered after it ended";
        EXPECT_EQ(door->wait(), 0) << door->errors();
        engine.pumpFor(std::chrono::milliseconds(20));
        EXPECT_TRUE(engine->GetCallManager()->GetCalls().empty());
    }
}

}  // namespace
}  // namespace pellix::test
