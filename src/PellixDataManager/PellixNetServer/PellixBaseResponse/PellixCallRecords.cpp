#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallRecords.h"

namespace pellix {

PELLIX_FIELDS(PellixCall,
              pellixField("expiredSeconds", &Self::expiredSeconds_).wire("expired_seconds"),
              pellixField("transactionId", &Self::transactionId_).wire("transaction_id"),
              pellixField("callerList", &Self::callerList_).wire("sip_list"),
              pellixField("toRoomId", &Self::toRoomId_).wire("to_room_id"))

PELLIX_FIELDS(PellixRoomCallDisturbInfo,
              pellixField("app_status", &Self::app_status_),
              pellixField("call_status", &Self::call_status_),
              pellixField("room_id", &Self::room_id_))

PELLIX_FIELDS(PellixCallDisturbInfo,
              pellixField("app_status", &Self::app_status_),
              pellixField("call_status", &Self::call_status_),
              pellixField("room_disturb_list", &Self::room_disturb_list_))

PELLIX_FIELDS(PellixRoomDisturbSettingResult,
              pellixField("app_status", &Self::app_status_).wire("disturb_status"),
              pellixField("call_status", &Self::call_status_))

PELLIX_FIELDS(PellixDisturbSettingResult,
              pellixField("app_status", &Self::app_status_).wire("disturb_status"),
              pellixField("call_status", &Self::call_status_))

PELLIX_FIELDS(PellixEntityCardInfo,
              pellixField("dep_name", &Self::dep_name_),
              pellixField("owner_name", &Self::owner_name_),
              pellixField("start_time", &Self::start_time_),
              pellixField("end_time", &Self::end_time_),
              pellixField("status_code", &Self::status_code_),
              pellixField("status_info", &Self::status_info_),
              pellixField("card_number", &Self::card_number_),
              pellixField("card_type", &Self::card_type_),
              pellixField("card_type_info", &Self::card_type_info_),
              pellixField("remark", &Self::remark_),
              pellixField("memo", &Self::memo_))

PELLIX_FIELDS(PellixOwnMobile, pellixField("mobile_no", &Self::mobile_no_))

PELLIX_FIELDS(PellixCallTranferMobile, pellixField("numbers", &Self::numbers_))

}  // namespace pellix
