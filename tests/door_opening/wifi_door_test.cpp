// Wi-Fi door opening and the reachability monitor, in a private network
// namespace with a private D-Bus (a child run of this program): a link-local
// veth link stands for the Wi-Fi link, the door unit is the HTTPS peer on
// loopback with a self-signed certificate, NetworkManager is python3-dbusmock.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "DoorFixture.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "TVNetworking/TVURLSessionManager.h"
#include "Wifi/PXGateway.h"
#include "Wifi/PXReachability.h"
#include "Wifi/PellixWifiOpenDoor.h"
#include "platform/JSON.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/Reachability.h"
#include "platform/WifiInfo.h"
#include "support/TestCerts.h"

namespace pellix::doortest {
namespace {

using platform::Reachability;

// --- Outside any namespace: the two status rules and their log line. ---

TEST(PXReachabilityRules, StatusFromFlags) {
    const std::uint32_t R = Reachability::kReachable, D = Reachability::kIsDirect,
                        C = Reachability::kConnectionRequired, OD = Reachability::kConnectionOnDemand,
                        OT = Reachability::kConnectionOnTraffic, I = Reachability::kInterventionRequired,
                        W = Reachability::kIsWWAN;
    auto wifi = PXReachability::reachabilityForLocalWiFi();
    auto net = PXReachability::reachabilityForInternetConnection();
    ASSERT_TRUE(wifi && net);
    EXPECT_TRUE(wifi->alwaysReturnLocalWiFiStatus());
    EXPECT_FALSE(net->alwaysReturnLocalWiFiStatus());
    struct Case {
        std::uint32_t flags;
        std::int64_t local, network;
    };
    for (const auto& k : {Case{R | D, 1, 1}, Case{R, 0, 1}, Case{D, 0, 0}, Case{0, 0, 0}, Case{R | W, 0, 2},
                          Case{R | C | OD, 0, 1}, Case{R | C | OT, 0, 1}, Case{R | C, 0, 0},
                          Case{R | C | OD | I, 0, 0}, Case{R | C | W, 0, 2}, Case{W | C, 0, 0}}) {
        EXPECT_EQ(wifi->localWiFiStatusForFlags(k.flags), k.local) << std::hex << k.flags;
        EXPECT_EQ(net->networkStatusForFlags(k.flags), k.network) << std::hex << k.flags;
    }
    EXPECT_EQ(PXReachability::reachabilityWithHostName(""), nullptr);
    EXPECT_EQ(PXReachability::reachabilityWithAddress(nullptr), nullptr);
    // Never started: stopping changes nothing.
    net->stopNotifier();
}

TEST(PXReachabilityRules, FlagLineIsWrittenWhateverTheLogSwitch) {
    std::vector<std::string> lines;
    platform::Log::setSink([&](std::string_view l) { lines.emplace_back(l); });
    auto wifi = PXReachability::reachabilityForLocalWiFi();
    wifi->localWiFiStatusForFlags(Reachability::kReachable | Reachability::kIsDirect | Reachability::kIsWWAN);
    wifi->networkStatusForFlags(Reachability::kTransientConnection | Reachability::kConnectionRequired |
                                Reachability::kConnectionOnTraffic | Reachability::kInterventionRequired |
                                Reachability::kConnectionOnDemand | Reachability::kIsLocalAddress);
    platform::Log::setSink(nullptr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Reachability Flag Status: WR ------d localWiFiStatusForFlags");
    EXPECT_EQ(lines[1], "Reachability Flag Status: -- tcCiDl- networkStatusForFlags");
}

// --- The child run: private network namespace and private bus. ---

TEST(DoorOpeningNamespace, WifiInPrivateNetworkAndBus) {
    if (quietly("unshare -rn true") != 0) GTEST_SKIP() << "network namespaces are not permitted here";
    if (quietly("unshare -rn ip link add dprobe0 type veth peer name dprobe1") != 0)
        GTEST_SKIP() << "veth links cannot be made in a private namespace here";
    if (auto why = missingMockBus(); !why.empty()) GTEST_SKIP() << why;
    runChildren({"unshare", "-rn", "dbus-run-session", "--"}, "WifiChild.*:WifiDoorChild.*");
}

// A veth pair whose near end holds 169.254.7.1/16: an on-link link-local
// network, which is what the local Wi-Fi monitor asks for.
class LinkLocal {
public:
    LinkLocal() {
        // Links are only ever made inside the child's own namespace.
        if (!std::getenv(kChildMark)) throw std::logic_error("LinkLocal outside the private namespace");
        quietly("ip link set lo up");
        quietly("ip link del wl0");
        EXPECT_EQ(quietly("ip link add wl0 type veth peer name wl1"), 0);
        EXPECT_EQ(quietly("ip addr add 169.254.7.1/16 dev wl0"), 0);
        EXPECT_EQ(quietly("ip link set wl1 up"), 0);
        up();
    }
    ~LinkLocal() { quietly("ip link del wl0"); }
    void up() { EXPECT_EQ(quietly("ip link set wl0 up"), 0); }
    void down() { EXPECT_EQ(quietly("ip link set wl0 down"), 0); }
};

struct Seen {
    std::vector<std::int64_t> statuses;
    bool allOnMain = true;
};

TEST(WifiChild, LocalWiFiMonitorReportsLinkChangesInOrder) {
    PELLIX_CHILD_ONLY();
    LinkLocal link;
    auto wifi = PXReachability::reachabilityForLocalWiFi();
    auto internet = PXReachability::reachabilityForInternetConnection();
    ASSERT_TRUE(pumpUntil([&] { return wifi->currentReachabilityStatus() == 1; }));
    EXPECT_EQ(internet->currentReachabilityStatus(), 0) << "no default route yet";

    Seen seen;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        kPXReachabilityChangedNotification, nullptr, nullptr, [&](const platform::Notification& n) {
            if (n.objectIdentity() != wifi.get()) return;
            seen.allOnMain = seen.allOnMain && platform::RunLoop::isMainThread();
            seen.statuses.push_back(wifi->currentReachabilityStatus());
        });
    ASSERT_TRUE(wifi->startNotifier());
    link.down();
    ASSERT_TRUE(pumpUntil([&] { return seen.statuses.size() >= 1; }));
    link.up();
    ASSERT_TRUE(pumpUntil([&] { return seen.statuses.size() >= 2; }));
    pumpFor(0.3);
    EXPECT_EQ(seen.statuses, (std::vector<std::int64_t>{0, 1}));
    EXPECT_TRUE(seen.allOnMain);

    // A default route makes the network reachable, not through WWAN.
    ASSERT_EQ(quietly("ip route add default via 169.254.7.2 dev wl0"), 0);
    EXPECT_EQ(internet->currentReachabilityStatus(), 1);
    EXPECT_FALSE(internet->connectionRequired());

    // Stopped: no more notifications; a monitor gone with its notifier on
    // posts nothing either.
    wifi->stopNotifier();
    internet->startNotifier();
    internet.reset();
    link.down();
    pumpFor(0.5);
    EXPECT_EQ(seen.statuses.size(), 2u);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

// Installs providers for one test and restores the defaults after it.
struct ProvidersScope {
    explicit ProvidersScope(PellixWifiTool::Providers p) { PellixWifiTool::setProviders(std::move(p)); }
    ~ProvidersScope() { PellixWifiTool::setProviders({}); }
};

TEST(WifiChild, ToolCacheFollowsTheLink) {
    PELLIX_CHILD_ONLY();
    LinkLocal link;
    int asked = 0;
    ProvidersScope scope({[&] {
                              ++asked;
                              return std::optional<std::string>("DoorUnit");
                          },
                          [] { return std::optional<std::string>("169.254.7.2"); }});
    auto tool = PellixWifiTool::create();
    EXPECT_TRUE(tool->isConnectedByWifi());
    EXPECT_EQ(tool->ssidStr(), "DoorUnit");
    EXPECT_EQ(tool->gatewayAddress(), "169.254.7.2");
    int before = asked;

    link.down();
    ASSERT_TRUE(pumpUntil([&] { return !tool->ssidStr() && !tool->gatewayAddress(); }));
    EXPECT_FALSE(tool->isConnectedByWifi());
    link.up();
    ASSERT_TRUE(pumpUntil([&] { return tool->ssidStr() && tool->gatewayAddress(); }));
    EXPECT_GT(asked, before);

    // Another monitor's notification is not this tool's business.
    auto other = PXReachability::reachabilityForLocalWiFi();
    link.down();
    platform::NotificationCenter::defaultCenter().post(kPXReachabilityChangedNotification,
                                                       std::shared_ptr<void>(other));
    EXPECT_EQ(tool->ssidStr(), "DoorUnit");
    ASSERT_TRUE(pumpUntil([&] { return !tool->ssidStr(); }));
}

// With only a wired default route there is no Wi-Fi gateway: nothing is
// read into the cache and the door request is refused before anything is sent.
TEST(WifiChild, NoWirelessGatewayRefusesTheRequest) {
    PELLIX_CHILD_ONLY();
    LinkLocal link;
    ASSERT_EQ(quietly("ip route add default via 169.254.7.2 dev wl0"), 0);
    auto routes = Reachability::ipv4DefaultRoutes();
    ASSERT_TRUE(routes);
    ASSERT_EQ(routes->size(), 1u);
    EXPECT_EQ((*routes)[0].interfaceName, "wl0");
    ASSERT_TRUE((*routes)[0].gateway);
    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET, &*(*routes)[0].gateway, text, sizeof text), "169.254.7.2");
    EXPECT_FALSE((*routes)[0].wireless);
    EXPECT_FALSE((*routes)[0].wwan);

