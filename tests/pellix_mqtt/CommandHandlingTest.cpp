// The command handler: the table of commands and verdicts, the door call
// transaction, the caller image key, authorisation changes keeping the user
// record's topics, and payloads of every wrong shape.
#include <gtest/gtest.h>

#include <string>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "PellixProxyInfo/PellixFileManager.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/DateFormatter.h"
#include "platform/JSON.h"
#include "platform/KeyedArchive.h"
#include "pellix_mqtt/MqttTestKit.h"

namespace pellix {
namespace {

constexpr int kNoCall = -1;

struct Outcome {
    int calls = 0;
    std::int64_t type = kNoCall;
    std::shared_ptr<PellixBaseModel> object;
};

class CommandHandling : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::DateFormatter::setDefaultTimeZone("UTC"));
        test::logIn({"app/room_id/1", "app/room_id/2"});
        handler_->clearTransaction();
        PellixMQTTManager::clearCurrentSession();
    }
    void TearDown() override {
        handler_->clearTransaction();
        PellixProxyInfo::sharedInstance()->setUserInfo(nullptr);
    }

    Outcome handle(const std::string& payload) {
        Outcome out;
        handler_->handleMessageWithMqttPayload(platform::Bytes(payload.begin(), payload.end()),
                                               [&](std::int64_t type, std::shared_ptr<PellixBaseModel> object) {
                                                   ++out.calls;
                                                   out.type = type;
                                                   out.object = std::move(object);
                                               });
        EXPECT_LE(out.calls, 1) << payload;
        return out;
    }

    std::string transaction() const { return handler_->transcationID().value_or("<none>"); }

    std::shared_ptr<PellixMqttMessageHandle> handler_ = PellixMqttMessageHandle::sharedInstance();
};

const std::string kDoor = R"("doorSipNO":"8001","doorName":"Gate","doorGuid":"g-1","appRoomID":"12")";

// Later members of `extraData` override earlier ones of the same key.
std::string makeCall(const std::string& id, const std::string& extraData = "") {
    return R"({"cmd":"makeCall","transactionID":")" + id + R"(","expiredAt":1704067200,"data":{"incomingType":1,)" +
           kDoor + extraData + "}}";
}

std::string hangUp(const std::string& id, const std::string& data) {
    return R"({"cmd":"hangUpCall","transactionID":")" + id + R"(","data":)" + data + "}";
}

