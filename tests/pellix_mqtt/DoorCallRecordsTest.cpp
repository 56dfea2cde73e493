// The two call records filled from "makeCall" data: key mapping, type
// readings, JSON null as absent, and the usability check.
#include <gtest/gtest.h>

#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixEachFamilyAccessCallModel.h"
#include "platform/JSON.h"

namespace pellix {
namespace {

platform::Dictionary object(const std::string& json) {
    auto v = platform::JSON::parse(json);
    EXPECT_TRUE(v && v->isDictionary()) << json;
    return v && v->isDictionary() ? v->asDictionary() : platform::Dictionary();
}

std::shared_ptr<PellixDoorCallModel> door(const std::string& json) {
    return PellixBaseModel::make<PellixDoorCallModel>(object(json));
}

TEST(DoorCallModel, MapsWireKeysAndStoresNumbersAsText) {
    auto call = door(R"({"incomingType":1,"doorSipNO":"8001","doorName":"Gate A","doorGuid":"g-1",
                         "appRoomID":42,"doorID":7,"unknownKey":"x"})");
    EXPECT_EQ(call->callType(), 1);
    EXPECT_EQ(call->doorCallerNO(), "8001");
    EXPECT_EQ(call->doorName(), "Gate A");
    EXPECT_EQ(call->doorGuid(), "g-1");
    EXPECT_EQ(call->appRoomID(), "42");
    EXPECT_EQ(call->doorID(), "7");
    EXPECT_FALSE(call->incomingImageObjectKey());
    EXPECT_TRUE(call->checkDataInvalid());
}

TEST(DoorCallModel, IncomingTypeReadings) {
    struct Case {
        const char* json;
        std::int64_t callType;
    } cases[] = {
        {R"({})", 0},                            // absent
        {R"({"incomingType":null})", 0},         // null is absent
        {R"({"incomingType":0})", 0},
        {R"({"incomingType":1})", 1},
        {R"({"incomingType":"1"})", 1},          // numeric text reads as its number
        {R"({"incomingType":7})", -1},
        {R"({"incomingType":-3})", -1},
        {R"({"incomingType":[1]})", 0},          // no integer reading: 0
        {R"({"incomingType":1e300})", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(door(c.json)->callType(), c.callType) << c.json;
}

TEST(DoorCallModel, NullIsAbsentNeverTheTextNull) {
    auto call = door(R"({"doorSipNO":null,"doorName":null,"doorGuid":null,"appRoomID":null,"doorID":null})");
    EXPECT_FALSE(call->doorCallerNO());
    EXPECT_FALSE(call->doorName());
    EXPECT_FALSE(call->doorGuid());
    EXPECT_FALSE(call->appRoomID());
    EXPECT_FALSE(call->doorID());
}

TEST(DoorCallModel, ContainersForTextFieldsAreRefused) {
    auto call = door(R"({"doorName":"Gate","appRoomID":{"a":1},"doorGuid":["g"]})");
    EXPECT_EQ(call->doorName(), "Gate");
    EXPECT_FALSE(call->appRoomID());
    EXPECT_FALSE(call->doorGuid());
}

TEST(DoorCallModel, UsabilityCheck) {
    const std::string base = R"("doorSipNO":"8001","doorName":"Gate","doorGuid":"g","appRoomID":"12")";
    struct Case {
        std::string json;
        bool usable;
    } cases[] = {
        {"{" + base + "}", true},
        {R"({"doorSipNO":"","doorName":"Gate","doorGuid":"g","appRoomID":"12"})", true},   // empty caller passes
        {R"({"doorName":"Gate","doorGuid":"g","appRoomID":"12"})", false},                 // caller absent
        {R"({"doorSipNO":"8001","doorName":"","doorGuid":"g","appRoomID":"12"})", false},
        {R"({"doorSipNO":"8001","doorName":"Gate","doorGuid":"","appRoomID":"12"})", false},
        {R"({"doorSipNO":"8001","doorName":"Gate","doorGuid":"g","appRoomID":""})", false},
        {R"({"doorSipNO":"8001","doorName":"Gate","doorGuid":"g"})", false},
        {R"({"doorSipNO":"8001","doorName":"Gate","doorGuid":"g","appRoomID":null})", false},
    };
    for (const Case& c : cases) EXPECT_EQ(door(c.json)->checkDataInvalid(), c.usable) << c.json;
}

TEST(EachFamilyAccessCallModel, MapsWireKeysMediaTypeAndCheck) {
    struct Case {
        const char* json;
        std::int64_t callType, mediaCallType;
        bool usable;
    } cases[] = {
        {R"({"incomingType":0,"callType":1,"roomID":"1","roomName":"A","appSipNO":"9","remoteRoomID":"2"})", 0, 2, true},
        {R"({"incomingType":1,"callType":0,"roomID":"","appSipNO":"9","remoteRoomID":"2"})", 1, 1, true},
        {R"({"incomingType":5,"callType":"x","appSipNO":"9","remoteRoomID":"2"})", -1, 1, false},  // no calling room
        {R"({"callType":null,"roomID":"1","appSipNO":"","remoteRoomID":"2"})", 0, 0, false},
        {R"({"roomID":"1","appSipNO":"9","remoteRoomID":""})", 0, 0, false},
    };
    for (const Case& c : cases) {
        auto call = PellixBaseModel::make<PellixEachFamilyAccessCallModel>(object(c.json));
        EXPECT_EQ(call->callType(), c.callType) << c.json;
        EXPECT_EQ(call->mediaCallType(), c.mediaCallType) << c.json;
        EXPECT_EQ(call->checkDataInvalid(), c.usable) << c.json;
    }
    auto call = PellixBaseModel::make<PellixEachFamilyAccessCallModel>(object(cases[0].json));
    EXPECT_EQ(call->appCallerNO(), "9");
    EXPECT_EQ(call->roomName(), "A");
    EXPECT_EQ(call->remoteRoomID(), "2");
}

}  // namespace
}  // namespace pellix
