// Every platform operation of PellixDataManager against the platform
// stand-in: the request it sends (path, method, parameters) and the typed
// result the host receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "PellixDataManager/PellixDataManager.h"
#include "sdk_pipeline/PipelineFixture.h"

namespace pellix {
namespace {

using DM = PellixDataManager;

// What the completion reported, condensed to a text the row expects.
struct Outcome {
    int calls = 0;
    PellixErrorPtr error;
    std::string summary;

    template <class T>
    DM::ListCompletion<T> list(std::function<std::string(const std::vector<std::shared_ptr<T>>&)> describe) {
        return [this, describe](const DM::List<T>& l, const PellixErrorPtr& e) {
            finish(e, l ? describe(*l) : "<nil>");
        };
    }
    template <class T>
    DM::RecordCompletion<T> record(std::function<std::string(const T&)> describe) {
        return [this, describe](const std::shared_ptr<T>& r, const PellixErrorPtr& e) {
            finish(e, r ? describe(*r) : "<nil>");
        };
    }
    DM::FlagCompletion flag() {
        return [this](bool ok, const PellixErrorPtr& e) { finish(e, ok ? "YES" : "NO"); };
    }
    DM::TextListCompletion texts() {
        return [this](const std::optional<std::vector<std::string>>& t, const PellixErrorPtr& e) {
            std::string joined;
            if (t) {
                for (const auto& s : *t) joined += (joined.empty() ? "" : "|") + s;
            }
            finish(e, t ? "[" + joined + "]" : "<nil>");
        };
    }

private:
    void finish(const PellixErrorPtr& e, std::string s) {
        ++calls;
        error = e;
        summary = std::move(s);
    }
};

std::string v(const PellixText& t) { return t.value_or("<nil>"); }

template <class T>
std::string count(const std::vector<std::shared_ptr<T>>& l) {
    return std::to_string(l.size());
}

struct WalkRow {
    std::string name;
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> params;  // sent, as text
    std::vector<std::string> absent;                          // not sent
    std::function<void(Outcome&)> call;
    std::string expect;  // the outcome's summary
};

void PrintTo(const WalkRow& r, std::ostream* os) { *os << r.name; }

const std::vector<WalkRow>& walkRows() {
    static const std::vector<WalkRow> rows = {
        {"getUserTransferNumber", "GET", "/sdkapi/v1/calltransfer/number", {{"room_id", "5001"}}, {},
         [](Outcome& o) { DM::getUserTransferNumberWithRoomId("5001", o.record<PellixCallTransfer>([](const auto& r) { return v(r.set_permission()) + "/" + v(r.nation_code()); })); },
         "1/86"},
        {"setUserTransferNumber", "POST", "/sdkapi/v1/calltransfer/number_set", {{"room_id", "5001"}, {"mobile", "13911112222"}, {"nation_code", "86"}}, {},
         [](Outcome& o) { DM::setUserTransferNumberWithRoomId("5001", "13911112222", "", o.flag()); }, "YES"},
        {"getUserCommunityList", "GET", "/sdkapi/v1/user/static", {}, {"room_id"},
         [](Outcome& o) { DM::getUserCommunityListWithCompletion(o.list<PellixRoomInfo>([](const auto& l) { return count(l) + ":" + v(l.at(0)->room_number_id()); })); },
         "2:5001"},
        {"getUserRoomList", "GET", "/sdkapi/v2/estate/room", {}, {},
         [](Outcome& o) { DM::getUserRoomListWithCompletion(o.list<PellixRoomInfo>([](const auto& l) { return count(l) + ":" + v(l.at(0)->room_number_id()); })); },
         "2:5001"},
        {"getUserKeyList", "GET", "/sdkapi/v2/keypackage/key_list", {{"room_numer_id", "5001"}}, {"room_number_id"},
         [](Outcome& o) { DM::getUserKeyListWithRoomId("5001", o.record<PellixKeyList>([](const auto& r) { return std::string(r.isBluetooth() ? "bt:" : "nobt:") + v(r.list()->at(0)->door_id()) + (r.list()->at(0)->is_online() ? ":online" : ":offline"); })); },
         "bt:7001:online"},
        {"setUserKeysSort", "POST", "/sdkapi/v1/keypackage/key_sortset", {{"room_number_id", "5001"}, {"door_id", "7002,7001"}}, {},
         [](Outcome& o) { DM::setUserKeysSortWithRoomId("5001", "7002,7001", o.flag()); }, "YES"},
        {"setUserKeypackageAlias", "POST", "/sdkapi/v1/keypackage/custom_keyname", {{"alias", "大门"}, {"door_id", "7001"}}, {},
         [](Outcome& o) { DM::setUserKeypackageAliasWithDoorId("7001", "大门", o.flag()); }, "YES"},
        {"getCommunityNoticeList", "GET", "/sdkapi/v1/message/notice", {{"start_page", "1"}, {"page_no", "20"}}, {"room_id"},
         [](Outcome& o) { DM::getCommunityNoticeListWithStartPage(1, 20, o.list<PellixCommunityNotice>([](const auto& l) { return v(l.at(0)->notice_id()); })); },
         "9001"},
        {"getCommunityNoticeListOfRoom", "GET", "/sdkapi/v1/message/notice", {{"start_page", "1"}, {"page_no", "2"}, {"room_id", "5001"}}, {},
         [](Outcome& o) { DM::getCommunityNoticeListWithRoomId("5001", 1, 2, o.list<PellixCommunityNotice>([](const auto& l) { return count(l); })); },
         "2"},
        {"getNoticeDetail", "GET", "/sdkapi/v1/message/notice_detail", {{"notice_id", "9002"}}, {},
         [](Outcome& o) { DM::getNoticeDetailWithNoticeId("9002", o.record<PellixCommunityNotice>([](const auto& r) { return v(r.title()); })); },
         "电梯保养"},
        {"getUserVistorsHistory", "GET", "/sdkapi/v1/visitor/user_visitors", {{"room_id", "5001"}, {"open_type", "1"}, {"start_page", "1"}, {"page_no", "20"}}, {},
         [](Outcome& o) { DM::getUserVistorsHistoryWithRoomId("5001", 1, 1, 20, o.list<PellixVistorHistoryInfo>([](const auto& l) { return v(l.at(0)->recordId()) + ":" + v(l.at(0)->des()); })); },
         "60001:张三通过APP开门"},
        {"getRoomVistorsHistory", "GET", "/sdkapi/v1/visitor/room_visitors", {{"room_id", "5001"}, {"open_type", "0"}, {"start_page", "1"}, {"page_no", "20"}}, {},
         [](Outcome& o) { DM::getRoomVistorsHistoryWithRoomId("5001", 0, 1, 20, o.list<PellixVistorHistoryInfo>([](const auto& l) { return v(l.at(0)->recordId()); })); },
         "60001"},
        {"openDoor", "POST", "/sdkapi/v1/door/app_open", {{"room_id", "5001"}, {"door_id", "7001"}, {"open_type", "2"}}, {},
         [](Outcome& o) { DM::openDoorWithRoomId("5001", "7001", o.flag()); }, "YES"},
        {"openDoorWithOpenType", "POST", "/sdkapi/v1/door/app_open", {{"room_id", "5001"}, {"door_id", "7001"}, {"open_type", "1"}}, {},
         [](Outcome& o) { DM::openDoorWithRoomId("5001", "7001", "1", o.flag()); }, "YES"},
        {"openDoorLongOpenType", "POST", "/sdkapi/v1/door/app_open", {{"open_type", "2"}}, {},
         [](Outcome& o) { DM::openDoorWithRoomId("5001", "7001", "12", o.flag()); }, "YES"},
        {"getDoorPassword", "POST", "/sdkapi/v1/door/app_password", {{"room_id", "5001"}}, {"door_id", "open_type"},
         [](Outcome& o) { DM::getDoorPasswordWithRoomId("5001", o.record<PellixDoorPassword>([](const auto& r) { return std::to_string(v(r.password()).size()) + (r.list()->at(0)->success() ? ":ok:" : ":failed:") + v(r.list()->at(0)->door_id()); })); },
         "6:ok:7001"},
        {"getDoorPasswordList", "GET", "/sdkapi/v1/door/password_list", {{"room_id", "5001"}}, {},
         [](Outcome& o) { DM::getDoorPasswordListWithRoomId("5001", o.list<PellixOpenDoorPwd>([](const auto& l) { return count(l); })); },
         "0"},
        {"getDoorPasswordDetail", "GET", "/sdkapi/v1/door/password_detail", {{"room_id", "5001"}}, {},
         [](Outcome& o) {
             // Apply for a password first, then ask for its detail.
             DM::getDoorPasswordWithRoomId("5001", [&o](const std::shared_ptr<PellixDoorPassword>&, const PellixErrorPtr&) {
                 DM::getDoorPasswordListWithRoomId("5001", [&o](const DM::List<PellixOpenDoorPwd>& l, const PellixErrorPtr&) {
                     const PellixText id = l && !l->empty() ? l->front()->password_id() : std::nullopt;
                     DM::getDoorPasswordDetailWithRoomId("5001", id, o.record<PellixOpenDoorPasswordDetail>([](const auto& r) {
                         return std::to_string(v(r.password()).size()) + ":" + std::to_string(r.doorsStatus() ? r.doorsStatus()->size() : 0);
                     }));
                 });
             });
         },
         "6:2"},
        {"getUserDisturbInfo", "GET", "/sdkapi/v1/call/disturb_info", {}, {},
         [](Outcome& o) { DM::getUserDisturbInfoWithCompletion(o.record<PellixCallDisturbInfo>([](const auto& r) { return v(r.app_status()) + ":" + count(*r.room_disturb_list()); })); },
         "0:2"},
        {"setUserRoomDisturbInfo", "POST", "/sdkapi/v1/call/room_disturb", {{"room_id", "5001"}, {"disturb_status", "1"}, {"call_status", "0"}}, {"app_status"},
         [](Outcome& o) { DM::setUserRoomDisturbInfoWithRoomId("5001", "1", "0", o.record<PellixRoomDisturbSettingResult>([](const auto& r) { return v(r.app_status()) + "/" + v(r.call_status()); })); },
         "1/0"},
        {"setAllRoomDisturbInfo", "POST", "/sdkapi/v1/call/onekey_disturb", {{"disturb_status", "1"}, {"call_status", "1"}}, {},
         [](Outcome& o) { DM::setAllRoomDisturbInfoWithAppStatus("1", "1", o.record<PellixDisturbSettingResult>([](const auto& r) { return v(r.app_status()) + "/" + v(r.call_status()); })); },
         "1/1"},
        {"getUserEntityCards", "GET", "/sdkapi/v1/card/card_list", {{"room_id", "5001"}}, {},
         [](Outcome& o) { DM::getUserEntityCardsWithRoomId("5001", o.list<PellixEntityCardInfo>([](const auto& l) { return v(l.at(0)->card_number()); })); },
         "A1B2C3D4"},
        {"addAuthorize", "POST", "/sdkapi/v1/auth/add", {{"nation_code", "86"}, {"name", "王五"}, {"auth_mobile", "13600136000"}, {"room_id", "5001"}, {"auth_type", "2"}, {"begin_time", "2026-12-10 00:00"}, {"end_time", "2027-12-10 00:00"}}, {},
         [](Outcome& o) { DM::addAuthorizeWithNationCode(std::nullopt, "王五", "13600136000", "5001", "2", "2026-12-10 00:00", "2027-12-10 00:00", o.flag()); }, "YES"},
        {"modifyAuthorize", "POST", "/sdkapi/v1/auth/modify", {{"auth_user_id", "11001"}, {"name", "李四"}, {"room_id", "5001"}, {"auth_type", "1"}}, {},
         [](Outcome& o) { DM::modifyAuthorizeWithName("李四", "11001", "5001", "1", "2026-12-01 00:00", "2028-01-01 00:00", o.flag()); }, "YES"},
        {"deleteAuthorize", "POST", "/sdkapi/v1/auth/delete", {{"room_id", "5001"}, {"auth_user_id", "11001"}}, {},
         [](Outcome& o) { DM::deleteAuthorizeWithAuthUserId("11001", "5001", o.flag()); }, "YES"},
        {"terminalAuthorize", "POST", "/sdkapi/v1/auth/stop", {{"room_id", "5001"}}, {},
         [](Outcome& o) { DM::terminalAuthorizeWithRoomId("5001", o.flag()); }, "YES"},
        {"getAuthorizeList", "GET", "/sdkapi/v1/auth/lists", {{"room_id", "5001"}, {"start_page", "1"}, {"page_no", "20"}}, {},
         [](Outcome& o) { DM::getAuthorizeListWithRoomId("5001", std::nullopt, std::nullopt, o.record<PellixAuthorizeListInfo>([](const auto& r) { return v(r.upper_limit()) + ":" + v(r.authList()->at(0)->auth_user_id()); })); },
         "10:11001"},
        {"contactPropertyHistory", "GET", "/sdkapi/v1/property/message_list", {{"dep_id", "201"}, {"start_page", "1"}, {"page_no", "20"}}, {},
         [](Outcome& o) { DM::contactPropertyHistoryWithDepID("201", std::nullopt, std::nullopt, o.list<PellixPropertyPublishInfo>([](const auto& l) { return v(l.at(0)->content()) + ":" + v(l.at(0)->reply_list()->at(0)->msg()); })); },
         "楼道灯坏了:已安排维修"},
        {"getEstateDepartmentSearch", "GET", "/sdkapi/v1/estate/department_search", {{"keyword", "翠湖"}, {"start_page", "1"}, {"page_no", "20"}}, {},
         [](Outcome& o) { DM::getEstateDepartmentSearchWithKeyword("翠湖", 1, 20, o.list<PellixEstateDepartmentSearch>([](const auto& l) { return v(l.at(0)->dep_id()) + ":" + v(l.at(0)->city_name()); })); },
         "201:深圳市"},
        {"getEstateCity", "GET", "/sdkapi/v1/estate/city", {{"start_page", "1"}, {"page_no", "20"}}, {"keyword"},
         [](Outcome& o) { DM::getEstateCityWithKeyword(std::nullopt, 1, 20, o.list<PellixEstateCity>([](const auto& l) { return count(l); })); },
         "3"},
        {"getEstateDepartmentList", "GET", "/sdkapi/v1/estate/department_list", {{"city_id", "4403"}}, {"keyword"},
         [](Outcome& o) { DM::getEstateDepartmentListWithKeyword(std::nullopt, "4403", 1, 20, o.list<PellixEstateDepartment>([](const auto& l) { return count(l); })); },
         "2"},
        {"getEstateBuildingUnit", "GET", "/sdkapi/v1/estate/building_unit", {{"dep_id", "201"}, {"keyword", ""}}, {},
         [](Outcome& o) { DM::getEstateBuildingUnitWithKeyword("", "201", 1, 20, o.list<PellixEstateBuildingUnit>([](const auto& l) { return count(l) + ":" + v(l.at(0)->unit_id()); })); },
         "2:401"},
        {"getEstateRoomNumber", "GET", "/sdkapi/v1/estate/room_number", {{"unit_id", "401"}}, {},
         [](Outcome& o) { DM::getEstateRoomNumberWithKeyword(std::nullopt, "401", 1, 20, o.list<PellixEstateRoomNumber>([](const auto& l) { return v(l.at(0)->room_number()); })); },
         "101"},
        {"getSelfAuthRecord", "GET", "/sdkapi/v1/selfauth/record", {{"start_page", "0"}, {"page_no", "20"}}, {},
         [](Outcome& o) { DM::getSelfAuthRecordWithStartPage(0, 20, o.list<PellixSelfAuthRecord>([](const auto& l) { return v(l.at(0)->status_info()); })); },
         "已通过"},
        {"getMobileOfProprietor", "GET", "/sdkapi/v1/user/owner_mobile", {{"room_id", "5001"}}, {},
         [](Outcome& o) { DM::getMobileOfProprietorWithRoomId("5001", o.texts()); }, "[13800138000]"},
        {"getCallTransferMobileList", "GET", "/sdkapi/v1/calltransfer/number_list", {}, {},
         [](Outcome& o) { DM::getCallTransferMobileListWithCompletion(o.texts()); }, "[13900000001|13900000002]"},
    };
    return rows;
}

class OperationsWalk : public test::PipelineTest, public ::testing::WithParamInterface<WalkRow> {
protected:
    void SetUp() override {
        test::PipelineTest::SetUp();
        registerAndLogIn();
        if (HasFatalFailure()) return;
        standIn_->admin("DELETE", "/__admin/requests");
    }
};

TEST_P(OperationsWalk, SendsItsRequestAndHandsOverTheTypedResult) {
    const WalkRow& row = GetParam();
    Outcome outcome;
    row.call(outcome);
    ASSERT_TRUE(pump([&] { return outcome.calls > 0; })) << "no completion";
    settle(0.05);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.error) << (outcome.error ? std::to_string(outcome.error->errorCode()) + " " +
                                                        outcome.error->message().value_or("")
                                                  : "");
    EXPECT_EQ(outcome.summary, row.expect);

