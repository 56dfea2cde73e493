// What the session does with packet sequences and call orders a well-behaved
// broker and application never produce: the cases the session fuzz target
// turned up, each against the scripted fake broker.
#include <gtest/gtest.h>

#include <algorithm>

#include "MQTTClient/MQTTLog.h"
#include "SessionTestKit.h"
#include "platform/ManualClock.h"

namespace pellix::test {
namespace {

class HostileBroker : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(0);
        clock = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(clock);
    }
    void TearDown() override { platform::Clock::setShared(nullptr); }

    static void connect(const std::shared_ptr<MQTTSession>& session) { connectAndWait(session); }

    // Moves the clock on one second at a time, letting each firing run.
    void advance(int seconds) {
        for (int i = 0; i < seconds; ++i) {
            clock->advance(1.0);
            pumpFor(0.02);
        }
    }

    static std::size_t sentOf(const Recorder& recorder, std::uint8_t type) {
        const auto sent = recorder.sent();
        return static_cast<std::size_t>(
            std::count_if(sent.begin(), sent.end(), [type](const Packet& p) { return p.type == type; }));
    }

    std::shared_ptr<platform::ManualClock> clock;
};

// connect() on a connected session starts a new connection; the old one's
// keep-alive and resend timers must go with it, or they ping twice as often
// and go on pinging after close() for as long as the session lives.
TEST_F(HostileBroker, ConnectingAgainWhileConnectedLeavesNoTimerOfTheOldConnection) {
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 02 00 00"));
        conn.closedByPeer(3s);
    });
    auto session = makeSession(fake.port(), "twice", 4);
    session->setKeepAliveInterval(1);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    connect(session);

    advance(3);
    EXPECT_EQ(sentOf(*recorder, MQTTPingreq), 3u);

    session->close();
    const auto afterClose = sentOf(*recorder, MQTTPingreq);
    advance(3);
    EXPECT_EQ(sentOf(*recorder, MQTTPingreq), afterClose);
}

}  // namespace
}  // namespace pellix::test
