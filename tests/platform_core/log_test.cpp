#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"

using pellix::platform::Log;

namespace {

// Restores stderr logging after each test.
struct LogTest : ::testing::Test {
    ~LogTest() override { Log::setSink(nullptr); }
};

}  // namespace

TEST_F(LogTest, SinkReceivesWholeLinesFromManyThreads) {
    std::vector<std::string> lines;
    Log::setSink([&](std::string_view line) { lines.emplace_back(line); });  // unsynchronised on purpose
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) Log::writef("thread %d line %03d", t, i);
        });
    for (auto& th : threads) th.join();
    ASSERT_EQ(lines.size(), 8u * 200u);
    for (const auto& l : lines) EXPECT_EQ(l.size(), std::string("thread 0 line 000").size()) << l;
}

TEST_F(LogTest, TrailingNewlineDroppedAndFormattingLongLines) {
    std::vector<std::string> lines;
    Log::setSink([&](std::string_view line) { lines.emplace_back(line); });
    Log::write("one\n");
    std::string big(5000, 'x');
    Log::writef("%s|%d", big.c_str(), 7);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], big + "|7");
}

TEST_F(LogTest, SinkThatLogsOrThrowsDoesNotDeadlockOrEscape) {
    int calls = 0;
    Log::setSink([&](std::string_view) {
        ++calls;
        Log::write("nested line goes to stderr");
        throw std::runtime_error("sink failure");
    });
    EXPECT_NO_THROW(Log::write("outer"));
    EXPECT_NO_THROW(Log::write("outer again"));
    EXPECT_EQ(calls, 2);
}
