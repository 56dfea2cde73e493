// The archivable records (rooms, keys, key lists) written to a keyed archive
// file and read back.
#include <gtest/gtest.h>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRoomRecords.h"
#include "RecordsTestUtil.h"
#include "support/TestSupport.h"
#include "platform/KeyedArchive.h"

namespace pellix {
namespace {

using test::jsonObject;

platform::Dictionary throughFile(const platform::Dictionary& archive) {
    test::TempDir dir;
    const std::string path = dir.file("record.archive");
    EXPECT_TRUE(platform::KeyedArchive::write(path, archive));
    auto back = platform::KeyedArchive::read(path);
    EXPECT_TRUE(back.has_value());
    return back.value_or(platform::Dictionary{});
}

TEST(ArchivedRecords, KeyListKeepsItsFlagPhoneAndKeys) {
    auto keys = PellixBaseModel::make<PellixKeyList>(jsonObject(R"({
        "is_bluetooth":"1","management_phone":"0571-1234","code":200,
        "list":[{"door_id":"d1","door_name":"东门","is_online":"1","is_support_token":"0","totp_pin_length":"6"},
                {"door_id":"d2","is_support_token":"1"}]})"));
    const platform::Dictionary archive = keys->encodeWithCoder();
    EXPECT_FALSE(archive.contains("code")) << "only the record's own properties";
    EXPECT_TRUE(archive.find("isBluetooth")->isNumber()) << "flags are archived as numbers";

    PellixKeyList back;
    back.initWithCoder(throughFile(archive));
    EXPECT_TRUE(back.isBluetooth());
    EXPECT_EQ(back.management_phone(), "0571-1234");
    ASSERT_TRUE(back.list());
    ASSERT_EQ(back.list()->size(), 2u);
    const auto& first = *(*back.list())[0];
    EXPECT_STREQ(first.className(), "PellixKeyInfo");
    EXPECT_EQ(first.door_id(), "d1");
    EXPECT_EQ(first.door_name(), "东门");
    EXPECT_TRUE(first.is_online());
    EXPECT_FALSE(first.is_support_token());
    EXPECT_EQ(first.totp_pin_length(), "6");
    EXPECT_FALSE(first.ssid());
    EXPECT_TRUE((*back.list())[1]->is_support_token());
    EXPECT_FALSE((*back.list())[1]->is_online());
}

TEST(ArchivedRecords, EmptyKeyListStaysEmpty) {
    PellixKeyList empty;
    PellixKeyList back;
    back.initWithCoder(throughFile(empty.encodeWithCoder()));
    EXPECT_FALSE(back.isBluetooth());
    EXPECT_FALSE(back.management_phone());
    EXPECT_FALSE(back.list());

    auto noKeys = PellixBaseModel::make<PellixKeyList>(jsonObject(R"({"list":"none"})"));
    PellixKeyList back2;
    back2.initWithCoder(throughFile(noKeys->encodeWithCoder()));
    ASSERT_TRUE(back2.list());
    EXPECT_TRUE(back2.list()->empty());
}

TEST(ArchivedRecords, RoomInfoKeepsEveryField) {
    platform::Dictionary all;
    for (const char* k : {"dep_id", "dep_name", "building_id", "building_name", "unit_id", "unit_name", "room_number_id",
                          "room_number", "autu_type", "authorization_number", "open_card_number", "room_full_name"}) {
        all.set(k, std::string("v:") + k);
    }
    auto room = PellixBaseModel::make<PellixRoomInfo>(all);
    PellixRoomInfo back;
    back.initWithCoder(throughFile(room->encodeWithCoder()));
    EXPECT_EQ(back.encodeWithCoder(), all);
    EXPECT_EQ(back.autu_type(), "v:autu_type");
}

TEST(ArchivedRecords, ForeignArchiveValuesDoNotBreakTheRecord) {
    // An archive edited by someone else: wrong types are read leniently or refused.
    platform::Dictionary archive;
    archive.set("isBluetooth", "yes");
    archive.set("management_phone", platform::Value(platform::Array{platform::Value("x")}));
    archive.set("list", platform::Value(platform::Array{platform::Value(3), platform::Value(platform::Dictionary{})}));
    PellixKeyList back;
    back.initWithCoder(throughFile(archive));
    EXPECT_TRUE(back.isBluetooth());
    EXPECT_FALSE(back.management_phone());
    ASSERT_EQ(back.list()->size(), 1u);
    EXPECT_FALSE((*back.list())[0]->door_id());
}

}  // namespace
}  // namespace pellix