// Each row starts with no transaction, or with "t1" open; `after` is the
// transaction once the message is handled ("<none>" when closed).
TEST_F(CommandHandling, CommandTable) {
    struct Row {
        const char* what;
        bool open;
        std::string payload;
        int type;  // kNoCall: the completion is not called
        std::string after;
    } rows[] = {
        {"not JSON", false, "nope", 0, "<none>"},
        {"empty payload", false, "", 0, "<none>"},
        {"array", false, "[1,2]", 0, "<none>"},
        {"number", false, "12", 0, "<none>"},
        {"text", false, R"("makeCall")", 0, "<none>"},
        {"null", false, "null", 0, "<none>"},
        {"no cmd", false, R"({"data":{},"transactionID":"t"})", 0, "<none>"},
        {"no data", false, R"({"cmd":"notice","transactionID":"t"})", 0, "<none>"},
        {"no transactionID", false, R"({"cmd":"notice","data":{}})", 0, "<none>"},
        {"unknown cmd", false, R"({"cmd":"openDoor","data":{},"transactionID":"t"})", 0, "<none>"},
        {"cmd of another case", false, R"({"cmd":"MakeCall","data":{},"transactionID":"t"})", 0, "<none>"},
        {"cmd not text", false, R"({"cmd":1,"data":{},"transactionID":"t"})", 0, "<none>"},
        {"data an array", false, R"({"cmd":"makeCall","data":[1],"transactionID":"t"})", 0, "<none>"},
        {"data null", false, R"({"cmd":"auth_expires","data":null,"transactionID":"t"})", 0, "<none>"},
        {"data text", false, R"({"cmd":"hangUpCall","data":"x","transactionID":"t1"})", 0, "<none>"},
        {"transactionID a number", false, R"({"cmd":"makeCall","data":{"incomingType":1,)" + kDoor + R"(},"transactionID":5})", 0, "<none>"},
        {"transactionID null", true, R"({"cmd":"hangUpCall","data":{},"transactionID":null})", 0, "t1"},

        {"door call", false, makeCall("t2"), 2, "t2"},
        {"door call, incomingType as text", false, makeCall("t2", R"(,"incomingType":"1")"), 2, "t2"},
        {"door call while one is open", true, makeCall("t2"), kNoCall, "t1"},
        {"room-to-room, same rooms", false, makeCall("t2", R"(,"incomingType":0,"roomID":"3","remoteRoomID":"3")"), 0, "<none>"},
        {"room-to-room, one room", false, makeCall("t2", R"(,"incomingType":0,"roomID":"3")"), 0, "<none>"},
        {"room-to-room, two rooms", false, makeCall("t2", R"(,"incomingType":0,"roomID":3,"remoteRoomID":"4")"), kNoCall, "<none>"},
        {"no incomingType, two rooms", false,
         R"({"cmd":"makeCall","transactionID":"t2","data":{"roomID":"3","remoteRoomID":"4",)" + kDoor + "}}", 0, "<none>"},
        {"incomingType null, two rooms", false,
         R"({"cmd":"makeCall","transactionID":"t2","data":{"incomingType":null,"roomID":"3","remoteRoomID":"4",)" + kDoor + "}}", 0, "<none>"},
        {"incomingType 2", false, makeCall("t2", R"(,"incomingType":2)"), kNoCall, "<none>"},
        {"do not disturb", false, makeCall("t2", R"(,"disturbSip":["9","1001"])"), 0, "<none>"},
        {"others do not disturb", false, makeCall("t2", R"(,"disturbSip":["9","1002"])"), 2, "t2"},
        {"disturbSip null", false, makeCall("t2", R"(,"disturbSip":null)"), 2, "t2"},
        {"disturbSip not an array", false, makeCall("t2", R"(,"disturbSip":"1001")"), 0, "<none>"},
        {"disturbSip with a number", false, makeCall("t2", R"(,"disturbSip":[1002,"9"])"), 0, "<none>"},
        // The transaction stays closed: an unusable record must not block later calls.
        {"incomplete door call", false, makeCall("t2", R"(,"doorGuid":"")"), 0, "<none>"},
        {"door call without a room", false, makeCall("t2", R"(,"appRoomID":null)"), 0, "<none>"},

        {"hang-up of another call", true, hangUp("t9", "{}"), kNoCall, "t1"},
        {"hang-up without a call", false, hangUp("t1", "{}"), kNoCall, "<none>"},
        {"hang-up, no toSipNO", true, hangUp("t1", "{}"), 3, "<none>"},
        {"hang-up, empty toSipNO", true, hangUp("t1", R"({"toSipNO":""})"), 3, "<none>"},
        {"hang-up, null toSipNO", true, hangUp("t1", R"({"toSipNO":null})"), 3, "<none>"},
        {"hang-up, taken elsewhere", true, hangUp("t1", R"({"toSipNO":"1002"})"), 3, "<none>"},
        {"hang-up, taken here", true, hangUp("t1", R"({"toSipNO":"1001"})"), kNoCall, "<none>"},
        {"hang-up, taken here (number)", true, hangUp("t1", R"({"toSipNO":1001})"), kNoCall, "<none>"},

        {"notice", false, R"({"cmd":"notice","transactionID":"","data":{"title":"Water","type":"room_id"}})", 4, "<none>"},
        {"notice while a call is open", true, R"({"cmd":"notice","transactionID":"x","data":{}})", 4, "t1"},
        {"authorisation change", false, R"({"cmd":"auth_expires","transactionID":"","data":{"room_id":"5","type":"UPDATE"}})", 5, "<none>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        handler_->clearTransaction();
        if (row.open) handler_->setTranscationID(std::string("t1"));
        const Outcome out = handle(row.payload);
        if (row.type == kNoCall) {
            EXPECT_EQ(out.calls, 0);
        } else {
            EXPECT_EQ(out.calls, 1);
            EXPECT_EQ(out.type, row.type);
            EXPECT_EQ(out.object != nullptr, row.type == 2 || row.type == 4 || row.type == 5);
        }
        EXPECT_EQ(transaction(), row.after);
    }
}

TEST_F(CommandHandling, DoorCallCarriesItsRecordAndCallerImageKey) {
    const Outcome out = handle(makeCall("tx-9"));
    ASSERT_EQ(out.type, 2);
    auto call = std::dynamic_pointer_cast<PellixDoorCallModel>(out.object);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->callType(), 1);
    EXPECT_EQ(call->doorCallerNO(), "8001");
    EXPECT_EQ(call->doorName(), "Gate");
    EXPECT_EQ(call->appRoomID(), "12");
    EXPECT_EQ(call->incomingImageObjectKey(), "caller/g-1/2024/01/01/tx-9.jpg");

    // The transaction is this call's: a second call waits, its hang-up closes it.
    EXPECT_EQ(handle(makeCall("tx-10")).calls, 0);
    EXPECT_EQ(handle(hangUp("tx-9", "{}")).type, 3);
    EXPECT_EQ(handle(makeCall("tx-10")).type, 2);
}

