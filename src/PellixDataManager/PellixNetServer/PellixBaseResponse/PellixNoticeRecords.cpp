#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixNoticeRecords.h"

namespace pellix {

PELLIX_FIELDS(PellixCommunityNotice,
              pellixField("notice_id", &Self::notice_id_),
              pellixField("title", &Self::title_),
              pellixField("content", &Self::content_),
              pellixField("content_remark", &Self::content_remark_),
              pellixField("publisher", &Self::publisher_),
              pellixField("is_urgent", &Self::is_urgent_),
              pellixField("is_top", &Self::is_top_),
              pellixField("add_time", &Self::add_time_),
              pellixField("is_system", &Self::is_system_),
              pellixField("dep_name", &Self::dep_name_))

PELLIX_FIELDS(PellixVistorHistoryInfo,
              pellixField("recordId", &Self::recordId_).wire("id"),
              pellixField("open_type", &Self::open_type_),
              pellixField("open_type_info", &Self::open_type_info_),
              pellixField("des", &Self::des_).wire("description"),
              pellixField("thumbnail_url", &Self::thumbnail_url_),
              pellixField("img_url", &Self::img_url_),
              pellixField("is_connect", &Self::is_connect_),
              pellixField("timestamp", &Self::timestamp_),
              pellixField("room_id", &Self::room_id_),
              pellixField("door_guid", &Self::door_guid_),
              pellixField("date", &Self::date_),
              pellixField("time", &Self::time_),
              pellixField("user_name", &Self::user_name_),
              pellixField("door_name", &Self::door_name_),
              pellixField("owner_type", &Self::owner_type_))

}  // namespace pellix
