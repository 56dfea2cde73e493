// Response records: every text field filled from its wire key (renames
// included) and none from an empty object; list keys, text flags, Boolean
// readings, values kept as given, the enumerations of the MQTT records, the
// identity-card checks, and what a text field does with a number or a list.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAllResponse.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"
#include "PellixLog/PellixLog.h"
#include "RecordsTestUtil.h"

namespace pellix {
namespace {

using test::json;
using test::jsonObject;

struct TextRow {
    PellixBodyType cls;
    // (wire key, property name) of every text field of the record
    std::vector<std::pair<std::string, std::string>> texts;
};

void PrintTo(const TextRow& r, std::ostream* os) { *os << r.cls->name(); }

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs same(std::initializer_list<const char*> names) {
    Pairs out;
    for (const char* n : names) out.emplace_back(n, n);
    return out;
}

template <class T>
TextRow row(Pairs texts) {
    return TextRow{PellixRecordClass::of<T>(), std::move(texts)};
}

const std::vector<TextRow>& rows() {
    static const std::vector<TextRow> table = {
        row<PellixRoomInfo>(same({"dep_id", "dep_name", "building_id", "building_name", "unit_id", "unit_name", "room_number_id", "room_number", "autu_type", "authorization_number", "open_card_number", "room_full_name"})),
        row<PellixCommunityInfo>(same({"dep_id", "dep_name", "building_id", "building_name", "unit_id", "unit_name", "room_number_id", "room_number", "autu_type", "auth_counts", "card_counts"})),
        row<PellixKeyInfo>(same({"door_id", "door_name", "door_alias", "door_guid", "door_sip_no", "ssid", "ssid_secretkey", "ssid_pwd", "door_type", "totp_token", "totp_pin_length", "totp_expires_time", "door_version_type", "door_version_describe"})),
        row<PellixKeyList>(same({"management_phone"})),
        row<PellixCommunityNotice>(same({"notice_id", "title", "content", "content_remark", "publisher", "is_urgent", "is_top", "add_time", "is_system", "dep_name"})),
        row<PellixVistorHistoryInfo>(Pairs{{"id", "recordId"}, {"open_type", "open_type"}, {"open_type_info", "open_type_info"}, {"description", "des"}, {"thumbnail_url", "thumbnail_url"}, {"img_url", "img_url"}, {"is_connect", "is_connect"}, {"timestamp", "timestamp"}, {"room_id", "room_id"}, {"door_guid", "door_guid"}, {"date", "date"}, {"time", "time"}, {"user_name", "user_name"}, {"door_name", "door_name"}, {"owner_type", "owner_type"}}),
        row<PellixDoorPassword>(same({"password", "expired_time"})),
        row<PellixDoorPwdStatue>(Pairs{{"message", "msg"}, {"door_id", "door_id"}, {"door_guid", "door_guid"}}),
        row<PellixOpenDoorPwd>(Pairs{{"password_id", "password_id"}, {"password", "password"}, {"status", "status"}, {"message", "msg"}, {"apply_time", "apply_time"}}),
        row<PellixOpenDoorPasswordDetail>(same({"password", "apply_time"})),
        row<PellixOpenDoorDoorStatus>(Pairs{{"door_guid", "door_guid"}, {"door_name", "door_name"}, {"status", "status"}, {"message", "msg"}, {"use_time", "use_time"}}),
        row<PellixCall>(Pairs{{"expired_seconds", "expiredSeconds"}, {"transaction_id", "transactionId"}}),
        row<PellixCallDisturbInfo>(same({"app_status", "call_status"})),
        row<PellixRoomCallDisturbInfo>(same({"app_status", "call_status", "room_id"})),
        row<PellixRoomDisturbSettingResult>(Pairs{{"disturb_status", "app_status"}, {"call_status", "call_status"}}),
        row<PellixDisturbSettingResult>(Pairs{{"disturb_status", "app_status"}, {"call_status", "call_status"}}),
        row<PellixEntityCardInfo>(same({"dep_name", "owner_name", "start_time", "end_time", "status_code", "status_info", "card_number", "card_type", "card_type_info", "remark", "memo"})),
        row<PellixOwnMobile>(same({"mobile_no"})),
        row<PellixCallTranferMobile>(same({"numbers"})),
        row<PellixCallTransfer>(same({"set_permission", "nation_code", "transfer_mobile"})),
        row<PellixAuthorizeListInfo>(same({"upper_limit", "auth_list_number"})),
        row<PellixAuthorizeInfo>(same({"auth_user_id", "auth_user_mobile", "auth_user_name", "begin_time", "end_time", "is_no_limit", "auth_type", "auth_type_info", "nation_code"})),
        row<PellixPropertyPublishInfo>(same({"content", "tag_type", "tag_type_info", "user_id", "status", "create_time"})),
        row<PellixPropertyMessage>(Pairs{{"message", "msg"}, {"create_time", "create_time"}}),
        row<PellixPropertyNotice>(Pairs{{"object_id", "noticeType_id"}, {"adduser", "adduser"}, {"content", "content"}, {"notice_id", "notice_id"}, {"time", "time"}, {"title", "title"}, {"urgent", "urgent"}}),
        row<PellixAuthorizationChange>(same({"title", "content", "room_id"})),
        row<PellixEstateDepartmentSearch>(same({"city_id", "city_name", "dep_id", "dep_name", "province_name", "district_name"})),
        row<PellixEstateCity>(same({"city_id", "city_name"})),
        row<PellixEstateDepartment>(same({"dep_id", "dep_name"})),
        row<PellixEstateBuildingUnit>(same({"building_id", "building_no", "building_name", "unit_id", "unit_no", "unit_name", "full_name"})),
        row<PellixEstateRoomNumber>(same({"room_number_id", "room_number", "is_open_card"})),
        row<PellixSelfAuthRecord>(same({"apply_time", "status_code", "status_info", "mobile_no", "apply_person", "apply_identity", "city_name", "dep_name", "room_full_name", "self_help_status", "review_reason", "verification_code"})),
        row<PellixOCRIdentifyCardSideFront>(same({"address", "birthday", "gender", "id_card_number", "name", "race", "side"})),
        row<PellixOCRIdentifyCardSideBack>(same({"issued_by", "side", "valid_date"})),
    };
    return table;
}

platform::Value readProperty(const PellixBaseModel& record, const std::string& name) {
    const auto* f = record.fieldTable().find(name);
    if (!f) throw std::runtime_error("no property " + name);
    return f->read(record);
}

class TextFields : public ::testing::TestWithParam<TextRow> {};

TEST_P(TextFields, AllSetAndNoneSet) {
    const TextRow& r = GetParam();
    platform::Dictionary all;
    for (const auto& [wire, name] : r.texts) all.set(wire, "v:" + wire);
    auto full = r.cls->create(all);
    EXPECT_STREQ(full->className(), r.cls->name().c_str());
    for (const auto& [wire, name] : r.texts) {
        EXPECT_EQ(readProperty(*full, name), platform::Value("v:" + wire)) << wire << " -> " << name;
    }
    // A renamed "message" leaves the envelope's own message alone.
    auto* envelope = dynamic_cast<PellixBaseResponse*>(full.get());
    ASSERT_TRUE(envelope);
    const bool takesMessage = all.contains("message");
    EXPECT_EQ(envelope->message().has_value(), false) << (takesMessage ? "msg record" : "");

    auto empty = r.cls->create(platform::Dictionary{});
    for (const auto& [wire, name] : r.texts) EXPECT_TRUE(readProperty(*empty, name).isNull()) << name;
}

INSTANTIATE_TEST_SUITE_P(All, TextFields, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return info.param.cls->name(); });

TEST(TextFieldValues, NumbersBecomeTheirDecimalTextAndListsAreRefusedWithALog) {
    test::LogCapture log;
    PellixLog::enableLog();
    auto room = PellixBaseModel::make<PellixRoomInfo>(jsonObject(
        R"({"dep_id":1203,"dep_name":true,"unit_id":2.5,"unit_name":false,"room_number":["a"],"room_full_name":{"x":1},"building_id":null})"));
    PellixLog::disableLog();
    EXPECT_EQ(room->dep_id(), "1203");
    EXPECT_EQ(room->dep_name(), "1");
    EXPECT_EQ(room->unit_id(), "2.5");
    EXPECT_EQ(room->unit_name(), "0");
    EXPECT_FALSE(room->room_number());
    EXPECT_FALSE(room->room_full_name());
    EXPECT_FALSE(room->building_id());
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[PellixSDK Verbose]: Undefined Key:room_number in PellixRoomInfo");
    EXPECT_EQ(lines[1], "[PellixSDK Verbose]: Undefined Key:room_full_name in PellixRoomInfo");

    // A refused value leaves an earlier one in place.
    room->setValue(platform::Value(platform::Array{}), "dep_id");
    EXPECT_EQ(room->dep_id(), "1203");
}

TEST(TextFieldValues, EnvelopeKeysOfARecordLandInTheInheritedFields) {
    auto room = PellixBaseModel::make<PellixRoomInfo>(jsonObject(R"({"message":"hi","code":7,"data":{"dep_id":"x"}})"));
    EXPECT_EQ(room->message(), "hi");
    EXPECT_EQ(room->code(), 7);
    EXPECT_FALSE(room->dep_id());
    EXPECT_FALSE(room->body());
}

TEST(ListKeys, ItemsAreRecordsNonObjectsSkippedAndANonArrayGivesAnEmptyList) {
    auto keys = PellixBaseModel::make<PellixKeyList>(
        jsonObject(R"({"list":[{"door_id":"d1"},"junk",7,null,{"door_id":"d2","door_name":"B"}]})"));
    ASSERT_TRUE(keys->list());
    ASSERT_EQ(keys->list()->size(), 2u);
    EXPECT_EQ((*keys->list())[0]->door_id(), "d1");
    EXPECT_EQ((*keys->list())[1]->door_name(), "B");

    struct Case {
        const char* json;
        bool set;
    };
    for (const Case& c : {Case{R"({"list":"x"})", true}, Case{R"({"list":{"door_id":"1"}})", true},
                          Case{R"({"list":null})", true}, Case{R"({})", false}}) {
        auto rec = PellixBaseModel::make<PellixDoorPassword>(jsonObject(c.json));
        EXPECT_EQ(rec->list().has_value(), c.set) << c.json;
        if (c.set) {
            EXPECT_TRUE(rec->list()->empty()) << c.json;
        }
    }

    auto auth = PellixBaseModel::make<PellixAuthorizeListInfo>(
        jsonObject(R"({"list":[{"auth_user_id":"u1"}],"upper_limit":"5"})"));
    ASSERT_EQ(auth->authList()->size(), 1u);
    EXPECT_EQ((*auth->authList())[0]->auth_user_id(), "u1");
    EXPECT_TRUE(PellixBaseModel::make<PellixAuthorizeListInfo>(jsonObject(R"({"list":3})"))->authList()->empty());

    auto detail = PellixBaseModel::make<PellixOpenDoorPasswordDetail>(
        jsonObject(R"({"list":[{"door_guid":"g","message":"ok"}]})"));
    ASSERT_EQ(detail->doorsStatus()->size(), 1u);
    EXPECT_EQ((*detail->doorsStatus())[0]->msg(), "ok");

    auto disturb = PellixBaseModel::make<PellixCallDisturbInfo>(
        jsonObject(R"({"room_disturb_list":[{"room_id":"r","app_status":"1"}]})"));
    EXPECT_EQ((*disturb->room_disturb_list())[0]->room_id(), "r");

    auto publish = PellixBaseModel::make<PellixPropertyPublishInfo>(
        jsonObject(R"({"photos_name":["a.jpg",2],"reply_list":[{"message":"reply","create_time":"t"}]})"));
    EXPECT_EQ(publish->photos_name(), json(R"(["a.jpg",2])"));
    EXPECT_EQ((*publish->reply_list())[0]->msg(), "reply");
    EXPECT_FALSE(publish->message());

    auto rooms = PellixBaseModel::make<PellixEstateTopicRoom>(
        jsonObject(R"({"topic":["app/room_id/1","app/room_id/2"],"list":[{"room_number_id":"1"}]})"));
    EXPECT_EQ(rooms->topic(), (std::vector<std::string>{"app/room_id/1", "app/room_id/2"}));
    EXPECT_EQ((*rooms->list())[0]->room_number_id(), "1");
}

// Topic lists feed the MQTT subscriptions: elements follow the text-field
// rule, and a value that is not a list never reads as "no topics".
TEST(TopicLists, ElementsAreTextAndANonListLeavesTheFieldUnset) {
    struct Case {
        const char* topic;
        std::optional<std::vector<std::string>> expect;
        std::size_t logLines;
    };
    const Case cases[] = {
        {R"(["a",12,2.5,true,{"x":1},["b"],null,"c"])", std::vector<std::string>{"a", "12", "2.5", "1", "c"}, 3},
        {R"([])", std::vector<std::string>{}, 0},
        {R"("app/room_id/1")", std::nullopt, 1},
        {R"({"0":"app/room_id/1"})", std::nullopt, 1},
        {"7", std::nullopt, 1},
        {"null", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.topic);
        const std::string body = std::string(R"({"topic":)") + c.topic + "}";
        test::LogCapture log;
        PellixLog::enableLog();
        auto rooms = PellixBaseModel::make<PellixEstateTopicRoom>(jsonObject(body));
        auto user = PellixBaseModel::make<PellixInitUserInfo>(jsonObject(body));
        PellixLog::disableLog();
        EXPECT_EQ(rooms->topic(), c.expect);
        EXPECT_EQ(user->topic(), c.expect);
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 2 * c.logLines);
        for (std::size_t i = 0; i < c.logLines; ++i) {
            EXPECT_EQ(lines[i], "[PellixSDK Verbose]: Undefined Key:topic in PellixEstateTopicRoom");
            EXPECT_EQ(lines[c.logLines + i], "[PellixSDK Verbose]: Undefined Key:topic in PellixInitUserInfo");
        }
    }

