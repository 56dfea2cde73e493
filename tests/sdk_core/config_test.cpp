// Configuration, options, the log switch and the error table.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>

#include "MQTTClient/MQTTLog.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixEnvironmenConfig/PellixOptions.h"
#include "PellixLog/PellixLog.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

constexpr const char* kFreshChild = "PELLIX_SDK_CORE_FRESH_CHILD";

// A fresh process's configuration: checked in a child, since other tests of
// this program change the process-wide singleton.
TEST(PellixGlobleConfig, StartsInProductionWithNoTimeout) {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    test::Process child({exe, "--gtest_filter=PellixGlobleConfigChild.FreshDefaults"}, {{kFreshChild, "1"}});
    EXPECT_EQ(child.wait(), 0) << child.output() << child.errorOutput();
    EXPECT_NE(child.output().find("[       OK ] PellixGlobleConfigChild.FreshDefaults"), std::string::npos)
        << child.output();
}

TEST(PellixGlobleConfigChild, FreshDefaults) {
    if (!std::getenv(kFreshChild)) GTEST_SKIP() << "runs as a child of StartsInProductionWithNoTimeout";
    auto config = PellixGlobleConfig::sharedInstance();
    EXPECT_EQ(config->mode(), 2u);
    EXPECT_EQ(config->httpUrlStr(), PellixGlobleConfig::environment(2).httpUrlStr);
    EXPECT_EQ(config->mqttPort(), 1883u);
    EXPECT_EQ(config->requestTimeout(), 0.0f);
    // The log switch's first use turns logging on and silences the MQTT
    // client's own log.
    MQTTLog::setLogLevel(0x1F);
    EXPECT_TRUE(PellixLog::isLogEnable());
    EXPECT_EQ(MQTTLog::logLevel(), 0u);
}

TEST(PellixGlobleConfig, ModesSelectTheirRows) {
    auto config = PellixGlobleConfig::sharedInstance();
    const struct {
        std::uint64_t mode;
        std::uint64_t row;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {7, 2}, {std::numeric_limits<std::uint64_t>::max(), 2}, {0, 0}};
    for (const auto& c : cases) {
        config->setPellixSDKMode(c.mode);
        const auto row = PellixGlobleConfig::environment(c.row);
        EXPECT_EQ(config->mode(), c.mode);
        EXPECT_EQ(config->httpUrlStr(), row.httpUrlStr) << c.mode;
        EXPECT_EQ(config->mqttServer(), row.mqttServer) << c.mode;
        EXPECT_EQ(config->mqttPort(), 1883u);
    }
    // Schemes and ports as the platform runs them.
    EXPECT_EQ(PellixGlobleConfig::environment(0).httpUrlStr.rfind("https://", 0), 0u);
    EXPECT_TRUE(PellixGlobleConfig::environment(0).httpUrlStr.ends_with(":8009"));
    EXPECT_TRUE(PellixGlobleConfig::environment(1).httpUrlStr.ends_with(":8009"));
    EXPECT_EQ(PellixGlobleConfig::environment(2).httpUrlStr.find(':', 6), std::string::npos);

    // The row operations leave the mode alone.
    config->setPellixSDKMode(1);
    config->distributeMode();
    EXPECT_EQ(config->mode(), 1u);
    EXPECT_EQ(config->httpUrlStr(), PellixGlobleConfig::environment(2).httpUrlStr);
}

TEST(PellixGlobleConfig, HostReplacesAnEnvironment) {
    // The table is the process's: the row goes back for the tests after this one.
    struct RestoreRow {
        PellixGlobleConfig::Environment saved = PellixGlobleConfig::environment(0);
        ~RestoreRow() {
            PellixGlobleConfig::setEnvironment(0, saved);
            PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
        }
    } restore;
    PellixGlobleConfig::setEnvironment(0, {"https://127.0.0.1:45678", "127.0.0.1", 41883});
    auto config = PellixGlobleConfig::sharedInstance();
    config->setPellixSDKMode(0);
    EXPECT_EQ(config->httpUrlStr(), "https://127.0.0.1:45678");
    EXPECT_EQ(config->mqttServer(), "127.0.0.1");
    EXPECT_EQ(config->mqttPort(), 41883u);
    // A replayed user record may still name its own broker.
    config->setMqttServer("broker.local");
    config->setMqttPort(1999);
    EXPECT_EQ(config->mqttServer(), "broker.local");
    EXPECT_EQ(config->httpUrlStr(), "https://127.0.0.1:45678");
}

