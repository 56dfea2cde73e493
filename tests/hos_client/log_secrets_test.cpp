// The storage log with temporary credentials, against the stand-in: the
// security token appears in no line the console or the log file receives,
// whether it comes in the string to sign, in an echoed error body or in a
// presigned URL.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "HOSSDK/HOSFileLog/HOSFLAbstractLogger.h"
#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "HOSSDK/HOSFileLog/HOSFLLogMessage.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "StandIn.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace pellix::test {
namespace {

class RecordingLogger : public HOSFLAbstractLogger {
public:
    RecordingLogger() : HOSFLAbstractLogger("RecordingLogger") {}
    void logMessage(const HOSFLLogMessagePtr& m) override {
        std::lock_guard<std::mutex> g(mutex_);
        lines_.push_back(m->message());
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> g(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class LogSecretsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousHome = platform::Paths::homeDirectory();
        platform::Paths::setHomeDirectory(home.path());
        platform::Log::setSink([this](std::string_view line) {
            std::lock_guard<std::mutex> g(consoleLock);
            console += std::string(line) + "\n";
        });
        HOSLog::enableLog();
        ASSERT_TRUE(HOSLog::isLogEnable());
        HOSFLLog::addLogger(recorder);
    }
    void TearDown() override {
        HOSLog::disableLog();
        HOSFLLog::flushLog();
        HOSFLLog::removeAllLoggers();
        platform::Log::setSink(nullptr);
        platform::Paths::setHomeDirectory(previousHome);
    }

    std::string previousHome;
    TempDir home;
    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<RecordingLogger> recorder = std::make_shared<RecordingLogger>();
    std::mutex consoleLock;
    std::string console;
};

TEST_F(LogSecretsTest, TokenIsMaskedInEveryLine) {
    const auto issued = standIn.admin("POST", "/__admin/tokens", R"({"ttlSeconds":3600})");
    const std::string id = issued.get("AccessKeyId")->asString();
    const std::string secret = issued.get("AccessKeySecret")->asString();
    const std::string token = issued.get("SecurityToken")->asString();
    ASSERT_FALSE(token.empty());

    HOSClient client(standIn.endpoint(), std::make_shared<HOSStsTokenCredentialProvider>(id, secret, token));
    auto ok = waitFor(client.putObject(putRequest("logged", bytesOf("x"))));
    ASSERT_FALSE(ok->error()) << ok->error()->description();
    // A wrong secret: the service answers SignatureDoesNotMatch and echoes
    // the string to sign, token included, in the body the client logs.
    HOSClient wrong(standIn.endpoint(), std::make_shared<HOSStsTokenCredentialProvider>(id, "not-it", token));
    auto refused = waitFor(wrong.putObject(putRequest("refused", bytesOf("x"))));
    ASSERT_TRUE(refused->error());
    ASSERT_EQ(refused->error()->userInfo().find("Code")->asString(), "SignatureDoesNotMatch");
    auto url = waitFor(client.presignConstrainURLWithBucketName(kBucket, "logged", 60));
    ASSERT_FALSE(url->error());
    HOS_LOG_DEBUG("presigned: %s", url->resultAs<std::string>()->c_str());
    HOSFLLog::flushLog();

    const auto lines = recorder->lines();
    bool stringToSign = false, errorBody = false;
    for (const auto& line : lines) {
        EXPECT_EQ(line.find(token), std::string::npos) << line;
        if (line.find("string to sign") != std::string::npos) {
            stringToSign = true;
            EXPECT_NE(line.find("x-hos-security-token:<hidden>"), std::string::npos) << line;
        }
        if (line.find("SignatureDoesNotMatch") != std::string::npos) errorBody = true;
    }
    EXPECT_TRUE(stringToSign);
    EXPECT_TRUE(errorBody);
    {
        std::lock_guard<std::mutex> g(consoleLock);
        EXPECT_NE(console.find("string to sign"), std::string::npos);
        EXPECT_EQ(console.find(token), std::string::npos);
    }
    std::size_t logFiles = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home.path())) {
        if (!entry.is_regular_file() || entry.path().string().find("HOSLogs") == std::string::npos) continue;
        ++logFiles;
        const auto text = readFile(entry.path().string());
        EXPECT_NE(text.find("string to sign"), std::string::npos);
        EXPECT_EQ(text.find(token), std::string::npos) << entry.path();
    }
    EXPECT_GE(logFiles, 1u);
}

TEST(LogMaskTest, TokenFormsAreHidden) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"PUT\n\n\nDate\nx-hos-security-token:T0k+/=\n/b/k", "PUT\n\n\nDate\nx-hos-security-token:<hidden>\n/b/k"},
        {"<StringToSign>x-hos-security-token:T0k</StringToSign>", "<StringToSign>x-hos-security-token:<hidden></StringToSign>"},
        {"{StringToSign = \"x-hos-security-token:T0k\\nPUT\"}", "{StringToSign = \"x-hos-security-token:<hidden>\\nPUT\"}"},
        {"X-HOS-Security-Token: T0k, Date: d", "X-HOS-Security-Token: <hidden>, Date: d"},
        {"http://h/k?Expires=1&security-token=T0k&Signature=s", "http://h/k?Expires=1&security-token=<hidden>&Signature=s"},
        {"x-hos-security-token: <hidden>", "x-hos-security-token: <hidden>"},
        {"no secret here", "no secret here"},
    };
    for (const auto& c : cases) EXPECT_EQ(HOSLog::masked(c.in), c.out) << c.in;
    HOSLog::rememberSecret("remembered-S3cr3t");
    EXPECT_EQ(HOSLog::masked("a remembered-S3cr3t in free text"), "a <hidden> in free text");
    // Too short to be a token: it would mask pieces of ordinary words.
    HOSLog::rememberSecret("tok");
    EXPECT_EQ(HOSLog::masked("x-hos-security-token:T0k token"), "x-hos-security-token:<hidden> token");
}

}  // namespace
}  // namespace pellix::test
