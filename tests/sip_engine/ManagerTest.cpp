// SipEngineManager with its engine, against sipp and loopback listeners.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "PellixSipCallManager/SipEngineManager.h"
#include "PellixSipCallManager/SipEngineUIDelegates.h"
#include "SipEngineSDK/CallMedia.h"
#include "SipTestKit.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Reachability.h"
#include "platform/RunLoop.h"

namespace pellix::test {
namespace {

using client::Call;
using client::textOf;

// The manager is one per process: the first test that needs it starts it on
// loopback, and every test leaves its delegates as it found them.
SipEngineManager& startedManager() {
    auto& m = *SipEngineManager::sharedInstance();
    if (!m.isInitialized()) {
        SipEngineManager::setReachabilityHostName("localhost");
        client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
        // These tests are about signalling: null media, which the start-up
        // keeps as a host's own choice (it installs GStreamer only when no
        // backend is set; this machine may have no sound device).
        client::media::setCallMediaFactory(
            [](const client::media::MediaSettings& s) { return client::media::makeNullCallMedia(s); });
        m.initializeSipEngineManager();
    }
    return m;
}

bool runMainUntil(const std::function<bool()>& done, double seconds = 10) {
    return platform::RunLoop::main()->runUntil(done, seconds);
}

// Registration and call reports apart: an account left registering by an
// earlier test of the process may report while a call test runs.
struct Reports : SipEngineUIRegistrationDelegate, SipEngineUICallDelegate {
    std::vector<std::string> seen;       // registration
    std::vector<std::string> calls;
    bool has(const std::string& s) const {
        return std::find(seen.begin(), seen.end(), s) != seen.end() ||
               std::find(calls.begin(), calls.end(), s) != calls.end();
    }
    void OnRegistrationProgress(client::SipProfile*) override { seen.push_back("progress"); }
    void OnRegistrationSucess(client::SipProfile*) override { seen.push_back("success"); }
    void OnRegistrationCleared(client::SipProfile*) override { seen.push_back("cleared"); }
    void OnRegisterationFailed(client::SipProfile*, std::int64_t c, const std::optional<std::string>&) override {
        seen.push_back("failed " + std::to_string(c));
    }
    void OnNewCall(Call*, std::int32_t d, const std::optional<std::string>& id, bool v) override {
        calls.push_back("new " + std::to_string(d) + " " + id.value_or("nil") + " " + std::to_string(v));
    }
    void OnCallCancel(Call*) override { calls.push_back("cancel"); }
    void OnCallFailed(Call*, std::int64_t c, const std::optional<std::string>&) override {
        calls.push_back("call failed " + std::to_string(c));
    }
    void OnCallRejected(Call*, std::int64_t c, const std::optional<std::string>&) override {
        calls.push_back("rejected " + std::to_string(c));
    }
    void OnCallProcessing(Call*) override { calls.push_back("processing"); }
    void OnCallRinging(Call*) override { calls.push_back("ringing"); }
    void OnCallConnected(Call*, bool v, bool d) override {
        calls.push_back("connected " + std::to_string(v) + " " + std::to_string(d));
    }
    void OnCallEnded(Call*) override { calls.push_back("ended"); }
    void OnCallPausing(Call*) override {}
    void OnCallPaused(Call*) override {}
    void OnCallResuming(Call*) override {}
    void OnCallResumed(Call*) override {}
    void OnCallRemoteUpdating(Call*) override {}
    void OnCallRemoteUpdated(Call*) override {}
    void OnCallReferAccepted(Call*) override {}
    void OnCallReferRejected(Call*) override {}
    void OnMediaStreamReady(Call*, std::int32_t t) override { calls.push_back("media " + std::to_string(t)); }
    void OnReceiveDtmf(Call*, const std::optional<std::string>& t) override { calls.push_back("dtmf " + t.value_or("")); }
};

class Manager : public ::testing::Test {
protected:
    void SetUp() override {
        m = &startedManager();
        m->setRegistrationDelegate(&reports);
        m->setCallDelegate(&reports);
    }
    void TearDown() override {
        m->setRegistrationDelegate(nullptr);
        m->setCallDelegate(nullptr);
        m->hangUpCurrentCall();
        platform::Log::setSink({});
    }
    void loadConfigure(const std::string& account, const std::optional<std::string>& password,
                       const std::string& domain, std::int64_t transport = 0, std::int64_t expire = 1800,
                       std::int64_t videoType = 0, const std::vector<std::string>& stun = {"", "", "", "", "", ""}) {
        m->loadConfigureWithSipAccount(account, "", password, domain, false, "", transport, false, false, expire, "",
                                       true, videoType, stun[0], stun[1], stun[2], stun[3], stun[4], stun[5]);
    }
    SipEngineManager* m = nullptr;
    Reports reports;
};

TEST(SipEngineManagerStartUp, StartsOncePostsOnceAndStaysDownAfterShutdown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fresh process: the manager is a singleton for the life of one.
    EXPECT_EXIT(
        {
            auto fail = [](const char* what) {
                std::fprintf(stderr, "FAILED: %s\n", what);
                std::_Exit(1);
            };
            auto& m = *SipEngineManager::sharedInstance();
            m.setRegistrationDelegate(reinterpret_cast<SipEngineUIRegistrationDelegate*>(8));
            int posted = 0;
            bool delegatesClearedBeforePost = false;
            platform::NotificationCenter::defaultCenter().addObserverWithOwner(
                &posted, kSipEngineManager_InitializeSuccess_Notification, nullptr, [&](const platform::Notification&) {
                    ++posted;
                    delegatesClearedBeforePost = m.registrationDelegate() == nullptr && m.callDelegate() == nullptr;
                });
            SipEngineManager::setReachabilityHostName("localhost");
            client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
            m.initializeSipEngineManager();
            auto& c = SipEngineManager::config();
            if (posted != 1 || !delegatesClearedBeforePost) fail("one notification, delegates nil");
            if (!m.gainSipEngine() || m.connectivity() == 2) fail("engine started, loopback reachable");
            if (c.transport.udpPort != 0 || c.transport.tcpPort != 0 || c.transport.tlsPort != 0 ||
                !c.transport.enableIPv4 || c.transport.enableIPv6)
                fail("transport");
            if (textOf(c.media.audioCodecs) != "g729,pcma,pcmu" || !c.log.enabled || c.log.level != -1 ||
                c.media.rtpTimeoutMs != 10000)
                fail("record");
            std::string ua = textOf(c.userAgent);
            if (ua.rfind("iOS Client 1.0 (", 0) != 0 || ua.size() > 63) fail("user agent");
            m.initializeSipEngineManager();
            if (posted != 1) fail("second start posted");
            m.terminateSipEngine();
            if (m.gainSipEngine() || !m.isInitialized()) fail("shutdown");
            m.handleTimer();
            m.configureDNS();
            m.resetTransport();
            m.initializeSipEngineManager();
            if (m.gainSipEngine() || posted != 1) fail("restarted after shutdown");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Manager, ReachabilityVerdicts) {
    std::vector<std::string> lines;
    platform::Log::setSink([&](std::string_view l) { lines.emplace_back(l); });
    int port = 0;
    int listener = listenLoopback(port);
    SipEngineManager::setNetworkKickAddress("127.0.0.1:" + std::to_string(port));
    using R = platform::Reachability;
    struct Case {
        std::uint32_t flags;
        const char* verdict;   // the log line before the last, or none
        std::int64_t connectivity;
        bool reachable;
    };
    const Case cases[] = {
        {0, "Network connectivity [DOWN] !", 2, false},
        {R::kReachable, "Network connectivity [UP] !", 0, true},
        {R::kReachable | R::kIsWWAN, "Network connectivity now [Changed] !", 1, true},
        {R::kReachable | R::kIsWWAN, nullptr, 1, true},
        {R::kReachable | R::kConnectionOnDemand, "Network connectivity [DOWN] !", 2, false},
        {R::kIsLocalAddress, "Network connectivity [UP] !", 0, true},   // the reachable bit itself is not asked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        lines.clear();
        networkReachabilityCallBack(nullptr, c.flags, m);
        EXPECT_EQ(m->connectivity(), c.connectivity);
        EXPECT_EQ(SipEngineManager::networkIsReachable(), c.reachable);
        ASSERT_FALSE(lines.empty());
        char flagLine[64];
        std::snprintf(flagLine, sizeof(flagLine), "[PellixSDK Debug]: Network connection flag [%x]", c.flags);
        EXPECT_EQ(lines.front(), flagLine);
        bool down = c.connectivity == 2;
        std::vector<std::string> expected = {flagLine};
        if (c.verdict) expected.push_back(std::string("[PellixSDK Debug]: ") + c.verdict);
        if (!down)
            expected.push_back(std::string("[PellixSDK Debug]: New network connectivity  of type [") +
                               (c.connectivity == 1 ? "wwan" : "wifi") + "]");
        EXPECT_EQ(lines, expected);
    }
    // Each down verdict woke the network with five bytes to the LAN address.
    for (int i = 0; i < 2; ++i) {
        timeval tv{5, 0};
        setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        int conn = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(conn, 0);
        setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        std::string got;
        char buf[16];
        ssize_t n;
        while ((n = ::recv(conn, buf, sizeof(buf), 0)) > 0) got.append(buf, static_cast<std::size_t>(n));
        EXPECT_EQ(got, "hello");
        ::close(conn);
    }
    ::close(listener);
    SipEngineManager::setNetworkKickAddress("");
}

TEST_F(Manager, AccountRegistersWithDigestAndUnregisters) {
    auto registrar = Sipp::server("register_digest");
    loadConfigure("1001", "secret", "127.0.0.1:" + std::to_string(registrar->port()), 0, 1800, 2);
    ASSERT_TRUE(runMainUntil([&] { return reports.has("success"); })) << registrar->errors();
    EXPECT_EQ(reports.seen.front(), "progress");
    EXPECT_TRUE(m->isSipRegistered());
    auto* profile = m->gainCurrentSipProfile();
    EXPECT_EQ(profile->Name(), "main_profile");
    EXPECT_EQ(textOf(profile->authName), "1001") << "no auth name: the account";
    EXPECT_TRUE(profile->persistentContact);
    EXPECT_EQ(textOf(SipEngineManager::config().media.audioCodecs), "g729,PCMU,PCMA");
    EXPECT_EQ(textOf(SipEngineManager::config().media.videoCodecs), "H264");
    m->deRegisterSipAccount();
    ASSERT_TRUE(runMainUntil([&] { return reports.has("cleared"); })) << registrar->errors();
    EXPECT_FALSE(m->isSipRegistered());
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
}

TEST_F(Manager, WhatRegistrationNeedsAndWhatTheProfileKeeps) {
    std::string closed = "127.0.0.1:" + std::to_string(freeUdpPort());
    struct Case {
        const char* account;
        std::optional<std::string> password;
        std::string domain;
        bool registers;
    };
    const Case cases[] = {
        {"1001", std::string(), closed, true},   // an empty password is a password
        {"1001", std::nullopt, closed, false},
        {"", std::string("x"), closed, false},
        {"1001", std::string("x"), "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.account) + " " + (c.password ? "pw" : "nil") + " " + c.domain);
        reports.seen.clear();
        loadConfigure(c.account, c.password, c.domain);
        runMainUntil([&] { return reports.seen.size() >= 2; }, c.registers ? 10 : 0.3);
        if (c.registers) EXPECT_EQ(reports.seen, (std::vector<std::string>{"progress", "failed 503"}));
        else EXPECT_TRUE(reports.seen.empty());
    }
    // The same profile, overwritten field by field.
    loadConfigure("1001", "x", closed, 5, 600);
    auto* p = m->gainCurrentSipProfile();
    EXPECT_EQ(p->transport, 2) << "an unknown transport is stored as 2";
    EXPECT_EQ(p->expires, 600);
    loadConfigure("1001", "x", closed, 1, 0);
    EXPECT_EQ(p->transport, 1);
    EXPECT_EQ(p->expires, 600) << "expiry 0 keeps the earlier one";
    EXPECT_EQ(m->gainCurrentSipProfile(), p);
    runMainUntil([] { return false; }, 0.2);
}

TEST_F(Manager, VideoPresetsAndStunAndRelaySettings) {
    struct Preset {
        std::int64_t type;
        int w, h;
        float bitrate, fps;
    };
    for (const auto& p : {Preset{0, 320, 240, 256, 15}, Preset{1, 352, 288, 384, 15}, Preset{2, 640, 480, 512, 17},
                          Preset{3, 1280, 720, 1024, 20}, Preset{4, 320, 240, 256, 15}, Preset{-1, 320, 240, 256, 15}}) {
        loadConfigure("", "", "", 0, 0, p.type);
        auto size = SipEngineManager::gainVideoSize();
        EXPECT_EQ(std::vector<float>({float(size.width), float(size.height), SipEngineManager::gainBitrate(),
                                      SipEngineManager::gainFrameRate()}),
                  std::vector<float>({float(p.w), float(p.h), p.bitrate, p.fps}))
            << p.type;
    }

    auto& media = SipEngineManager::config().media;
    struct Stun {
        std::vector<std::string> args;   // stun, port, relay, relay port, relay user, relay password
        const char* host;
        int port;
        const char* user;
        const char* password;
    };
    const Stun cases[] = {
        {{"stun.test", "3478", "", "", "", ""}, "stun.test", 3478, "", ""},
        {{"stun.test", "", "", "", "", ""}, "stun.test", 1, "", ""},
        {{"stun.test", "3478", "relay.test", "5349", "u", "p"}, "relay.test", 5349, "u", "p"},
        {{"", "", "relay.test", "5349", "", "p"}, "before", 1, "", ""},   // no relay user: nothing changes
        {{"", "", "relay.test", "", "u", ""}, "relay.test", 1, "u", ""},
        {{"stun.test", "70000", "", "", "", ""}, "stun.test", 70000 & 0xffff, "", ""},
    };
    for (const auto& c : cases) {
        client::setText(media.stunServer, "before");
        media.stunPort = 1;
        client::setText(media.relayUserName, "");
        client::setText(media.relayPassword, "");
        loadConfigure("", "", "", 0, 0, 0, c.args);
        EXPECT_EQ(textOf(media.stunServer), c.host) << c.args[0] << "/" << c.args[2];
        EXPECT_EQ(media.stunPort, c.port);
        EXPECT_EQ(textOf(media.relayUserName), c.user);
        EXPECT_EQ(textOf(media.relayPassword), c.password);
    }
    EXPECT_FALSE(media.enableStun);
}

TEST_F(Manager, CallPlacedThroughTheManagerReachesTheDelegateAndEnds) {
    auto callee = Sipp::server("uas_answer_bye");
    auto* profile = m->gainCurrentSipProfile();
    profile->SetUserName("1001");
    profile->SetDomain(("127.0.0.1:" + std::to_string(callee->port())).c_str());
    Call* call = m->makeCall("2001", true, "unused");
    ASSERT_NE(call, nullptr);
    ASSERT_TRUE(runMainUntil([&] { return m->inCalling(); })) << callee->errors();
    EXPECT_EQ(m->makeCall("2002", false, ""), call) << "no second call while one is connected";
    ASSERT_TRUE(runMainUntil([&] { return reports.has("ended"); })) << callee->errors();
    EXPECT_EQ(m->currentCall(), nullptr);
    EXPECT_EQ(reports.calls, (std::vector<std::string>{"new 1 2001 1", "processing", "ringing", "connected 1 0",
                                                      "media 1", "media 2", "ended"}));
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    std::string log = callee->messages();
    EXPECT_NE(log.find("X-MyHeader1: MyValue1"), std::string::npos);
    EXPECT_NE(log.find("X-MyHeader2: MyValue2"), std::string::npos);
    EXPECT_NE(log.find("User-Agent: iOS Client 1.0 ("), std::string::npos);
}

}  // namespace
}  // namespace pellix::test
