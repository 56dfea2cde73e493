// API records filled from arbitrary JSON: every response record from the
// object (directly and as an envelope's "data"), the MQTT records the way
// their handler makes them, the archivable records through their archive
// form, the identity-card checks, and every parameter record with each of
// its fields set from the object's values. Nothing may crash, and what the
// records report must be consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAllResponse.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixAllRequestParam.h"
#include "PellixLog/PellixLog.h"
#include "platform/JSON.h"

using namespace pellix;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

const std::vector<PellixBodyType>& responseClasses() {
    static const std::vector<PellixBodyType> classes = {
        PellixRecordClass::of<PellixEstateTopicRoom>(), PellixRecordClass::of<PellixRoomInfo>(),
        PellixRecordClass::of<PellixCommunityInfo>(), PellixRecordClass::of<PellixKeyList>(),
        PellixRecordClass::of<PellixKeyInfo>(), PellixRecordClass::of<PellixCommunityNotice>(),
        PellixRecordClass::of<PellixVistorHistoryInfo>(), PellixRecordClass::of<PellixDoorPassword>(),
        PellixRecordClass::of<PellixDoorPwdStatue>(), PellixRecordClass::of<PellixOpenDoorPwd>(),
        PellixRecordClass::of<PellixOpenDoorPasswordDetail>(), PellixRecordClass::of<PellixOpenDoorDoorStatus>(),
        PellixRecordClass::of<PellixCall>(), PellixRecordClass::of<PellixCallDisturbInfo>(),
        PellixRecordClass::of<PellixRoomCallDisturbInfo>(), PellixRecordClass::of<PellixRoomDisturbSettingResult>(),
        PellixRecordClass::of<PellixDisturbSettingResult>(), PellixRecordClass::of<PellixEntityCardInfo>(),
        PellixRecordClass::of<PellixOwnMobile>(), PellixRecordClass::of<PellixCallTranferMobile>(),
        PellixRecordClass::of<PellixCallTransfer>(), PellixRecordClass::of<PellixAuthorizeListInfo>(),
        PellixRecordClass::of<PellixAuthorizeInfo>(), PellixRecordClass::of<PellixPropertyPublishInfo>(),
        PellixRecordClass::of<PellixPropertyMessage>(), PellixRecordClass::of<PellixPropertyNotice>(),
        PellixRecordClass::of<PellixAuthorizationChange>(), PellixRecordClass::of<PellixEstateDepartmentSearch>(),
        PellixRecordClass::of<PellixEstateCity>(), PellixRecordClass::of<PellixEstateDepartment>(),
        PellixRecordClass::of<PellixEstateBuildingUnit>(), PellixRecordClass::of<PellixEstateRoomNumber>(),
        PellixRecordClass::of<PellixSelfAuthRecord>(), PellixRecordClass::of<PellixOCRIdentifyCardSideFront>(),
        PellixRecordClass::of<PellixOCRIdentifyCardSideBack>(),
    };
    return classes;
}

template <class T>
std::shared_ptr<PellixBaseRequestParam> param() {
    return std::make_shared<T>();
}

const std::vector<std::function<std::shared_ptr<PellixBaseRequestParam>()>>& paramClasses() {
    static const std::vector<std::function<std::shared_ptr<PellixBaseRequestParam>()>> classes = {
        param<PellixTokenParam>, param<PellixRegisterParam>, param<PellixInitUserInfoParam>,
        param<PellixBindPushTokenParam>, param<PellixProprietorMobileParam>, param<PellixSetCallTransferParam>,
        param<PellixCallTransferMobilesParam>, param<PellixSetCallRoomDisturb>, param<PellixGetKeyParam>,
        param<PellixOpenDoorWithSecretParam>, param<PellixOpenDoorPasswordDetailParam>,
        param<PellixGetCommunityNoticeListParam>, param<PellixGetRoomVistorHistoryParam>, param<PellixAddAuthParam>,
        param<PellixGetAuthParam>, param<PellixPropertyPublishParam>, param<PellixEstateCityParam>,
        param<PellixEstateRoomNumberParam>, param<PellixSelfAuthRecordParam>, param<PellixSelfAuthApplyParam>,
        param<PellixPushParam>, param<PellixUserInfoParam>, param<PellixUserRoomsParam>, param<PellixOperateRecordParam>,
        param<PellixCallPhoto>, param<PellixCallParam>,
    };
    return classes;
}

// Archive form read back must archive to the same form.
template <class T>
void roundTrip(const PellixBaseModel& record) {
    const platform::Dictionary archive = record.encodeWithCoder();
    T back;
    back.initWithCoder(archive);
    check(back.encodeWithCoder() == archive);
}

void fillParams(const platform::Dictionary& object) {
    for (const auto& make : paramClasses()) {
        auto record = make();
        for (auto* t = &record->fieldTable(); t; t = t->parent()) {
            for (const auto& f : t->ownFields()) {
                if (const platform::Value* v = object.find(f.key)) f.assign(*record, *v);
            }
        }
        const platform::Dictionary params = record->buildRequestParam();
        const bool complete = record->isParamsComplete();
        (void)complete;
        check(record->buildRequestParam() == params);
        check(record->buildRequestPath().has_value());
    }
}

}  // namespace

// The undefined-key log line is covered by the tests; here it would only
// slow the run down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PellixLog::disableLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = platform::JSON::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed) return 0;
    const platform::Value& value = *parsed;

    for (PellixBodyType cls : responseClasses()) {
        // As an envelope whose "data" is the input (object, array or anything).
        platform::Dictionary envelope;
        envelope.set("code", 200);
        envelope.set("data", value);
        auto response = PellixBaseResponse::make(platform::Value(envelope), cls);
        check(response->body().has_value());
        for (const auto& item : *response->body()) check(item && item->className() == cls->name());

        // The way the MQTT handler makes its records: the object as the envelope.
        auto self = PellixBaseResponse::make(value, cls);
        if (!value.dictionaryIf()) check(self->code() == 500);
    }

    const platform::Dictionary* object = value.dictionaryIf();
    if (!object) return 0;
    for (PellixBodyType cls : responseClasses()) {
        auto record = cls->create(*object);
        check(record->copy().get() == record.get());
    }
    roundTrip<PellixRoomInfo>(*PellixBaseModel::make<PellixRoomInfo>(*object));
    roundTrip<PellixKeyInfo>(*PellixBaseModel::make<PellixKeyInfo>(*object));
    roundTrip<PellixKeyList>(*PellixBaseModel::make<PellixKeyList>(*object));

    auto front = PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(*object);
    if (front->checkValue()) check(front->type() == 1 && front->name() && front->race());
    auto back = PellixBaseModel::make<PellixOCRIdentifyCardSideBack>(*object);
    if (back->checkValue()) check(back->type() == 1 && back->issued_by() && back->valid_date());

    fillParams(*object);
    return 0;
}
