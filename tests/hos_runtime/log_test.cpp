// Logging core: the switch, the call-site macros, the hub's registration,
// delivery and back-pressure.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

#include "HOSSDK/HOSFileLog/HOSFLFileLogger.h"
#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSFileLog/HOSNSLogger.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

using namespace pellix;

namespace {

// Collects the messages it receives.
class RecordingLogger : public HOSFLAbstractLogger {
public:
    RecordingLogger() : HOSFLAbstractLogger("RecordingLogger") {}
    void logMessage(const HOSFLLogMessagePtr& m) override {
        std::lock_guard<std::mutex> g(mutex);
        messages.push_back(m->message());
        records.push_back(m);
        if (onMessage) onMessage(m);
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> g(mutex);
        return messages;
    }
    std::function<void(const HOSFLLogMessagePtr&)> onMessage;
    std::mutex mutex;
    std::vector<std::string> messages;
    std::vector<HOSFLLogMessagePtr> records;
};

struct LogFixture : ::testing::Test {
    void SetUp() override {
        platform::Paths::setHomeDirectory(home.path());
        platform::Log::setSink([](std::string_view) {});
    }
    void TearDown() override {
        HOSLog::disableLog();
        HOSFLLog::removeAllLoggers();
        HOSFLLog::flushLog();
        platform::Log::setSink(nullptr);
        platform::Paths::setHomeDirectory("");
    }
    test::TempDir home;
};

}  // namespace

TEST_F(LogFixture, MacrosTestTheSwitchBeforeFormattingAndPrefixTheLine) {
    auto rec = std::make_shared<RecordingLogger>();
    HOSFLLog::addLogger(rec);
    int evaluated = 0;
    HOS_LOG_ERROR("%d", ++evaluated);
    HOSFLLog::flushLog();
    EXPECT_EQ(evaluated, 0);
    EXPECT_TRUE(rec->snapshot().empty());

    HOSLog::enableLog();  // replaces the loggers; add ours again
    ASSERT_TRUE(HOSLog::isLogEnable());
    HOSFLLog::addLogger(rec);
    HOS_LOG_ERROR("100%% of %s", "50%s %d");
    // Error lines are synchronous: already delivered.
    EXPECT_EQ(rec->snapshot(), (std::vector<std::string>{"[Error]: 100% of 50%s %d"}));
    HOS_LOG_DEBUG("d%d", 1);
    HOS_LOG_VERBOSE("v");
    HOSFLLog::flushLog();
    EXPECT_EQ(rec->snapshot(),
              (std::vector<std::string>{"[Error]: 100% of 50%s %d", "[Debug]: d1", "[Verbose]: v"}));
    const auto& r = *rec->records.front();
    EXPECT_EQ(r.flag(), HOSLogFlagError);
    EXPECT_EQ(r.level(), HOSLogLevelAll);
    EXPECT_EQ(r.fileName(), "log_test");
    EXPECT_NE(r.function().find("MacrosTestTheSwitch"), std::string::npos);
    EXPECT_FALSE(r.threadID().empty());

    HOSLog::disableLog();
    HOS_LOG_ERROR("%d", ++evaluated);
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(rec->snapshot().size(), 3u);
}

TEST_F(LogFixture, EnableTwiceLeavesConsoleAndSecondFileLogger) {
    HOSLog::enableLog();
    auto first = HOSFLLog::allLoggers();
    HOSLog::enableLog();
    auto second = HOSFLLog::allLoggers();
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], std::static_pointer_cast<HOSFLLogger>(HOSNSLogger::sharedInstance()));
    EXPECT_NE(std::dynamic_pointer_cast<HOSFLFileLogger>(second[1]), nullptr);
    EXPECT_NE(second[1], first[1]);
}

TEST_F(LogFixture, SameLoggerTwiceAndRemoval) {
    auto rec = std::make_shared<RecordingLogger>();
    HOSFLLog::addLogger(rec, HOSLogFlagError);
    HOSFLLog::addLogger(rec, HOSLogFlagError);
    EXPECT_EQ(HOSFLLog::allLoggers().size(), 1u);
    HOSFLLog::addLogger(rec, HOSLogLevelAll);
    auto nodes = HOSFLLog::allLoggersWithLevel();
    ASSERT_EQ(nodes.size(), 2u);
    HOSFLLog::log(false, "twice", HOSLogLevelAll, HOSLogFlagError, 0, __FILE__, __func__, __LINE__, {});
    HOSFLLog::log(false, "once", HOSLogLevelAll, HOSLogFlagDebug, 0, __FILE__, __func__, __LINE__, {});
    EXPECT_EQ(rec->snapshot(), (std::vector<std::string>{"twice", "twice", "once"}));
    HOSFLLog::removeLogger(rec);
    nodes = HOSFLLog::allLoggersWithLevel();
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].level, HOSLogLevelAll);
    HOSFLLog::addLogger(nullptr);
    HOSFLLog::log(false, 1, 1, 0, nullptr, nullptr, 0, {}, nullptr);  // null format: nothing
    EXPECT_EQ(HOSFLLog::allLoggers().size(), 1u);
}

