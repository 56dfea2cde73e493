// File logging against a real temporary folder: naming, line format, rolling
// by size and age, cleanup by count and quota, the archived mark, the live
// file deleted or renamed underneath, write failures, and two processes
// appending to the same folder.
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <regex>

#include "HOSSDK/HOSFileLog/HOSFLFileLogger.h"
#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "HOSSDK/HOSFileLog/HOSFLLogFileFormatterDefault.h"
#include "HOSSDK/HOSFileLog/HOSFLLogFileManagerDefault.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/ManualClock.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

HOSFLLogMessagePtr record(const std::string& text) {
    return std::make_shared<const HOSFLLogMessage>(text, HOSLogLevelAll, HOSLogFlagDebug, 0, __FILE__, "test", 1,
                                                   std::any(), 0, std::nullopt);
}

bool archived(const std::string& path) { return ::getxattr(path.c_str(), "user.hos.log.archived", nullptr, 0) >= 0; }

std::vector<std::string> logFiles(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".log") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string appName() { return HOSFLLogFileManagerDefault::applicationName(); }

// A log file name for a given time (seconds since 1970).
std::string nameAt(double t) {
    auto manual = std::make_shared<platform::ManualClock>();
    manual->setWallTime(t);
    platform::Clock::setShared(manual);
    std::string n = HOSFLLogFileManagerDefault(std::string("/nonexistent")).newLogFileName();
    platform::Clock::setShared(nullptr);
    return n;
}

struct FileLogFixture : ::testing::Test {
    void SetUp() override {
        platform::Log::setSink([this](std::string_view l) {
            std::lock_guard<std::mutex> g(m);
            systemLog.emplace_back(l);
        });
        manager = std::make_shared<HOSFLLogFileManagerDefault>(dir.path());
        logger = std::make_shared<HOSFLFileLogger>(manager);
    }
    void TearDown() override {
        logger.reset();
        platform::Clock::setShared(nullptr);
        platform::Log::setSink(nullptr);
    }
    // Hands a record to the logger the way the hub does: on its queue.
    void write(const std::string& text) {
        auto r = record(text);
        logger->loggerQueue()->sync([&] { logger->logMessage(r); });
    }
    void setMaximumFileSize(std::uint64_t bytes) {
        logger->setMaximumFileSize(bytes);
        ASSERT_EQ(logger->maximumFileSize(), bytes);  // waits for the hops
    }
    std::vector<std::string> systemLines() {
        std::lock_guard<std::mutex> g(m);
        return systemLog;
    }
    test::TempDir dir;
    std::shared_ptr<HOSFLLogFileManagerDefault> manager;
    std::shared_ptr<HOSFLFileLogger> logger;
    std::mutex m;
    std::vector<std::string> systemLog;
};

}  // namespace

TEST(HOSFileLog, EnableLogWritesToCachesFolderWithNamedFileAndLineFormat) {
    test::TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    platform::Log::setSink([](std::string_view) {});
    HOSLog::enableLog();
    HOS_LOG_ERROR("hello %s", "file");
    const std::string logs = platform::Paths::cachesDirectory() + "/HOSLogs";
    auto files = logFiles(logs);
    ASSERT_EQ(files.size(), 1u);
    const std::string name = fs::path(files[0]).filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex(std::regex_replace(appName(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                                                  R"( \d{4}-\d\d-\d\d--\d\d-\d\d-\d\d-\d{3}\.log)")))
        << name;
    EXPECT_TRUE(std::regex_match(test::readFile(files[0]),
                                 std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  \[Error\]: hello file\n)")))
        << test::readFile(files[0]);
    HOSLog::disableLog();
    HOSFLLog::removeAllLoggers();
    HOSFLLog::flushLog();
    platform::Log::setSink(nullptr);
    platform::Paths::setHomeDirectory("");
}

TEST_F(FileLogFixture, RollsBySizeAfterTheLineThatReachesTheLimit) {
    setMaximumFileSize(100);
    const std::string line(60, 'a');
    write(line);
    auto files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    const std::string first = files[0];
    EXPECT_FALSE(archived(first));
    write(line);  // 2 x (timestamp + 2 + 60 + 1) > 100: the file ends here and is archived
    EXPECT_TRUE(archived(first));
    const std::string content = test::readFile(first);
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 2);
    write("third");
    files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);  // the new file's creation deleted the full one
    EXPECT_NE(files[0], first);
    EXPECT_NE(test::readFile(files[0]).find("  third\n"), std::string::npos);
}