    unsigned char* gw = px_getdefaultgateway(nullptr);
    ASSERT_NE(gw, nullptr);
    EXPECT_EQ(gw[0] | gw[1] | gw[2] | gw[3], 0);
    std::free(gw);
    in_addr_t out = 12345;
    EXPECT_EQ(px_getLocalIP(&out), -1);
    EXPECT_EQ(out, 12345u);
    EXPECT_EQ(px_getLocalIP(nullptr), -1);

    ProvidersScope scope({[] { return std::optional<std::string>("DoorUnit"); }, nullptr});
    PellixWifiOpenDoor door;
    EXPECT_TRUE(door.isConnectByWifi());
    EXPECT_EQ(door.getSSID(), "DoorUnit");
    EXPECT_EQ(door.getGatewayAddress(), std::nullopt);
    bool answered = false;
    door.openDoorWithRoomId(std::string("r1"), std::nullopt, [&](bool ok, const auto& error) {
        answered = true;
        EXPECT_FALSE(ok);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->errorCode(), 400600);
        EXPECT_EQ(error->message(), PellixWifiOpenDoor::kNoWifiMessage);
    });
    EXPECT_TRUE(answered) << "argument errors answer before the call returns";
}

TEST(WifiChild, ArgumentErrorsAnswerAtOnce) {
    PELLIX_CHILD_ONLY();
    LinkLocal link;
    struct Case {
        bool wifi;
        std::optional<std::string> room;
        const char* message;
    };
    for (const auto& k : {Case{false, "r1", PellixWifiOpenDoor::kNoWifiMessage},
                          Case{false, std::nullopt, PellixWifiOpenDoor::kNoWifiMessage},
                          Case{true, "", PellixWifiOpenDoor::kNoRoomMessage},
                          Case{true, std::nullopt, PellixWifiOpenDoor::kNoRoomMessage}}) {
        ProvidersScope scope({[&] { return k.wifi ? std::optional<std::string>("DoorUnit") : std::nullopt; },
                              [&] { return k.wifi ? std::optional<std::string>("127.0.0.1") : std::nullopt; }});
        PellixWifiOpenDoor door;
        int calls = 0;
        door.openDoorWithRoomId(k.room, std::string("key"), [&](bool ok, const auto& error) {
            ++calls;
            EXPECT_FALSE(ok);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->errorCode(), 400600);
            EXPECT_EQ(error->message(), k.message);
        });
        EXPECT_EQ(calls, 1) << k.message;
        door.openDoorWithRoomId(k.room, std::nullopt, nullptr);  // no completion: nothing to call
    }
}