TEST(PellixOptions, FreshOptionsAndTimeouts) {
    PellixOptions fresh;
    EXPECT_EQ(fresh.mode(), 0u);
    EXPECT_FALSE(fresh.isShowLog());
    EXPECT_FLOAT_EQ(fresh.requestTimeout(), 15.0f);

    const struct {
        float given;
        float reads;
    } cases[] = {{0.0f, 15.0f}, {-3.0f, 15.0f}, {1e-8f, 15.0f}, {0.5f, 0.5f}, {30.0f, 30.0f},
                 {std::nanf(""), 15.0f}};
    for (const auto& c : cases) {
        PellixOptions o;
        o.setRequestTimeout(c.given);
        EXPECT_FLOAT_EQ(o.requestTimeout(), c.reads) << c.given;
    }
}

TEST(PellixOptions, ModeAndLogTakeEffectAtOnce) {
    auto config = PellixGlobleConfig::sharedInstance();
    PellixOptions o;
    o.setMode(1);
    EXPECT_EQ(config->mode(), 1u);
    EXPECT_EQ(config->httpUrlStr(), PellixGlobleConfig::environment(1).httpUrlStr);
    o.setMode(7);
    EXPECT_EQ(config->mode(), 7u);
    EXPECT_EQ(config->httpUrlStr(), PellixGlobleConfig::environment(2).httpUrlStr);

    PellixLog::enableLog();
    o.setIsShowLog(false);
    EXPECT_FALSE(PellixLog::isLogEnable());
    o.setIsShowLog(true);
    EXPECT_TRUE(PellixLog::isLogEnable());
}

// Its first use is checked in a fresh process (PellixGlobleConfigChild).
TEST(PellixLog, GatesEveryLine) {
    PellixLog::enableLog();
    std::mutex m;
    std::vector<std::string> lines;
    platform::Log::setSink([&](std::string_view line) {
        std::lock_guard lock(m);
        lines.emplace_back(line);
    });
    PellixLog::debug("call connected");
    PellixLog::verbose("用户信息 存档 1");
    PellixLog::disableLog();
    PellixLog::debug("hidden");
    PellixLog::verbose("hidden");
    PellixLog::enableLog();
    PellixLog::verbose("again");
    platform::Log::setSink({});
    EXPECT_EQ(lines, (std::vector<std::string>{"[PellixSDK Debug]: call connected", "[PellixSDK Verbose]: 用户信息 存档 1",
                                               "[PellixSDK Verbose]: again"}));
}

TEST(PellixError, TableFillsTheMessage) {
    const struct {
        std::int64_t code;
        const char* message;
    } table[] = {
        {-1009, "网络不可用"}, {-1004, "服务器不可到达"}, {-1001, "请求超时"}, {-999, "请求被取消"},
        {-1, "未知错误"}, {200, "请求成功"}, {400, "请求失败"},
        {403, "请求频率过快，同一接口3s只能请求一次"}, {404, "接口不存在"}, {426, "Token失效"},
        {500, "服务器异常"}, {40001, "agent id不存在"}, {40002, "app id不存在"}, {40003, "sdk id不存在"},
        {40004, "用户不存在"}, {40005, "设备不存在"}, {40006, "呼叫失败"}, {40007, "门禁机不存在或被解绑"},
        {40008, "开门设备不存在"}, {40009, "开门失败"}, {400010, "无权限"}, {400011, "门禁机不存在"},
        {400012, "开门密码生产失败"}, {400015, "被叫房间不存在"}, {400400, "缺少必要参数"},
    };
    for (const auto& row : table) {
        PellixError e;
        e.setMessage("x");
        e.setErrorCode(row.code);
        EXPECT_EQ(e.errorCode(), row.code);
        EXPECT_EQ(e.message(), row.message) << row.code;
    }
}

TEST(PellixError, CodesOutsideTheTableKeepTheMessage) {
    PellixError fresh;
    EXPECT_EQ(fresh.errorCode(), 0);
    EXPECT_EQ(fresh.message(), std::nullopt);

    PellixError e;
    e.setMessage("x");
    e.setErrorCode(426);
    EXPECT_EQ(e.message(), "Token失效");
    e.setMessage("x");
    e.setErrorCode(12345);
    EXPECT_EQ(e.message(), "x");

    PellixError blank;
    blank.setErrorCode(12345);
    EXPECT_EQ(blank.message(), "");

    // The SDK's own codes: message first, then the code.
    PellixError own;
    own.setMessage(PellixError::kParamsMissingMessage);
    own.setErrorCode(PellixError::kParamsMissingCode);
    EXPECT_EQ(own.message(), "参数缺失");

    auto made = PellixError::errorWithCode(500, std::nullopt);
    EXPECT_EQ(made->errorCode(), 500);
    EXPECT_EQ(made->message(), std::nullopt);
    EXPECT_EQ(PellixError::errorWithCode(426, "custom")->message(), "custom");
    EXPECT_EQ(PellixError::errorWithCode(PellixError::kNoticeImageUploadCode, PellixError::kNoticeImageUploadMessage)
                  ->message(),
              "图片上传失败");
}

}  // namespace
}  // namespace pellix