TEST_F(FileLogFixture, StartChoosesResumeOrArchiveByArchivedMarkSizeAndAge) {
    const double now = platform::Clock::now();
    struct Case {
        const char* name;
        std::size_t size;
        bool markArchived;
        double clockAhead;  // seconds the clock runs ahead of the file's creation
        bool resumed;
    };
    const std::vector<Case> cases = {
        {"small and young", 10, false, 0, true},
        {"at the size limit", 1000, false, 0, false},
        {"older than a day", 10, false, 86400 + 60, false},
        {"already archived", 10, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir d;
        auto mgr = std::make_shared<HOSFLLogFileManagerDefault>(d.path());
        auto lg = std::make_shared<HOSFLFileLogger>(mgr);
        lg->setMaximumFileSize(1000);
        ASSERT_EQ(lg->maximumFileSize(), 1000u);
        const std::string old = d.file(nameAt(now - 5));
        test::writeFile(old, std::string(c.size, 'x'));
        if (c.markArchived) {
            ASSERT_EQ(::setxattr(old.c_str(), "user.hos.log.archived", "", 0, 0), 0);
        }
        if (c.clockAhead > 0) {
            auto manual = std::make_shared<platform::ManualClock>();
            manual->setWallTime(now + c.clockAhead);
            platform::Clock::setShared(manual);
        }
        auto r = record("next");
        lg->loggerQueue()->sync([&] { lg->logMessage(r); });
        platform::Clock::setShared(nullptr);
        auto files = logFiles(d.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0] == old, c.resumed);
        if (c.resumed) {
            EXPECT_EQ(test::readFile(old).substr(0, c.size), std::string(c.size, 'x'));
        }
        lg.reset();
    }
}

TEST_F(FileLogFixture, CleanupByCountAndQuotaKeepsForeignFiles) {
    const double base = platform::Clock::now() - 1000;
    auto make = [&](int i, std::size_t size) {
        test::writeFile(dir.file(nameAt(base + i)), std::string(size, 'x'));
    };
    struct Case {
        const char* name;
        std::uint64_t count;
        std::uint64_t quota;
        std::size_t kept;
    };
    const std::vector<Case> cases = {
        {"count 3", 3, 0, 3}, {"quota 1000 of 400-byte files", 0, 1000, 2}, {"count and quota, smaller wins", 3, 1000, 2},
        {"no limits", 0, 0, 5}, {"count 1, newest not archived stays", 1, 10, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& f : logFiles(dir.path())) fs::remove(f);
        for (int i = 0; i < 5; ++i) make(i, 400);
        test::writeFile(dir.file("other.log"), "not ours");
        manager->setMaximumNumberOfLogFiles(c.count);
        manager->setLogFilesDiskQuota(c.quota);
        manager->deleteOldLogFiles();
        auto names = manager->sortedLogFileNames();
        ASSERT_EQ(names.size(), c.kept);
        for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], nameAt(base + 4 - static_cast<int>(i)));
        EXPECT_TRUE(fs::exists(dir.file("other.log")));
    }
    // Setting a limit deletes nothing until the next new file.
    for (int i = 0; i < 5; ++i) make(i, 10);
    manager->setMaximumNumberOfLogFiles(2);
    manager->setLogFilesDiskQuota(0);
    EXPECT_EQ(manager->sortedLogFileNames().size(), 5u);
    manager->createNewLogFile();
    EXPECT_EQ(manager->sortedLogFileNames().size(), 2u);
}

TEST_F(FileLogFixture, NamesTakenInTheSameMillisecondGetANumber) {
    auto manual = std::make_shared<platform::ManualClock>();
    manual->setWallTime(1'800'000'000.123);
    platform::Clock::setShared(manual);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    const std::string a = manager->createNewLogFile();
    const std::string b = manager->createNewLogFile();
    const std::string c = manager->createNewLogFile();
    EXPECT_EQ(fs::path(b).filename().string(), nameAt(1'800'000'000.123).insert(nameAt(1'800'000'000.123).size() - 4, " 2"));
    EXPECT_NE(c.find(" 3.log"), std::string::npos);
    EXPECT_TRUE(fs::exists(a) && fs::exists(b) && fs::exists(c));
}

TEST_F(FileLogFixture, LiveFileDeletedOrRenamedUnderneath) {
    manager->setMaximumNumberOfLogFiles(0);
    write("one");
    auto files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    fs::remove(files[0]);
    write("two");  // not lost into the deleted file
    files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(test::readFile(files[0]).find("  two\n"), std::string::npos);

    fs::rename(files[0], dir.file("moved.txt"));
    write("three");
    EXPECT_TRUE(archived(dir.file("moved.txt")));
    EXPECT_EQ(test::readFile(dir.file("moved.txt")).find("three"), std::string::npos);
    files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(test::readFile(files[0]).find("  three\n"), std::string::npos);
}

TEST_F(FileLogFixture, RollOnRequestRunsTheCompletionAfterwards) {
    write("before");
    auto files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    std::promise<bool> rolled;
    logger->rollLogFileWithCompletionBlock([&] { rolled.set_value(archived(files[0])); });
    auto f = rolled.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(f.get());
}

TEST_F(FileLogFixture, RemovingTheLoggerRollsItsFile) {
    HOSFLLog::addLogger(logger);
    HOSFLLog::log(false, "via hub", HOSLogLevelAll, HOSLogFlagError, 0, __FILE__, __func__, __LINE__, {});
    auto files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    HOSFLLog::removeLogger(logger);
    HOSFLLog::flushLog();
    logger->loggerQueue()->sync([] {});
    EXPECT_TRUE(archived(files[0]));
}

