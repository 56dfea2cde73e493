// The call manager on the real engine, against a sipp door station on
// loopback.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "PellixSipCallManager/PellixSipCallManager.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "platform/Application.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix::test {
namespace {

// The engine binds an ephemeral UDP port on 127.0.0.1: find it among this
// process's own sockets.
int engineUdpPort() {
    std::set<std::string> inodes;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(fds)) {
            char target[128] = {};
            std::string path = std::string("/proc/self/fd/") + e->d_name;
            auto n = ::readlink(path.c_str(), target, sizeof target - 1);
            std::string t(target, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (t.rfind("socket:[", 0) == 0) inodes.insert(t.substr(8, t.size() - 9));
        }
        ::closedir(fds);
    }
    std::ifstream udp("/proc/self/net/udp");
    std::string line;
    std::getline(udp, line);
    while (std::getline(udp, line)) {
        std::istringstream in(line);
        std::string slot, local, remote, st, queues, timer, retr, uid, timeout, inode;
        in >> slot >> local >> remote >> st >> queues >> timer >> retr >> uid >> timeout >> inode;
        if (local.rfind("0100007F:", 0) == 0 && inodes.count(inode)) return std::stoi(local.substr(9), nullptr, 16);
    }
    return 0;
}

struct Seen : PellixSipCallDelegate {
    std::vector<std::string> calls;
    void sipNewCallDirection(std::int64_t d, std::int64_t t, const std::optional<std::string>& id,
                             const std::optional<std::string>& room) override {
        calls.push_back("new " + std::to_string(d) + " " + std::to_string(t) + " " + id.value_or("nil") + " " +
                        room.value_or("nil"));
    }
    void sipTheCallWasRejected(std::int64_t, const std::optional<std::string>&) override { calls.push_back("rejected"); }
    void sipTheCallEndsDirection(std::int64_t d) override { calls.push_back("ended " + std::to_string(d)); }
    void sipTheCallIsCanceledDirection(std::int64_t d) override { calls.push_back("cancelled " + std::to_string(d)); }
};

TEST(CallManagerSipp, DoorStationRoomCallIsAudioAndTerminationWhileRingingDeclinesIt) {
    SipEngineManager::setReachabilityHostName("localhost");
    client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
    auto& m = *PellixSipCallManager::sharedInstance();
    ASSERT_TRUE(SipEngineManager::sharedInstance()->isInitialized());
    ASSERT_EQ(SipEngineManager::sharedInstance()->callDelegate(), &m);
    ASSERT_EQ(SipEngineManager::sharedInstance()->currentCall(), nullptr);
    const int port = engineUdpPort();
    if (port == 0) GTEST_SKIP() << "the engine's loopback port was not found";

    auto seen = std::make_shared<Seen>();
    PellixSipCallManager::registrationDelegate(seen);
    TempDir dir;
    Process door({"sipp", "-sf", sourceDir() + "/tests/sip_call/scenarios/uac_room_declined.xml", "-i", "127.0.0.1",
                  "-p", std::to_string(freePort()), "-m", "1", "-nostdin", "-trace_err", "-error_file",
                  dir.file("errors.log"), "-timeout", "20", "-timeout_error", "-mi", "127.0.0.1", "-mp",
                  std::to_string(freePort()), "-s", "1001", "127.0.0.1:" + std::to_string(port)});
    // Pump the engine here too: a test that swaps the shared clock can leave
    // the engine's repeating main-loop timer armed against the wrong clock.
    auto pumped = [](const std::function<bool()>& done) {
        return [done] {
            SipEngineManager::sharedInstance()->handleTimer();
            return done();
        };
    };
    auto main = platform::RunLoop::main();
    ASSERT_TRUE(main->runUntil(pumped([&] { return !seen->calls.empty(); }), 15)) << door.errorOutput();
    EXPECT_EQ(seen->calls.front(), "new 1 2 20001 1203");
    EXPECT_EQ(m.localMediaCallType(), 1) << "the leading a marks audio, whatever the offer";
    EXPECT_EQ(PellixSipCallManager::currentCallStatus(), 0);

    platform::NotificationCenter::defaultCenter().post(platform::Application::WillTerminateNotification, nullptr);
    ASSERT_TRUE(main->runUntil(pumped([&] { return m.callDirection() == -1; }), 10));
    ASSERT_TRUE(main->runUntil(pumped([&] { return !door.running(); }), 10));
    EXPECT_EQ(door.wait(), 0) << door.output() << door.errorOutput();
    PellixSipCallManager::removeDelegate();
}

}  // namespace
}  // namespace pellix::test
