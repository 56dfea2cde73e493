// The session store against a real temporary application home: archive
// replay across credentials and environments, token lifetimes, damaged
// files, the device UUID, and restarts in a child process that reads what
// this process archived.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>

#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "PellixProxyInfo/PellixFileManager.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "support/TestSupport.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

constexpr const char* kChildHome = "PELLIX_SDK_CORE_CHILD_HOME";
constexpr const char* kChildOut = "PELLIX_SDK_CORE_CHILD_OUT";

std::shared_ptr<PellixToken> makeToken(const std::string& app, const std::string& secret, std::uint64_t mode,
                                       double secondsLeft, const std::string& value = "tk") {
    auto token = std::make_shared<PellixToken>();
    token->setToken(value);
    token->setExpires_in("7200");
    token->setSign("sign");
    token->setSign_key("c2lnbg==");
    token->setUpdateDate(platform::Clock::now() - (7200 - secondsLeft));
    token->setKey(PellixProxyInfo::tokenKey(app, secret, mode));
    return token;
}

std::shared_ptr<PellixInitUserInfo> makeUser(std::uint64_t mode, bool withMqttHost = true) {
    auto user = std::make_shared<PellixInitUserInfo>();
    user->setSip_no("1001");
    user->setSip_password("pw");
    user->setSip_domain("127.0.0.1");
    user->setUdp_port("5060");
    if (withMqttHost) user->setMqtt_host("127.0.0.1");
    user->setMqtt_port("1883");
    user->setOpen_id("open-1");
    user->setTopic(std::vector<std::string>{"app/room_id/7"});
    user->setKey(PellixProxyInfo::userInfoKey(mode));
    return user;
}

class SessionStore : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Paths::setHomeDirectory(home_.path());
        files_ = PellixFileManager::shareInstance();
        store_ = PellixProxyInfo::sharedInstance();
    }

    // Runs this test program's child test in a new process with the same home.
    int runChild(const std::string& test, std::map<std::string, std::string> env = {}) {
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return -1;
        exe[n] = '\0';
        env[kChildHome] = home_.path();
        env[kChildOut] = home_.file("child-out");
        test::Process child({exe, "--gtest_filter=SessionStoreChild." + test}, env);
        const int status = child.wait();
        if (status != 0) ADD_FAILURE() << child.output() << child.errorOutput();
        return status;
    }

    std::string saveDir() const { return (fs::path(platform::Paths::documentsDirectory()) / "PXCaches(谨慎删除)").string(); }

    test::TempDir home_;
    std::shared_ptr<PellixFileManager> files_;
    std::shared_ptr<PellixProxyInfo> store_;
};