    // A refused value leaves an earlier list in place.
    auto rooms = PellixBaseModel::make<PellixEstateTopicRoom>(jsonObject(R"({"topic":["t1"]})"));
    rooms->setValue(platform::Value("t2"), "topic");
    EXPECT_EQ(rooms->topic(), std::vector<std::string>{"t1"});
}

TEST(Flags, TextFlagsAreYesOnlyForTheTextOne) {
    struct Case {
        const char* value;
        bool yes;
    };
    for (const Case& c : {Case{R"("1")", true}, Case{R"("0")", false}, Case{R"("true")", false},
                          Case{"1", false}, Case{"true", false}, Case{R"(" 1")", false}, Case{"null", false}}) {
        const std::string body = std::string(R"({"is_online":)") + c.value + R"(,"is_support_token":)" + c.value + "}";
        auto key = PellixBaseModel::make<PellixKeyInfo>(jsonObject(body));
        EXPECT_EQ(key->is_online(), c.yes) << c.value;
        EXPECT_EQ(key->is_support_token(), c.yes) << c.value;
        auto list = PellixBaseModel::make<PellixKeyList>(jsonObject(std::string(R"({"is_bluetooth":)") + c.value + "}"));
        EXPECT_EQ(list->isBluetooth(), c.yes) << c.value;
    }
    EXPECT_FALSE(PellixBaseModel::make<PellixKeyInfo>(platform::Dictionary{})->is_online());
    // A flag set once and then sent as anything else reads NO again.
    auto key = PellixBaseModel::make<PellixKeyInfo>(jsonObject(R"({"is_online":"1"})"));
    key->setValue(platform::Value(1), "is_online");
    EXPECT_FALSE(key->is_online());
}

