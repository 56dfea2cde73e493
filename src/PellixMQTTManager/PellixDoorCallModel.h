// PellixDoorCallModel: a call from a door station, filled from the "data"
// object of a "makeCall" message.
//
// Wire keys that land under other names: "doorSipNO" -> doorCallerNO,
// "incomingType" -> callType (0 room-to-room, 1 door station, -1 any other
// value; 0 until a value is seen). Text fields take text as is and a number
// as its "%@" text (so "appRoomID": 42 gives "42"); an array or an object
// sent for a text field is refused (field unchanged). A JSON null counts as
// absent everywhere: it sets nothing, so it never becomes the text "<null>"
// (which would turn into a topic "app/room_id/<null>").
//
// incomingImageObjectKey is never on the wire: the command handler sets it.
//
// Thread safety: a plain record with one owner at a time.
#pragma once

#include <cstdint>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"

namespace pellix {

// Fills a call type from "incomingType": 0 and 1 as sent, -1 for any other
// value; null leaves it as it was. Shared by both call records.
void pellixIncomingTypeRule(std::int64_t& field, const platform::Value& value);

class PellixDoorCallModel : public PellixBaseModel {
    PELLIX_RECORD(PellixDoorCallModel, PellixBaseModel)
    PELLIX_PROPERTY(std::int64_t, callType, setCallType)
    PELLIX_PROPERTY(PellixText, doorName, setDoorName)
    PELLIX_PROPERTY(PellixText, doorCallerNO, setDoorCallerNO)
    PELLIX_PROPERTY(PellixText, doorGuid, setDoorGuid)
    PELLIX_PROPERTY(PellixText, doorID, setDoorID)
    PELLIX_PROPERTY(PellixText, appRoomID, setAppRoomID)
    PELLIX_PROPERTY(PellixText, incomingImageObjectKey, setIncomingImageObjectKey)

public:
    // YES when usable (the name notwithstanding): a door name, a door guid
    // and a room, each non-empty, and a door caller number (empty allowed).
    bool checkDataInvalid() const;
};

}  // namespace pellix
