#include "PellixDataManager/PellixNetServer/RequestParams/PellixEstateParams.h"

namespace pellix {

PELLIX_FIELDS(PellixEstateDepartmentSearchParam,
              pellixField("keyword", &Self::keyword_).required(),
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_))

PELLIX_FIELDS(PellixEstateCityParam,
              pellixField("keyword", &Self::keyword_),
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_))

PELLIX_FIELDS(PellixEstateDepartmentListParam,
              pellixField("city_id", &Self::city_id_).required(),
              pellixField("keyword", &Self::keyword_),
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_))

PELLIX_FIELDS(PellixEstateBuildingUnitParam,
              pellixField("dep_id", &Self::dep_id_).required(),
              pellixField("keyword", &Self::keyword_),
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_))

PELLIX_FIELDS(PellixEstateRoomNumberParam,
              pellixField("unit_id", &Self::unit_id_).required(),
              pellixField("keyword", &Self::keyword_),
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_))

PELLIX_FIELDS(PellixSelfAuthRecordParam,
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_))

PELLIX_FIELDS(PellixSelfAuthApplyParam,
              pellixField("room_number_id", &Self::room_number_id_).required(),
              pellixField("city_id", &Self::city_id_).required(),
              pellixField("dep_id", &Self::dep_id_).required(),
              pellixField("real_name", &Self::real_name_).required(),
              pellixField("mobile_no", &Self::mobile_no_).required(),
              pellixField("self_help_status", &Self::self_help_status_).required(),
              pellixField("auth_type", &Self::auth_type_).required(),
              pellixField("card_img1", &Self::card_img1_).required(),
              pellixField("card_img2", &Self::card_img2_).required(),
              pellixField("card_img3", &Self::card_img3_).required(),
              pellixField("card_no", &Self::card_no_).required(),
              pellixField("card_name", &Self::card_name_).required(),
              pellixField("nation", &Self::nation_).required(),
              pellixField("address", &Self::address_).required(),
              pellixField("government", &Self::government_).required(),
              pellixField("validity", &Self::validity_).required(),
              pellixField("nation_code", &Self::nation_code_).required())

}  // namespace pellix