TEST(Flags, DoorPasswordSuccessIsTheBooleanReading) {
    struct Case {
        const char* value;
        bool yes;
    };
    for (const Case& c : {Case{R"("1")", true}, Case{"1", true}, Case{R"("true")", true}, Case{R"("Yes")", true},
                          Case{R"("  +007")", true}, Case{"2.5", true}, Case{"true", true}, Case{R"("0")", false},
                          Case{R"("false")", false}, Case{R"("")", false}, Case{"0", false}, Case{"null", false},
                          Case{"[1]", false}, Case{R"("-0")", false}}) {
        auto s = PellixBaseModel::make<PellixDoorPwdStatue>(jsonObject(std::string(R"({"success":)") + c.value + "}"));
        EXPECT_EQ(s->success(), c.yes) << c.value;
    }
}

TEST(KeptAsGiven, CallAnswerKeepsItsSipListAndRoomIdUnconverted) {
    auto call = PellixBaseModel::make<PellixCall>(jsonObject(
        R"({"expired_seconds":60,"transaction_id":"tx1","sip_list":["1001",1002,{"a":1}],"to_room_id":42})"));
    EXPECT_EQ(call->expiredSeconds(), "60");
    EXPECT_EQ(call->transactionId(), "tx1");
    EXPECT_EQ(call->callerList(), json(R"(["1001",1002,{"a":1}])"));
    EXPECT_EQ(call->toRoomId(), platform::Value(42));
}