TEST_F(FileLogFixture, CustomFormatterNewlinesAndWriteFailures) {
    struct Formatter : HOSFLLogFormatter {
        std::optional<std::string> formatLogMessage(const HOSFLLogMessage& m) override {
            if (m.message() == "drop") return std::nullopt;
            return m.message();
        }
    };
    logger->setLogFormatter(std::make_shared<Formatter>());
    logger->logFormatter();  // waits until the formatter is in place
    write("ends\n");
    write("drop");
    write("plain");
    auto files = logFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(test::readFile(files[0]), "ends\nplain\n");

    // A file that refuses every write: the first ten failures are reported,
    // the tenth with the closing line, later ones silently.
    struct FullDisk : HOSFLLogFileManagerDefault {
        using HOSFLLogFileManagerDefault::HOSFLLogFileManagerDefault;
        std::vector<HOSFLLogFileInfoPtr> sortedLogFileInfos() override { return {}; }
        std::string createNewLogFile() override { return "/dev/full"; }
    };
    logger = std::make_shared<HOSFLFileLogger>(std::make_shared<FullDisk>(dir.path()));
    for (int i = 0; i < 13; ++i) write("lost");
    auto lines = systemLines();
    std::vector<std::string> reports;
    for (const auto& l : lines)
        if (l.rfind("FLFileLogger.logMessage: ", 0) == 0) reports.push_back(l);
    ASSERT_EQ(reports.size(), 11u);
    EXPECT_EQ(reports.back(), "FLFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
}

TEST(HOSFileLog, FileInfoRenameAndDescription) {
    test::TempDir d;
    test::writeFile(d.file("a.log"), "12345");
    test::writeFile(d.file("b.log"), "old");
    HOSFLLogFileInfo info(d.file("a.log"));
    EXPECT_EQ(info.fileSize(), 5u);
    EXPECT_FALSE(info.isArchived());
    info.setIsArchived(true);
    EXPECT_TRUE(info.isArchived());
    info.setIsArchived(false);
    EXPECT_FALSE(info.isArchived());
    info.renameFile("b.log");  // replaces the existing one
    EXPECT_EQ(info.filePath(), d.file("b.log"));
    EXPECT_EQ(test::readFile(d.file("b.log")), "12345");
    EXPECT_FALSE(fs::exists(d.file("a.log")));
    EXPECT_NE(info.description().find("b.log"), std::string::npos);
    EXPECT_TRUE(info.creationDate().has_value());
    HOSFLLogFileInfo missing(d.file("nope.log"));
    EXPECT_EQ(missing.fileSize(), 0u);
    EXPECT_FALSE(missing.creationDate().has_value());
}

// Child side of the two-process test: runs only when the parent starts this
// program with the folder in the environment.
TEST(HOSFileLogChild, Append) {
    const char* dirEnv = std::getenv("HOS_LOG_CHILD_DIR");
    const char* idEnv = std::getenv("HOS_LOG_CHILD_ID");
    if (!dirEnv || !idEnv) GTEST_SKIP() << "child of TwoProcessesAppendWithoutLosingLines";
    auto mgr = std::make_shared<HOSFLLogFileManagerDefault>(std::string(dirEnv));
    mgr->setMaximumNumberOfLogFiles(0);
    mgr->setLogFilesDiskQuota(0);
    auto lg = std::make_shared<HOSFLFileLogger>(mgr);
    lg->setMaximumFileSize(16 * 1024);
    ASSERT_EQ(lg->maximumFileSize(), 16u * 1024);
    for (int i = 0; i < 2000; ++i) {
        auto r = record(std::string("child ") + idEnv + " line " + std::to_string(i) + " " + std::string(20, 'p'));
        lg->loggerQueue()->sync([&] { lg->logMessage(r); });
    }
}

TEST(HOSFileLog, TwoProcessesAppendWithoutLosingLines) {
    test::TempDir d;
    // A recent small file both processes resume.
    test::writeFile(d.file(nameAt(platform::Clock::now() - 1)), "");
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    std::vector<std::unique_ptr<test::Process>> children;
    for (const char* id : {"A", "B"})
        children.push_back(std::make_unique<test::Process>(
            std::vector<std::string>{self, "--gtest_filter=HOSFileLogChild.Append"},
            std::map<std::string, std::string>{{"HOS_LOG_CHILD_DIR", d.path()}, {"HOS_LOG_CHILD_ID", id}}));
    for (auto& c : children) EXPECT_EQ(c->wait(), 0) << c->output() << c->errorOutput();
    std::map<std::string, int> next{{"A", 0}, {"B", 0}};
    std::size_t total = 0;
    // Files in time order, so each child's lines read in its own order.
    HOSFLLogFileManagerDefault mgr(d.path());
    auto paths = mgr.sortedLogFilePaths();
    std::reverse(paths.begin(), paths.end());
    EXPECT_GT(paths.size(), 2u);
    const std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}  child ([AB]) line (\d+) p{20})");
    for (const auto& p : paths) {
        std::ifstream in(p);
        std::string l;
        while (std::getline(in, l)) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(l, m, line)) << "torn line in " << p << ": " << l;
            ++total;
        }
    }
    EXPECT_EQ(total, 4000u);
}
