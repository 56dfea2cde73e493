// The session manager against mosquitto on the manual clock: back-off after
// refused connects, subscriptions restored after the broker restarts, a
// rebuilt session closing the old one, and the application's life cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "MQTTClient/ForegroundReconnection.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSessionManager.h"
#include "platform/Application.h"
#include "platform/ManualClock.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "support/Hex.h"
#include "support/MQTTPeers.h"
#include "support/MosquittoBroker.h"
#include "support/TestSupport.h"

using namespace pellix;
using pellix::platform::Bytes;
using pellix::test::FakeBroker;
using pellix::test::FakeConnection;
using pellix::test::hex;
using pellix::test::MosquittoBroker;
using pellix::test::Proxy;
using namespace std::chrono_literals;

namespace {

bool pump(const std::function<bool()>& pred, double seconds = 10) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

class Observer : public MQTTSessionManagerDelegate {
public:
    std::vector<MQTTSessionManagerState> states;
    std::vector<std::pair<std::string, std::string>> messages;  // topic, payload
    void sessionManager(MQTTSessionManager&, MQTTSessionManagerState s) override { states.push_back(s); }
    void handleMessage(const Bytes& data, const std::string& topic, bool) override {
        messages.emplace_back(topic, std::string(data.begin(), data.end()));
    }
    int count(MQTTSessionManagerState s) const { return static_cast<int>(std::count(states.begin(), states.end(), s)); }
};

class SessionManager : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(MQTTLogLevelError | MQTTLogLevelWarning);
        platform::Clock::setShared(clock);
    }
    void TearDown() override {
        manager.reset();
        pump([] { return false; }, 0.05);
        platform::Clock::setShared(nullptr);
    }
    // Moves the manual clock on in half seconds, letting the main queue run.
    void advance(double seconds) {
        for (double t = 0; t < seconds; t += 0.5) {
            clock->advance(0.5);
            pump([] { return false; }, 0.01);
        }
    }
    void connect(int port, const std::string& clientId, bool clean = true) {
        manager->connectTo("127.0.0.1", port, false, 60, clean, false, std::nullopt, std::nullopt, false, std::nullopt,
                           std::nullopt, 0, false, clientId, nullptr, std::nullopt, 4, nullptr);
    }
    // Manual-clock seconds until the next connect attempt starts (100 at most).
    double untilNextAttempt() {
        const int before = observer->count(MQTTSessionManagerStateConnecting);
        double waited = 0;
        while (observer->count(MQTTSessionManagerStateConnecting) == before && waited < 100) {
            advance(0.5);
            waited += 0.5;
        }
        return waited;
    }
    bool waitFor(MQTTSessionManagerState s) {
        return pump([&] { return manager->state() == s; });
    }

    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    std::shared_ptr<MQTTSessionManager> manager = MQTTSessionManager::create();
    std::shared_ptr<Observer> observer = std::make_shared<Observer>();
};

TEST_F(SessionManager, RefusedConnectsBackOffDoublingUpTo64Seconds) {
    manager->setDelegate(observer);
    connect(pellix::test::freePort(), "backoff");
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    EXPECT_EQ(observer->states, (std::vector<MQTTSessionManagerState>{MQTTSessionManagerStateConnecting,
                                                                       MQTTSessionManagerStateError,
                                                                       MQTTSessionManagerStateClosed}));
    EXPECT_TRUE(manager->lastErrorCode());
    std::vector<double> delays;
    for (int attempt = 0; attempt < 8; ++attempt) {
        delays.push_back(untilNextAttempt());
        ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    }
    EXPECT_EQ(delays, (std::vector<double>{1, 2, 4, 8, 16, 32, 64, 64}));

    // connectToLast starts at once and the delay begins at 1 s again.
    const int before = observer->count(MQTTSessionManagerStateConnecting);
    manager->connectToLast(nullptr);
    EXPECT_EQ(observer->count(MQTTSessionManagerStateConnecting), before + 1);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    advance(1);
    EXPECT_EQ(observer->count(MQTTSessionManagerStateConnecting), before + 2);
}

