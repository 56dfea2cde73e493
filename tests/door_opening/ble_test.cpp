// BLE door opening: the code tables, the advertised payload against
// `openssl enc -aes-128-cfb`, and the manager against python3-dbusmock's
// BlueZ template with an LE advertising manager on a private bus.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <random>

#include "CommonMethod/PellixCommonTypes.h"
#include "DoorFixture.h"
#include "PellixBLEPeripheralManager/PellixBLEPeripheralManager.h"
#include "platform/Clock.h"
#include "support/Hex.h"
#include "platform/ManualClock.h"

namespace pellix::doortest {
namespace {

using Manager = PellixBLEPeripheralManager;
using State = platform::BLEPeripheral::State;

// stdout of a shell command.
std::string shell(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

TEST(BLECodes, StatesAndResults) {
    struct Case {
        State state;
        std::int64_t number, result;
    };
    for (const auto& k : {Case{State::Unknown, -1, -3}, Case{State::Resetting, -2, -4},
                          Case{State::Unsupported, -3, -5}, Case{State::Unauthorized, -4, -6},
                          Case{State::PoweredOff, -5, -7}}) {
        EXPECT_EQ(Manager::stateNumber(k.state), k.number);
        EXPECT_EQ(Manager::resultCodeForState(k.number), k.result);
    }
    EXPECT_EQ(Manager::stateNumber(State::PoweredOn), 0);
    for (std::int64_t outside : {-6, 1, 7}) EXPECT_EQ(Manager::resultCodeForState(outside), -1) << outside;
}

// The payload for +86 13800138000, department 5, at 1,700,000,000: the
// plain block built here byte by byte, encrypted by openssl, Base64 by
// openssl; and the same text pinned.
TEST(BLEPayload, GoldenAgainstOpenssl) {
    const std::string name = Manager::advertisingName("13800138000", "86", "5", 1700000000);
    EXPECT_EQ(name, "oTh3AgF2pzge+njulIba6Xc2SjE=");

    const std::uint64_t phone = 8613800138000ull;
    platform::Bytes plain;
    for (int i = 0; i < 6; ++i) plain.push_back(static_cast<std::uint8_t>(phone >> (8 * i)));
    plain[0] ^= 0x05;  // d0; d1-d3 are zero, so bytes 1-3 and 5 stay
    plain[4] ^= 0x05;
    plain.push_back(0x02);
    for (int i = 0; i < 4; ++i) plain.push_back(static_cast<std::uint8_t>(1700000000u >> (8 * i)));
    for (std::uint8_t b : {5, 0, 0, 0}) plain.push_back(b);
    ASSERT_EQ(plain.size(), 15u);
    std::string octal;
    char esc[6];
    for (auto c : plain) {
        std::snprintf(esc, sizeof esc, "\\%03o", c);
        octal += esc;
    }
    const std::string key = Manager::kPayloadKeyHex;
    std::string viaOpenssl =
        shell("{ printf '\\241\\070\\167\\002\\001'; printf '" + octal + "' | openssl enc -aes-128-cfb -nopad -K " +
              key + " -iv " + key + "; } | openssl base64 -A");
    if (viaOpenssl.empty()) GTEST_SKIP() << "openssl is not available";
    EXPECT_EQ(name, viaOpenssl);

    // And back: openssl decrypts what we advertise to the same plain block.
    std::string decrypted = shell("printf '%s' '" + name + "' | openssl base64 -d -A | tail -c 15 | openssl enc -d " +
                                  "-aes-128-cfb -nopad -K " + key + " -iv " + key + " | od -An -tx1 -v | tr -d ' \\n'");
    EXPECT_EQ(decrypted, test::hexText(plain));
}

TEST(BLEPayload, AlwaysTwentyEightCharacters) {
    std::mt19937_64 rng(3);
    for (const auto& [mobile, nation, dep] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"", "", ""}, {"abc", "+", "x"}, {"99999999999999999999", "86", "-1"}, {" 12", "-4", "4294967301"}}) {
        auto n = Manager::advertisingName(mobile, nation, dep, static_cast<std::int64_t>(rng()));
        EXPECT_EQ(n.size(), 28u) << mobile;
        EXPECT_EQ(n.back(), '=') << mobile;
        EXPECT_NE(n[26], '=') << mobile;
    }
}

// --- On a private bus (child run). ---

TEST(DoorOpeningBus, BLEOnPrivateBus) {
    if (auto why = missingMockBus(); !why.empty()) GTEST_SKIP() << why;
    runChildren({"dbus-run-session", "--"}, "BLEChild.*:BLEAdvertisingChild.*");
}

struct Recorder {
    std::vector<std::int64_t> states, codes;
    int completions = 0;
    bool allOnMain = true;
    void onMain() { allOnMain = allOnMain && platform::RunLoop::isMainThread(); }
};

std::shared_ptr<Manager> observe(Recorder& r) {
    return Manager::startBLEPeripheralObserver([&r](std::int64_t s) {
        r.onMain();
        r.states.push_back(s);
    });
}

void request(Manager& m, Recorder& r, std::optional<std::string> dep, double seconds) {
    m.sendAdvertisingWithMobile(
        std::string("13800138000"), std::string("86"), std::move(dep), seconds,
        [&r](std::int64_t code) {
            r.onMain();
            r.codes.push_back(code);
        },
        [&r] {
            r.onMain();
            ++r.completions;
        });
}

TEST(BLEChild, WithoutBlueZ) {
    PELLIX_CHILD_ONLY();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", std::getenv("DBUS_SESSION_BUS_ADDRESS"), 1);
    Recorder r;
    auto m = observe(r);
    // Before the first state update the state is unknown: -3.
    request(*m, r, std::string("5"), 1);
    EXPECT_EQ(r.codes, (std::vector<std::int64_t>{-3}));
    ASSERT_TRUE(pumpUntil([&] { return !r.states.empty(); }));
    EXPECT_EQ(r.states, (std::vector<std::int64_t>{-3}));
    EXPECT_EQ(m->bleState(), -3);
    request(*m, r, std::string("5"), 1);
    EXPECT_EQ(r.codes, (std::vector<std::int64_t>{-3, -5}));
    EXPECT_TRUE(r.allOnMain);
}

// The BlueZ mock with one adapter offering LE advertising and GATT
// registration; `registerCode` is the mock's Python for RegisterAdvertisement.
class BLEAdvertisingChild : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv(kChildMark)) GTEST_SKIP() << "runs only as the child of its wrapper test";
        clock_ = std::make_shared<platform::ManualClock>();
        clock_->setWallTime(1700000000);
        platform::Clock::setShared(clock_);
    }
    void TearDown() override { platform::Clock::setShared(nullptr); }

    void startBlueZ(const std::string& registerCode = "") {
        bluez_ = std::make_unique<MockService>("bluez5", "org.bluez");
        auto root = bluez_->proxy("org.bluez", "/");
        std::string adapter;
        root->callMethod("AddAdapter").onInterface("org.bluez.Mock").withArguments("hci0", "door-phone").storeResultsTo(adapter);
        adapter_ = bluez_->proxy("org.bluez", adapter);
        using Method = sdbus::Struct<std::string, std::string, std::string, std::string>;
        const char* kMock = "org.freedesktop.DBus.Mock";
        adapter_->callMethod("AddProperties")
            .onInterface(kMock)
            .withArguments("org.bluez.LEAdvertisingManager1",
                           std::map<std::string, sdbus::Variant>{{"ActiveInstances", sdbus::Variant(std::uint8_t(0))},
                                                                 {"SupportedInstances", sdbus::Variant(std::uint8_t(5))}});
        adapter_->callMethod("AddMethods")
            .onInterface(kMock)
            .withArguments("org.bluez.LEAdvertisingManager1",
                           std::vector<Method>{Method{"RegisterAdvertisement", "oa{sv}", "", registerCode},
                                               Method{"UnregisterAdvertisement", "o", "", ""}});
        adapter_->callMethod("AddMethods")
            .onInterface(kMock)
            .withArguments("org.bluez.GattManager1",
                           std::vector<Method>{Method{"RegisterApplication", "oa{sv}", "", ""},
                                               Method{"UnregisterApplication", "o", "", ""}});
    }

    // The object paths the mock's method was called with, in call order.
    std::vector<std::string> calls(const std::string& method) {
        std::vector<sdbus::Struct<std::uint64_t, std::vector<sdbus::Variant>>> log;
        adapter_->callMethod("GetMethodCalls").onInterface("org.freedesktop.DBus.Mock").withArguments(method).storeResultsTo(log);
        std::vector<std::string> paths;
        for (auto& call : log) paths.push_back(std::get<1>(call).at(0).get<sdbus::ObjectPath>());
        return paths;
    }

    // A property of an object this process exports on the bus: asked of
    // every connection of this process until one answers.
    std::optional<std::string> ourProperty(const std::string& path, const std::string& name) {
        auto daemon = bluez_->proxy("org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::vector<std::string> names;
        daemon->callMethod("ListNames").onInterface("org.freedesktop.DBus").storeResultsTo(names);
        for (const auto& n : names) {
            if (n.empty() || n[0] != ':') continue;
            std::uint32_t pid = 0;
            try {
                daemon->callMethod("GetConnectionUnixProcessID").onInterface("org.freedesktop.DBus").withArguments(n).storeResultsTo(pid);
                if (pid != static_cast<std::uint32_t>(::getpid())) continue;
                sdbus::Variant v;
                bluez_->proxy(n, path)
                    ->callMethod("Get")
                    .onInterface("org.freedesktop.DBus.Properties")
                    .withTimeout(std::chrono::seconds(2))
                    .withArguments("org.bluez.LEAdvertisement1", name)
                    .storeResultsTo(v);
                return v.get<std::string>();
            } catch (const sdbus::Error&) {
            }
        }
        return std::nullopt;
    }

    std::shared_ptr<platform::ManualClock> clock_;
    std::unique_ptr<MockService> bluez_;
    std::unique_ptr<sdbus::IProxy> adapter_;
};