TEST(Renames, DisturbStatusAndAppStatusBothReachAppStatus) {
    auto one = PellixBaseModel::make<PellixRoomDisturbSettingResult>(jsonObject(R"({"disturb_status":"1","call_status":"0"})"));
    EXPECT_EQ(one->app_status(), "1");
    auto byName = PellixBaseModel::make<PellixDisturbSettingResult>(jsonObject(R"({"app_status":"2"})"));
    EXPECT_EQ(byName->app_status(), "2");
    auto visitor = PellixBaseModel::make<PellixVistorHistoryInfo>(jsonObject(R"({"id":"9","description":"front gate"})"));
    EXPECT_EQ(visitor->recordId(), "9");
    EXPECT_EQ(visitor->des(), "front gate");
}

TEST(MqttRecords, NoticeTypeNamesWhatTheNoticeAddresses) {
    struct Case {
        const char* json;
        std::int64_t type;
    };
    for (const Case& c : {Case{R"({"type":"building_id"})", 1}, Case{R"({"type":"unit_id"})", 2},
                          Case{R"({"type":"room_id","object_id":"r9"})", 3}, Case{R"({"type":"user_id"})", 4},
                          Case{R"({"type":"ROOM_ID"})", -1}, Case{R"({"type":"door"})", -1}, Case{R"({"type":3})", -1},
                          Case{R"({"type":null})", -1}, Case{R"({"title":"t"})", 0}}) {
        // Made the way the MQTT handler makes it: an envelope of its own class.
        auto notice = PellixBaseResponse::make<PellixPropertyNotice>(json(c.json), PellixRecordClass::of<PellixPropertyNotice>());
        EXPECT_EQ(notice->noticeType(), c.type) << c.json;
    }
    auto notice = PellixBaseResponse::make<PellixPropertyNotice>(json(R"({"type":"room_id","object_id":"r9","title":"停水"})"),
                                                                 PellixRecordClass::of<PellixPropertyNotice>());
    EXPECT_EQ(notice->noticeType_id(), "r9");
    EXPECT_EQ(notice->title(), "停水");
}

