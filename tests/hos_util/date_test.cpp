// HTTP dates and the clock skew of the storage client.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>

#include "HOSSDK/NSDate+HOS.h"
#include "platform/Clock.h"
#include "platform/ManualClock.h"

namespace pellix {
namespace {

struct DateCase {
    double seconds;
    const char* text;
};

// Epoch, leap days, century rules, the day before the epoch, year 1 and 9999.
const DateCase kDates[] = {
    {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
    {-1, "Wed, 31 Dec 1969 23:59:59 GMT"},
    {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
    {1709164800, "Thu, 29 Feb 2024 00:00:00 GMT"},
    {4107542400, "Mon, 01 Mar 2100 00:00:00 GMT"},
    {1796808196, "Wed, 09 Dec 2026 09:23:16 GMT"},
    {2147483648, "Tue, 19 Jan 2038 03:14:08 GMT"},
    {-62135596800, "Mon, 01 Jan 0001 00:00:00 GMT"},
    {253402300799, "Fri, 31 Dec 9999 23:59:59 GMT"},
};

TEST(HOSDate, FormatsAndParsesTheTable) {
    for (const DateCase& c : kDates) {
        EXPECT_EQ(hos_asStringValue(c.seconds), c.text);
        ASSERT_TRUE(hos_dateFromString(c.text).has_value()) << c.text;
        EXPECT_EQ(*hos_dateFromString(c.text), c.seconds) << c.text;
    }
    // Fractions of a second round down, also before the epoch.
    EXPECT_EQ(hos_asStringValue(0.999), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(hos_asStringValue(-0.5), "Wed, 31 Dec 1969 23:59:59 GMT");
}

TEST(HOSDate, RandomDatesRoundTrip) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<long long> secs(-62135596800LL, 253402300799LL);
    for (int i = 0; i < 20000; ++i) {
        const double t = static_cast<double>(secs(rng));
        const std::string text = hos_asStringValue(t);
        const auto back = hos_dateFromString(text);
        ASSERT_TRUE(back.has_value()) << text;
        ASSERT_EQ(*back, t) << text;
    }
}

TEST(HOSDate, ParsesZoneFormsAndNameCase) {
    const double base = 1796808196;  // Wed, 09 Dec 2026 09:23:16 GMT
    struct {
        const char* text;
        double expected;
    } cases[] = {
        {"Wed, 09 Dec 2026 09:23:16 UTC", base},
        {"wed, 09 DEC 2026 09:23:16 gmt", base},
        {"Wed, 9 Dec 2026 09:23:16 GMT", base},
        {"Wed, 09 Dec 2026 17:23:16 GMT+08:00", base},
        {"Wed, 09 Dec 2026 17:23:16 GMT+8", base},
        {"Wed, 09 Dec 2026 17:23:16 +0800", base},
        {"Wed, 09 Dec 2026 04:23:16 GMT-05:00", base},
    };
    for (const auto& c : cases) {
        const auto parsed = hos_dateFromString(c.text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(*parsed, c.expected) << c.text;
    }
}

TEST(HOSDate, RejectsTextThatIsNotAnHTTPDate) {
    const char* bad[] = {
        "",
        "garbage",
        "Wed, 09 Dec 2026 09:23:16",           // no zone
        "Wed, 09 Dec 2026 09:23:16 GMT extra",  // trailing text
        "Wed, 09 Dec 2026 09:23:16 GMT\r\n",
        " Wed, 09 Dec 2026 09:23:16 GMT",
        "Wed 09 Dec 2026 09:23:16 GMT",         // no comma
        "Xyz, 09 Dec 2026 09:23:16 GMT",
        "Wed, 09 Foo 2026 09:23:16 GMT",
        "Wed, 31 Feb 2026 09:23:16 GMT",        // no such day
        "Sun, 29 Feb 2100 00:00:00 GMT",        // 2100 is not a leap year
        "Wed, 00 Dec 2026 09:23:16 GMT",
        "Wed, 09 Dec 2026 24:00:00 GMT",
        "Wed, 09 Dec 2026 09:60:16 GMT",
        "Wed, 09 Dec 2026 09:23:60 GMT",
        "Wed, 09 Dec 0000 09:23:16 GMT",
        "Wed, 09 Dec 2026 09:23:16 PST",
        "Wed, 09 Dec 2026 09:23:16 GMT+25:00",
        "Wed, 09 Dec 2026 09:23:16 +080",
        "Wednesday, 09-Dec-26 09:23:16 GMT",
        "2026-12-09T09:23:16Z",
    };
    for (const char* text : bad) EXPECT_FALSE(hos_dateFromString(text).has_value()) << '"' << text << '"';
}

// The process time zone and locale have no say in the text.
TEST(HOSDate, IgnoresProcessTimeZoneAndLocale) {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    std::setlocale(LC_ALL, "de_DE.UTF-8");  // when installed
    std::setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(hos_asStringValue(1796808196), "Wed, 09 Dec 2026 09:23:16 GMT");
    EXPECT_EQ(*hos_dateFromString("Wed, 09 Dec 2026 09:23:16 GMT"), 1796808196);
    std::setlocale(LC_ALL, "C");
    unsetenv("TZ");
    tzset();
}

class ClockSkewTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock_ = std::make_shared<platform::ManualClock>();
        clock_->setWallTime(1796808196);
        platform::Clock::setShared(clock_);
        hos_setClockSkew(0);
    }
    void TearDown() override {
        hos_setClockSkew(0);
        platform::Clock::setShared(nullptr);
    }
    std::shared_ptr<platform::ManualClock> clock_;
};

TEST_F(ClockSkewTest, FixedDateIsBehindByTheSkew) {
    EXPECT_EQ(hos_clockSkewFixedDate(), 1796808196);
    hos_setClockSkew(30);
    EXPECT_EQ(hos_clockSkewFixedDate(), 1796808196 - 30);
    EXPECT_EQ(hos_asStringValue(hos_clockSkewFixedDate()), "Wed, 09 Dec 2026 09:22:46 GMT");
}

TEST_F(ClockSkewTest, ServerDateSetsSkewAndGarbageLeavesIt) {
    // The server is 90 s behind us.
    EXPECT_TRUE(hos_setClockSkewFromServerDate(std::string("Wed, 09 Dec 2026 09:21:46 GMT")));
    EXPECT_EQ(hos_clockSkewFixedDate(), 1796808196 - 90);
    for (const std::optional<std::string>& header :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("tomorrow"),
          std::optional<std::string>("Wed, 32 Dec 2026 09:21:46 GMT")}) {
        EXPECT_FALSE(hos_setClockSkewFromServerDate(header));
        EXPECT_EQ(hos_clockSkewFixedDate(), 1796808196 - 90);
    }
}

}  // namespace
}  // namespace pellix
