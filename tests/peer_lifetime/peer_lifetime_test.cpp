// A peer started by a test ends with the test program however the program
// ends: a normal exit that never stopped it, a crash, or a kill from the
// harness. The program re-runs itself as the child that starts the peer.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "support/TestSupport.h"

namespace pellix::test {
namespace {

constexpr const char* kRoleVariable = "PELLIX_PEER_LIFETIME_ROLE";
constexpr const char* kPidFileVariable = "PELLIX_PEER_LIFETIME_PID_FILE";

// The child's part, run before main when the role is set: start the object
// store stand-in, never stop it, report its pid and end as the role says.
[[maybe_unused]] const bool kChildRan = [] {
    const char* role = std::getenv(kRoleVariable);
    const char* pidFile = std::getenv(kPidFileVariable);
    if (!role || !pidFile) return false;
    auto* peer = new Process({"node", sourceDir() + "/tests/peers/hos/server.js", "--port", "0", "--bucket", "photos"});
    if (!peer->waitForLine("^\\{.*\\}$", std::chrono::seconds(60))) std::_Exit(3);
    writeFile(std::string(pidFile) + ".part", std::to_string(peer->pid()));
    std::rename((std::string(pidFile) + ".part").c_str(), pidFile);
    const std::string r = role;
    if (r == "exits") std::exit(0);
    if (r == "crashes") {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::abort();
    }
    for (;;) ::pause();  // "is killed": waits for the parent's SIGKILL
}();

// True once the process is gone or a zombie nobody has reaped yet.
bool gone(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' ||
           line[close + 2] == 'X';
}

template <typename Pred>
bool waitFor(Pred pred, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(PeerLifetime, APeerEndsWithItsTestProgramHoweverThatEnds) {
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    for (const char* role : {"exits", "crashes", "is killed"}) {
        SCOPED_TRACE(role);
        TempDir dir;
        const std::string pidFile = dir.file("peer.pid");
        Process child({self, "--gtest_filter=-*"}, {{kRoleVariable, role}, {kPidFileVariable, pidFile}});
        int peer = 0;
        ASSERT_TRUE(waitFor(
            [&] {
                if (::access(pidFile.c_str(), F_OK) == 0) peer = std::stoi(readFile(pidFile));
                return peer > 0 || !child.running();
            },
            std::chrono::seconds(120)))
            << child.errorOutput();
        ASSERT_GT(peer, 0) << "the child ended before its peer started: " << child.errorOutput();
        if (std::string(role) == "is killed") {
            EXPECT_FALSE(gone(peer));
            ::kill(child.pid(), SIGKILL);
        }
        child.wait();
        const bool ended = waitFor([&] { return gone(peer); }, std::chrono::seconds(60));
        EXPECT_TRUE(ended) << "the stand-in " << peer << " outlived the test program";
        if (!ended) ::kill(peer, SIGKILL);
    }
}

}  // namespace
}  // namespace pellix::test
