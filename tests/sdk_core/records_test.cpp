// The record machinery: envelopes, field tables, parameter dictionaries,
// completeness checks and archive forms, with small records declared here the
// way the API records are declared.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallTransfer.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixToken.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixUserRegister.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "platform/JSON.h"
#include "platform/Log.h"

namespace pellix {

// A list item with a text flag and a renamed key.
class TestDoor : public PellixBaseResponse {
    PELLIX_RECORD(TestDoor, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
    PELLIX_PROPERTY(PellixText, recordId, setRecordId)
    PELLIX_PROPERTY(bool, is_online, setIs_online)
    PELLIX_PROPERTY(bool, success, setSuccess)
    PELLIX_PROPERTY(PellixText, msg, setMsg)
};
PELLIX_FIELDS(TestDoor,
              pellixField("door_id", &Self::door_id_),
              pellixField("recordId", &Self::recordId_).wire("id"),
              pellixField("is_online", &Self::is_online_).rule(pellixTextFlag),
              pellixField("success", &Self::success_),
              pellixField("msg", &Self::msg_).wire("message"))

// A record holding a list of records and a value kept as given.
class TestDoorList : public PellixBaseResponse {
    PELLIX_RECORD(TestDoorList, PellixBaseResponse)
    PELLIX_PROPERTY(PellixRecordList<TestDoor>, list, setList)
    PELLIX_PROPERTY(platform::Value, to_room_id, setTo_room_id)
};
PELLIX_FIELDS(TestDoorList,
              pellixField("list", &Self::list_),
              pellixField("to_room_id", &Self::to_room_id_))

// Parameter records: one under the root with a renamed required key and a
// number, one under the root with no fields, one directly under the base.
class TestDisturbParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(TestDisturbParam, PellixRootParam)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, app_status, setApp_status)
    PELLIX_PROPERTY(platform::Value, page, setPage)

public:
    std::optional<std::string> buildRequestPath() const override { return "/sdkapi/v1/call/room_disturb"; }
    std::uint64_t buildRequestMethod() const override { return kMethodPOST; }
};
PELLIX_FIELDS(TestDisturbParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("app_status", &Self::app_status_).wire("disturb_status").required(),
              pellixField("page", &Self::page_))

// A subclass that inherits its parent's fields but demands fewer of them.
class TestDisturbRoomOnlyParam : public TestDisturbParam {
    PELLIX_PARAM_RECORD(TestDisturbRoomOnlyParam, TestDisturbParam)
public:
    bool isParamsComplete() const override { return fieldsFilled({"room_id"}); }
    bool hasStatus() const { return fieldsSet({"app_status"}); }
};
PELLIX_FIELDS(TestDisturbRoomOnlyParam)

class TestRootOnlyParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(TestRootOnlyParam, PellixRootParam)
public:
    std::optional<std::string> buildRequestPath() const override { return "/sdkapi/v1/user/static"; }
};
PELLIX_FIELDS(TestRootOnlyParam)

class TestRegisterParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(TestRegisterParam, PellixBaseRequestParam)
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
public:
    std::optional<std::string> buildRequestPath() const override { return "/sdkapi/v1/user/register"; }
};
PELLIX_FIELDS(TestRegisterParam, pellixField("nation_code", &Self::nation_code_))