TEST_F(BLEAdvertisingChild, AdvertisesTheGoldenNameThenStops) {
    startBlueZ();
    Recorder r;
    auto m = observe(r);
    ASSERT_TRUE(pumpUntil([&] { return !r.states.empty(); }));
    EXPECT_EQ(r.states, (std::vector<std::int64_t>{0}));

    // A missing department id: -8, nothing registered, the duration kept.
    request(*m, r, std::nullopt, 2.5);
    EXPECT_EQ(r.codes, (std::vector<std::int64_t>{-8}));
    EXPECT_EQ(m->advertisingTimeInterval(), 2.5);

    request(*m, r, std::string("5"), 3);
    ASSERT_TRUE(pumpUntil([&] { return r.codes.size() == 2; }));
    EXPECT_EQ(r.codes.back(), 0);
    auto ads = calls("RegisterAdvertisement");
    ASSERT_EQ(ads.size(), 1u);
    EXPECT_EQ(calls("RegisterApplication").size(), 1u);
    EXPECT_EQ(ourProperty(ads[0], "LocalName"), "oTh3AgF2pzge+njulIba6Xc2SjE=");
    EXPECT_EQ(ourProperty(ads[0], "Type"), "peripheral");
    EXPECT_TRUE(m->manager()->isAdvertising());

    // Time is up: withdrawn, then the completion.
    clock_->advance(3.0);
    ASSERT_TRUE(pumpUntil([&] { return r.completions == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return calls("UnregisterAdvertisement").size() == 1; }));
    EXPECT_EQ(calls("UnregisterAdvertisement")[0], ads[0]);
    EXPECT_EQ(calls("UnregisterApplication").size(), 1u);
    EXPECT_FALSE(m->manager()->isAdvertising());
    EXPECT_TRUE(r.allOnMain);
}