    const platform::Array requests = standIn_->requests(row.path);
    ASSERT_FALSE(requests.empty()) << row.path;
    const platform::Value& sent = requests.back();
    EXPECT_EQ(test::text(sent, "method"), row.method);
    EXPECT_EQ(test::member(sent, "sign_ok"), platform::Value(true));
    const platform::Value& params = test::member(sent, "params");
    for (const auto& [key, value] : row.params) EXPECT_EQ(test::text(params, key), value) << key;
    for (const auto& key : row.absent) EXPECT_EQ(test::text(params, key), "<missing>") << key;
}

// The room list keeps the user record's topics in step with the answer's.
class RoomTopicSync : public OperationsWalk {
protected:
    std::shared_ptr<PellixInitUserInfo> user() { return PellixProxyInfo::sharedInstance()->userInfo(); }
    std::string userFile() { return PellixFileManager::shareInstance()->userInfoFile(); }
    // The topics of the answer, in the stand-in's order.
    std::vector<std::string> answerTopics() {
        const platform::Array requests = standIn_->requests("/sdkapi/v2/estate/room");
        std::vector<std::string> out;
        const platform::Value& data = test::member(test::member(requests.back(), "answer"), "data");
        if (const platform::Array* topics = test::member(data, "topic").arrayIf()) {
            for (const auto& t : *topics) out.push_back(*t.stringIf());
        }
        return out;
    }
    void roomList(int& calls, DM::List<PellixRoomInfo>& rooms) {
        DM::getUserRoomListWithCompletion([&](const DM::List<PellixRoomInfo>& l, const PellixErrorPtr& e) {
            EXPECT_FALSE(e);
            rooms = l;
            ++calls;
        });
        ASSERT_TRUE(pump([&] { return calls > 0; }));
    }
};

TEST_F(RoomTopicSync, SameTopicsInAnotherOrderChangeNothing) {
    int calls = 0;
    DM::List<PellixRoomInfo> rooms;
    roomList(calls, rooms);  // learn the answer's topics
    std::vector<std::string> reversed = answerTopics();
    ASSERT_GE(reversed.size(), 2u);
    std::reverse(reversed.begin(), reversed.end());
    user()->setTopic(reversed);
    std::filesystem::remove(userFile());

    calls = 0;
    roomList(calls, rooms);
    EXPECT_EQ(user()->topic(), reversed);
    EXPECT_FALSE(std::filesystem::exists(userFile())) << "not stored again";
}

TEST_F(RoomTopicSync, ChangedTopicsReplaceTheStoredOnesAndAreArchived) {
    user()->setTopic(std::vector<std::string>{"app/room_id/5001", "app/room_id/9999"});
    std::filesystem::remove(userFile());
    int calls = 0;
    DM::List<PellixRoomInfo> rooms;
    roomList(calls, rooms);
    ASSERT_TRUE(rooms);
    EXPECT_EQ(user()->topic(), answerTopics());
    EXPECT_TRUE(std::filesystem::exists(userFile()));

    // An empty stored list counts as changed too.
    user()->setTopic(std::vector<std::string>{});
    std::filesystem::remove(userFile());
    calls = 0;
    roomList(calls, rooms);
    EXPECT_EQ(user()->topic(), answerTopics());
    EXPECT_TRUE(std::filesystem::exists(userFile()));
}

// An answer without a topic list says nothing about topics; an empty list
// does, and empties the stored one.
TEST_F(RoomTopicSync, OnlyATopicListChangesTheStoredTopics) {
    const std::vector<std::string> stored{"app/room_id/5001"};
    struct Case {
        const char* data;
        std::optional<std::vector<std::string>> expect;
    };
    const Case cases[] = {
        {R"({"list":[]})", stored},
        {R"({"topic":"app/room_id/1","list":[]})", stored},
        {R"({"topic":{"0":"app/room_id/1"},"list":[]})", stored},
        {R"({"topic":[],"list":[]})", std::vector<std::string>{}},
        {R"({"topic":[{"t":1},"app/room_id/7",null],"list":[]})", std::vector<std::string>{"app/room_id/7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        user()->setTopic(stored);
        std::filesystem::remove(userFile());
        standIn_->rule(std::string(R"({"path":"/sdkapi/v2/estate/room","data":)") + c.data + "}");
        int calls = 0;
        DM::List<PellixRoomInfo> rooms;
        roomList(calls, rooms);
        ASSERT_TRUE(rooms);
        EXPECT_TRUE(rooms->empty());
        EXPECT_EQ(user()->topic(), c.expect);
        EXPECT_EQ(std::filesystem::exists(userFile()), c.expect != stored) << "archived only when changed";
    }
}

TEST_F(RoomTopicSync, WithoutAUserRecordTheHostStillGetsTheList) {
    PellixProxyInfo::sharedInstance()->setUserInfo(nullptr);
    int calls = 0;
    DM::List<PellixRoomInfo> rooms;
    roomList(calls, rooms);
    ASSERT_TRUE(rooms);
    EXPECT_EQ(rooms->size(), 2u);
    EXPECT_FALSE(user());
    EXPECT_FALSE(std::filesystem::exists(userFile()));
}

INSTANTIATE_TEST_SUITE_P(AgainstTheStandIn, OperationsWalk, ::testing::ValuesIn(walkRows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pellix
