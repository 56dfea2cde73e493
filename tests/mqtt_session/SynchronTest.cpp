// The blocking API on the main loop's thread, off it, and on a session with
// a serial queue of its own; time-outs and refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "MQTTClient/MQTTLog.h"
#include "SessionTestKit.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

namespace pellix::test {
namespace {

class SessionSynchron : public ::testing::Test {
protected:
    void SetUp() override { MQTTLog::setLogLevel(0); }

    // The whole blocking round: connect, subscribe, publish at each QoS and
    // read our own messages back, unsubscribe, close.
    void roundTrip(const std::shared_ptr<MQTTSession>& session, const std::string& id) {
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        ASSERT_TRUE(session->connectAndWaitToHost("127.0.0.1", static_cast<std::uint32_t>(broker.port()), false));
        EXPECT_EQ(session->status(), MQTTSessionStatusConnected);
        EXPECT_EQ(session->host(), "127.0.0.1");
        EXPECT_TRUE(session->subscribeAndWaitToTopic(id + "/#", 2));
        for (std::uint8_t qos : {0, 1, 2}) {
            EXPECT_TRUE(session->publishAndWaitData(bytes("m" + std::to_string(qos)), id + "/t", false, qos, 5));
        }
        EXPECT_TRUE(session->unsubscribeAndWaitTopic(id + "/#", 5));
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (recorder->messages().size() < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
            if (platform::RunLoop::isMainThread()) {
                pumpFor(0.01);
            }
        }
        EXPECT_EQ(recorder->messages().size(), 3u);
        EXPECT_EQ(recorder->delivered().size(), 2u);
        session->closeAndWait();  // no time-out: returns once closed
        EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
        EXPECT_TRUE(broker.waitFor({"Received DISCONNECT from " + id}));
    }

    Broker broker;
};

TEST_F(SessionSynchron, OnTheMainLoopThread) {
    auto session = MQTTSession::initWithClientId("sync-main");
    roundTrip(session, "sync-main");
}

TEST_F(SessionSynchron, OffTheMainLoopThread) {
    platform::RunLoop::startMainLoopThread();
    {
        auto session = MQTTSession::initWithClientId("sync-off");
        roundTrip(session, "sync-off");
        platform::DispatchQueue::main()->sync([&] { session.reset(); });
    }
    platform::RunLoop::stopMainLoopThread();
}

TEST_F(SessionSynchron, OnASerialQueueOfItsOwn) {
    auto session = MQTTSession::initWithClientId("sync-serial", platform::DispatchQueue::serial("session"));
    roundTrip(session, "sync-serial");
}

TEST_F(SessionSynchron, TimeOutsAndRefusals) {
    // A broker that takes the connection and never answers.
    FakeBroker silent([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.closedByPeer(5s);
    });
    auto session = MQTTSession::initWithClientId("patient");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->connectAndWaitToHost("127.0.0.1", static_cast<std::uint32_t>(silent.port()), false, 0.5));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 3s);
    EXPECT_EQ(session->status(), MQTTSessionStatusConnecting);
    session->closeAndWait(1);
    EXPECT_EQ(session->status(), MQTTSessionStatusClosed);

    // Refused: false as soon as the CONNACK is handled, well before the time-out.
    auto refused = MQTTSession::initWithClientId("", std::nullopt, std::nullopt, 60, false);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(refused->connectAndWaitToHost("127.0.0.1", static_cast<std::uint32_t>(broker.port()), false, 20));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_EQ(refused->status(), MQTTSessionStatusClosed);

    // A publish whose acknowledgement never comes times out with false; QoS 0
    // answers true without waiting.
    Proxy proxy(broker.port());
    proxy.setFilter([](Proxy::Direction d, const platform::Bytes& p) {
        return d == Proxy::ToClient && (p[0] >> 4) == MQTTPuback ? Proxy::Drop : Proxy::Forward;
    });
    auto lossy = MQTTSession::initWithClientId("lossy");
    ASSERT_TRUE(lossy->connectAndWaitToHost("127.0.0.1", static_cast<std::uint32_t>(proxy.port()), false, 5));
    EXPECT_FALSE(lossy->publishAndWaitData(bytes("x"), "lossy/t", false, 1, 0.3));
    EXPECT_TRUE(lossy->publishAndWaitData(bytes("x"), "lossy/t", false, 0, 0.3));
    lossy->closeAndWait();
}

}  // namespace
}  // namespace pellix::test