namespace {

platform::Value json(const std::string& text) {
    auto v = platform::JSON::parse(text, platform::JSON::kFragmentsAllowed);
    EXPECT_TRUE(v) << text;
    return v ? *v : platform::Value();
}

// Captures the system log for one test.
class LogCapture {
public:
    LogCapture() {
        platform::Log::setSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink({}); }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST(PellixBaseResponse, EnvelopeCodeMessageAndData) {
    const struct {
        const char* json;
        PellixBodyType type;
        std::int64_t code;
        std::optional<std::string> message;
        std::optional<std::size_t> bodyCount;  // nullopt: body unset
    } cases[] = {
        {R"({})", PellixRecordClass::of<TestDoor>(), 0, std::nullopt, std::nullopt},
        {R"({"code":200,"message":"ok"})", nullptr, 200, "ok", std::nullopt},
        {R"({"code":"200"})", nullptr, -1, std::nullopt, std::nullopt},
        {R"({"code":null})", nullptr, -1, std::nullopt, std::nullopt},
        {R"({"code":426.7})", nullptr, 426, std::nullopt, std::nullopt},
        {R"({"code":true})", nullptr, 1, std::nullopt, std::nullopt},
        {R"({"code":200,"message":123})", nullptr, 200, "123", std::nullopt},
        {R"({"data":[]})", PellixRecordClass::of<TestDoor>(), 0, std::nullopt, 0},
        {R"({"data":"text"})", PellixRecordClass::of<TestDoor>(), 0, std::nullopt, 0},
        {R"({"data":null})", PellixRecordClass::of<TestDoor>(), 0, std::nullopt, 0},
        {R"({"data":{"door_id":"1"}})", PellixRecordClass::of<TestDoor>(), 0, std::nullopt, 1},
        {R"({"data":[{"door_id":"1"},"x",7,{"door_id":"2"}]})", PellixRecordClass::of<TestDoor>(), 0, std::nullopt, 2},
        {R"({"data":[{"door_id":"1"}]})", nullptr, 0, std::nullopt, std::nullopt},
        // anything but a dictionary: a format error
        {R"([{"code":200}])", PellixRecordClass::of<TestDoor>(), 500, "数据格式错误", std::nullopt},
        {R"("text")", PellixRecordClass::of<TestDoor>(), 500, "数据格式错误", std::nullopt},
        {R"(null)", PellixRecordClass::of<TestDoor>(), 500, "数据格式错误", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        auto envelope = PellixBaseResponse::make(json(c.json), c.type);
        EXPECT_EQ(envelope->code(), c.code);
        EXPECT_EQ(envelope->message(), c.message);
        ASSERT_EQ(envelope->body().has_value(), c.bodyCount.has_value());
        if (c.bodyCount) {
            EXPECT_EQ(envelope->body()->size(), *c.bodyCount);
        }
    }
    // A format error keeps no body type.
    EXPECT_EQ(PellixBaseResponse::make(json("[]"), PellixRecordClass::of<TestDoor>())->bodyType(), nullptr);
}

TEST(PellixBaseResponse, BodyRecordsKeepTheirOrderAndClass) {
    auto envelope = PellixBaseResponse::make(
        json(R"({"code":200,"data":[{"door_id":"a","id":9},{"door_id":"b","is_online":"1"}]})"),
        PellixRecordClass::of<TestDoor>());
    auto doors = envelope->bodyRecords<TestDoor>();
    ASSERT_EQ(doors.size(), 2u);
    EXPECT_EQ(doors[0]->door_id(), "a");
    EXPECT_EQ(doors[0]->recordId(), "9");  // a number sent for a text field keeps its text
    EXPECT_EQ(doors[1]->door_id(), "b");
    EXPECT_TRUE(doors[1]->is_online());
    EXPECT_STREQ(envelope->bodyType()->name().c_str(), "TestDoor");
    EXPECT_EQ(PellixRecordClass::of<TestDoor>(), PellixRecordClass::of<TestDoor>());
}

TEST(RecordFields, RulesForFlagsRenamesListsAndRawValues) {
    const struct {
        const char* json;
        bool online;
        bool success;
    } flags[] = {
        {R"({"is_online":"1","success":"1"})", true, true},
        {R"({"is_online":"0","success":"0"})", false, false},
        {R"({"is_online":"true","success":"true"})", false, true},
        {R"({"is_online":1,"success":1})", false, true},
        {R"({"is_online":"","success":""})", false, false},
        {R"({"success":"  +007"})", false, true},
        {R"({})", false, false},
    };
    for (const auto& f : flags) {
        auto door = PellixBaseModel::make<TestDoor>(json(f.json).asDictionary());
        EXPECT_EQ(door->is_online(), f.online) << f.json;
        EXPECT_EQ(door->success(), f.success) << f.json;
    }

    // "message" lands in msg, the inherited message stays untouched; a
    // renamed field is reachable by its own name too.
    auto door = PellixBaseModel::make<TestDoor>(json(R"({"message":"m","recordId":"r","code":3})").asDictionary());
    EXPECT_EQ(door->msg(), "m");
    EXPECT_EQ(door->message(), std::nullopt);
    EXPECT_EQ(door->recordId(), "r");
    EXPECT_EQ(door->code(), 3);

    auto list = PellixBaseModel::make<TestDoorList>(
        json(R"({"list":[{"door_id":"1"},"skip",{"door_id":"2"}],"to_room_id":[1,"a"]})").asDictionary());
    ASSERT_TRUE(list->list());
    ASSERT_EQ(list->list()->size(), 2u);
    EXPECT_EQ((*list->list())[1]->door_id(), "2");
    EXPECT_EQ(list->to_room_id(), json(R"([1,"a"])"));  // stored as given

    auto notAList = PellixBaseModel::make<TestDoorList>(json(R"({"list":"x"})").asDictionary());
    ASSERT_TRUE(notAList->list());
    EXPECT_TRUE(notAList->list()->empty());
    EXPECT_FALSE(PellixBaseModel::make<TestDoorList>(platform::Dictionary{})->list());
}

TEST(RecordFields, UndefinedKeysAreDroppedAndLoggedOnlyWhenLoggingIsOn) {
    LogCapture log;
    PellixLog::enableLog();
    auto token = PellixBaseModel::make<PellixToken>(json(R"({"token":"t","colour":"red"})").asDictionary());
    EXPECT_EQ(token->token(), "t");
    PellixLog::disableLog();
    token->setValue(platform::Value("blue"), "colour");
    EXPECT_EQ(token->token(), "t");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[PellixSDK Verbose]: Undefined Key:colour in PellixToken");
}

TEST(RecordFields, CopyIsTheSameObject) {
    auto token = std::make_shared<PellixToken>();
    EXPECT_EQ(token->copy().get(), token.get());
}

TEST(RecordFields, SessionRecordsFillFromTheirAnswers) {
    auto info = PellixBaseModel::make<PellixInitUserInfo>(json(R"({
        "topic":["app/room_id/1","app/room_id/2"],"sip_no":"1001","sip_password":"pw","sip_domain":"sip.example",
        "udp_port":5060,"mqtt_host":"127.0.0.1","mqtt_port":"1883","open_id":"o1","hos_bucket":"b"})")
                                                             .asDictionary());
    EXPECT_EQ(info->topic(), (std::vector<std::string>{"app/room_id/1", "app/room_id/2"}));
    EXPECT_EQ(info->udp_port(), "5060");
    EXPECT_EQ(info->mqtt_host(), "127.0.0.1");
    EXPECT_EQ(info->open_id(), "o1");

    auto transfer = PellixBaseModel::make<PellixCallTransfer>(
        json(R"({"set_permission":"1","nation_code":"86","transfer_mobile":"13800000000"})").asDictionary());
    EXPECT_EQ(transfer->transfer_mobile(), "13800000000");
    EXPECT_EQ(PellixBaseModel::make<PellixUserRegister>(json(R"({"open_id":"x"})").asDictionary())->open_id(), "x");
}

TEST(RecordFields, ArchiveFormsOfTheSessionRecords) {
    auto token = std::make_shared<PellixToken>();
    token->setToken("t");
    token->setExpires_in("7200");
    token->setSign("s");
    token->setSign_key("sk");
    token->setUpdateDate(1700000000.5);
    token->setKey("a:s:2");
    token->setCode(200);  // the envelope's fields are not archived
    const platform::Dictionary archived = token->encodeWithCoder();
    EXPECT_EQ(archived.keys(), (std::vector<std::string>{"token", "expires_in", "sign_key", "sign", "updateDate", "key"}));
    EXPECT_EQ(*archived.find("updateDate"), platform::Value(1700000000.5));

    auto back = std::make_shared<PellixToken>();
    back->initWithCoder(archived);
    EXPECT_EQ(back->token(), "t");
    EXPECT_EQ(back->sign_key(), "sk");
    EXPECT_EQ(back->updateDate(), 1700000000.5);
    EXPECT_EQ(back->key(), "a:s:2");
    EXPECT_EQ(back->code(), 0);

    // A damaged archive's wrongly typed values do not become dates.
    auto odd = std::make_shared<PellixToken>();
    odd->initWithCoder(platform::Dictionary{{"updateDate", "yesterday"}, {"token", 5}, {"code", 7}});
    EXPECT_EQ(odd->updateDate(), std::nullopt);
    EXPECT_EQ(odd->token(), "5");
    EXPECT_EQ(odd->code(), 0);

    auto info = std::make_shared<PellixInitUserInfo>();
    for (const auto& field : PellixInitUserInfo::fields().ownFields()) {
        field.assign(*info, field.name == "topic" ? json(R"(["t1"])") : platform::Value(field.name + "-v"));
    }
    const platform::Dictionary userArchive = info->encodeWithCoder();
    EXPECT_EQ(userArchive.keys(),
              (std::vector<std::string>{"topic", "sip_domain", "sip_no", "sip_password", "tcp_port", "udp_port",
                                        "tls_port", "mqtt_host", "mqtt_port", "user_id", "app_name", "id_card_api_key",
                                        "id_card_api_secret", "hos_endpoint", "hos_bucket", "open_id", "key"}));
    auto infoBack = std::make_shared<PellixInitUserInfo>();
    infoBack->initWithCoder(userArchive);
    EXPECT_EQ(infoBack->encodeWithCoder(), userArchive);
}

TEST(RequestParams, DictionaryRenamesAndUnsetFields) {
    TestDisturbParam p;
    EXPECT_TRUE(p.buildRequestParam().empty());
    p.setRoom_id("r1");
    p.setApp_status("");  // an empty text is still sent
    p.setPage(platform::Value(2));
    const platform::Dictionary d = p.buildRequestParam();
    EXPECT_EQ(d, (platform::Dictionary{{"room_id", "r1"}, {"disturb_status", ""}, {"page", 2}}));
    EXPECT_FALSE(d.contains("app_status"));
    EXPECT_FALSE(d.contains("token"));

    // Each call builds a new dictionary.
    platform::Dictionary first = p.buildRequestParam();
    first.set("room_id", "changed");
    EXPECT_EQ(p.buildRequestParam().find("room_id")->asString(), "r1");
    EXPECT_EQ(p.room_id(), "r1");

    // The root's token comes first and is sent by every record under it.
    p.setToken("tk");
    EXPECT_EQ(p.buildRequestParam().keys(), (std::vector<std::string>{"token", "room_id", "disturb_status", "page"}));
}

TEST(RequestParams, CompletenessChecks) {
    TestDisturbParam p;
    EXPECT_FALSE(p.isParamsComplete());
    p.setRoom_id("r1");
    p.setApp_status("");
    EXPECT_FALSE(p.isParamsComplete());  // set but empty
    p.setApp_status("1");
    EXPECT_TRUE(p.isParamsComplete());   // the root's token is not demanded by a record with its own rule

    TestRootOnlyParam rootOnly;
    EXPECT_FALSE(rootOnly.isParamsComplete());
    rootOnly.setToken("");
    EXPECT_FALSE(rootOnly.isParamsComplete());
    rootOnly.setToken("tk");
    EXPECT_TRUE(rootOnly.isParamsComplete());
    EXPECT_EQ(rootOnly.buildRequestParam(), (platform::Dictionary{{"token", "tk"}}));

    TestDisturbRoomOnlyParam roomOnly;
    roomOnly.setRoom_id("r1");
    EXPECT_TRUE(roomOnly.isParamsComplete());
    EXPECT_FALSE(roomOnly.hasStatus());
    roomOnly.setApp_status("");
    EXPECT_TRUE(roomOnly.hasStatus());
    EXPECT_EQ(roomOnly.path(), "/sdkapi/v1/call/room_disturb");  // inherited path
    EXPECT_EQ(roomOnly.buildRequestParam(), (platform::Dictionary{{"room_id", "r1"}, {"disturb_status", ""}}));

    TestRegisterParam plain;
    EXPECT_TRUE(plain.isParamsComplete());
    EXPECT_TRUE(PellixRootParam().buildRequestParam().empty());
}

TEST(RequestParams, HooksDomainAndPathAtCreation) {
    auto config = PellixGlobleConfig::sharedInstance();
    config->setPellixSDKMode(0);
    config->setRequestTimeout(12.5f);
    TestDisturbParam p;
    EXPECT_EQ(p.domain(), PellixGlobleConfig::environment(0).httpUrlStr);
    EXPECT_EQ(p.path(), "/sdkapi/v1/call/room_disturb");
    EXPECT_EQ(p.buildRequestMethod(), PellixBaseRequestParam::kMethodPOST);
    EXPECT_EQ(p.buildResponseType(), PellixBaseRequestParam::kResponseJSON);
    EXPECT_EQ(p.buildRequestType(), 0u);
    EXPECT_FLOAT_EQ(p.buildRequestTimeout(), 12.5f);

    PellixBaseRequestParam base;
    EXPECT_EQ(base.path(), std::nullopt);
    EXPECT_EQ(base.buildRequestPath(), std::nullopt);
    EXPECT_TRUE(base.isParamsComplete());

    p.initWithDomain("https://other", "");
    EXPECT_EQ(p.domain(), "https://other");
    EXPECT_EQ(p.path(), "/sdkapi/v1/call/room_disturb");
    p.initWithPath("/x");
    EXPECT_EQ(p.domain(), PellixGlobleConfig::environment(0).httpUrlStr);
    EXPECT_EQ(p.path(), "/x");
}

}  // namespace
}  // namespace pellix