TEST_F(CommandHandling, CallerImageDateIsTheWeekBasedYearInTheDeviceTimeZone) {
    struct Case {
        const char* zone;
        std::int64_t expiredAt;
        const char* date;
    } cases[] = {
        {"UTC", 1704067200, "2024/01/01"},     // 2024-01-01 00:00 UTC
        {"UTC", 1735603200, "2025/12/31"},     // 2024-12-31 lies in the first week of 2025
        {"UTC", 0, "1970/01/01"},
        {"UTC", 1719792000, "2024/07/01"},                  // 2024-07-01 00:00 UTC
        {"America/Los_Angeles", 1719792000, "2024/06/30"},  // 17:00 the day before
        {"Asia/Shanghai", 1719763200, "2024/07/01"},        // 2024-06-30 16:00 UTC, midnight in Shanghai
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(platform::DateFormatter::setDefaultTimeZone(c.zone));
        EXPECT_EQ(PellixMqttMessageHandle::callerImageObjectKey("g", c.expiredAt, "t"),
                  std::string("caller/g/") + c.date + "/t.jpg")
            << c.zone << " " << c.expiredAt;
    }
    EXPECT_FALSE(platform::DateFormatter::setDefaultTimeZone("Nowhere/Atlantis"));
}

TEST_F(CommandHandling, AuthorisationAddSubscribesTheRoomAndKeepsTheUserRecord) {
    const Outcome out = handle(R"({"cmd":"auth_expires","transactionID":"","data":{"room_id":"5","type":"Add","title":"T"}})");
    ASSERT_EQ(out.type, 5);
    auto change = std::dynamic_pointer_cast<PellixAuthorizationChange>(out.object);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->type(), PellixAuthorizationChange::kAdd);
    EXPECT_EQ(change->title(), "T");

    const auto user = PellixProxyInfo::sharedInstance()->userInfo();
    EXPECT_EQ(user->topic(), (std::vector<std::string>{"app/room_id/1", "app/room_id/2", "app/room_id/5"}));
    // The new room's topic alone becomes the connection's list.
    EXPECT_EQ(PellixMQTTManager::sharedInstance()->topics(), std::vector<std::string>{"app/room_id/5"});
    auto archived = platform::KeyedArchive::read(PellixFileManager::shareInstance()->userInfoFile());
    ASSERT_TRUE(archived);
    EXPECT_NE(platform::Value(*archived).description().find("app/room_id/5"), std::string::npos);
}