// Records that reach no logger still give their place back: far more than
// 1000 synchronous ones pass.
TEST_F(LogFixture, UnmatchedRecordsReleaseTheirSlot) {
    auto rec = std::make_shared<RecordingLogger>();
    HOSFLLog::addLogger(rec, HOSLogFlagVerbose);
    for (int i = 0; i < 2500; ++i)
        HOSFLLog::log(i % 2 == 0, "x", HOSLogLevelAll, HOSLogFlagError, 0, __FILE__, __func__, __LINE__, {});
    HOSFLLog::flushLog();
    EXPECT_TRUE(rec->snapshot().empty());
}

// A logger that logs synchronously while it handles a record (from its own
// queue) must not wait for itself.
TEST_F(LogFixture, SynchronousLogFromInsideALoggerDoesNotDeadlock) {
    auto rec = std::make_shared<RecordingLogger>();
    std::atomic<bool> nested{false};
    rec->onMessage = [&](const HOSFLLogMessagePtr& m) {
        if (m->message() == "outer" && !nested.exchange(true))
            HOSFLLog::log(false, "inner", HOSLogLevelAll, HOSLogFlagError, 0, __FILE__, __func__, __LINE__, {});
    };
    HOSFLLog::addLogger(rec);
    auto done = std::async(std::launch::async, [] {
        HOSFLLog::log(false, "outer", HOSLogLevelAll, HOSLogFlagError, 0, __FILE__, __func__, __LINE__, {});
        HOSFLLog::flushLog();
    });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "deadlock";
    EXPECT_EQ(rec->snapshot(), (std::vector<std::string>{"outer", "inner"}));
}

TEST_F(LogFixture, ManyThreadsKeepPerThreadOrder) {
    auto rec = std::make_shared<RecordingLogger>();
    HOSFLLog::addLogger(rec);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i)
                HOSFLLog::log(true, std::to_string(t) + ":" + std::to_string(i), HOSLogLevelAll, HOSLogFlagDebug, 0,
                              __FILE__, __func__, __LINE__, {});
        });
    for (auto& t : threads) t.join();
    HOSFLLog::flushLog();
    auto got = rec->snapshot();
    ASSERT_EQ(got.size(), 2000u);
    std::vector<int> next(4, 0);
    for (const auto& m : got) {
        int t = m[0] - '0';
        EXPECT_EQ(m.substr(2), std::to_string(next[t]++));
    }
}

TEST_F(LogFixture, FormatterAccessIsRefusedOnTheLoggersOwnQueue) {
    auto rec = std::make_shared<RecordingLogger>();
    EXPECT_EQ(rec->logFormatter(), nullptr);
    std::string reason;
    rec->loggerQueue()->sync([&] {
        try {
            rec->logFormatter();
        } catch (const platform::Exception& e) {
            reason = e.reason();
        }
    });
    EXPECT_EQ(reason, "MUST access ivar directly, NOT via self.* syntax.");
}

TEST(HOSFLLogMessage, FileNameWithoutExtension) {
    struct Case {
        const char* path;
        std::optional<std::string> name;
    };
    const std::vector<Case> cases = {
        {"/src/HOSSDK/File.m", "File"}, {"File", "File"}, {"/dir.d/File", "File"}, {"a.b.c", "a.b"},
        {".hidden", ".hidden"},         {"/x/", ""},      {nullptr, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HOSFLExtractFileNameWithoutExtension(c.path, false), c.name) << (c.path ? c.path : "(null)");
    HOSFLLogMessage m("m", 1, 1, 0, "/a.dir/Makefile", "f", 1, {}, 0, 42.5);
    EXPECT_EQ(m.fileName(), "Makefile");
    EXPECT_EQ(m.timestamp(), 42.5);
}