// A newer advertisement is not cut short by the stop task of an older one,
// and a manager that is gone leaves its pending stop with nothing to do.
TEST_F(BLEAdvertisingChild, EarlierStopNeverCutsANewerAdvertisementShort) {
    startBlueZ();
    Recorder r;
    auto m = observe(r);
    ASSERT_TRUE(pumpUntil([&] { return m->bleState() == 0; }));
    request(*m, r, std::string("5"), 3);  // stops at +3
    ASSERT_TRUE(pumpUntil([&] { return r.codes.size() == 1; }));
    clock_->advance(1.0);
    request(*m, r, std::string("5"), 3);  // restarts; stops at +4
    ASSERT_TRUE(pumpUntil([&] { return r.codes.size() == 2; }));
    auto ads = calls("RegisterAdvertisement");
    ASSERT_EQ(ads.size(), 2u);
    // A new payload: the time moved on.
    EXPECT_EQ(ourProperty(ads[1], "LocalName"), Manager::advertisingName("13800138000", "86", "5", 1700000001));

    clock_->advance(2.5);  // the first request's time is up
    pumpFor(0.3);
    EXPECT_EQ(r.completions, 0);
    EXPECT_EQ(calls("UnregisterAdvertisement"), (std::vector<std::string>{ads[0]}));
    EXPECT_TRUE(m->manager()->isAdvertising());

    clock_->advance(1.0);  // the second's
    ASSERT_TRUE(pumpUntil([&] { return r.completions == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return calls("UnregisterAdvertisement").size() == 2; }));

    // Released with a stop pending: the advertisement is withdrawn at once
    // and the stop later finds nothing.
    request(*m, r, std::string("5"), 3);
    ASSERT_TRUE(pumpUntil([&] { return r.codes.size() == 3; }));
    m.reset();
    ASSERT_TRUE(pumpUntil([&] { return calls("UnregisterAdvertisement").size() == 3; }));
    clock_->advance(5.0);
    pumpFor(0.3);
    EXPECT_EQ(r.completions, 1);
}