// The door unit: the HTTPS peer with a self-signed certificate, logging
// every request it gets.
class DoorUnit {
public:
    explicit DoorUnit(const test::TestCerts& certs, const std::string& redirect = {}) {
        std::vector<std::string> argv = {"node",   test::sourceDir() + "/tests/peers/https/server.js",
                                         "--port", "0",
                                         "--cert", certs.selfSigned.cert,
                                         "--key",  certs.selfSigned.key,
                                         "--log"};
        if (!redirect.empty()) {
            argv.push_back("--door-redirect");
            argv.push_back(redirect);
        }
        process_ = std::make_unique<test::Process>(argv);
        auto port = process_->waitForLine("listening (\\d+)");
        if (!port) throw std::runtime_error("door unit did not start: " + process_->errorOutput());
        port_ = std::stoi(*port);
    }
    int port() const { return port_; }
    // Every request seen so far: {method, url, headers}.
    std::vector<platform::Value> requests() const {
        std::vector<platform::Value> out;
        static const std::regex line("request (.*)");
        std::string all = process_->output();
        for (auto it = std::sregex_iterator(all.begin(), all.end(), line); it != std::sregex_iterator(); ++it)
            if (auto v = platform::JSON::parse((*it)[1].str())) out.push_back(*v);
        return out;
    }

private:
    std::unique_ptr<test::Process> process_;
    int port_ = 0;
};

