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
