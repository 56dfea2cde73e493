#include <dirent.h>
#include <glob.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "SipEngineSDK/SofiaEngine.h"
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

int openFds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
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

// Callers that ring and never give up: no more than the bound ring at once,
// the rest hear busy at once and cost no media ports; the ones that ring are
// refused as unavailable once nobody answers, and their ports close.
TEST(SipIncomingCall, RingingCallsAreBoundedAndEndUnansweredAfterTheRingingTimeOut) {
    TestEngine engine;
    static_cast<client::SofiaEngine*>(engine.get())->setRingingTimeout(2000);
    auto& rec = engine.recorder();
    engine.pumpFor(std::chrono::milliseconds(50));
    const int fdsBefore = openFds();
    const int bound = client::SofiaEngine::kMaxLiveCalls;
    const int callers = bound + 2;
    auto door = Sipp::client("uac_never_cancels", engine.port(),
                             {"-m", std::to_string(callers), "-l", std::to_string(callers), "-r", "50"});
    ASSERT_TRUE(engine.pumpUntil([&] { return count(door->messages(), "SIP/2.0 486") == callers - bound; }))
        << door->messages() << door->errors();
    const auto newCalls = [&] { return static_cast<int>(std::count(rec.states.begin(), rec.states.end(), 0)); };
    EXPECT_EQ(newCalls(), bound);
    EXPECT_EQ(static_cast<int>(engine->GetCallManager()->GetCalls().size()), bound);
    // Audio and video, RTP and RTCP: four sockets a ringing call, none for the refused.
    EXPECT_LE(openFds() - fdsBefore, bound * 4);

    ASSERT_TRUE(engine.pumpUntil([&] { return count(door->messages(), "SIP/2.0 480") == bound; },
                                 std::chrono::seconds(15)))
        << door->messages();
    EXPECT_EQ(static_cast<int>(std::count(rec.states.begin(), rec.states.end(), Call::kFailed)), bound);
    EXPECT_EQ(door->wait(), 0) << door->errors();
    engine.pumpFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(engine->GetCallManager()->GetCalls().empty());
    EXPECT_EQ(openFds(), fdsBefore) << "the rung calls' media sockets are closed";
}

// A host that refuses or hangs up from inside the new-call report (as a
// host may for a call it will not take) hears the call rejected (3) or
// ended (7), as it would outside the report, and the call object is not
// touched once the engine has freed it.
TEST(SipIncomingCall, RefusedOrHungUpFromInsideTheNewCallReport) {
    struct Case {
        const char* name;
        std::function<bool(Call*)> act;
        int finalState;
    };
    const Case cases[] = {
        {"reject", [](Call* c) { return c->Reject(603, 0); }, Call::kRejected},
        {"hang up", [](Call* c) { return c->Hangup(); }, Call::kEnded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestEngine engine;
        auto door = Sipp::client("uac_rejected", engine.port());
        auto& rec = engine.recorder();
        rec.onState = [&](Call* call, Call::CallState state) {
            if (state == Call::kNewCall) {
                EXPECT_TRUE(c.act(call));
            }
        };
        ASSERT_TRUE(engine.pumpUntil([&] { return rec.states.size() >= 2; })) << door->errors();
        engine.pumpFor(std::chrono::milliseconds(200));
        EXPECT_EQ(rec.states, (std::vector<int>{Call::kNewCall, c.finalState}));
        EXPECT_EQ(door->wait(), 0) << door->errors();
    }
}

// The resolver's copy of the name servers leaves nothing in /tmp, even for
// a process that never reaches Terminate().
TEST(SipEngineFiles, TheResolverFileHasNoNameWhileTheEngineRuns) {
    // Other test programs running beside this one make (and at once unlink)
    // files of the same pattern: only a name that appeared during this test
    // and is still there a moment later counts as left behind.
    auto resolverFiles = [] {
        glob_t g{};
        std::set<std::string> names;
        if (glob("/tmp/pellix-sip-resolv-*", 0, nullptr, &g) == 0)
            for (std::size_t i = 0; i < g.gl_pathc; ++i) names.insert(g.gl_pathv[i]);
        globfree(&g);
        return names;
    };
    const auto before = resolverFiles();
    TestEngine engine;
    engine->AddDnsServer("127.0.0.1");
    engine.pumpFor(std::chrono::milliseconds(20));
    std::vector<std::string> appeared;
    for (const auto& name : resolverFiles())
        if (!before.count(name)) appeared.push_back(name);
    engine.pumpFor(std::chrono::milliseconds(200));
    std::vector<std::string> left;
    for (const auto& name : appeared)
        if (::access(name.c_str(), F_OK) == 0) left.push_back(name);
    EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace pellix::test