TEST_F(SessionManager, SubscriptionsAreRestoredAfterTheBrokerRestarts) {
    MosquittoBroker broker;
    manager->setDelegate(observer);
    manager->setSubscriptions(platform::Dictionary{{"room/+", platform::Value(1)}});
    connect(broker.port(), "restorer", false);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    ASSERT_TRUE(pump([&] { return manager->effectiveSubscriptions().contains("room/+"); }));

    broker.restart();  // nothing kept: the broker forgets the subscription
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    EXPECT_NE(manager->state(), MQTTSessionManagerStateConnected);
    advance(1);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    ASSERT_TRUE(broker.waitFor({"restorer", "room/+"}));

    manager->sendData(Bytes{'h', 'i'}, "room/1", 1, false);
    ASSERT_TRUE(pump([&] { return !observer->messages.empty(); }));
    EXPECT_EQ(observer->messages.front(), (std::pair<std::string, std::string>{"room/1", "hi"}));
}

TEST_F(SessionManager, SubscriptionChangesWhileConnectedAndWhileClosed) {
    MosquittoBroker broker;
    manager->setSubscriptions(platform::Dictionary{{"a", platform::Value(0)}, {"b", platform::Value(1)}});
    connect(broker.port(), "subscriber");
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    ASSERT_TRUE(pump([&] { return manager->effectiveSubscriptions().size() == 2; }));

    manager->setSubscriptions(platform::Dictionary{{"b", platform::Value(1)}, {"c", platform::Value(2)}});
    ASSERT_TRUE(pump([&] {
        auto e = manager->effectiveSubscriptions();
        return !e.contains("a") && e.contains("c");
    }));
    EXPECT_EQ(manager->effectiveSubscriptions().find("c")->uintValue(), 2u);
    EXPECT_TRUE(broker.waitFor({"subscriber", "UNSUBSCRIBE"}));
    // Both passes are in the log before it is counted.
    ASSERT_TRUE(broker.waitFor({"Received SUBSCRIBE from subscriber"}, 2));

    manager->disconnectWithDisconnectHandler(nullptr);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    const int subscribes = broker.count({"Received SUBSCRIBE from subscriber"});
    manager->setSubscriptions(platform::Dictionary{{"d", platform::Value(0)}});
    pump([] { return false; }, 0.2);
    EXPECT_EQ(broker.count({"Received SUBSCRIBE from subscriber"}), subscribes);
    // A broker close while closing schedules nothing.
    advance(2);
    EXPECT_EQ(manager->state(), MQTTSessionManagerStateClosed);
}

TEST_F(SessionManager, ARebuiltSessionClosesTheOldOneFirst) {
    MosquittoBroker broker;
    manager->setDelegate(observer);
    connect(broker.port(), "first");
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    auto old = manager->session();
    connect(broker.port(), "second");
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    EXPECT_NE(manager->session(), old);
    EXPECT_FALSE(old->delegate());
    EXPECT_TRUE(broker.waitFor({"Client first disconnected"}));
    EXPECT_EQ(broker.count({"New client connected", "second"}), 1);

    // Equal parameters keep the session object and connect it again; absent
    // texts never count as equal, so they are all given here.
    const auto connectGiven = [&] {
        manager->connectTo("127.0.0.1", broker.port(), false, 60, true, false, std::string("u"), std::string("p"),
                           true, std::string("will"), Bytes{1}, 0, false, std::string("second"), nullptr,
                           std::nullopt, 4, nullptr);
    };
    connectGiven();
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    auto current = manager->session();
    connectGiven();
    // The same session object is closed (DISCONNECT) and connected again.
    EXPECT_EQ(manager->session(), current);
    EXPECT_TRUE(broker.waitFor({"Client second disconnected"}, 2));
    EXPECT_TRUE(manager->state() == MQTTSessionManagerStateConnecting ||
                manager->state() == MQTTSessionManagerStateConnected);
}

TEST_F(SessionManager, ResignActiveDisconnectsAndBecomeActiveReconnects) {
    MosquittoBroker broker;
    ASSERT_TRUE(manager->foregroundReconnection());
    connect(broker.port(), "lifecycle");
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));

    auto& app = platform::Application::sharedApplication();
    app.setState(platform::Application::State::Inactive);
    ASSERT_TRUE(broker.waitFor({"Client lifecycle disconnected"}, 1, 10));
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    // Entering the background finds nothing left to tear down.
    app.setState(platform::Application::State::Background);
    pump([] { return false; }, 0.05);
    EXPECT_EQ(manager->foregroundReconnection()->backgroundTask(), platform::Application::kInvalidBackgroundTask);

    app.setState(platform::Application::State::Active);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    EXPECT_TRUE(broker.waitFor({"New client connected", "lifecycle"}, 2));
    // Becoming active again while connected changes nothing.
    platform::NotificationCenter::defaultCenter().post(platform::Application::DidBecomeActiveNotification, &app);
    pump([] { return false; }, 0.2);
    EXPECT_EQ(broker.count({"New client connected", "lifecycle"}), 2);
    EXPECT_EQ(manager->state(), MQTTSessionManagerStateConnected);
}

