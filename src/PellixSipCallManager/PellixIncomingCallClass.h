// How an incoming call is classified from its caller id and SIP headers.
//
// Incoming type: the caller id's first character as a digit 1-9, else 0.
// Door-station callers (types 2 and 3) carry their room in "X-room-no"; a
// leading "a" there marks an audio-only call and is not part of the room
// (a bare "a" stays the room name). For them the header, not the engine's
// video flag, decides the media: no usable header means audio. A header
// value that is not valid UTF-8 counts as absent. Other types keep the
// engine's video flag and have no room name.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace pellix {

struct PellixIncomingCallClass {
    std::int64_t incomingCallType = 0;
    std::optional<std::string> roomName;
    std::int64_t mediaCallType = 1;  // PellixMediaCallType
};

PellixIncomingCallClass classifyIncomingCall(const std::string& callerID,
                                             const std::map<std::string, std::string>& headers, bool engineVideo);

}  // namespace pellix
