#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "SipEngineSDK/SofiaEngine.h"
#include "SipTestKit.h"

namespace pellix::test {
namespace {

// Inodes of this process's UDP sockets bound to `port`: a rebuilt transport
// shows up as a new socket on the same port.
std::set<std::string> udpSocketsOnPort(int port) {
    std::set<std::string> out;
    for (const auto& socket : test::ownUdpSockets())
        if (socket.port == port) out.insert(socket.inode);
    return out;
}

// The REGISTERs in a registrar's log belong to one registration: the same
// Call-ID throughout and a new, larger CSeq for each request.
void expectOneRegistration(const std::string& log, std::size_t requests) {
    std::vector<std::string> callIds, cseqs;
    for (std::size_t at = 0; (at = log.find("REGISTER sip:", at)) != std::string::npos; ++at) {
        auto field = [&](const std::string& name) {
            auto p = log.find("\n" + name + ":", at);
            auto e = log.find('\n', p + 1);
            return p == std::string::npos ? std::string() : log.substr(p + name.size() + 2, e - p - name.size() - 2);
        };
        callIds.push_back(field("Call-ID"));
        cseqs.push_back(field("CSeq"));
    }
    ASSERT_EQ(callIds.size(), requests) << log;
    for (std::size_t i = 1; i < callIds.size(); ++i) {
        EXPECT_EQ(callIds[i], callIds[0]) << i;
        EXPECT_LT(std::stol(cseqs[i - 1]), std::stol(cseqs[i])) << cseqs[i - 1] << " / " << cseqs[i];
    }
}

// What the call manager does on a registration failure with 503.
struct ResetOn503 : client::RegistrationObserver {
    explicit ResetOn503(client::SipEngine* e) : engine(e) {}
    void OnRegistrationProgress(client::SipProfile*) override {}
    void OnRegistrationSuccess(client::SipProfile*) override {}
    void OnRegistrationCleared(client::SipProfile*) override {}
    void OnRegistrationFailed(client::SipProfile*, int code, const char*) override {
        if (code == 503) {
            ++resets;
            engine->ResetTransport();
        }
    }
    client::SipEngine* engine;
    int resets = 0;
};

TEST(SipRegistration, DigestChallengeThenSuccessThenUnregister) {
    auto registrar = Sipp::server("register_digest");
    TestEngine engine;
    auto* profile = engine.profile(registrar->port());
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("registered"); })) << registrar->errors();
    EXPECT_EQ(engine.recorder().events.front(), "progress");
    EXPECT_TRUE(engine->GetRegistrationManager()->IsRegistered(profile));

    // A transport reset (after a 503 the host asks for one) leaves the
    // registration usable: the un-REGISTER still goes out and is answered.
    engine->ResetTransport();
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); })) << registrar->errors() << registrar->messages();
    EXPECT_FALSE(engine->GetRegistrationManager()->IsRegistered(profile));
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
    std::string log = registrar->messages();
    EXPECT_NE(log.find("Authorization: Digest username=\"1001\""), std::string::npos) << log;
    EXPECT_NE(log.find("Expires: 0"), std::string::npos) << log;
}

TEST(SipRegistration, ProxyChallengeIsAnsweredWithTheAccountsCredentials) {
    auto registrar = Sipp::server("register_proxy_digest");
    TestEngine engine;
    auto* profile = engine.profile(registrar->port());
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("registered"); }))
        << registrar->errors() << registrar->messages();
    EXPECT_EQ(engine.recorder().events, (std::vector<std::string>{"progress", "registered"}));
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); })) << registrar->messages();
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
    // The answer to a proxy's challenge goes in Proxy-Authorization, not in
    // the registrar's own header.
    const std::string log = registrar->messages();
    EXPECT_EQ(digestProblem(log, "Proxy-Authorization", "REGISTER", "secret"), "");
    EXPECT_EQ(log.find("\nAuthorization:"), std::string::npos) << log;
}

TEST(SipRegistration, WrongPasswordAndForbiddenReachTheObserverWithCodeAndText) {
    struct Case {
        const char* scenario;
        const char* password;
        const char* expected;
        std::size_t registers;   // what the registrar receives in all
    };
    for (const Case& c : {Case{"register_forbidden", "secret", "failed 403 Forbidden", 1},
                          Case{"register_digest", "wrong", "failed 403 Forbidden", 2},
                          // refused credentials are not sent again
                          Case{"register_rechallenge", "wrong", "failed 401 Unauthorized", 2}}) {
        SCOPED_TRACE(std::string(c.scenario) + " / " + c.password);
        auto registrar = Sipp::server(c.scenario);
        TestEngine engine;
        auto* profile = engine.profile(registrar->port(), "1001", c.password);
        engine->GetRegistrationManager()->Register(profile);
        ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().events.size() >= 2; })) << registrar->errors();
        EXPECT_EQ(engine.recorder().events[1], c.expected);
        EXPECT_FALSE(engine->GetRegistrationManager()->IsRegistered(profile));
        EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
        const std::string log = registrar->messages();
        std::size_t registers = 0;
        for (std::size_t at = 0; (at = log.find("\nREGISTER sip:", at)) != std::string::npos; ++at) ++registers;
        EXPECT_EQ(registers, c.registers) << log;
    }
}

