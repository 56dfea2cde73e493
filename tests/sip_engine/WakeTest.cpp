// The engine handles SIP as it arrives, not only when the host's pump comes
// round: with no pump at all (the run loop the engine was made on is driven,
// nothing calls ProcessEvents()), calls both ways still connect and end.
#include <gtest/gtest.h>

#include "SipTestKit.h"
#include "platform/RunLoop.h"

namespace pellix::test {
namespace {

using client::Call;

bool runUntil(const std::function<bool()>& done) {
    return platform::RunLoop::current()->runUntil(done, 20.0);
}

std::string statesOf(const Recorder& rec) {
    std::string s = "states:";
    for (int state : rec.states) s += " " + std::to_string(state);
    return s + "; ";
}

TEST(SipEngineWake, CallsConnectAndEndWithoutThePump) {
    if (run("command -v sipp >/dev/null") != 0) GTEST_SKIP() << "sipp is not installed";
    TestEngine engine;
    auto& rec = engine.recorder();
    // The host answers at once, inside the report of the new call.
    rec.onState = [](Call* call, Call::CallState state) {
        if (state == Call::kNewCall && call->GetDirection() == Call::kIncoming) call->Answer(true, false);
    };
    {
        TempDir dir;
        Process phone({"sipp", "-sn", "uac", "-i", "127.0.0.1", "-p", std::to_string(freeUdpPort()), "-m", "1",
                       "-nostdin", "-timeout", "30", "-timeout_error", "-trace_err", "-error_file",
                       dir.file("errors.log"), "127.0.0.1:" + std::to_string(engine.port())});
        ASSERT_TRUE(runUntil([&] { return rec.reached(Call::kConnected); })) << statesOf(rec) << readFile(dir.file("errors.log"));
        ASSERT_TRUE(runUntil([&] { return rec.reached(Call::kEnded); })) << statesOf(rec) << readFile(dir.file("errors.log"));
        ASSERT_TRUE(runUntil([&] { return !phone.running(); }));
        EXPECT_EQ(phone.wait(), 0) << statesOf(rec) << readFile(dir.file("errors.log"));
    }

    // A call the host makes goes out, and its answer comes in, unpumped too.
    auto door = Sipp::server("uas_answer_bye");
    rec.states.clear();
    Call* call = engine->GetCallManager()->MakeCall(engine.profile(door->port()), "2001", "", false, 1, false, 0, {});
    ASSERT_NE(call, nullptr);
    ASSERT_TRUE(runUntil([&] { return rec.reached(Call::kConnected); })) << statesOf(rec) << door->errors();
    ASSERT_TRUE(runUntil([&] { return rec.reached(Call::kEnded); })) << statesOf(rec) << door->errors();
    EXPECT_EQ(door->wait(), 0) << statesOf(rec) << door->errors();
}

}  // namespace
}  // namespace pellix::test