TEST_F(SessionStore, FilesLiveInTheSaveDirectoryUnderTheirDigestNames) {
    EXPECT_EQ(pellixSDKSaveDirectory(), saveDir());
    EXPECT_TRUE(fs::is_directory(saveDir()));
    EXPECT_EQ(files_->accessTokenFile(), saveDir() + "/bdceba2996b3e46e7c3eb1eca6fb06af");
    EXPECT_EQ(files_->userInfoFile(), saveDir() + "/b0794b6f3dfd9a1fdf0704ca5fb364c2");
    EXPECT_EQ(files_->deviceInfoFile(), saveDir() + "/fa416d623dc9a45d6796bd3e972b236c");

    std::mutex m;
    std::vector<std::string> lines;
    platform::Log::setSink([&](std::string_view line) {
        std::lock_guard lock(m);
        lines.emplace_back(line);
    });
    PellixLog::enableLog();
    store_->setToken(makeToken("a", "s", 2, 100));
    store_->setUserInfo(makeUser(2));
    for (const std::string& f : {files_->accessTokenFile(), files_->userInfoFile()}) {
        struct stat st {};
        ASSERT_EQ(stat(f.c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    // Removing a missing file is not an error; nil records delete their files.
    store_->setToken(nullptr);
    store_->setUserInfo(nullptr);
    EXPECT_FALSE(fs::exists(files_->accessTokenFile()));
    EXPECT_FALSE(fs::exists(files_->userInfoFile()));
    files_->clearTokenInfoFile();
    files_->clearUserInfoFile();
    platform::Log::setSink({});
    EXPECT_EQ(lines, (std::vector<std::string>{"[PellixSDK Verbose]: 用户访问令牌 存档 1", "[PellixSDK Verbose]: 用户信息 存档 1",
                                               "[PellixSDK Verbose]: 文件删除成功", "[PellixSDK Verbose]: 文件删除成功"}));
}

TEST_F(SessionStore, TokenReplayMatrix) {
    const struct {
        std::string app, secret;
        std::uint64_t archivedMode;
        std::string askApp, askSecret;
        std::uint64_t mode;
        bool replayed;
    } cases[] = {
        {"a", "s", 2, "a", "s", 2, true},
        {"a", "s", 2, "a", "s", 0, false},   // another environment
        {"a", "s", 2, "a", "t", 2, false},   // another secret
        {"a", "s", 2, "b", "s", 2, false},   // another app id
        {"a", "s", 1, "a", "s", 1, true},
        {"a", "s", 7, "a", "s", 7, true},    // an unknown mode still keys its own cache
        {"a", "s", 7, "a", "s", 2, false},   // ... and differs from production's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.askApp + ":" + c.askSecret + ":" + std::to_string(c.mode));
        store_->setToken(makeToken(c.app, c.secret, c.archivedMode, 600, "tok-" + c.app));
        store_->setUserInfo(makeUser(c.mode));
        store_->setOpenId("open-1");
        PellixGlobleConfig::sharedInstance()->setPellixSDKMode(c.mode);

        bool called = false;
        std::shared_ptr<PellixToken> answered;
        store_->getAccessTokenWithAppId(c.askApp, c.askSecret, [&](std::shared_ptr<PellixToken> t) {
            called = true;
            answered = std::move(t);
        });
        EXPECT_TRUE(called);
        EXPECT_EQ(answered != nullptr, c.replayed);
        EXPECT_EQ(fs::exists(files_->accessTokenFile()), c.replayed);
        EXPECT_EQ(fs::exists(files_->userInfoFile()), c.replayed);
        if (c.replayed) {
            EXPECT_EQ(answered->token(), "tok-" + c.app);
            EXPECT_EQ(store_->token(), answered);
            EXPECT_EQ(store_->appId(), c.askApp);
            EXPECT_EQ(store_->secretKey(), c.askSecret);
            EXPECT_TRUE(PellixProxyInfo::isSDKRegister());
        } else {
            EXPECT_EQ(store_->userInfo(), nullptr);
            EXPECT_EQ(store_->openId(), std::nullopt);
        }
    }
}

TEST_F(SessionStore, TokensWithFifteenSecondsOrLessAreHeldButNotReported) {
    PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
    const struct {
        double left;
        bool reported;
    } cases[] = {{16, true}, {10, false}, {-50, false}, {3600, true}};
    for (const auto& c : cases) {
        store_->setToken(nullptr);
        auto archived = makeToken("a", "s", 2, c.left, "left-" + std::to_string(static_cast<int>(c.left)));
        store_->setToken(archived);
        std::shared_ptr<PellixToken> answered;
        store_->getAccessTokenWithAppId("a", "s", [&](std::shared_ptr<PellixToken> t) { answered = std::move(t); });
        EXPECT_EQ(answered != nullptr, c.reported) << c.left;
        ASSERT_NE(store_->token(), nullptr);
        EXPECT_EQ(store_->token()->token(), archived->token());  // held (and sent) all the same
        EXPECT_TRUE(fs::exists(files_->accessTokenFile()));
    }
    // A lifetime that does not read as a number counts as none left.
    auto odd = makeToken("a", "s", 2, 600);
    odd->setExpires_in("soon");
    store_->setToken(odd);
    bool reported = true;
    store_->getAccessTokenWithAppId("a", "s", [&](std::shared_ptr<PellixToken> t) { reported = t != nullptr; });
    EXPECT_FALSE(reported);
}

TEST_F(SessionStore, UserRecordReplay) {
    const struct {
        std::uint64_t archivedMode, mode;
        bool mqttHost;
        bool called;
        bool record;
    } cases[] = {
        {1, 2, true, false, false},  // another environment: no answer at all
        {2, 2, true, true, true},
        {2, 2, false, true, false},  // no "mqtt_host": answered as nothing
        {0, 0, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.archivedMode) + "->" + std::to_string(c.mode));
        store_->setOpenId(std::nullopt);
        store_->setUserInfo(makeUser(c.archivedMode, c.mqttHost));
        PellixGlobleConfig::sharedInstance()->setPellixSDKMode(c.mode);
        bool called = false;
        std::shared_ptr<PellixInitUserInfo> answered;
        store_->getUserInfoWithAppId("a", "s", [&](std::shared_ptr<PellixInitUserInfo> u) {
            called = true;
            answered = std::move(u);
        });
        EXPECT_EQ(called, c.called);
        EXPECT_EQ(answered != nullptr, c.record);
        EXPECT_TRUE(fs::exists(files_->userInfoFile()));  // the file stays in every case
        if (c.record) {
            EXPECT_EQ(answered->sip_no(), "1001");
            EXPECT_EQ(answered->topic(), (std::vector<std::string>{"app/room_id/7"}));
            EXPECT_EQ(store_->openId(), "open-1");
            EXPECT_EQ(store_->userInfo(), answered);
        }
    }
    // No file at all: no answer.
    store_->setUserInfo(nullptr);
    bool called = false;
    store_->getUserInfoWithAppId("a", "s", [&](auto) { called = true; });
    EXPECT_FALSE(called);
}

TEST_F(SessionStore, DamagedArchivesCountAsNoRecord) {
    PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
    store_->setToken(makeToken("a", "s", 2, 600));
    store_->setUserInfo(makeUser(2));
    const std::string uuid = store_->deviceUUID();
    for (const std::string& f : {files_->accessTokenFile(), files_->userInfoFile()}) {
        fs::resize_file(f, fs::file_size(f) / 2);
    }

    bool userCalled = false;
    store_->getUserInfoWithAppId("a", "s", [&](auto) { userCalled = true; });
    EXPECT_FALSE(userCalled);

    bool tokenCalled = false;
    std::shared_ptr<PellixToken> answered = std::make_shared<PellixToken>();
    store_->getAccessTokenWithAppId("a", "s", [&](std::shared_ptr<PellixToken> t) {
        tokenCalled = true;
        answered = std::move(t);
    });
    EXPECT_TRUE(tokenCalled);
    EXPECT_EQ(answered, nullptr);
    EXPECT_FALSE(fs::exists(files_->accessTokenFile()));

    // Garbage in the device file of a fresh process gives a new UUID (checked
    // in a child, since this process holds its UUID for its lifetime).
    test::writeFile(files_->deviceInfoFile(), "bplist00 garbage");
    ASSERT_EQ(runChild("ReportDeviceUUID"), 0);
    const std::string childUUID = test::readFile(home_.file("child-out"));
    EXPECT_NE(childUUID, uuid);
    EXPECT_EQ(store_->deviceUUID(), uuid);
}

// Made and archived by a fresh process (a child: this one already holds the
// UUID it made under some earlier test's home), read back by the next.
TEST_F(SessionStore, DeviceUUIDIsMadeOnceAndSurvivesRestarts) {
    EXPECT_EQ(store_->deviceUUID(), store_->deviceUUID());
    ASSERT_EQ(runChild("ReportDeviceUUID"), 0);
    const std::string uuid = test::readFile(home_.file("child-out"));
    EXPECT_TRUE(std::regex_match(uuid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << uuid;
    ASSERT_EQ(runChild("ReportDeviceUUID"), 0);
    EXPECT_EQ(test::readFile(home_.file("child-out")), uuid);

    // Deleting the save folder gives a new UUID at the next start.
    fs::remove_all(saveDir());
    ASSERT_EQ(runChild("ReportDeviceUUID"), 0);
    const std::string fresh = test::readFile(home_.file("child-out"));
    EXPECT_NE(fresh, uuid);
    EXPECT_EQ(fresh.size(), 36u);
    EXPECT_TRUE(fs::exists(files_->deviceInfoFile()));
}

TEST_F(SessionStore, RestartReplaysWhatThisProcessArchived) {
    PellixGlobleConfig::sharedInstance()->setPellixSDKMode(1);
    store_->saveToken(makeToken("app", "secret", 1, 3000, "parent-token"), "app", "secret");
    store_->setUserInfo(makeUser(1));
    EXPECT_EQ(store_->appId(), "app");
    ASSERT_EQ(runChild("ReplayParentSession"), 0);

    // Logging out in the child removed the user file only.
    EXPECT_FALSE(fs::exists(files_->userInfoFile()));
    EXPECT_TRUE(fs::exists(files_->accessTokenFile()));
}

TEST_F(SessionStore, SavingWorksAfterTheFolderWasRemoved) {
    store_->setToken(makeToken("a", "s", 2, 600));
    fs::remove_all(saveDir());
    store_->setToken(makeToken("a", "s", 2, 600));
    EXPECT_TRUE(fs::exists(files_->accessTokenFile()));
}

TEST_F(SessionStore, PackageNameIsTheBundleIdentifier) {
    platform::Bundle::mainBundle().setInfoDictionary({{"CFBundleIdentifier", "com.example.resident"}});
    store_->setPackage_name("ignored");
    EXPECT_EQ(store_->package_name(), "com.example.resident");
}

// Child side: runs only inside a child started by the tests above.
class SessionStoreChild : public ::testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv(kChildHome);
        if (!home) GTEST_SKIP() << "runs as a child of the session store tests";
        platform::Paths::setHomeDirectory(home);
        out_ = std::getenv(kChildOut);
    }
    std::string out_;
};

TEST_F(SessionStoreChild, ReportDeviceUUID) {
    test::writeFile(out_, PellixProxyInfo::sharedInstance()->deviceUUID());
}

TEST_F(SessionStoreChild, ReplayParentSession) {
    auto store = PellixProxyInfo::sharedInstance();
    PellixGlobleConfig::sharedInstance()->setPellixSDKMode(1);
    std::shared_ptr<PellixToken> token;
    store->getAccessTokenWithAppId("app", "secret", [&](std::shared_ptr<PellixToken> t) { token = std::move(t); });
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(token->token(), "parent-token");
    EXPECT_EQ(token->sign(), "sign");
    std::shared_ptr<PellixInitUserInfo> user;
    store->getUserInfoWithAppId("app", "secret", [&](std::shared_ptr<PellixInitUserInfo> u) { user = std::move(u); });
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->mqtt_host(), "127.0.0.1");
    EXPECT_EQ(store->openId(), "open-1");
    PellixProxyInfo::clearAllData();
    EXPECT_EQ(store->userInfo(), nullptr);
    EXPECT_EQ(store->openId(), std::nullopt);
    EXPECT_NE(store->token(), nullptr);
}

}  // namespace
}  // namespace pellix