TEST(MqttRecords, AuthorizationChangeTypeIgnoresLetterCaseAndKeepsUnknownValuesOut) {
    struct Case {
        const char* json;
        std::int64_t type;
    };
    for (const Case& c : {Case{R"({"type":"add"})", 1}, Case{R"({"type":"DEL"})", 2}, Case{R"({"type":"Update"})", 3},
                          Case{R"({"type":"remove"})", 0}, Case{R"({"type":2})", 0}, Case{R"({"type":"del","room_id":"r"})", 2}}) {
        auto change = PellixBaseResponse::make<PellixAuthorizationChange>(json(c.json),
                                                                          PellixRecordClass::of<PellixAuthorizationChange>());
        EXPECT_EQ(change->type(), c.type) << c.json;
    }
    // An unknown type after a known one keeps the known one.
    auto change = PellixBaseModel::make<PellixAuthorizationChange>(jsonObject(R"({"type":"add"})"));
    change->setValue(platform::Value("rename"), "type");
    EXPECT_EQ(change->type(), 1);
}

TEST(IdentityCards, CardTypeReadsNumbersAndDecimalTextAndNothingElse) {
    struct Case {
        const char* value;
        std::int32_t type;
    };
    for (const Case& c : {Case{"1", 1}, Case{"2", 2}, Case{R"("1")", 1}, Case{R"("+1")", 1}, Case{R"("-3")", -3},
                          Case{"1.9", 1}, Case{"true", 1}, Case{R"("1a")", 0}, Case{R"("")", 0}, Case{R"(" 1")", 0},
                          Case{R"("abc")", 0}, Case{"[1]", 0}, Case{R"({"a":1})", 0}, Case{"null", 0},
                          Case{"4294967297", 0}, Case{"1e300", 0}, Case{R"("99999999999")", 0},
                          Case{"18446744073709551615", 0}}) {
        auto front = PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(jsonObject(std::string(R"({"type":)") + c.value + "}"));
        EXPECT_EQ(front->type(), c.type) << c.value;
        auto back = PellixBaseModel::make<PellixOCRIdentifyCardSideBack>(jsonObject(std::string(R"({"type":)") + c.value + "}"));
        EXPECT_EQ(back->type(), c.type) << c.value;
    }
}