TEST(SipRegistration, RegisteringAgainAfterRefusedCredentialsGoesOnWithTheSameRegistration) {
    auto registrar = Sipp::server("register_rechallenge_then_accept");
    TestEngine engine;
    auto& rec = engine.recorder();
    auto* profile = engine.profile(registrar->port(), "1001", "wrong");
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.has("failed 401 Unauthorized"); })) << registrar->errors();
    engine.profile(registrar->port(), "1001", "secret");
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.has("registered"); }))
        << registrar->errors() << ::testing::PrintToString(rec.events);
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.has("cleared"); })) << registrar->messages();
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
    expectOneRegistration(registrar->messages(), 5);
}

TEST(SipRegistration, UnavailableRegistrarRebuildsTheTransportAndTheNextRegisterSucceeds) {
    auto registrar = Sipp::server("register_unavailable");
    TestEngine engine;
    ResetOn503 resetter(engine.get());
    engine->GetRegistrationManager()->AddObserver(&resetter);
    const auto before = udpSocketsOnPort(engine.port());
    ASSERT_FALSE(before.empty());
    auto* profile = engine.profile(registrar->port());
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("registered"); }, std::chrono::seconds(20)))
        << registrar->errors() << registrar->messages();
    EXPECT_EQ(engine.recorder().events,
              (std::vector<std::string>{"progress", "failed 503 Service Unavailable", "registered"}));
    EXPECT_EQ(resetter.resets, 1);
    EXPECT_TRUE(engine->GetRegistrationManager()->IsRegistered(profile));
    const auto after = udpSocketsOnPort(engine.port());
    ASSERT_FALSE(after.empty()) << "the engine listens on its port again";
    for (const auto& inode : after) EXPECT_EQ(before.count(inode), 0u) << "socket " << inode << " was not rebuilt";
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); })) << registrar->messages();
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
    // Same registration, later request: the Call-ID stays, the CSeq grows.
    expectOneRegistration(registrar->messages(), 3);
}

TEST(SipRegistration, RebuildWhileTheNetworkIsDownRegistersWhenItComesBack) {
    auto registrar = Sipp::server("register_unavailable");
    TestEngine engine;
    struct DownAfter503 : ResetOn503 {
        using ResetOn503::ResetOn503;
        void OnRegistrationFailed(client::SipProfile* p, int code, const char* reason) override {
            ResetOn503::OnRegistrationFailed(p, code, reason);
            engine->GetRegistrationManager()->SetNetworkReachable(false);
        }
    } resetter(engine.get());
    engine->GetRegistrationManager()->AddObserver(&resetter);
    auto* profile = engine.profile(registrar->port());
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return resetter.resets == 1; })) << registrar->errors();
    engine.pumpFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(engine.recorder().has("registered")) << "registered while the network was down";
    engine->GetRegistrationManager()->SetNetworkReachable(true);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("registered"); })) << registrar->messages();
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); })) << registrar->messages();
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
}

TEST(SipRegistration, TransportResetDuringACallWaitsForTheCallToEnd) {
    auto callee = Sipp::server("uas_update");
    TestEngine engine;
    auto& rec = engine.recorder();
    const auto before = udpSocketsOnPort(engine.port());
    client::Call* call = engine->GetCallManager()->MakeCall(engine.profile(callee->port()), "2001", "ios-app", false,
                                                            1, true, 0, {});
    ASSERT_NE(call, nullptr);
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(client::Call::kConnected); })) << callee->errors();
    engine->ResetTransport();
    engine.pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(udpSocketsOnPort(engine.port()), before) << "the call's transport went away under it";
    // The dialog still works: a re-INVITE is answered, the BYE too.
    ASSERT_TRUE(call->UpdateMedia(false));
    ASSERT_TRUE(engine.pumpUntil([&] { return !call->SupportVideo(); })) << callee->errors();
    EXPECT_TRUE(call->Hangup());
    ASSERT_TRUE(engine.pumpUntil([&] { return rec.reached(client::Call::kEnded); }));
    EXPECT_EQ(callee->wait(), 0) << callee->errors();
    ASSERT_TRUE(engine.pumpUntil([&] {
        auto now = udpSocketsOnPort(engine.port());
        return !now.empty() && now != before;
    })) << "the reset was not done once the call had ended";
}

