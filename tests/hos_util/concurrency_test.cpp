// First use from many threads at once: the CRC path choice, the content-type
// table and the clock skew are shared process-wide.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "HOSSDK/aos_crc64.h"
#include "platform/Clock.h"

namespace pellix {
namespace {

TEST(HOSUtilConcurrency, SharedStateFromManyThreads) {
    std::vector<unsigned char> data(4096);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
    const std::uint64_t expected = crc64_little(0, data.data(), data.size());
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (aos_crc64(0, data.data(), data.size()) != expected) ++mismatches;
                if (HOSUtil::detemineMimeTypeForFilePath(std::string("a.png"), {}) != "image/png") ++mismatches;
                hos_setClockSkew(t);
                const double skew = platform::Clock::now() - hos_clockSkewFixedDate();
                if (skew < -1 || skew > 8) ++mismatches;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    hos_setClockSkew(0);
}

}  // namespace
}  // namespace pellix