class WifiDoorChild : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv(kChildMark)) GTEST_SKIP() << "runs only as the child of its wrapper test";
        link_.emplace();
        certs_ = std::make_unique<test::TestCerts>();
        platform::Paths::setHomeDirectory(home_.path());
        auto info = PellixProxyInfo::sharedInstance();
        info->setAppId(std::string("app-1"));
        info->setSecretKey(std::string("secret-1"));
        auto user = std::make_shared<PellixInitUserInfo>();
        user->setUser_id(std::string("u-42"));
        info->setUserInfo(user);
        PellixWifiTool::setProviders({[] { return std::optional<std::string>("DoorUnit"); },
                                      [] { return std::optional<std::string>("127.0.0.1"); }});
    }
    void TearDown() override {
        PellixWifiTool::setProviders({});
        PellixWifiOpenDoor::setDoorUnitPort(8090);
    }

    struct Outcome {
        bool done = false, ok = false, onMain = false;
        std::shared_ptr<PellixError> error;
    };
    Outcome open(PellixWifiOpenDoor& door, const std::string& room, std::optional<std::string> key,
                 double seconds = 15) {
        Outcome o;
        door.openDoorWithRoomId(room, std::move(key), [&](bool ok, const std::shared_ptr<PellixError>& e) {
            EXPECT_FALSE(o.done) << "completion runs once";
            o = {true, ok, platform::RunLoop::isMainThread(), e};
        });
        EXPECT_TRUE(pumpUntil([&] { return o.done; }, seconds));
        return o;
    }

    test::TempDir home_;
    std::optional<LinkLocal> link_;
    std::unique_ptr<test::TestCerts> certs_;
};

std::map<std::string, std::string> queryOf(const std::string& url) {
    std::map<std::string, std::string> out;
    auto q = url.find('?');
    if (q == std::string::npos) return out;
    std::string rest = url.substr(q + 1);
    std::regex pair("([^&=]+)=([^&]*)");
    for (auto it = std::sregex_iterator(rest.begin(), rest.end(), pair); it != std::sregex_iterator(); ++it)
        out[(*it)[1].str()] = (*it)[2].str();
    return out;
}

TEST_F(WifiDoorChild, RequestCarriesQueryCredentialsAndKey) {
    DoorUnit unit(*certs_);
    PellixWifiOpenDoor::setDoorUnitPort(static_cast<std::uint16_t>(unit.port()));
    PellixWifiOpenDoor door;
    ASSERT_EQ(door.getGatewayAddress(), "127.0.0.1");
    // Each request's own HTTP manager is let go once its task ran: its
    // session ends instead of lingering with its thread.
    std::atomic<int> invalidated{0};
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        TVURLSessionDidInvalidateNotification, nullptr, nullptr, [&](const platform::Notification&) { ++invalidated; });
    for (const auto& key : {std::optional<std::string>("ssid-key-1"), std::optional<std::string>()}) {
        auto before = unit.requests().size();
        auto o = open(door, "r-7", key);
        EXPECT_TRUE(o.ok);
        EXPECT_EQ(o.error, nullptr);
        EXPECT_TRUE(o.onMain);
        auto seen = unit.requests();
        ASSERT_EQ(seen.size(), before + 1);
        const auto& r = seen.back().asDictionary();
        EXPECT_EQ(r.find("method")->asString(), "GET");
        const std::string url = r.find("url")->asString();
        EXPECT_EQ(url.substr(0, url.find('?')), PellixWifiOpenDoor::kDoorPath);
        EXPECT_EQ(queryOf(url), (std::map<std::string, std::string>{{"room_id", "r-7"}, {"user_id", "u-42"}}));
        const auto& headers = r.find("headers")->asDictionary();
        ASSERT_TRUE(headers.find("authorization"));
        EXPECT_EQ(headers.find("authorization")->asString(), "Basic YXBwLTE6c2VjcmV0LTE=");  // app-1:secret-1
        if (key) {
            ASSERT_TRUE(headers.find("pellix"));
            EXPECT_EQ(headers.find("pellix")->asString(), *key);
        } else {
            EXPECT_FALSE(headers.find("pellix"));
        }
    }
    EXPECT_TRUE(pumpUntil([&] { return invalidated.load() == 2; }));
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(WifiDoorChild, SilentDoorUnitTimesOut) {
    int port = 0;
    int fd = test::listenLoopback(port);  // accepts nothing, answers nothing
    PellixWifiOpenDoor::setDoorUnitPort(static_cast<std::uint16_t>(port));
    PellixWifiOpenDoor door;
    auto o = open(door, "r-7", std::nullopt, 20);
    ::close(fd);
    EXPECT_FALSE(o.ok);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->errorCode(), -1001);
    EXPECT_EQ(o.error->message(), "请求超时");
    EXPECT_TRUE(o.onMain);
}

