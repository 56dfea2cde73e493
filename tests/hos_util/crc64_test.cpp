// CRC-64 against an independent implementation (liblzma's lzma_crc64, loaded
// at run time so no build file has to change), across every code path.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "HOSSDK/aos_crc64.h"

namespace pellix {
namespace {

using LzmaCrc64 = std::uint64_t (*)(const std::uint8_t*, std::size_t, std::uint64_t);

LzmaCrc64 lzmaCrc64() {
    static LzmaCrc64 fn = [] {
        void* lib = dlopen("liblzma.so.5", RTLD_NOW | RTLD_LOCAL);
        return lib ? reinterpret_cast<LzmaCrc64>(dlsym(lib, "lzma_crc64")) : nullptr;
    }();
    return fn;
}

using Update = std::uint64_t (*)(std::uint64_t, const void*, std::size_t);
struct Path {
    const char* name;
    Update fn;
    bool available;
};

std::vector<Path> paths() {
    return {{"aos_crc64", &aos_crc64, true},
            {"crc64_little", &crc64_little, true},
            {"crc64_big", &crc64_big, true},
            {"clmul", &crc64::clmul, crc64::clmulSupported()},
            {"vpclmul", &crc64::vpclmul, crc64::vpclmulSupported()}};
}

class Crc64Test : public ::testing::Test {
protected:
    void SetUp() override {
        oracle_ = lzmaCrc64();
        ASSERT_NE(oracle_, nullptr) << "liblzma.so.5 with lzma_crc64 is needed as the reference";
        data_.resize(1 << 20);
        for (auto& b : data_) b = static_cast<std::uint8_t>(rng_());
    }
    LzmaCrc64 oracle_ = nullptr;
    std::mt19937_64 rng_{20261210};
    std::vector<std::uint8_t> data_;
};

TEST_F(Crc64Test, CheckValueAndEmptyInputOnEveryPath) {
    const char* check = "123456789";
    for (const Path& p : paths()) {
        if (!p.available) continue;
        SCOPED_TRACE(p.name);
        EXPECT_EQ(p.fn(0, check, 9), 0x995DC9BBDF1939FAULL);
        EXPECT_EQ(std::to_string(p.fn(0, check, 9)), "11051210869376104954");
        EXPECT_EQ(p.fn(0, check, 0), 0u);
        EXPECT_EQ(p.fn(0xDEADBEEFCAFEF00DULL, nullptr, 0), 0xDEADBEEFCAFEF00DULL);
    }
    EXPECT_EQ(hos_crc64(platform::Bytes{}), 0u);
    EXPECT_EQ(hos_crc64(platform::Bytes(check, check + 9)), 0x995DC9BBDF1939FAULL);
    EXPECT_EQ(HOSUtil::crc64ecma(0, check, 9), 0x995DC9BBDF1939FAULL);
}

// Every length around the folding boundaries (16, 64, 128, 256 bytes) and
// every start offset within a cache line, with a running start value.
TEST_F(Crc64Test, AllPathsMatchReferenceAcrossLengthsAndOffsets) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 600; ++n) lengths.push_back(n);
    for (std::size_t n : {1023u, 1024u, 4095u, 65536u, 65537u, 100003u, 1000000u}) lengths.push_back(n);
    for (const Path& p : paths()) {
        if (!p.available) continue;
        SCOPED_TRACE(p.name);
        for (std::size_t n : lengths) {
            const std::size_t offset = n % 64;
            const std::uint64_t start = rng_();
            const std::uint8_t* b = data_.data() + offset;
            ASSERT_EQ(p.fn(start, b, n), oracle_(b, n, start)) << "length " << n << " offset " << offset;
        }
    }
}

TEST_F(Crc64Test, RandomBuffersSplitAnywhereGiveTheWholeValue) {
    std::uniform_int_distribution<std::size_t> len(0, 200000);
    for (int round = 0; round < 60; ++round) {
        const std::size_t offset = rng_() % 61;
        const std::size_t n = len(rng_);
        const std::uint8_t* b = data_.data() + offset;
        const std::uint64_t whole = oracle_(b, n, 0);
        ASSERT_EQ(aos_crc64(0, b, n), whole);
        // Three pieces with odd cut points, through every path in turn.
        std::size_t cut1 = n ? rng_() % (n + 1) : 0;
        std::size_t cut2 = cut1 + (n - cut1 ? rng_() % (n - cut1 + 1) : 0);
        for (const Path& p : paths()) {
            if (!p.available) continue;
            std::uint64_t c = p.fn(0, b, cut1);
            c = p.fn(c, b + cut1, cut2 - cut1);
            c = p.fn(c, b + cut2, n - cut2);
            ASSERT_EQ(c, whole) << p.name << " n=" << n << " cuts " << cut1 << "," << cut2;
        }
    }
}

