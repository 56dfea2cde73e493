// The card cache shared between the main queue and the caller's thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PellixTempMemoryCache/PellixTempMemoryCache.h"

namespace pellix {
namespace {

// The cache is written on the main queue while an application may read it
// on another thread: a reader sees either a whole side or none of it.
TEST(SdkCardCache, AReaderOnAnotherThreadSeesEachSideWhole) {
    const auto& cache = PellixTempMemoryCache::sharedInstance();
    cache->clearIdentifyCardInformation();
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const auto c = cache->contents();
            const bool record = static_cast<bool>(c.cardFront);
            const bool key = static_cast<bool>(c.cardFrontImageObjectKey);
            if (record != key) ++torn;
            if (record && key && *c.cardFront->id_card_number() != *c.cardFrontImageObjectKey) ++torn;
        }
    });
    for (int i = 0; i < 20000; ++i) {
        auto front = std::make_shared<PellixOCRIdentifyCardSideFront>();
        front->setId_card_number("k" + std::to_string(i));
        cache->storeFront(front, "k" + std::to_string(i));
        if (i % 7 == 0) cache->clearIdentifyCardInformation();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    cache->clearIdentifyCardInformation();
}

}  // namespace
}  // namespace pellix