// The credentials go to the door unit only: neither a redirect to another
// origin nor one on the same origin carries them.
TEST_F(WifiDoorChild, RedirectsCarryNoCredentials) {
    DoorUnit elsewhere(*certs_);
    for (const std::string& target :
         {"https://127.0.0.1:" + std::to_string(elsewhere.port()) + "/echo", std::string("/echo")}) {
        DoorUnit unit(*certs_, target);
        PellixWifiOpenDoor::setDoorUnitPort(static_cast<std::uint16_t>(unit.port()));
        PellixWifiOpenDoor door;
        auto before = elsewhere.requests().size();
        auto o = open(door, "r-7", std::string("k"));
        EXPECT_TRUE(o.ok) << target << (o.error ? o.error->errorCode() : 0);
        auto& landed = target[0] == '/' ? unit : elsewhere;
        auto seen = landed.requests();
        ASSERT_FALSE(seen.empty()) << target;
        const auto& last = seen.back().asDictionary();
        EXPECT_EQ(last.find("url")->asString(), "/echo") << target;
        EXPECT_FALSE(last.find("headers")->asDictionary().find("authorization")) << target;
        // The door unit itself did get them.
        EXPECT_TRUE(unit.requests().front().asDictionary().find("headers")->asDictionary().find("authorization"));
        if (target[0] == '/') {
            EXPECT_EQ(elsewhere.requests().size(), before);
        }
    }
}

TEST(WifiChild, SSIDFromNetworkManager) {
    PELLIX_CHILD_ONLY();
    LinkLocal link;
    MockService nm("networkmanager", "org.freedesktop.NetworkManager");
    auto mock = nm.proxy("org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager");
    const char* kMock = "org.freedesktop.DBus.Mock";
    EXPECT_EQ(platform::WifiInfo::currentSSID(), std::nullopt) << "no device yet";

    std::string device, ap, connection, active;
    mock->callMethod("AddWiFiDevice").onInterface(kMock).withArguments("mock_WiFi", "wlan0", 100).storeResultsTo(device);
    mock->callMethod("AddAccessPoint")
        .onInterface(kMock)
        .withArguments(device, "Mock_AP1", "DoorUnit-7", "00:23:f8:7e:12:ba", 2u, 2425u, 5400u, std::uint8_t(82), 0u)
        .storeResultsTo(ap);
    EXPECT_EQ(platform::WifiInfo::currentSSID(), std::nullopt) << "a device that is not joined";
    mock->callMethod("AddWiFiConnection")
        .onInterface(kMock)
        .withArguments(device, "Mock_Con1", "DoorUnit-7", "")
        .storeResultsTo(connection);
    mock->callMethod("AddActiveConnection")
        .onInterface(kMock)
        .withArguments(std::vector<std::string>{device}, connection, ap, "Mock_Active1", 2u)
        .storeResultsTo(active);
    EXPECT_EQ(platform::WifiInfo::currentSSID(), "DoorUnit-7");

    // The tool's default provider reads the same.
    auto tool = PellixWifiTool::create();
    EXPECT_EQ(tool->ssidStr(), "DoorUnit-7");
}

}  // namespace
}  // namespace pellix::doortest