TEST(IdentityCards, CheckValueWantsTypeOneAndEveryFieldAndATwoCharacterName) {
    const char* full = R"({"type":1,"address":"a","birthday":"b","gender":"g","id_card_number":"n","name":"张三","race":"r"})";
    EXPECT_TRUE(PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(jsonObject(full))->checkValue());
    auto front = PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(jsonObject(full));
    front->setName("张");
    EXPECT_FALSE(front->checkValue()) << "one character";
    front->setName("😀");
    EXPECT_TRUE(front->checkValue()) << "two UTF-16 units";
    front->setName("张三");
    front->setRace(std::nullopt);
    EXPECT_FALSE(front->checkValue());
    front->setRace("r");
    front->setType(2);
    EXPECT_FALSE(front->checkValue());
    auto textType = PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(jsonObject(full));
    textType->setValue(platform::Value("x"), "type");
    EXPECT_FALSE(textType->checkValue());

    auto back = PellixBaseModel::make<PellixOCRIdentifyCardSideBack>(
        jsonObject(R"({"type":1,"issued_by":"某公安局","valid_date":"2020.01.01-2040.01.01"})"));
    EXPECT_TRUE(back->checkValue());
    back->setType(2);
    EXPECT_FALSE(back->checkValue());
    EXPECT_FALSE(PellixBaseModel::make<PellixOCRIdentifyCardSideBack>(jsonObject(R"({"type":1,"issued_by":"x"})"))->checkValue());
}

TEST(Envelopes, AnswerBodiesAreMadeOfTheNamedRecords) {
    auto response = PellixBaseResponse::make(
        json(R"({"code":200,"message":"请求成功","data":{"is_bluetooth":"1","management_phone":"0571","list":[{"door_id":"1","is_online":"1"}]}})"),
        PellixRecordClass::of<PellixKeyList>());
    auto lists = response->bodyRecords<PellixKeyList>();
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_TRUE(lists[0]->isBluetooth());
    EXPECT_EQ(lists[0]->management_phone(), "0571");
    EXPECT_TRUE((*lists[0]->list())[0]->is_online());
}

}  // namespace
}  // namespace pellix