// Closing and connecting again in the same turn of the queue: the closing
// connection's tail must not swallow the new attempt's CONNECT.
TEST_F(SessionManager, CloseAndConnectAtOnceConnectsAgain) {
    // The CONNECT goes out from the main queue: keep it turning while the
    // broker's log is read.
    MosquittoBroker broker({.whileWaiting = [] { pump([] { return false; }, 0.02); }});
    auto& app = platform::Application::sharedApplication();
    // Absent texts never count as equal, so every one is given.
    const auto connectGiven = [&] {
        manager->connectTo("127.0.0.1", broker.port(), false, 60, true, false, std::string("u"), std::string("p"),
                           false, std::string("will"), Bytes{1}, 0, false, std::string("atonce"), nullptr,
                           std::nullopt, 4, nullptr);
    };
    const struct {
        const char* what;
        std::function<void()> closeAndConnect;
    } rows[] = {
        {"connectTo with equal parameters", connectGiven},
        {"resign active, become active",
         [&] {
             app.setState(platform::Application::State::Inactive);
             app.setState(platform::Application::State::Active);
         }},
        {"disconnect, connectToLast",
         [&] {
             manager->disconnectWithDisconnectHandler(nullptr);
             manager->connectToLast(nullptr);
         }},
    };
    connectGiven();
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    int connects = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto session = manager->session();
        row.closeAndConnect();
        EXPECT_EQ(manager->session(), session);
        ++connects;
        EXPECT_TRUE(broker.waitFor({"New client connected", "atonce"}, connects, 5));
        EXPECT_TRUE(waitFor(MQTTSessionManagerStateConnected));
        EXPECT_EQ(broker.count({"Client atonce disconnected"}), connects - 1);
    }
}

// Sending while the manager is still connecting must not start the attempt
// over: on a slow link a steady stream of messages would otherwise never let
// a connection finish.
TEST_F(SessionManager, SendingWhileConnectingKeepsTheAttempt) {
    MosquittoBroker broker;
    Proxy proxy(broker.port());
    const auto connects = [&] {
        const auto seen = proxy.seen(Proxy::ToBroker);
        return std::count(seen.begin(), seen.end(), std::uint8_t{1});
    };
    // The broker answers slowly: each CONNECT is held until released.
    proxy.setFilter([](Proxy::Direction direction, const Bytes& packet) {
        return direction == Proxy::ToBroker && packet[0] >> 4 == 1 ? Proxy::Hold : Proxy::Forward;
    });
    manager->setDelegate(observer);
    connect(proxy.port(), "steady", false);
    ASSERT_TRUE(pump([&] { return connects() == 1; }));
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(manager->sendData(Bytes{'m', static_cast<std::uint8_t>('0' + i)}, "steady/t", 1, false), 0);
        pump([] { return false; }, 0.05);
    }
    EXPECT_EQ(connects(), 1);
    EXPECT_EQ(observer->count(MQTTSessionManagerStateConnecting), 1);
    proxy.release();
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    ASSERT_TRUE(pump([&] {
        auto session = manager->session();
        return session->persistence()->flowCountforClientId("steady", false) == 0;
    }));
    EXPECT_EQ(connects(), 1);
}

