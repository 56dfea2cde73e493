#include "PellixMQTTManager/PellixDoorCallModel.h"

namespace pellix {

void pellixIncomingTypeRule(std::int64_t& field, const platform::Value& value) {
    if (value.isNull()) return;
    const std::int64_t type = value.intValue();
    field = type == 0 || type == 1 ? type : -1;
}

PELLIX_FIELDS(PellixDoorCallModel,
              pellixField("callType", &Self::callType_).wire("incomingType").rule(pellixIncomingTypeRule),
              pellixField("doorName", &Self::doorName_),
              pellixField("doorCallerNO", &Self::doorCallerNO_).wire("doorSipNO"),
              pellixField("doorGuid", &Self::doorGuid_),
              pellixField("doorID", &Self::doorID_),
              pellixField("appRoomID", &Self::appRoomID_))

bool PellixDoorCallModel::checkDataInvalid() const {
    const auto filled = PellixFieldCodec<PellixText>::isFilled;
    return filled(doorName_) && doorCallerNO_.has_value() && filled(doorGuid_) && filled(appRoomID_);
}

}  // namespace pellix