TEST_F(CommandHandling, AuthorisationDeleteDropsTheTopicFromTheRecordOnly) {
    PellixMQTTManager::resubcribleTopics(std::vector<std::string>{"app/room_id/1", "app/room_id/2"});
    EXPECT_EQ(handle(R"({"cmd":"auth_expires","transactionID":"","data":{"room_id":2,"type":"del"}})").type, 5);
    EXPECT_EQ(PellixProxyInfo::sharedInstance()->userInfo()->topic(), std::vector<std::string>{"app/room_id/1"});
    EXPECT_EQ(PellixMQTTManager::sharedInstance()->topics(),
              (std::vector<std::string>{"app/room_id/1", "app/room_id/2"}));
    auto archived = platform::KeyedArchive::read(PellixFileManager::shareInstance()->userInfoFile());
    ASSERT_TRUE(archived);
    EXPECT_EQ(platform::Value(*archived).description().find("app/room_id/2"), std::string::npos);
}

TEST_F(CommandHandling, AuthorisationWithoutARoomOrAUserTouchesNoTopic) {
    // No room: never a topic "app/room_id/" or "app/room_id/<null>".
    EXPECT_EQ(handle(R"({"cmd":"auth_expires","transactionID":"","data":{"room_id":null,"type":"add"}})").type, 5);
    EXPECT_EQ(PellixProxyInfo::sharedInstance()->userInfo()->topic(),
              (std::vector<std::string>{"app/room_id/1", "app/room_id/2"}));
    EXPECT_FALSE(PellixMQTTManager::sharedInstance()->topics());

    // Logged out: reported, and no user record is archived from nothing.
    PellixProxyInfo::sharedInstance()->setUserInfo(nullptr);
    EXPECT_EQ(handle(R"({"cmd":"auth_expires","transactionID":"","data":{"room_id":"6","type":"add"}})").type, 5);
    EXPECT_FALSE(PellixProxyInfo::sharedInstance()->userInfo());
    EXPECT_FALSE(platform::KeyedArchive::read(PellixFileManager::shareInstance()->userInfoFile()));
}

TEST_F(CommandHandling, HostilePayloadsAreRefusedWithoutSideEffects) {
    std::string deep(100000, '[');
    const std::string cases[] = {
        deep,
        R"({"cmd":"makeCall","transactionID":"t","data":)" + std::string(2000, '[') + std::string(2000, ']') + "}",
        std::string("{\"cmd\":\"makeCall\",\0\"data\":{}}", 29),
        "\xff\xfe{\"cmd\":\"notice\"}",
        R"({"cmd":"makeCall","transactionID":"t","data":{"incomingType":1e999}})",
        R"({"cmd":"makeCall","transactionID":"t","data":{"incomingType":123456789012345678901234567890}})",
    };
    for (const std::string& payload : cases) {
        const Outcome out = handle(payload);
        EXPECT_LE(out.calls, 1);
        if (out.calls) {
            EXPECT_EQ(out.type, 0);
        }
        EXPECT_EQ(transaction(), "<none>");
    }
    // A door call with an absurd expiry is still a door call; only its date is lost.
    const Outcome out =
        handle(R"({"cmd":"makeCall","transactionID":"t","expiredAt":1e300,"data":{"incomingType":1,)" + kDoor + "}}");
    ASSERT_EQ(out.type, 2);
    EXPECT_EQ(std::dynamic_pointer_cast<PellixDoorCallModel>(out.object)->incomingImageObjectKey(), "caller/g-1//t.jpg");
}

TEST(HangUpCallMessage, IsCompactJsonWithExactlyThreeMembers) {
    const platform::Bytes bytes = PellixMqttMessageHandle::hangUpCallMessage("1001", "tx-1");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find_first_of(" \n\t"), std::string::npos) << text;
    auto json = platform::JSON::parse(text);
    ASSERT_TRUE(json);
    const platform::Value expected(platform::Dictionary{
        {"cmd", "hangUpCall"}, {"transactionID", "tx-1"}, {"data", platform::Dictionary{{"toSipNO", "1001"}}}});
    EXPECT_EQ(*json, expected);
}

}  // namespace
}  // namespace pellix
