// A host may quit while transfers run: its exit handlers must not pull
// anything from under the library's own threads (the socket reactor in TLS
// reads, worker-pool threads decrypting), which run on until the process is
// gone. The test re-runs itself as that host and expects a clean exit 0.
#include <unistd.h>

#include <cstdlib>

#include "SessionFixture.h"
#include "platform/Crypto.h"
#include "platform/DispatchQueue.h"

namespace pellix::platform::urltest {
namespace {

constexpr const char* kHostVariable = "PELLIX_EXIT_TEST_PEER";

// The host's part: TLS downloads and decryption on worker threads, both
// running when it calls exit.
[[noreturn]] void quitDuringTransfers(const std::string& base) {
    auto delegate = std::make_shared<Recorder>();
    delegate->keepBodies = false;
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration(),
                                                        delegate, nullptr);
    std::vector<URLSession::DataTaskPtr> tasks;
    for (int i = 0; i < 4; ++i) {
        tasks.push_back(session->dataTaskWithURL(*URL::parse(base + "/bytes/" + std::to_string(1ll << 36))));
        tasks.back()->resume();
    }
    // One worker-pool job: the pool may be only two threads wide here, and
    // the session's callbacks need the other.
    std::atomic<bool> decrypting{false};
    DispatchQueue::global()->async([&decrypting] {
        const Bytes key(16, 7), iv(16, 9);
        Bytes data(64 * 1024, 1);
        decrypting = true;
        for (;;) crypto::aesDecryptInPlace(crypto::CipherMode::CBC, key, iv, data);
    });
    const bool running = eventually(
        [&] {
            std::int64_t received = 0;
            for (const auto& t : tasks) received += t->countOfBytesReceived();
            return received > (8 << 20) && decrypting.load();
        },
        120s);
    std::exit(running ? 0 : 3);
}

TEST(HostExit, QuittingWhileTransfersRunEndsCleanly) {
    if (const char* base = std::getenv(kHostVariable)) quitDuringTransfers(base);
    Peer peer(certs().leaf);
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        test::Process host({self, "--gtest_filter=HostExit.QuittingWhileTransfersRunEndsCleanly"},
                           {{kHostVariable, peer.base()}});
        ASSERT_TRUE(eventually([&] { return !host.running(); }, 240s)) << "the host did not quit";
        EXPECT_EQ(host.wait(), 0) << host.errorOutput();
    }
}

}  // namespace
}  // namespace pellix::platform::urltest
