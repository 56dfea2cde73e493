// PellixEachFamilyAccessCallModel: a call from another room of the family.
//
// Wire keys that land under other names: "appSipNO" -> appCallerNO,
// "incomingType" -> callType (0, 1, or -1 for any other value), "callType" ->
// mediaCallType (2 audio and video when the wire value is 1, otherwise 1
// audio only; 0 until a value is seen). Text fields follow the rules of
// PellixDoorCallModel; a JSON null counts as absent.
//
// Thread safety: a plain record with one owner at a time.
#pragma once

#include <cstdint>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"

namespace pellix {

class PellixEachFamilyAccessCallModel : public PellixBaseModel {
    PELLIX_RECORD(PellixEachFamilyAccessCallModel, PellixBaseModel)
    PELLIX_PROPERTY(std::int64_t, callType, setCallType)
    PELLIX_PROPERTY(std::int64_t, mediaCallType, setMediaCallType)
    PELLIX_PROPERTY(PellixText, roomID, setRoomID)
    PELLIX_PROPERTY(PellixText, roomName, setRoomName)
    PELLIX_PROPERTY(PellixText, appCallerNO, setAppCallerNO)
    PELLIX_PROPERTY(PellixText, remoteRoomID, setRemoteRoomID)

public:
    // YES when usable: a calling room (empty allowed), a non-empty caller
    // number and a non-empty called room.
    bool checkDataInvalid() const;
};

}  // namespace pellix
