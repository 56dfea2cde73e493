// A property notice whose "data" is not an object still reaches the host, as
// a record that says so; other commands with such data stay refused.
#include <gtest/gtest.h>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

TEST(NoticeData, ANoticeWithDataThatIsNotAnObjectIsReportedAsAFormatError) {
    const struct {
        const char* what;
        std::string payload;
        std::int64_t type;
        std::int64_t code;  // of the notice record; 0: no record
    } rows[] = {
        {"notice, data null", R"({"cmd":"notice","transactionID":"t","data":null})", 4, 500},
        {"notice, data an array", R"({"cmd":"notice","transactionID":"t","data":[{"title":"x"}]})", 4, 500},
        {"notice, data text", R"({"cmd":"notice","transactionID":"t","data":"{\"title\":\"x\"}"})", 4, 500},
        {"notice, data a number", R"({"cmd":"notice","transactionID":"t","data":7})", 4, 500},
        {"notice, data an object", R"({"cmd":"notice","transactionID":"t","data":{"title":"Water"}})", 4, 0},
        // Only the data's shape is forgiven.
        {"notice, transactionID a number", R"({"cmd":"notice","transactionID":1,"data":null})", 0, 0},
        {"notice, no data", R"({"cmd":"notice","transactionID":"t"})", 0, 0},
        {"auth_expires, data an array", R"({"cmd":"auth_expires","transactionID":"t","data":[]})", 0, 0},
        {"makeCall, data null", R"({"cmd":"makeCall","transactionID":"t","data":null})", 0, 0},
        {"hangUpCall, data text", R"({"cmd":"hangUpCall","transactionID":"t","data":"x"})", 0, 0},
    };
    auto handler = PellixMqttMessageHandle::sharedInstance();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        handler->clearTransaction();
        int calls = 0;
        std::int64_t type = -1;
        std::shared_ptr<PellixBaseModel> object;
        handler->handleMessageWithMqttPayload(platform::Bytes(row.payload.begin(), row.payload.end()),
                                              [&](std::int64_t t, std::shared_ptr<PellixBaseModel> o) {
                                                  ++calls;
                                                  type = t;
                                                  object = std::move(o);
                                              });
        ASSERT_EQ(calls, 1);
        EXPECT_EQ(type, row.type);
        if (row.type != 4) {
            EXPECT_EQ(object, nullptr);
            continue;
        }
        auto notice = std::dynamic_pointer_cast<PellixPropertyNotice>(object);
        ASSERT_NE(notice, nullptr);
        if (row.code == 500) {
            EXPECT_EQ(notice->code(), 500);
            EXPECT_EQ(notice->message(), PellixText("数据格式错误"));
        } else {
            EXPECT_NE(notice->code(), 500);
            EXPECT_EQ(notice->title(), PellixText("Water"));
        }
    }
    handler->clearTransaction();
}

}  // namespace
}  // namespace pellix