// A broker that stops answering: the first connection goes silent after its
// SUBACK (the PINGREQ is never answered), the next seven never answer CONNECT,
// the ninth behaves. The manager must notice each silence, back off 1, 2, 4 ...
// 64 s, and on the good connection subscribe its map again and deliver.
TEST_F(SessionManager, SilentBrokerBacksOffAndRestoresSubscriptionsOnReturn) {
    constexpr int kSilentConnects = 7;
    std::atomic<int> subscribes{0};
    FakeBroker fake([&](FakeConnection& conn, int index) {
        if (!conn.receive(5s)) return;  // CONNECT
        if (index > 0 && index <= kSilentConnects) {
            conn.closedByPeer(10s);
            return;
        }
        conn.send(hex("20 02 00 00"));
        auto subscribe = conn.expect(0x8, 5s);
        if (!subscribe) return;
        const std::string body(subscribe->begin(), subscribe->end());
        EXPECT_NE(body.find("room/+"), std::string::npos);
        conn.send({0x90, 0x03, (*subscribe)[2], (*subscribe)[3], 0x01});
        ++subscribes;
        if (index == 0) {
            conn.closedByPeer(10s);  // PINGREQs go unanswered
            return;
        }
        // PUBLISH QoS 0 "room/7" "back"
        conn.send(hex("30 0C 00 06 72 6F 6F 6D 2F 37 62 61 63 6B"));
        conn.closedByPeer(10s);
    });
    manager->setDelegate(observer);
    manager->setSubscriptions(platform::Dictionary{{"room/+", platform::Value(1)}});
    manager->connectTo("127.0.0.1", fake.port(), false, 2, true, false, std::nullopt, std::nullopt, false,
                       std::nullopt, std::nullopt, 0, false, std::string("silent"), nullptr, std::nullopt, 4,
                       nullptr);
    manager->session()->setConnectTimeout(1);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    ASSERT_TRUE(pump([&] { return manager->effectiveSubscriptions().contains("room/+"); }));

    // Keep-alive 2 s: a PINGREQ, then a whole interval without its answer.
    observer->states.clear();
    for (int i = 0; i < 20 && manager->state() == MQTTSessionManagerStateConnected; ++i) advance(0.5);
    ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
    EXPECT_EQ(observer->states,
              (std::vector<MQTTSessionManagerState>{MQTTSessionManagerStateError, MQTTSessionManagerStateClosed}));
    ASSERT_TRUE(manager->lastErrorCode());
    EXPECT_EQ(manager->lastErrorCode()->code(), MQTTSessionErrorNoPingResponse);

    std::vector<double> delays;
    for (int attempt = 0; attempt <= kSilentConnects; ++attempt) {
        delays.push_back(untilNextAttempt());
        if (attempt == kSilentConnects) break;
        // The CONNACK time-out is on the same clock: move it on until the
        // silent attempt is given up.
        for (int i = 0; i < 10 && manager->state() != MQTTSessionManagerStateClosed; ++i) {
            advance(0.5);
            pump([&] { return manager->state() == MQTTSessionManagerStateClosed; }, 0.05);
        }
        ASSERT_EQ(manager->state(), MQTTSessionManagerStateClosed) << "attempt " << attempt;
        EXPECT_EQ(manager->lastErrorCode()->code(), MQTTSessionErrorNoConnackInTime);
    }
    EXPECT_EQ(delays, (std::vector<double>{1, 2, 4, 8, 16, 32, 64, 64}));

    ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
    EXPECT_FALSE(manager->lastErrorCode());
    ASSERT_TRUE(pump([&] { return !observer->messages.empty(); }));
    EXPECT_EQ(observer->messages.back(), (std::pair<std::string, std::string>{"room/7", "back"}));
    EXPECT_EQ(subscribes.load(), 2);
    EXPECT_TRUE(manager->effectiveSubscriptions().contains("room/+"));
    // The back-off starts at 1 s again after the good connect.
    EXPECT_EQ(manager->reconnectTimer()->currentRetryInterval(), 1.0);
    manager->disconnectWithDisconnectHandler(nullptr);  // lets the broker's script end
}

// A SUBACK may answer fewer filters than the SUBSCRIBE sent (a broker fault,
// or a level-5 reply whose codes were cut). The manager reads only the codes
// there are: each answered filter is reported at the QoS the broker granted
// it, an unanswered one is not reported at all, and the session goes on (the
// PUBLISH after the SUBACK arrives). Setting the same map again then
// subscribes exactly the filters left out.
struct ShortSuback {
    const char* name;
    std::uint8_t level;
    Bytes properties;  // level 5 only: the block before the codes, its length first
    Bytes codes;
    platform::Dictionary reported;
};