TEST(SipRegistration, RegistrarThatStaysUnavailableIsAskedAgainLessAndLessOften) {
    auto registrar = Sipp::server("register_unavailable_always");
    TestEngine engine;
    ResetOn503 resetter(engine.get());
    engine->GetRegistrationManager()->AddObserver(&resetter);
    engine->GetRegistrationManager()->Register(engine.profile(registrar->port()));
    // First answer, the retry right after the first rebuild, the next one
    // 2 s later; the one after that waits 4 s more.
    engine.pumpFor(std::chrono::milliseconds(3500));
    EXPECT_GE(resetter.resets, 2) << registrar->errors();
    EXPECT_LE(resetter.resets, 3) << registrar->messages();
}

TEST(SipRegistration, ShortRegistrationIsRefreshedBeforeItRunsOut) {
    auto registrar = Sipp::server("register_short_expiry");
    TestEngine engine;
    struct Times : client::RegistrationObserver {
        void OnRegistrationProgress(client::SipProfile*) override {}
        void OnRegistrationSuccess(client::SipProfile*) override { at.push_back(std::chrono::steady_clock::now()); }
        void OnRegistrationCleared(client::SipProfile*) override {}
        void OnRegistrationFailed(client::SipProfile*, int, const char*) override {}
        std::vector<std::chrono::steady_clock::time_point> at;
    } times;
    engine->GetRegistrationManager()->AddObserver(&times);
    auto* profile = engine.profile(registrar->port());
    engine->GetRegistrationManager()->Register(profile);
    // The registrar grants 4 s: the refresh is due well before that, and
    // not at once either (a client that re-registers on every answer floods
    // its registrar).
    ASSERT_TRUE(engine.pumpUntil([&] { return times.at.size() >= 2; }, std::chrono::seconds(15)))
        << registrar->errors() << registrar->messages();
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(times.at[1] - times.at[0]);
    EXPECT_LT(gap, std::chrono::milliseconds(4000));
    EXPECT_GT(gap, std::chrono::milliseconds(250));
    EXPECT_TRUE(engine->GetRegistrationManager()->IsRegistered(profile));
    EXPECT_FALSE(engine.recorder().has("failed")) << ::testing::PrintToString(engine.recorder().events);
    engine->GetRegistrationManager()->Unregister(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); })) << registrar->messages();
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
    // One registration throughout: same Call-ID, a new CSeq for each request.
    expectOneRegistration(registrar->messages(), 3);
}

TEST(SipRegistration, RegisteringAndWithdrawingOverAndOverStaysOneRegistrationAndLeavesNoMemoryBehind) {
    // Bursts of registering and withdrawing; the heap is read after each
    // once its finished transactions are gone. The first burst grows
    // sofia's tables to the size a burst needs; the later ones must leave
    // the heap where the first left it.
    constexpr int kBursts = 3, kCyclesPerBurst = 60;
    // sipp forgets a finished registration at once, so the next one with
    // the same Call-ID runs the scenario again.
    auto registrar = Sipp::server("register_and_withdraw",
                                  {"-m", std::to_string(kBursts * kCyclesPerBurst), "-deadcall_wait", "0"});
    TestEngine engine;
    // Finished transactions linger for SIP's 32 s unless cut.
    static_cast<client::SofiaEngine*>(engine.get())->setTransactionTimeout(1000);
    auto* profile = engine.profile(registrar->port());
    auto heapInUse = [] {
        const auto m = mallinfo2();
        return static_cast<long>(m.uordblks + m.hblkhd);
    };
    auto& events = engine.recorder().events;
    std::vector<long> readings;
    for (int burst = 0; burst < kBursts; ++burst) {
        for (int i = 0; i < kCyclesPerBurst; ++i) {
            events.clear();   // what the recorder keeps must not grow the heap
            engine->GetRegistrationManager()->Register(profile);
            ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("registered"); }))
                << burst << "/" << i << ::testing::PrintToString(events);
            engine->GetRegistrationManager()->Unregister(profile);
            ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); }))
                << burst << "/" << i << ::testing::PrintToString(events);
            ASSERT_FALSE(engine.recorder().has("failed")) << burst << "/" << i << ::testing::PrintToString(events);
        }
        // Past the (cut) lifetime of every finished transaction.
        engine.pumpFor(std::chrono::seconds(7));
        readings.push_back(heapInUse());
    }
    EXPECT_LT(readings.back() - readings.front(), 8 * 1024)
        << "heap after each burst: " << ::testing::PrintToString(readings);
    // Every request belongs to the one registration the registrar knows.
    expectOneRegistration(registrar->messages(), 2 * kBursts * kCyclesPerBurst);
}

