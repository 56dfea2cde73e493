// Parameter records: method, path, response type, the keys they send with
// every field set and with none, and which fields make them complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PellixDataManager/PellixNetServer/RequestParams/PellixAllRequestParam.h"
#include "RecordsTestUtil.h"

namespace pellix {
namespace {

using test::forEachField;
using test::keysOf;
using Keys = std::vector<std::string>;
constexpr auto GET = PellixBaseRequestParam::kMethodGET;
constexpr auto POST = PellixBaseRequestParam::kMethodPOST;

struct ParamRow {
    std::string name;
    std::function<std::shared_ptr<PellixBaseRequestParam>()> make;
    std::uint64_t method;
    std::string path;
    Keys keys;          // every key sent when every field is set
    Keys required;      // keys whose absence or emptiness makes the record incomplete
    bool emptyComplete; // isParamsComplete() of a fresh record
    Keys emptyKeys = {};  // keys a fresh record sends (defaults)
};

void PrintTo(const ParamRow& r, std::ostream* os) { *os << r.name; }

template <class T>
ParamRow row(std::uint64_t method, std::string path, Keys keys, Keys required, bool emptyComplete,
             Keys emptyKeys = {}) {
    return ParamRow{T::kClassName, [] { return std::make_shared<T>(); }, method, std::move(path), std::move(keys),
                    std::move(required), emptyComplete, std::move(emptyKeys)};
}

const std::vector<ParamRow>& rows() {
    static const std::vector<ParamRow> table = {
        // account and device
        row<PellixTokenParam>(GET, "/sdk/v2/token", {"appid", "secret", "grant_type", "package_name"}, {"appid", "secret"}, false),
        row<PellixRegisterParam>(POST, "/sdkapi/v1/user/register", {"nation_code", "user_name", "mobile_no", "card_no", "sdk_app_id"}, {}, true),
        row<PellixUserQuitParam>(POST, "/sdkapi/v1/user/user_quit", {}, {}, true),
        row<PellixBindPushTokenParam>(POST, "/sdkapi/v1/device/push_binding", {"device_token"}, {"device_token"}, false),
        row<PellixGetHalvane>(GET, "/sdk/v1/halvane_tokens", {"token"}, {"token"}, false),
        row<PellixMyCommunityParam>(GET, "/sdkapi/v1/user/static", {"token"}, {"token"}, false),
        row<PellixGetRoomParam>(GET, "/sdkapi/v2/estate/room", {}, {}, true),
        row<PellixProprietorMobileParam>(GET, "/sdkapi/v1/user/owner_mobile", {"token", "room_id"}, {"room_id"}, false),
        // call settings
        row<PellixCallTransferParam>(GET, "/sdkapi/v1/calltransfer/number", {"room_id"}, {"room_id"}, false),
        row<PellixSetCallTransferParam>(POST, "/sdkapi/v1/calltransfer/number_set", {"room_id", "mobile", "nation_code"}, {"room_id", "mobile", "nation_code"}, false),
        row<PellixCallTransferMobilesParam>(GET, "/sdkapi/v1/calltransfer/number_list", {"token"}, {}, true),
        row<PellixGetCallDisturb>(GET, "/sdkapi/v1/call/disturb_info", {"token"}, {"token"}, false),
        row<PellixSetCallRoomDisturb>(POST, "/sdkapi/v1/call/room_disturb", {"token", "room_id", "disturb_status", "call_status"}, {"room_id", "disturb_status", "call_status"}, false),
        row<PellixSetCallDisturb>(POST, "/sdkapi/v1/call/onekey_disturb", {"token", "disturb_status", "call_status"}, {"disturb_status", "call_status"}, false),
        // keys and doors
        row<PellixGetKeyParam>(GET, "/sdkapi/v2/keypackage/key_list", {"room_numer_id"}, {"room_numer_id"}, false),
        row<PellixSetKeySortParam>(POST, "/sdkapi/v1/keypackage/key_sortset", {"room_number_id", "door_id"}, {"room_number_id", "door_id"}, false),
        row<PellixCustomKeyNameParam>(POST, "/sdkapi/v1/keypackage/custom_keyname", {"alias", "door_id"}, {"alias", "door_id"}, false),
        row<PellixOpenDoorWithAppKeyParam>(POST, "/sdkapi/v1/door/app_open", {"room_id", "door_id", "open_type"}, {"room_id", "door_id"}, false),
        row<PellixOpenDoorWithSecretParam>(POST, "/sdkapi/v1/door/app_password", {"room_id", "door_id", "open_type"}, {"room_id"}, false),
        row<PellixOpenDoorPasswordListParam>(GET, "/sdkapi/v1/door/password_list", {"token", "room_id"}, {"room_id"}, false),
        row<PellixOpenDoorPasswordDetailParam>(GET, "/sdkapi/v1/door/password_detail", {"token", "room_id", "password_id"}, {"room_id", "password_id"}, false),
        row<PellixEntityCardParam>(GET, "/sdkapi/v1/card/card_list", {"token", "room_id"}, {"room_id"}, false),
        // notices and visitors
        row<PellixGetCommunityNoticeListParam>(GET, "/sdkapi/v1/message/notice", {"start_page", "page_no", "room_id"}, {"start_page", "page_no"}, false),
        row<PellixGetNoticeDetailParam>(GET, "/sdkapi/v1/message/notice_detail", {"notice_id"}, {"notice_id"}, false),
        row<PellixGetVistorHistoryParam>(GET, "/sdkapi/v1/visitor/user_visitors", {"room_id", "open_type", "start_page", "page_no"}, {"room_id", "open_type", "start_page", "page_no"}, false),
        row<PellixGetRoomVistorHistoryParam>(GET, "/sdkapi/v1/visitor/room_visitors", {"room_id", "open_type", "start_page", "page_no"}, {"room_id", "open_type", "start_page", "page_no"}, false),
        // authorisations and property messages
        row<PellixAddAuthParam>(POST, "/sdkapi/v1/auth/add", {"token", "nation_code", "name", "auth_mobile", "room_id", "auth_type", "begin_time", "end_time"}, {"nation_code", "name", "auth_mobile", "room_id", "auth_type", "begin_time", "end_time"}, false),
        row<PellixModifyAuthParam>(POST, "/sdkapi/v1/auth/modify", {"token", "auth_user_id", "name", "room_id", "auth_type", "begin_time", "end_time"}, {"auth_user_id", "name", "room_id", "auth_type", "begin_time", "end_time"}, false),
        row<PellixDeleteAuthParam>(POST, "/sdkapi/v1/auth/delete", {"token", "room_id", "auth_user_id"}, {"room_id", "auth_user_id"}, false),
        row<PellixStopAuthParam>(POST, "/sdkapi/v1/auth/stop", {"token", "room_id"}, {"room_id"}, false),
        row<PellixGetAuthParam>(GET, "/sdkapi/v1/auth/lists", {"token", "room_id", "page_no", "start_page"}, {"room_id", "page_no", "start_page"}, false),
        row<PellixPropertyPublishParam>(POST, "/sdkapi/v1/property/publish_message", {"token", "content", "images_name", "tag_type", "room_id", "dep_id"}, {"content", "images_name", "tag_type", "room_id", "dep_id"}, false),
        row<PellixGetPropertyPublishParam>(GET, "/sdkapi/v1/property/message_list", {"token", "page_no", "start_page", "dep_id"}, {"page_no", "start_page", "dep_id"}, false),
        // estate and self-authentication
        row<PellixEstateDepartmentSearchParam>(GET, "/sdkapi/v1/estate/department_search", {"token", "keyword", "start_page", "page_no"}, {"keyword"}, false),
        row<PellixEstateCityParam>(GET, "/sdkapi/v1/estate/city", {"token", "keyword", "start_page", "page_no"}, {"token"}, false),
        row<PellixEstateDepartmentListParam>(GET, "/sdkapi/v1/estate/department_list", {"token", "city_id", "keyword", "start_page", "page_no"}, {"city_id"}, false),
        row<PellixEstateBuildingUnitParam>(GET, "/sdkapi/v1/estate/building_unit", {"token", "dep_id", "keyword", "start_page", "page_no"}, {"dep_id"}, false),
        row<PellixEstateRoomNumberParam>(GET, "/sdkapi/v1/estate/room_number", {"token", "unit_id", "keyword", "start_page", "page_no"}, {"unit_id"}, false),
        row<PellixSelfAuthRecordParam>(GET, "/sdkapi/v1/selfauth/record", {"token", "start_page", "page_no"}, {}, true),
        row<PellixSelfAuthApplyParam>(GET, "/sdkapi/v1/selfauth/apply",
                                      {"token", "room_number_id", "city_id", "dep_id", "real_name", "mobile_no", "self_help_status", "auth_type", "card_img1", "card_img2", "card_img3", "card_no", "card_name", "nation", "address", "government", "validity", "nation_code"},
                                      {"room_number_id", "city_id", "dep_id", "real_name", "mobile_no", "self_help_status", "auth_type", "card_img1", "card_img2", "card_img3", "card_no", "card_name", "nation", "address", "government", "validity", "nation_code"}, false),
        // the older records, with relative paths
        row<PellixUserInfoParam>(GET, "v1/user/info", {"token", "nation_code", "mobile_no", "device_guid", "device_type"}, {}, true, {"device_type"}),
        row<PellixDepartmentParam>(GET, "v1/all/department", {"token"}, {"token"}, false),
        row<PellixBuildingParam>(GET, "v1/building", {"token", "department_id"}, {"token"}, false),
        row<PellixUnitParam>(GET, "v1/unit", {"token", "building_id"}, {"token"}, false),
        row<PellixRoomParam>(GET, "v1/room", {"token", "unit_id"}, {"token"}, false),
        row<PellixDisturbParam>(POST, "v1/user/disturb", {"token", "user_id", "device_guid", "call_status", "forwarding_status"}, {"token"}, false),
        row<PellixUserRoomsParam>(GET, "v1/user/rooms", {"token", "user_id", "device_guid", "device_type"}, {"token"}, false, {"device_type"}),
        row<PellixRoomDisturbParam>(POST, "v1/rooms/disturb", {"token", "user_id", "device_guid", "room_id", "call_status", "forwarding_status"}, {"token"}, false),
        row<PellixCallCallParam>(POST, "pxs/community/v2/new_push/call", {"caller_type", "caller_device_id", "cmd", "room_id"}, {}, true),
        row<PellixCallParam>(POST, "v1/call", {"token", "user_id", "device_guid", "from_room_id", "to_room_id", "to_room_no", "call_type"}, {"token"}, false),
        row<PellixOpenDoorParam>(POST, "v1/doors/open", {"token", "user_id", "device_guid", "door_id", "room_id", "operate_type"}, {"token"}, false),
        row<PellixApplyPwdParam>(POST, "v1/doors/password", {"token", "user_id", "device_guid", "room_id"}, {"token"}, false),
        row<PellixOperateRecordParam>(GET, "v1/visitor_log", {"token", "user_id", "room_id", "start_page", "page_no", "open_type"}, {"token"}, false),
        row<PellixCallPhoto>(GET, "v1/caller/photo", {"token", "user_id", "door_sip_no"}, {"token"}, false),
        row<PellixPushParam>(POST, "v1/push/unbinding", {"token", "device_guid", "user_id", "device_token"}, {}, true),
    };
    return table;
}

Keys sorted(Keys k) {
    std::sort(k.begin(), k.end());
    return k;
}

// Sets every declared field (own and inherited) to a distinct non-empty text.
void fillAll(PellixBaseRequestParam& record) {
    forEachField(record, [&](const auto& f) { f.assign(record, platform::Value("v:" + f.key)); });
}

void setKey(PellixBaseRequestParam& record, const std::string& key, const platform::Value& value) {
    bool found = false;
    forEachField(record, [&](const auto& f) {
        if (f.key == key && !found) {
            f.assign(record, value);
            found = true;
        }
    });
    ASSERT_TRUE(found) << key;
}

class ParamRecords : public ::testing::TestWithParam<ParamRow> {};

TEST_P(ParamRecords, RouteAndKeys) {
    const ParamRow& r = GetParam();
    auto record = r.make();
    EXPECT_STREQ(record->className(), r.name.c_str());
    EXPECT_EQ(record->buildRequestMethod(), r.method);
    EXPECT_EQ(record->buildRequestPath(), r.path);
    EXPECT_EQ(record->path(), r.path) << "the path is captured at creation";
    EXPECT_EQ(record->buildResponseType(), r.name == "PellixCallPhoto" ? PellixBaseRequestParam::kResponseImage
                                                                       : PellixBaseRequestParam::kResponseJSON);

    // None set: nothing but the defaults.
    EXPECT_EQ(sorted(keysOf(record->buildRequestParam())), sorted(r.emptyKeys));
    EXPECT_EQ(record->isParamsComplete(), r.emptyComplete);

    // All set: every key exactly as spelt, values as given.
    fillAll(*record);
    const platform::Dictionary all = record->buildRequestParam();
    EXPECT_EQ(sorted(keysOf(all)), sorted(r.keys));
    for (const auto& [k, v] : all) EXPECT_EQ(v, platform::Value("v:" + k)) << k;
    EXPECT_TRUE(record->isParamsComplete());
}

TEST_P(ParamRecords, EachRequiredFieldUnsetOrEmptyMakesItIncomplete) {
    const ParamRow& r = GetParam();
    for (const std::string& key : r.keys) {
        const bool required = std::find(r.required.begin(), r.required.end(), key) != r.required.end();
        for (const platform::Value& v : {platform::Value(), platform::Value("")}) {
            auto record = r.make();
            fillAll(*record);
            setKey(*record, key, v);
            EXPECT_EQ(record->isParamsComplete(), !required) << key << " = " << v.description();
            const bool defaulted = std::find(r.emptyKeys.begin(), r.emptyKeys.end(), key) != r.emptyKeys.end();
            if (v.isNull() && !defaulted) {
                EXPECT_FALSE(record->buildRequestParam().contains(key)) << "an unset field is not sent: " << key;
            } else if (!v.isNull()) {
                // An empty text is sent as an empty value.
                EXPECT_EQ(*record->buildRequestParam().find(key), platform::Value("")) << key;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, ParamRecords, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return info.param.name; });

TEST(ParamRecordRules, InitUserInfoIsCompleteWithAnOpenIdOrANationCodeAndMobile) {
    struct Case {
        PellixText openId, nationCode, mobile;
        bool complete;
    };
    const Case cases[] = {
        {"", std::nullopt, std::nullopt, true},
        {"oid", std::nullopt, std::nullopt, true},
        {std::nullopt, "86", "13800000000", true},
        {std::nullopt, "", "", true},
        {"", "86", "138", true},
        {std::nullopt, std::nullopt, "138", false},
        {std::nullopt, "86", std::nullopt, false},
        {std::nullopt, std::nullopt, std::nullopt, false},
    };
    for (const Case& c : cases) {
        PellixInitUserInfoParam p;
        p.setOpenId(c.openId);
        p.setNationCode(c.nationCode);
        p.setMobile(c.mobile);
        EXPECT_EQ(p.isParamsComplete(), c.complete)
            << c.openId.value_or("nil") << "/" << c.nationCode.value_or("nil") << "/" << c.mobile.value_or("nil");
    }
    PellixInitUserInfoParam p;
    p.setOpenId("o");
    p.setNationCode("86");
    p.setMobile("1");
    EXPECT_EQ(sorted(keysOf(p.buildRequestParam())), sorted({"open_id", "nation_code", "mobile_no"}));
}

TEST(ParamRecordRules, OpenDoorRecordsDifferInWhatTheyRequire) {
    PellixOpenDoorWithSecretParam secret;
    secret.setRoom_id("r1");
    EXPECT_TRUE(secret.isParamsComplete());
    PellixOpenDoorWithAppKeyParam appKey;
    appKey.setRoom_id("r1");
    EXPECT_FALSE(appKey.isParamsComplete());
}

TEST(ParamRecordRules, RoomDisturbSendsItsAppStatusAsDisturbStatusOnly) {
    PellixSetCallRoomDisturb p;
    p.setApp_status("1");
    const auto params = p.buildRequestParam();
    EXPECT_EQ(*params.find("disturb_status"), platform::Value("1"));
    EXPECT_FALSE(params.contains("app_status"));
}

TEST(ParamRecordRules, TokenOfTheRootIsSentAlsoByRecordsWithTheirOwnDictionary) {
    PellixUserRoomsParam rooms;
    rooms.setToken("tk");
    const auto params = rooms.buildRequestParam();
    EXPECT_EQ(*params.find("token"), platform::Value("tk"));
    EXPECT_EQ(*params.find("device_type"), platform::Value("3"));
}

TEST(ParamRecordRules, DeviceTypeDefaultsOnlyWhenUnset) {
    PellixUserInfoParam info;
    info.setDevice_type("");
    EXPECT_EQ(*info.buildRequestParam().find("device_type"), platform::Value(""));
    PellixUserRoomsParam rooms;
    rooms.setDevice_type("7");
    EXPECT_EQ(*rooms.buildRequestParam().find("device_type"), platform::Value("7"));
}

TEST(ParamRecordRules, PushPathAndSystemTypeFollowTheBindingFlagWhenAsked) {
    PellixPushParam p;
    EXPECT_EQ(p.path(), "v1/push/unbinding");
    p.setIsBinding(true);
    EXPECT_EQ(p.buildRequestPath(), "v1/push/binding");
    EXPECT_EQ(*p.buildRequestParam().find("system_type"), platform::Value("1"));
    EXPECT_EQ(p.path(), "v1/push/unbinding") << "the stored path stays the one of creation";
    p.setIsBinding(false);
    EXPECT_EQ(p.buildRequestPath(), "v1/push/unbinding");
    EXPECT_FALSE(p.buildRequestParam().contains("system_type"));
    EXPECT_FALSE(p.buildRequestParam().contains("isBinding"));
}

TEST(ParamRecordRules, CallPhotoSendsTheSipNumberAsDoorSipNo) {
    PellixCallPhoto p;
    p.setFromSipNo("1001");
    const auto params = p.buildRequestParam();
    EXPECT_EQ(*params.find("door_sip_no"), platform::Value("1001"));
    EXPECT_FALSE(params.contains("fromSipNo"));
}

TEST(ParamRecordRules, FamilyCallAsFilledSendsNoUserId) {
    PellixCallParam p;
    p.setToken("tk");
    p.setDevice_guid("g");
    p.setFrom_room_id("1");
    p.setTo_room_id("2");
    p.setTo_room_no("0202");
    p.setCall_type("0");
    EXPECT_EQ(sorted(keysOf(p.buildRequestParam())),
              sorted({"token", "device_guid", "from_room_id", "to_room_id", "to_room_no", "call_type"}));
    EXPECT_TRUE(p.isParamsComplete());
}

TEST(ParamRecordRules, NumberFieldsAreSentAsNumbers) {
    PellixEstateCityParam city;
    city.setStart_page(platform::Value(std::uint64_t{1}));
    city.setPage_no(platform::Value(std::uint64_t{0}));
    const auto params = city.buildRequestParam();
    ASSERT_TRUE(params.find("start_page")->isNumber());
    EXPECT_EQ(params.find("start_page")->intValue(), 1);
    EXPECT_EQ(params.find("page_no")->description(), "0");

    PellixOperateRecordParam op;
    op.setOpen_type(platform::Value(2));
    EXPECT_TRUE(op.buildRequestParam().find("open_type")->isNumber());
}

TEST(ParamRecordRules, EstateCityNeedsATokenWhileTheDepartmentSearchNeedsOnlyAKeyword) {
    PellixEstateCityParam city;
    city.setKeyword("x");
    EXPECT_FALSE(city.isParamsComplete());
    city.setToken("tk");
    EXPECT_TRUE(city.isParamsComplete());
    PellixEstateDepartmentSearchParam search;
    search.setKeyword("x");
    EXPECT_TRUE(search.isParamsComplete());
}

TEST(ParamRecordRules, DictionariesAreFreshEachTime) {
    PellixGetKeyParam p;
    p.setRoom_numer_id("r");
    auto a = p.buildRequestParam();
    a.set("room_numer_id", "changed");
    EXPECT_EQ(*p.buildRequestParam().find("room_numer_id"), platform::Value("r"));
    EXPECT_EQ(p.room_numer_id(), "r");
}

}  // namespace
}  // namespace pellix
