#include <gtest/gtest.h>

#include "SipTestKit.h"

namespace pellix::test {
namespace {

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
    ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().has("cleared"); })) << registrar->errors();
    EXPECT_FALSE(engine->GetRegistrationManager()->IsRegistered(profile));
    EXPECT_EQ(registrar->wait(), 0) << registrar->errors();
    std::string log = registrar->messages();
    EXPECT_NE(log.find("Authorization: Digest username=\"1001\""), std::string::npos) << log;
    EXPECT_NE(log.find("Expires: 0"), std::string::npos) << log;
}

TEST(SipRegistration, WrongPasswordAndForbiddenReachTheObserverWithCodeAndText) {
    struct Case {
        const char* scenario;
        const char* password;
        const char* expected;
    };
    for (const Case& c : {Case{"register_forbidden", "secret", "failed 403 Forbidden"},
                          Case{"register_digest", "wrong", "failed 403 Forbidden"}}) {
        SCOPED_TRACE(std::string(c.scenario) + " / " + c.password);
        auto registrar = Sipp::server(c.scenario);
        TestEngine engine;
        auto* profile = engine.profile(registrar->port(), "1001", c.password);
        engine->GetRegistrationManager()->Register(profile);
        ASSERT_TRUE(engine.pumpUntil([&] { return engine.recorder().events.size() >= 2; })) << registrar->errors();
        EXPECT_EQ(engine.recorder().events[1], c.expected);
        EXPECT_FALSE(engine->GetRegistrationManager()->IsRegistered(profile));
    }
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