TEST_F(SessionManager, ASubackShorterThanTheFilterListReportsOnlyWhatItAnswers) {
    const ShortSuback cases[] = {
        {"level 4, two codes for three filters", 4, {}, {0x02, 0x00},
         platform::Dictionary{{"a", platform::Value(2)}, {"b", platform::Value(0)}}},
        {"level 5, one code after an empty property block", 5, {0x00}, {0x00},
         platform::Dictionary{{"a", platform::Value(0)}}},
        {"level 5, a reason string and no code", 5, {0x05, 0x1F, 0x00, 0x02, 'o', 'k'}, {}, platform::Dictionary()},
    };
    const platform::Dictionary wanted{{"a", platform::Value(1)}, {"b", platform::Value(1)}, {"c", platform::Value(1)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        manager = MQTTSessionManager::create();
        observer = std::make_shared<Observer>();
        const std::size_t missing = wanted.size() - c.reported.size();
        std::string unanswered;  // the filters the manager is expected to send again
        for (const auto& key : wanted.keys())
            if (!c.reported.contains(key)) unanswered += key;
        std::mutex resentLock;
        std::string resent;  // the filters it did send again, one per SUBSCRIBE
        FakeBroker fake([&](FakeConnection& conn, int) {
            if (!conn.receive(5s)) return;  // CONNECT
            conn.send(c.level == 5 ? hex("20 03 00 00 00") : hex("20 02 00 00"));
            auto subscribe = conn.expect(0x8, 5s);
            if (!subscribe) return;
            const std::string body(subscribe->begin(), subscribe->end());
            EXPECT_LT(body.find("a"), body.find("b"));
            EXPECT_LT(body.find("b"), body.find("c"));
            Bytes suback{0x90, static_cast<std::uint8_t>(2 + c.properties.size() + c.codes.size()), (*subscribe)[2],
                         (*subscribe)[3]};
            suback.insert(suback.end(), c.properties.begin(), c.properties.end());
            suback.insert(suback.end(), c.codes.begin(), c.codes.end());
            conn.send(suback);
            // PUBLISH QoS 0 "a" "ok"
            conn.send(c.level == 5 ? hex("30 06 00 01 61 00 6F 6B") : hex("30 05 00 01 61 6F 6B"));
            // Each filter left out comes back in a SUBSCRIBE of its own.
            for (std::size_t i = 0; i < missing; ++i) {
                auto again = conn.expect(0x8, 10s);
                if (!again) return;
                {
                    // A one-letter filter: its length, the letter, the options.
                    std::lock_guard lock(resentLock);
                    resent += static_cast<char>((*again)[again->size() - 2]);
                }
                Bytes granted{0x90, 0x03, (*again)[2], (*again)[3], 0x01};
                if (c.level == 5) granted = {0x90, 0x04, (*again)[2], (*again)[3], 0x00, 0x01};
                conn.send(granted);
            }
            conn.closedByPeer(10s);
        });
        manager->setDelegate(observer);
        manager->setSubscriptions(wanted);
        manager->connectTo("127.0.0.1", fake.port(), false, 60, true, false, std::nullopt, std::nullopt, false,
                           std::nullopt, std::nullopt, 0, false, std::string("short-suback"), nullptr, std::nullopt,
                           c.level, nullptr);
        ASSERT_TRUE(waitFor(MQTTSessionManagerStateConnected));
        // The PUBLISH follows the SUBACK on the stream: once it is in, the
        // SUBACK has been handled.
        ASSERT_TRUE(pump([&] { return !observer->messages.empty(); }));
        EXPECT_EQ(observer->messages.front(), (std::pair<std::string, std::string>{"a", "ok"}));
        EXPECT_EQ(manager->state(), MQTTSessionManagerStateConnected);
        EXPECT_TRUE(manager->effectiveSubscriptions() == c.reported)
            << platform::Value(manager->effectiveSubscriptions()).description();

        manager->setSubscriptions(wanted);
        ASSERT_TRUE(pump([&] {
            std::lock_guard lock(resentLock);
            return resent.size() == missing && manager->effectiveSubscriptions().size() == wanted.size();
        })) << platform::Value(manager->effectiveSubscriptions()).description();
        manager->disconnectWithDisconnectHandler(nullptr);  // lets the broker's script end
        ASSERT_TRUE(waitFor(MQTTSessionManagerStateClosed));
        EXPECT_TRUE(fake.done());
        std::lock_guard lock(resentLock);
        std::sort(resent.begin(), resent.end());
        EXPECT_EQ(resent, unanswered);
    }
}

}  // namespace
