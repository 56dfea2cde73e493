#include "PellixSipCallManager/PellixIncomingCallClass.h"

#include "PellixSipCallManager/PellixSipCallDelegate.h"
#include "platform/Value.h"

namespace pellix {

PellixIncomingCallClass classifyIncomingCall(const std::string& callerID,
                                             const std::map<std::string, std::string>& headers, bool engineVideo) {
    PellixIncomingCallClass result;
    result.mediaCallType = engineVideo ? PellixMediaCallTypeVideo : PellixMediaCallTypeAudio;
    if (callerID.empty()) return result;
    const char first = callerID.front();
    if (first < '1' || first > '9') return result;
    result.incomingCallType = first - '0';
    if (result.incomingCallType != 2 && result.incomingCallType != 3) return result;

    const auto header = headers.find("X-room-no");
    if (header != headers.end() && platform::isValidUTF8(header->second)) result.roomName = header->second;
    if (!result.roomName || result.roomName->empty()) {
        result.mediaCallType = PellixMediaCallTypeAudio;
        return result;
    }
    std::string& room = *result.roomName;
    if (room.front() == 'a') {
        result.mediaCallType = PellixMediaCallTypeAudio;
        if (room.size() > 1) room.erase(0, 1);
    } else {
        result.mediaCallType = PellixMediaCallTypeVideo;
    }
    return result;
}

}  // namespace pellix
