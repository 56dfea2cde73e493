#include "PellixDataManager/PellixNetServer/RequestParams/PellixNoticeParams.h"

namespace pellix {

PELLIX_FIELDS(PellixGetCommunityNoticeListParam,
              pellixField("start_page", &Self::start_page_).required(),
              pellixField("page_no", &Self::page_no_).required(),
              pellixField("room_id", &Self::room_id_))

PELLIX_FIELDS(PellixGetNoticeDetailParam, pellixField("notice_id", &Self::notice_id_).required())

PELLIX_FIELDS(PellixGetVistorHistoryParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("open_type", &Self::open_type_).required(),
              pellixField("start_page", &Self::start_page_).required(),
              pellixField("page_no", &Self::page_no_).required())

PELLIX_FIELDS(PellixGetRoomVistorHistoryParam)

}  // namespace pellix
