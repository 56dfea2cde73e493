// 1 GiB transfers with flat memory. Skipped unless PELLIX_HEAVY_TESTS=1.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "SessionFixture.h"

namespace pellix::platform::urltest {
namespace {

constexpr std::int64_t kGiB = 1ll << 30;

std::int64_t residentBytes() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return 0;
}

class Heavy : public ::testing::Test {
protected:
    void SetUp() override {
        const char* on = std::getenv("PELLIX_HEAVY_TESTS");
        if (!on || std::string(on) != "1") GTEST_SKIP() << "set PELLIX_HEAVY_TESTS=1 to run";
    }
    // Samples resident memory from the delegate queue.
    std::atomic<std::int64_t> peak{0};
    void sample() {
        std::int64_t r = residentBytes();
        std::int64_t p = peak.load();
        while (r > p && !peak.compare_exchange_weak(p, r)) {
        }
    }
};

TEST_F(Heavy, DownloadOfOneGiBToAFile) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    std::int64_t before = residentBytes();
    std::int64_t size = -1;
    unsigned char probe = 0;
    s.delegate->onDownloaded = [&](const URL& location) {
        std::ifstream f(location.path(), std::ios::binary | std::ios::ate);
        size = f.tellg();
        f.seekg(kGiB - 1);
        probe = static_cast<unsigned char>(f.get());
    };
    auto task = s.session->downloadTaskWithRequest(URLRequest(peer.url("/bytes/" + std::to_string(kGiB))));
    task->resume();
    while (!s.delegate->waitComplete(task->taskIdentifier(), 100ms)) sample();
    ASSERT_FALSE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(size, kGiB);
    EXPECT_EQ(probe, (kGiB - 1) % 251);
    EXPECT_LT(peak.load() - before, 64ll << 20) << "resident memory grew with the download";
}

TEST_F(Heavy, DataTaskOfOneGiBToASlowDelegateStaysFlat) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    std::int64_t before = residentBytes();
    std::atomic<std::int64_t> received{0};
    s.delegate->onData = [&](const auto&, const Bytes& d) {
        received += static_cast<std::int64_t>(d.size());
        std::this_thread::sleep_for(2ms);
    };
    s.delegate->keepBodies = false;
    auto task = s.session->dataTaskWithURL(peer.url("/bytes/" + std::to_string(kGiB)));
    task->resume();
    while (!s.delegate->waitComplete(task->taskIdentifier(), 100ms)) sample();
    ASSERT_FALSE(s.delegate->error(task->taskIdentifier()));
    EXPECT_EQ(received.load(), kGiB);
    EXPECT_LT(peak.load() - before, 64ll << 20) << "received bytes piled up for the slow delegate";
}

TEST_F(Heavy, UploadOfOneGiBFromAFile) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    test::TempDir dir;
    std::string path = dir.file("upload.bin");
    {
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kGiB), 0);  // a sparse GiB of zeros
        ::close(fd);
    }
    // SHA-256 of a GiB of zeros.
    std::string expected;
    {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
        std::vector<unsigned char> zeros(1 << 20, 0);
        for (int i = 0; i < 1024; ++i) EVP_DigestUpdate(ctx, zeros.data(), zeros.size());
        unsigned char md[32];
        unsigned int n = 0;
        EVP_DigestFinal_ex(ctx, md, &n);
        EVP_MD_CTX_free(ctx);
        static const char* hex = "0123456789abcdef";
        for (unsigned i = 0; i < n; ++i) expected += std::string{hex[md[i] >> 4], hex[md[i] & 15]};
    }
    std::int64_t before = residentBytes();
    URLRequest request(peer.url("/echo"));
    request.setHTTPMethod("PUT");
    auto task = s.session->uploadTaskWithRequest(request, URL::fileURL(path));
    EXPECT_EQ(task->countOfBytesExpectedToSend(), kGiB);
    task->resume();
    while (!s.delegate->waitComplete(task->taskIdentifier(), 100ms)) sample();
    ASSERT_FALSE(s.delegate->error(task->taskIdentifier()));
    std::string echo = s.delegate->body(task->taskIdentifier());
    EXPECT_NE(echo.find("\"length\":" + std::to_string(kGiB)), std::string::npos) << echo;
    EXPECT_NE(echo.find(expected), std::string::npos) << echo;
    EXPECT_EQ(s.delegate->sent(task->taskIdentifier()), kGiB);
    EXPECT_LT(peak.load() - before, 64ll << 20) << "resident memory grew with the upload";
}

}  // namespace
}  // namespace pellix::platform::urltest
