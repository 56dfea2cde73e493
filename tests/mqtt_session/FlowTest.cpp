// QoS 0, 1 and 2 both ways through mosquitto, resends with the dup flag,
// and flows that survive a cut connection.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "MQTTClient/MQTTLog.h"
#include "platform/ManualClock.h"
#include "SessionTestKit.h"

namespace pellix::test {
namespace {

class SessionFlow : public ::testing::Test {
protected:
    void SetUp() override { MQTTLog::setLogLevel(0); }

    static void connect(const std::shared_ptr<MQTTSession>& session) { connectAndWait(session); }

    static void subscribe(const std::shared_ptr<MQTTSession>& session, const std::string& filter, std::uint8_t qos,
                          platform::Array* granted = nullptr) {
        bool done = false;
        session->subscribeToTopic(filter, qos, [&](platform::ErrorPtr e, const std::optional<platform::Array>& g) {
            EXPECT_FALSE(e);
            if (granted && g) {
                *granted = *g;
            }
            done = true;
        });
        ASSERT_TRUE(pump([&] { return done; }));
    }

    static std::size_t countSent(const Recorder& r, std::uint8_t type, std::optional<bool> dup = std::nullopt) {
        std::size_t n = 0;
        for (const auto& p : r.sent()) {
            n += p.type == type && (!dup || p.dup == *dup) ? 1 : 0;
        }
        return n;
    }

