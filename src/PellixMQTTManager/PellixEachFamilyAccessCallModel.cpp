#include "PellixMQTTManager/PellixEachFamilyAccessCallModel.h"

#include "PellixMQTTManager/PellixDoorCallModel.h"

namespace pellix {

namespace {

void mediaCallTypeRule(std::int64_t& field, const platform::Value& value) {
    if (!value.isNull()) field = value.intValue() == 1 ? 2 : 1;
}

}  // namespace

PELLIX_FIELDS(PellixEachFamilyAccessCallModel,
              pellixField("callType", &Self::callType_).wire("incomingType").rule(pellixIncomingTypeRule),
              pellixField("mediaCallType", &Self::mediaCallType_).wire("callType").rule(mediaCallTypeRule),
              pellixField("roomID", &Self::roomID_),
              pellixField("roomName", &Self::roomName_),
              pellixField("appCallerNO", &Self::appCallerNO_).wire("appSipNO"),
              pellixField("remoteRoomID", &Self::remoteRoomID_))

bool PellixEachFamilyAccessCallModel::checkDataInvalid() const {
    const auto filled = PellixFieldCodec<PellixText>::isFilled;
    return roomID_.has_value() && filled(appCallerNO_) && filled(remoteRoomID_);
}

}  // namespace pellix