TEST(SipRegistration, RegistrarThatNeverAnswersFailsWithATimeOutAndNothingHangs) {
    // A port that takes the REGISTERs and never answers any of them.
    int port = 0;
    const int silent = bindLoopbackUdp(port);
    ASSERT_GE(silent, 0);
    auto registersSeen = [&, seen = 0]() mutable {
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(silent, buf, sizeof(buf), 0)) > 0)
            if (std::string_view(buf, static_cast<std::size_t>(n)).rfind("REGISTER ", 0) == 0) ++seen;
        return seen;
    };
    TestEngine engine;
    // SIP's 32 s, cut so the test does not wait that long.
    static_cast<client::SofiaEngine*>(engine.get())->setTransactionTimeout(3000);
    auto* profile = engine.profile(port);
    engine->GetRegistrationManager()->Register(profile);
    int registers = 0;
    ASSERT_TRUE(engine.pumpUntil(
        [&] {
            registers = registersSeen();
            return engine.recorder().events.size() >= 2;
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(engine.recorder().events[1], "failed 408 Request Timeout");
    EXPECT_FALSE(engine->GetRegistrationManager()->IsRegistered(profile));
    EXPECT_GT(registers, 1) << "the REGISTER was never sent again over UDP";
    // The engine is still there for the host: a later attempt goes out at
    // once and ends the same way; then the engine shuts down at once.
    engine->GetRegistrationManager()->Refresh(profile);
    const int before = registers;
    ASSERT_TRUE(engine.pumpUntil([&] { return registersSeen() > before; }, std::chrono::seconds(5)));
    ASSERT_TRUE(engine.pumpUntil(
        [&] {
            registersSeen();
            return std::count(engine.recorder().events.begin(), engine.recorder().events.end(),
                              "failed 408 Request Timeout") == 2;
        },
        std::chrono::seconds(30)))
        << ::testing::PrintToString(engine.recorder().events);
    const auto start = std::chrono::steady_clock::now();
    engine.destroy();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ::close(silent);
}

TEST(SipRegistration, ClosedPortFailsWithTransportError) {
    TestEngine engine;
    auto* profile = engine.profile(freeUdpPort());
    engine->GetRegistrationManager()->Register(profile);
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().events.size() >= 2; }, std::chrono::seconds(40)));
    EXPECT_EQ(engine.recorder().events[1].rfind("failed 503", 0), 0u) << engine.recorder().events[1];
}

}  // namespace
}  // namespace pellix::test

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SipEngineSDK/SofiaEngine.h"

namespace pellix::test {
namespace {

// A registrar written by hand, so the test sees every datagram the engine
// sends it: answers each REGISTER with 200 and records the methods.
class TinyRegistrar {
public:
    TinyRegistrar() { fd_ = bindLoopbackUdp(port_); }
    ~TinyRegistrar() { ::close(fd_); }
    int port() const { return port_; }
    void serve() {
        char buf[65536];
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        ssize_t n;
        while ((n = ::recvfrom(fd_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len)) > 0) {
            std::string req(buf, static_cast<std::size_t>(n));
            std::string method = req.substr(0, req.find(' '));
            methods.push_back(method);
            if (method != "REGISTER" && method != "OPTIONS") continue;
            std::string reply = "SIP/2.0 200 OK\r\n";
            for (const char* h : {"Via:", "From:", "To:", "Call-ID:", "CSeq:", "Contact:"}) {
                auto p = req.find(std::string("\r\n") + h);
                if (p == std::string::npos) continue;
                auto e = req.find("\r\n", p + 2);
                reply += req.substr(p + 2, e - p - 2);
                if (std::string(h) == "To:") reply += ";tag=reg1";
                reply += "\r\n";
            }
            reply += "Content-Length: 0\r\n\r\n";
            ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    std::vector<std::string> methods;

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(SipRegistration, KeepAliveReachesTheRegistrarOnlyWhenSwitchedOn) {
    for (bool keepAlive : {true, false}) {
        SCOPED_TRACE(keepAlive);
        TinyRegistrar registrar;
        TestEngine engine;
        static_cast<client::SofiaEngine*>(engine.get())->setKeepAliveInterval(200);
        auto* profile = engine.profile(registrar.port());
        profile->keepAlive = keepAlive;
        engine->GetRegistrationManager()->Register(profile);
        auto optionsSeen = [&] {
            registrar.serve();
            return std::count(registrar.methods.begin(), registrar.methods.end(), "OPTIONS") >= 1;
        };
        EXPECT_EQ(engine.pumpUntil(optionsSeen, std::chrono::milliseconds(keepAlive ? 5000 : 1500)), keepAlive);
        EXPECT_TRUE(engine.recorder().has("registered"));
        // Leave nothing for the engine's shutdown to wait on.
        engine->GetRegistrationManager()->Unregister(profile);
        EXPECT_TRUE(engine.pumpUntil([&] {
            registrar.serve();
            return engine.recorder().has("cleared");
        }));
    }
}

}  // namespace
}  // namespace pellix::test