TEST_F(BLEAdvertisingChild, PlatformFailureToAdvertiseIsReported) {
    startBlueZ("raise dbus.exceptions.DBusException('no free slot', name='org.bluez.Error.Failed')");
    Recorder r;
    auto m = observe(r);
    ASSERT_TRUE(pumpUntil([&] { return m->bleState() == 0; }));
    request(*m, r, std::string("5"), 1);
    ASSERT_TRUE(pumpUntil([&] { return !r.codes.empty(); }));
    EXPECT_EQ(r.codes, (std::vector<std::int64_t>{Manager::kAdvertisingFailedCode}));
    EXPECT_FALSE(m->manager()->isAdvertising());
    clock_->advance(5.0);
    pumpFor(0.3);
    EXPECT_EQ(r.completions, 0);
}

TEST_F(BLEAdvertisingChild, PowerChangesReachTheHost) {
    startBlueZ();
    Recorder r;
    auto m = observe(r);
    ASSERT_TRUE(pumpUntil([&] { return r.states.size() == 1; }));
    auto setPowered = [&](bool on) {
        adapter_->callMethod("Set")
            .onInterface("org.freedesktop.DBus.Properties")
            .withArguments("org.bluez.Adapter1", "Powered", sdbus::Variant(on));
    };
    setPowered(false);
    ASSERT_TRUE(pumpUntil([&] { return r.states.size() == 2; }));
    request(*m, r, std::string("5"), 1);
    EXPECT_EQ(r.codes, (std::vector<std::int64_t>{-7}));
    EXPECT_TRUE(calls("RegisterAdvertisement").empty());
    setPowered(true);
    ASSERT_TRUE(pumpUntil([&] { return r.states.size() == 3; }));
    EXPECT_EQ(r.states, (std::vector<std::int64_t>{0, -5, 0}));
    EXPECT_TRUE(r.allOnMain);
}

}  // namespace
}  // namespace pellix::doortest