TEST_F(Crc64Test, CombineEqualsTheValueOfTheConcatenation) {
    std::vector<std::pair<std::size_t, std::size_t>> cases = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {7, 9}, {100, 1},
                                                               {1, 100}, {4096, 4096}, {300000, 700000}};
    for (int i = 0; i < 40; ++i) cases.emplace_back(rng_() % 50000, rng_() % 50000);
    for (auto [la, lb] : cases) {
        const std::uint8_t* a = data_.data() + 3;
        const std::uint8_t* b = a + la;
        const std::uint64_t crcA = oracle_(a, la, 0), crcB = oracle_(b, lb, 0);
        EXPECT_EQ(aos_crc64_combine(crcA, crcB, lb), oracle_(a, la + lb, 0)) << la << "+" << lb;
        EXPECT_EQ(HOSUtil::crc64ForCombineCRC1(crcA, crcB, lb), oracle_(a, la + lb, 0));
    }
    // With an empty second piece the second value is not used at all.
    EXPECT_EQ(aos_crc64_combine(0x1234, 0xFFFFFFFFFFFFFFFFULL, 0), 0x1234u);
}

// Whole-object checks of multipart uploads combine many parts in order.
TEST_F(Crc64Test, CombiningManyPartsInOrder) {
    std::uint64_t total = 0;
    std::size_t pos = 0;
    while (pos < data_.size()) {
        const std::size_t part = std::min<std::size_t>(data_.size() - pos, 1 + rng_() % 150000);
        total = aos_crc64_combine(total, aos_crc64(0, data_.data() + pos, part), part);
        pos += part;
    }
    EXPECT_EQ(total, oracle_(data_.data(), data_.size(), 0));
}

// The definition itself, one bit at a time: no tables, no folding, nothing
// shared with the code under test.
std::uint64_t bitwiseCrc64(std::uint64_t crc, const std::uint8_t* p, std::size_t n) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xC96C5795D7870F42ULL & (0 - (crc & 1)));
    }
    return ~crc;
}

// Bytes with an inaccessible page on either side, so a path that reads one
// byte before or after its buffer faults instead of passing by luck.
class GuardedBytes {
public:
    explicit GuardedBytes(std::size_t size) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        inner_ = (size + page_ - 1) / page_ * page_;
        void* m = mmap(nullptr, inner_ + 2 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return;
        map_ = static_cast<std::uint8_t*>(m);
        if (mprotect(map_ + page_, inner_, PROT_READ | PROT_WRITE) != 0) return;
        ok_ = true;
    }
    ~GuardedBytes() {
        if (map_) munmap(map_, inner_ + 2 * page_);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    bool ok() const { return ok_; }
    std::uint8_t* begin() const { return map_ + page_; }
    std::uint8_t* end() const { return map_ + page_ + inner_; }

private:
    std::size_t page_ = 0, inner_ = 0;
    std::uint8_t* map_ = nullptr;
    bool ok_ = false;
};

// Every length up to 600 (the short-buffer code, its tail handling and the
// start of the wide folding) at many start alignments, and flush against the
// end of readable memory, on every path, from running start values.
TEST(Crc64Definition, EveryLengthAndAlignmentOnEveryPath) {
    constexpr std::size_t kMax = 600;
    GuardedBytes mem(kMax + 64);
    ASSERT_TRUE(mem.ok());
    std::mt19937_64 rng(7);
    for (std::uint8_t* b = mem.begin(); b != mem.end(); ++b) *b = static_cast<std::uint8_t>(rng());
    const std::size_t offsets[] = {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 48, 63};
    for (std::size_t n = 0; n <= kMax; ++n) {
        std::vector<const std::uint8_t*> starts;
        for (std::size_t o : offsets) starts.push_back(mem.begin() + o);
        starts.push_back(mem.end() - n);
        for (const std::uint8_t* b : starts) {
            for (std::uint64_t start : {std::uint64_t{0}, ~std::uint64_t{0}, std::uint64_t{rng()}}) {
                const std::uint64_t want = bitwiseCrc64(start, b, n);
                for (const Path& p : paths()) {
                    if (!p.available) continue;
                    ASSERT_EQ(p.fn(start, b, n), want) << p.name << " length " << n << " at offset "
                                                       << (b - mem.begin()) << " from " << std::hex << start;
                }
            }
        }
    }
}

// Joining two checks at every split of every length up to 600.
TEST(Crc64Definition, CombineAtEverySplitOfShortBuffers) {
    std::mt19937_64 rng(11);
    std::vector<std::uint8_t> data(600);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    for (std::size_t n = 0; n <= data.size(); ++n) {
        const std::uint64_t whole = bitwiseCrc64(0, data.data(), n);
        for (std::size_t cut = 0; cut <= n; cut += (n < 40 ? 1 : 7)) {
            const std::uint64_t a = bitwiseCrc64(0, data.data(), cut);
            const std::uint64_t b = bitwiseCrc64(0, data.data() + cut, n - cut);
            ASSERT_EQ(aos_crc64_combine(a, b, n - cut), whole) << "length " << n << " cut at " << cut;
        }
    }
}

TEST(Crc64Rev8, ReversesBytes) {
    EXPECT_EQ(rev8(0x0102030405060708ULL), 0x0807060504030201ULL);
    EXPECT_EQ(rev8(rev8(0x995DC9BBDF1939FAULL)), 0x995DC9BBDF1939FAULL);
}

}  // namespace
}  // namespace pellix
