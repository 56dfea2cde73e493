// Classification of an incoming call from its caller id and "X-room-no".
#include <gtest/gtest.h>

#include "PellixSipCallManager/PellixIncomingCallClass.h"

namespace pellix {
namespace {

TEST(IncomingCallClassTest, CallerDigitAndRoomHeaderDecideTypeRoomAndMedia) {
    using Headers = std::map<std::string, std::string>;
    struct Case {
        const char* caller;
        Headers headers;
        bool engineVideo;
        std::int64_t type;
        std::optional<std::string> room;
        std::int64_t media;
    };
    const std::optional<std::string> none;
    const Case cases[] = {
        {"20001", {{"X-room-no", "a1203"}}, true, 2, "1203", 1},
        {"20001", {{"X-room-no", "1203"}}, false, 2, "1203", 2},
        {"30001", {}, true, 3, none, 1},                             // no header: audio whatever the engine says
        {"30001", {{"X-room-no", ""}}, true, 3, "", 1},
        {"30001", {{"X-room-no", "a"}}, true, 3, "a", 1},            // a bare "a" stays
        {"20001", {{"X-Other", "1203"}}, true, 2, none, 1},
        {"20001", {{"X-room-no", "\xff\xfe" "12"}}, true, 2, none, 1},  // not UTF-8: absent
        {"20001", {{"X-room-no", "\xe6\xa5\xbc" "12"}}, false, 2, "\xe6\xa5\xbc" "12", 2},
        {"10001", {{"X-room-no", "1203"}}, true, 1, none, 2},        // type 1 keeps the engine's flag
        {"10001", {}, false, 1, none, 1},
        {"90001", {{"X-room-no", "a1"}}, true, 9, none, 2},
        {"00001", {}, true, 0, none, 2},
        {"alice", {}, false, 0, none, 1},
        {"", {}, true, 0, none, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caller);
        const auto got = classifyIncomingCall(c.caller, c.headers, c.engineVideo);
        EXPECT_EQ(got.incomingCallType, c.type);
        EXPECT_EQ(got.roomName, c.room);
        EXPECT_EQ(got.mediaCallType, c.media);
    }
}

}  // namespace
}  // namespace pellix
