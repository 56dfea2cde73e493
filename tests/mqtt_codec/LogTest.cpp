// The log mask decides which of the client's lines reach the system log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTDecoder.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "MQTTClient/MQTTStrict.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

using pellix::MQTTLog;
using pellix::MQTTMessage;
using pellix::test::hex;

namespace {

class Sink : public pellix::MQTTDecoderDelegate {
public:
    void decoder(pellix::MQTTDecoder&, std::span<const std::uint8_t>) override {}
    void decoder(pellix::MQTTDecoder&, pellix::MQTTDecoderEvent, pellix::platform::ErrorPtr) override {}
};

class LogLevels : public ::testing::Test {
protected:
    void SetUp() override {
        pellix::platform::Log::setSink([this](std::string_view line) {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        });
    }
    void TearDown() override {
        pellix::platform::Log::setSink({});
        MQTTLog::setLogLevel(0x1F);
    }
    // One line of each level the codec writes: a verbose wire-format line, a
    // warning for a refused packet, an error for a packet split across chunks.
    std::vector<std::string> exercise() {
        MQTTMessage::pingreqMessage()->wireFormat();
        MQTTMessage::messageFromData(hex("F0 00"), 4);
        auto queue = pellix::platform::DispatchQueue::serial("log.test");
        auto decoder = pellix::MQTTDecoder::create();
        auto delegate = std::make_shared<Sink>();
        decoder->setQueue(queue);
        decoder->setDelegate(delegate);
        decoder->open();
        decoder->decodeMessage(hex("30 03 00"));
        queue->sync([] {});
        std::lock_guard lock(mutex);
        return std::exchange(lines, {});
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

bool has(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const auto& l : lines) {
        if (l.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

}  // namespace

// Runs only as the child of the test below, so that no other test of this
// program has touched the mask first.
TEST(LogDefault, ChildReadsTheMask) {
    if (!std::getenv("PELLIX_LOG_DEFAULT_CHILD")) GTEST_SKIP() << "child of LogDefault.EverythingOnAtProcessStart";
    EXPECT_EQ(MQTTLog::logLevel(), 0x1Fu);
}

TEST(LogDefault, EverythingOnAtProcessStart) {
    pellix::test::Process child({"/proc/self/exe", "--gtest_filter=LogDefault.ChildReadsTheMask"},
                                {{"PELLIX_LOG_DEFAULT_CHILD", "1"}});
    EXPECT_EQ(child.wait(), 0) << child.output();
}

TEST_F(LogLevels, MaskSelectsLines) {
    MQTTLog::setLogLevel(0x1F);  // whatever a test before us left
    auto all = exercise();
    EXPECT_TRUE(has(all, "[MQTTMessage] wireFormat(2)=<c000>..."));
    EXPECT_TRUE(has(all, "[MQTTMessage] illegal message type"));
    EXPECT_TRUE(has(all, "[MQTTDecoder] oops received (3)=<300300>..."));

    MQTTLog::setLogLevel(0);
    EXPECT_TRUE(exercise().empty());

    MQTTLog::setLogLevel(pellix::MQTTLogLevelError);
    auto errors = exercise();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(has(errors, "[MQTTDecoder] oops received"));

    MQTTLog::setLogLevel(pellix::MQTTLogLevelWarning);
    EXPECT_EQ(exercise(), std::vector<std::string>{"[MQTTMessage] illegal message type"});
}

TEST(MQTTStrict, OffUntilSwitchedOn) {
    EXPECT_FALSE(pellix::MQTTStrict::strict());
    pellix::MQTTStrict::setStrict(true);
    EXPECT_TRUE(pellix::MQTTStrict::strict());
    pellix::MQTTStrict::setStrict(false);
    EXPECT_FALSE(pellix::MQTTStrict::strict());
}