    Broker broker;
};

TEST_F(SessionFlow, EveryQoSBothWaysAtEachLevelExactlyOnce) {
    constexpr int kPerQoS = 15;
    for (std::uint8_t level : {3, 4, 5}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string prefix = "flow/" + std::to_string(level);
        auto subscriber = makeSession(broker.port(), "sub" + std::to_string(level), level);
        auto publisher = makeSession(broker.port(), "pub" + std::to_string(level), level);
        auto in = std::make_shared<Recorder>();
        auto out = std::make_shared<Recorder>();
        subscriber->setDelegate(in);
        publisher->setDelegate(out);
        std::vector<std::string> handled;
        subscriber->setMessageHandler([&](const platform::Bytes& data, const std::string&) { handled.push_back(str(data)); });
        connect(subscriber);
        connect(publisher);
        platform::Array granted;
        subscribe(subscriber, prefix + "/#", 2, &granted);
        // At level 5 the SUBACK's property block is not a granted value.
        EXPECT_EQ(granted, platform::Array{platform::Value(2)});

        int handlersCalled = 0;
        std::map<std::uint8_t, std::set<std::uint16_t>> ids;
        for (int i = 0; i < kPerQoS; ++i) {
            for (std::uint8_t qos : {0, 1, 2}) {
                const auto mid = publisher->publishData(
                    bytes("q" + std::to_string(qos) + "-" + std::to_string(i)), prefix + "/q" + std::to_string(qos),
                    false, qos, [&](platform::ErrorPtr e) {
                        EXPECT_FALSE(e);
                        ++handlersCalled;
                    });
                if (qos == 0) {
                    EXPECT_EQ(mid, 0);
                } else {
                    EXPECT_TRUE(ids[qos].insert(mid).second) << "id handed out twice";
                }
            }
        }
        ASSERT_TRUE(pump([&] { return in->messages().size() >= 3 * kPerQoS && out->delivered().size() == 2 * kPerQoS; }));
        pumpFor(0.3);  // anything extra would show up now
        EXPECT_EQ(handlersCalled, 3 * kPerQoS);
        std::multiset<std::string> payloads;
        for (const auto& m : in->messages()) {
            payloads.insert(str(m.data));
            EXPECT_EQ(m.qos, m.topic.back() - '0') << m.topic;
            EXPECT_EQ(m.qos == 0, m.mid == 0);
        }
        EXPECT_EQ(payloads.size(), static_cast<std::size_t>(3 * kPerQoS));
        for (int i = 0; i < kPerQoS; ++i) {
            for (int qos = 0; qos < 3; ++qos) {
                EXPECT_EQ(payloads.count("q" + std::to_string(qos) + "-" + std::to_string(i)), 1u);
            }
        }
        EXPECT_EQ(handled.size(), payloads.size());
        // The subscriber acknowledged what it received, and keeps no flow.
        EXPECT_EQ(countSent(*in, MQTTPuback), static_cast<std::size_t>(kPerQoS));
        EXPECT_EQ(countSent(*in, MQTTPubrec), static_cast<std::size_t>(kPerQoS));
        EXPECT_EQ(countSent(*in, MQTTPubcomp), static_cast<std::size_t>(kPerQoS));
        EXPECT_TRUE(subscriber->persistence()->allFlowsforClientId(subscriber->clientId(), true).empty());
        EXPECT_TRUE(publisher->persistence()->allFlowsforClientId(publisher->clientId(), false).empty());
        subscriber->close();
        publisher->close();
    }
}

TEST_F(SessionFlow, UnansweredPacketsAreResentWithDupAfterTheTimeout) {
    for (std::uint8_t qos : {1, 2}) {
        SCOPED_TRACE("qos " + std::to_string(qos));
        Proxy proxy(broker.port());
        // The first acknowledgement of each kind is lost on its way to us.
        std::set<std::uint8_t> dropped;
        proxy.setFilter([&](Proxy::Direction d, const platform::Bytes& p) {
            const std::uint8_t type = p[0] >> 4;
            if (d == Proxy::ToClient && (type == MQTTPuback || type == MQTTPubrec || type == MQTTPubcomp) &&
                dropped.insert(type).second) {
                return Proxy::Drop;
            }
            return Proxy::Forward;
        });
        const std::string id = "dup" + std::to_string(qos);
        auto observer = makeSession(broker.port(), "watch" + std::to_string(qos), 4);
        auto seen = std::make_shared<Recorder>();
        observer->setDelegate(seen);
        connect(observer);
        subscribe(observer, "dup/#", 2);

        auto session = makeSession(proxy.port(), id, 4);
        session->setDupTimeout(1.0);
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        connect(session);
        const auto mid = session->publishData(bytes("once"), "dup/" + std::to_string(qos), false, qos);
        ASSERT_TRUE(pump([&] { return recorder->delivered().size() == 1; }, 10));
        EXPECT_EQ(recorder->delivered()[0], mid);
        EXPECT_EQ(countSent(*recorder, MQTTPublish, false), 1u);
        EXPECT_EQ(countSent(*recorder, MQTTPublish, true), 1u);
        // The broker saw the repeat with its dup flag set.
        EXPECT_TRUE(broker.waitFor({"Received PUBLISH from " + id, "d1, q" + std::to_string(qos)}));
        if (qos == 2) {
            EXPECT_EQ(countSent(*recorder, MQTTPubrel), 2u);  // the PUBCOMP was lost once too
            EXPECT_TRUE(broker.waitFor({"Received PUBREL from " + id}, 2));
            pumpFor(0.3);
            EXPECT_EQ(seen->count("dup/2"), 1u);
        }
        session->close();
        observer->close();
    }
}

TEST_F(SessionFlow, ReconnectResendsAtOnceAndCompletesEachMessageOnce) {
    Proxy proxy(broker.port());
    auto observer = makeSession(broker.port(), "watcher", 4);
    auto seen = std::make_shared<Recorder>();
    observer->setDelegate(seen);
    connect(observer);
    subscribe(observer, "cut/#", 2);

    // QoS 1: the PUBACK never reaches us before the cut.
    // QoS 2: the PUBCOMP never reaches us; the PUBREL must be resent.
    proxy.setFilter([](Proxy::Direction d, const platform::Bytes& p) {
        const std::uint8_t type = p[0] >> 4;
        return d == Proxy::ToClient && (type == MQTTPuback || type == MQTTPubcomp) ? Proxy::Drop : Proxy::Forward;
    });
    auto session = makeSession(proxy.port(), "cutter", 4);
    session->setCleanSessionFlag(false);  // the broker keeps its half of the flows too
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    int handlers = 0;
    const auto one = session->publishData(bytes("one"), "cut/1", false, 1, [&](platform::ErrorPtr e) {
        EXPECT_FALSE(e);
        ++handlers;
    });
    const auto two = session->publishData(bytes("two"), "cut/2", false, 2, [&](platform::ErrorPtr e) {
        EXPECT_FALSE(e);
        ++handlers;
    });
    ASSERT_TRUE(pump([&] {
        const auto types = proxy.seen(Proxy::ToClient);
        return std::count(types.begin(), types.end(), MQTTPubcomp) == 1 &&
               std::count(types.begin(), types.end(), MQTTPuback) == 1;
    }));
    proxy.cut();
    ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
    EXPECT_EQ(recorder->events().back(), MQTTSessionEventConnectionClosed);
    EXPECT_EQ(handlers, 0);  // publish handlers wait for the next connection
    proxy.release();

    const auto sentBefore = recorder->sent().size();
    const auto started = std::chrono::steady_clock::now();
    connect(session);
    ASSERT_TRUE(pump([&] { return recorder->delivered().size() == 2; }, 5));
    // Default duplicate time-out is 20 s: this came from the reconnect, not the timer.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(handlers, 2);
    const auto sent = recorder->sent();
    std::vector<Packet> after(sent.begin() + static_cast<std::ptrdiff_t>(sentBefore), sent.end());
    bool publishAgain = false, pubrelAgain = false;
    for (const auto& p : after) {
        publishAgain |= p.type == MQTTPublish && p.mid == one && p.dup;
        pubrelAgain |= p.type == MQTTPubrel && p.mid == two;
    }
    EXPECT_TRUE(publishAgain);
    EXPECT_TRUE(pubrelAgain);
    EXPECT_TRUE(broker.waitFor({"Received PUBREL from cutter"}, 2));
    pumpFor(0.3);
    EXPECT_EQ(seen->count("cut/2"), 1u);  // exactly once despite the cut
    EXPECT_GE(seen->count("cut/1"), 1u);  // at least once
    session->close();
    observer->close();
}

TEST_F(SessionFlow, IncomingQoS2FlowOutlivesACut) {
    Proxy proxy(broker.port());
    auto session = makeSession(proxy.port(), "receiver", 4);
    session->setCleanSessionFlag(false);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    subscribe(session, "in/#", 2);
    proxy.setFilter([](Proxy::Direction d, const platform::Bytes& p) {
        return d == Proxy::ToClient && (p[0] >> 4) == MQTTPubrel ? Proxy::Drop : Proxy::Forward;
    });
    auto sender = makeSession(broker.port(), "sender", 4);
    connect(sender);
    sender->publishData(bytes("kept"), "in/x", false, 2);
    ASSERT_TRUE(pump([&] {
        const auto types = proxy.seen(Proxy::ToClient);
        return std::count(types.begin(), types.end(), MQTTPubrel) == 1;
    }));
    pumpFor(0.2);
    EXPECT_TRUE(recorder->messages().empty());  // QoS 2 is delivered on PUBREL
    EXPECT_EQ(session->persistence()->allFlowsforClientId("receiver", true).size(), 1u);
    proxy.cut();
    ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
    proxy.release();
    connect(session);
    ASSERT_TRUE(pump([&] { return recorder->messages().size() == 1; }));
    pumpFor(0.3);
    ASSERT_EQ(recorder->messages().size(), 1u);
    EXPECT_EQ(str(recorder->messages()[0].data), "kept");
    EXPECT_EQ(recorder->messages()[0].topic, "in/x");
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("receiver", true).empty());
    session->close();
    sender->close();
}

TEST_F(SessionFlow, WindowQueuesAndFeedbackHoldsBackTheAcknowledgement) {
    Proxy proxy(broker.port());
    proxy.setFilter([](Proxy::Direction d, const platform::Bytes& p) {
        return d == Proxy::ToClient && (p[0] >> 4) == MQTTPuback ? Proxy::Hold : Proxy::Forward;
    });
    auto session = makeSession(proxy.port(), "windowed", 4);
    session->persistence()->setMaxWindowSize(2);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    for (int i = 0; i < 6; ++i) {
        session->publishData(bytes("w" + std::to_string(i)), "win/t", false, 1);
    }
    pumpFor(0.5);
    // Up to window + 1 in flight, the rest queued behind them.
    EXPECT_EQ(countSent(*recorder, MQTTPublish), 3u);
    proxy.release();
    ASSERT_TRUE(pump([&] { return recorder->delivered().size() == 6; }, 10));
    EXPECT_EQ(countSent(*recorder, MQTTPublish, true), 0u);

    // A delegate that does not take a QoS 1 message leaves it unacknowledged.
    auto receiver = makeSession(broker.port(), "reluctant", 4);
    auto reluctant = std::make_shared<Recorder>();
    reluctant->feedback = false;
    receiver->setDelegate(reluctant);
    connect(receiver);
    subscribe(receiver, "win/#", 1);
    session->publishData(bytes("late"), "win/t", false, 1);
    ASSERT_TRUE(pump([&] { return reluctant->messages().size() == 1; }));
    pumpFor(0.2);
    EXPECT_EQ(countSent(*reluctant, MQTTPuback), 0u);
    receiver->close();
    session->close();
}

// With the clock standing still the once-a-second pass never runs, so only
// the acknowledgements can move the queue: each one lets the next queued
// message out, in order and without the dup flag.
TEST_F(SessionFlow, AcknowledgementsDrainTheQueueWithoutWaitingForTheTick) {
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    struct Restore {
        ~Restore() { platform::Clock::setShared(nullptr); }
    } restore;
    for (std::uint8_t qos : {1, 2}) {
        SCOPED_TRACE("qos " + std::to_string(qos));
        Proxy proxy(broker.port());
        const std::uint8_t answer = qos == 1 ? MQTTPuback : MQTTPubrec;
        proxy.setFilter([answer](Proxy::Direction d, const platform::Bytes& p) {
            return d == Proxy::ToClient && (p[0] >> 4) == answer ? Proxy::Hold : Proxy::Forward;
        });
        auto session = makeSession(proxy.port(), "drain" + std::to_string(qos), 4);
        session->persistence()->setMaxWindowSize(1);
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        connect(session);
        constexpr int kMessages = 12;
        std::vector<std::uint16_t> ids;
        int handled = 0;
        for (int i = 0; i < kMessages; ++i) {
            ids.push_back(session->publishData(bytes("d" + std::to_string(i)), "drain/t", false, qos,
                                               [&](platform::ErrorPtr e) {
                                                   EXPECT_FALSE(e);
                                                   ++handled;
                                               }));
        }
        pumpFor(0.3);
        EXPECT_EQ(countSent(*recorder, MQTTPublish), 2u);
        proxy.release();
        ASSERT_TRUE(pump([&] { return handled == kMessages; }, 10)) << handled << " of " << kMessages;
        EXPECT_EQ(countSent(*recorder, MQTTPublish, true), 0u);
        std::vector<std::uint16_t> order;
        for (const auto& p : recorder->sent()) {
            if (p.type == MQTTPublish) order.push_back(p.mid);
        }
        EXPECT_EQ(order, ids);
        EXPECT_TRUE(session->persistence()->allFlowsforClientId("drain" + std::to_string(qos), false).empty());
        session->close();
    }
}

}  // namespace
}  // namespace pellix::test
