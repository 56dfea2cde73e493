#include "PellixDataManager/PellixDataManagerOperations.h"

#include <algorithm>

#include "PellixDataManager/PellixNetServer/RequestParams/PellixAllRequestParam.h"
#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixOperation.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/Value.h"

namespace pellix {

namespace {

using Ops = PellixDataManagerOperations;
using Kind = PellixResultKind;
constexpr auto Gated = PellixGate::Checked;
constexpr auto Ungated = PellixGate::Unchecked;

// One line per operation: record, response class, result, gate.
using TransferNumberOp = PellixOperation<PellixCallTransferParam, PellixCallTransfer, Kind::Record, Gated>;
using SetTransferNumberOp = PellixOperation<PellixSetCallTransferParam, void, Kind::Flag, Gated>;
using CommunityListOp = PellixOperation<PellixMyCommunityParam, PellixRoomInfo, Kind::List, Ungated>;
using RoomListOp = PellixOperation<PellixGetRoomParam, PellixEstateTopicRoom, Kind::Special, Ungated>;
using KeyListOp = PellixOperation<PellixGetKeyParam, PellixKeyList, Kind::Record, Gated>;
using KeySortOp = PellixOperation<PellixSetKeySortParam, PellixKeyInfo, Kind::Flag, Gated>;
using KeyAliasOp = PellixOperation<PellixCustomKeyNameParam, PellixKeyInfo, Kind::Flag, Gated>;
using NoticeListOp = PellixOperation<PellixGetCommunityNoticeListParam, PellixCommunityNotice, Kind::List, Ungated>;
using NoticeDetailOp = PellixOperation<PellixGetNoticeDetailParam, PellixCommunityNotice, Kind::Record, Gated>;
using UserVisitorsOp = PellixOperation<PellixGetVistorHistoryParam, PellixVistorHistoryInfo, Kind::List, Gated>;
using RoomVisitorsOp = PellixOperation<PellixGetRoomVistorHistoryParam, PellixVistorHistoryInfo, Kind::List, Gated>;
using OpenDoorOp = PellixOperation<PellixOpenDoorWithAppKeyParam, void, Kind::Flag, Gated>;
using DoorPasswordOp = PellixOperation<PellixOpenDoorWithSecretParam, PellixDoorPassword, Kind::Record, Gated>;
using DoorPasswordListOp = PellixOperation<PellixOpenDoorPasswordListParam, PellixOpenDoorPwd, Kind::List, Gated>;
using DoorPasswordDetailOp =
    PellixOperation<PellixOpenDoorPasswordDetailParam, PellixOpenDoorPasswordDetail, Kind::Record, Gated>;
using DisturbInfoOp = PellixOperation<PellixGetCallDisturb, PellixCallDisturbInfo, Kind::Record, Ungated>;
using RoomDisturbOp = PellixOperation<PellixSetCallRoomDisturb, PellixRoomDisturbSettingResult, Kind::Record, Gated>;
using AllDisturbOp = PellixOperation<PellixSetCallDisturb, PellixDisturbSettingResult, Kind::Record, Gated>;
using EntityCardsOp = PellixOperation<PellixEntityCardParam, PellixEntityCardInfo, Kind::List, Gated>;
using AddAuthOp = PellixOperation<PellixAddAuthParam, void, Kind::Flag, Gated>;
using ModifyAuthOp = PellixOperation<PellixModifyAuthParam, void, Kind::Flag, Gated>;
using DeleteAuthOp = PellixOperation<PellixDeleteAuthParam, void, Kind::Flag, Gated>;
using StopAuthOp = PellixOperation<PellixStopAuthParam, void, Kind::Flag, Gated>;
using AuthListOp = PellixOperation<PellixGetAuthParam, PellixAuthorizeListInfo, Kind::Record, Gated>;
using PropertyHistoryOp = PellixOperation<PellixGetPropertyPublishParam, PellixPropertyPublishInfo, Kind::List, Gated>;
using DepartmentSearchOp =
    PellixOperation<PellixEstateDepartmentSearchParam, PellixEstateDepartmentSearch, Kind::List, Gated>;
using CityOp = PellixOperation<PellixEstateCityParam, PellixEstateCity, Kind::List, Ungated>;
using DepartmentListOp = PellixOperation<PellixEstateDepartmentListParam, PellixEstateDepartment, Kind::List, Gated>;
using BuildingUnitOp = PellixOperation<PellixEstateBuildingUnitParam, PellixEstateBuildingUnit, Kind::List, Gated>;
using RoomNumberOp = PellixOperation<PellixEstateRoomNumberParam, PellixEstateRoomNumber, Kind::List, Gated>;
using SelfAuthRecordOp = PellixOperation<PellixSelfAuthRecordParam, PellixSelfAuthRecord, Kind::List, Gated>;
using OwnerMobileOp = PellixOperation<PellixProprietorMobileParam, PellixOwnMobile, Kind::Special, Gated>;
using TransferMobilesOp = PellixOperation<PellixCallTransferMobilesParam, PellixCallTranferMobile, Kind::Special, Ungated>;

constexpr const char* kDefaultNationCode = "86";
constexpr const char* kDefaultOpenType = "2";
constexpr const char* kDefaultStartPage = "1";
constexpr const char* kDefaultPageSize = "20";

template <class T>
Ops::List<T> bodyList(const std::shared_ptr<PellixBaseResponse>& response) {
    if (!response || !response->body()) return std::nullopt;
    return response->bodyRecords<T>();
}

template <class T>
std::shared_ptr<T> firstRecord(const std::shared_ptr<PellixBaseResponse>& response) {
    if (!response || !response->body() || response->body()->empty()) return nullptr;
    return std::dynamic_pointer_cast<T>(response->body()->front());
}

template <class Op>
void runList(const std::shared_ptr<typename Op::Record>& record, Ops::ListCompletion<typename Op::Body> completion) {
    static_assert(Op::kResult == Kind::List);
    pellixPerform<Op>(
        record,
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            if (completion) completion(bodyList<typename Op::Body>(response), nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(std::nullopt, error);
        });
}

template <class Op>
void runRecord(const std::shared_ptr<typename Op::Record>& record,
               Ops::RecordCompletion<typename Op::Body> completion) {
    static_assert(Op::kResult == Kind::Record);
    pellixPerform<Op>(
        record,
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            if (completion) completion(firstRecord<typename Op::Body>(response), nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(nullptr, error);
        });
}

template <class Op>
void runFlag(const std::shared_ptr<typename Op::Record>& record, Ops::FlagCompletion completion) {
    static_assert(Op::kResult == Kind::Flag);
    pellixPerform<Op>(
        record,
        [completion](const std::shared_ptr<PellixBaseResponse>&) {
            if (completion) completion(true, nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(false, error);
        });
}

// "%ld" of a page value.
std::string pageText(std::uint64_t value) { return std::to_string(static_cast<long>(value)); }

platform::Value pageNumber(std::uint64_t value) { return platform::Value(value); }

PellixText orDefault(const PellixText& text, const char* fallback) { return text ? text : PellixText(fallback); }

// The topics are unchanged only when both lists are non-empty, equally long,
// and every new topic is among the stored ones.
bool sameTopics(const PellixTextList& stored, const PellixTextList& fresh) {
    if (!stored || stored->empty() || !fresh || fresh->empty()) return false;
    if (stored->size() != fresh->size()) return false;
    for (const std::string& topic : *fresh) {
        if (std::find(stored->begin(), stored->end(), topic) == stored->end()) return false;
    }
    return true;
}

void syncRoomTopics(const PellixTextList& topics) {
    const auto& store = PellixProxyInfo::sharedInstance();
    std::shared_ptr<PellixInitUserInfo> user = store->userInfo();
    if (!user || sameTopics(user->topic(), topics)) return;
    user->setTopic(topics);
    store->setUserInfo(user);
    PellixDataManagerHooks::current().resubscribeTopics(user->topic());
}

std::vector<std::string> splitAtCommas(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

template <class Op>
void visitorHistory(const PellixText& roomId, std::uint64_t openType, std::uint64_t startPage, std::uint64_t pageSize,
                    Ops::ListCompletion<PellixVistorHistoryInfo> completion) {
    auto record = Op::makeRecord();
    record->setRoom_id(roomId);
    record->setStart_page(pageText(startPage));
    record->setPage_no(pageText(pageSize));
    record->setOpen_type(pageText(openType));
    runList<Op>(record, std::move(completion));
}

// The estate look-ups share their shape: a key field, a keyword and pages as numbers.
template <class Op, class SetKey>
void estateLookUp(const PellixText& keyword, std::uint64_t startPage, std::uint64_t pageSize, SetKey setKey,
                  Ops::ListCompletion<typename Op::Body> completion) {
    auto record = Op::makeRecord();
    setKey(*record);
    record->setKeyword(keyword);
    record->setStart_page(pageNumber(startPage));
    record->setPage_no(pageNumber(pageSize));
    runList<Op>(record, std::move(completion));
}

}  // namespace

void Ops::getUserTransferNumberWithRoomId(const PellixText& roomId, RecordCompletion<PellixCallTransfer> completion) {
    auto record = TransferNumberOp::makeRecord();
    record->setRoom_id(roomId);
    runRecord<TransferNumberOp>(record, std::move(completion));
}

void Ops::setUserTransferNumberWithRoomId(const PellixText& roomId, const PellixText& mobile,
                                          const PellixText& nationCode, FlagCompletion completion) {
    auto record = SetTransferNumberOp::makeRecord();
    record->setRoom_id(roomId);
    record->setMobile(mobile);
    record->setNation_code(nationCode);
    if (!record->nation_code() || record->nation_code()->empty()) record->setNation_code(kDefaultNationCode);
    runFlag<SetTransferNumberOp>(record, std::move(completion));
}

void Ops::getUserCommunityListWithCompletion(ListCompletion<PellixRoomInfo> completion) {
    runList<CommunityListOp>(CommunityListOp::makeRecord(), std::move(completion));
}

void Ops::getUserRoomListWithCompletion(ListCompletion<PellixRoomInfo> completion) {
    pellixPerform<RoomListOp>(
        RoomListOp::makeRecord(),
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            auto rooms = firstRecord<PellixEstateTopicRoom>(response);
            List<PellixRoomInfo> list;
            PellixTextList topics;
            if (rooms) {
                list = rooms->list();
                topics = rooms->topic();
            }
            // The host hears first; the topics follow. An answer that brings
            // no topic list says nothing about them: taking it as "no rooms"
            // would drop every subscription and the resident's door calls.
            if (completion) completion(list, nullptr);
            if (topics) syncRoomTopics(topics);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void Ops::getUserKeyListWithRoomId(const PellixText& roomId, RecordCompletion<PellixKeyList> completion) {
    auto record = KeyListOp::makeRecord();
    record->setRoom_numer_id(roomId);
    runRecord<KeyListOp>(record, std::move(completion));
}

void Ops::setUserKeysSortWithRoomId(const PellixText& roomId, const PellixText& doorIds, FlagCompletion completion) {
    auto record = KeySortOp::makeRecord();
    record->setRoom_number_id(roomId);
    record->setDoor_id(doorIds);
    runFlag<KeySortOp>(record, std::move(completion));
}

void Ops::setUserKeypackageAliasWithDoorId(const PellixText& doorId, const PellixText& alias,
                                           FlagCompletion completion) {
    auto record = KeyAliasOp::makeRecord();
    record->setAlias(alias);
    record->setDoor_id(doorId);
    runFlag<KeyAliasOp>(record, std::move(completion));
}

void Ops::getCommunityNoticeListWithStartPage(std::uint64_t startPage, std::uint64_t pageSize,
                                              ListCompletion<PellixCommunityNotice> completion) {
    getCommunityNoticeListWithRoomId(std::nullopt, startPage, pageSize, std::move(completion));
}

void Ops::getCommunityNoticeListWithRoomId(const PellixText& roomId, std::uint64_t startPage, std::uint64_t pageSize,
                                           ListCompletion<PellixCommunityNotice> completion) {
    auto record = NoticeListOp::makeRecord();
    record->setStart_page(pageText(startPage));
    record->setPage_no(pageText(pageSize));
    record->setRoom_id(roomId);
    runList<NoticeListOp>(record, std::move(completion));
}

void Ops::getNoticeDetailWithNoticeId(const PellixText& noticeId, RecordCompletion<PellixCommunityNotice> completion) {
    auto record = NoticeDetailOp::makeRecord();
    record->setNotice_id(noticeId);
    runRecord<NoticeDetailOp>(record, std::move(completion));
}

void Ops::getUserVistorsHistoryWithRoomId(const PellixText& roomId, std::uint64_t openType, std::uint64_t startPage,
                                          std::uint64_t pageSize, ListCompletion<PellixVistorHistoryInfo> completion) {
    visitorHistory<UserVisitorsOp>(roomId, openType, startPage, pageSize, std::move(completion));
}

void Ops::getRoomVistorsHistoryWithRoomId(const PellixText& roomId, std::uint64_t openType, std::uint64_t startPage,
                                          std::uint64_t pageSize, ListCompletion<PellixVistorHistoryInfo> completion) {
    visitorHistory<RoomVisitorsOp>(roomId, openType, startPage, pageSize, std::move(completion));
}

void Ops::openDoorWithRoomId(const PellixText& roomId, const PellixText& doorId, FlagCompletion completion) {
    openDoorWithRoomId(roomId, doorId, std::nullopt, std::move(completion));
}

void Ops::openDoorWithRoomId(const PellixText& roomId, const PellixText& doorId, const PellixText& openType,
                             FlagCompletion completion) {
    auto record = OpenDoorOp::makeRecord();
    record->setRoom_id(roomId);
    record->setDoor_id(doorId);
    const bool oneCharacter = openType && platform::utf16Length(*openType) == 1;
    record->setOpen_type(oneCharacter ? openType : PellixText(kDefaultOpenType));
    runFlag<OpenDoorOp>(record, std::move(completion));
}

void Ops::getDoorPasswordWithRoomId(const PellixText& roomId, RecordCompletion<PellixDoorPassword> completion) {
    auto record = DoorPasswordOp::makeRecord();
    record->setRoom_id(roomId);
    runRecord<DoorPasswordOp>(record, std::move(completion));
}

void Ops::getDoorPasswordListWithRoomId(const PellixText& roomId, ListCompletion<PellixOpenDoorPwd> completion) {
    auto record = DoorPasswordListOp::makeRecord();
    record->setRoom_id(roomId);
    runList<DoorPasswordListOp>(record, std::move(completion));
}

void Ops::getDoorPasswordDetailWithRoomId(const PellixText& roomId, const PellixText& passwordId,
                                          RecordCompletion<PellixOpenDoorPasswordDetail> completion) {
    auto record = DoorPasswordDetailOp::makeRecord();
    record->setRoom_id(roomId);
    record->setPassword_id(passwordId);
    runRecord<DoorPasswordDetailOp>(record, std::move(completion));
}

void Ops::getUserDisturbInfoWithCompletion(RecordCompletion<PellixCallDisturbInfo> completion) {
    runRecord<DisturbInfoOp>(DisturbInfoOp::makeRecord(), std::move(completion));
}

void Ops::setUserRoomDisturbInfoWithRoomId(const PellixText& roomId, const PellixText& appStatus,
                                           const PellixText& callStatus,
                                           RecordCompletion<PellixRoomDisturbSettingResult> completion) {
    auto record = RoomDisturbOp::makeRecord();
    record->setRoom_id(roomId);
    record->setApp_status(appStatus);
    record->setCall_status(callStatus);
    runRecord<RoomDisturbOp>(record, std::move(completion));
}

void Ops::setAllRoomDisturbInfoWithAppStatus(const PellixText& appStatus, const PellixText& callStatus,
                                             RecordCompletion<PellixDisturbSettingResult> completion) {
    auto record = AllDisturbOp::makeRecord();
    record->setDisturb_status(appStatus);
    record->setCall_status(callStatus);
    runRecord<AllDisturbOp>(record, std::move(completion));
}

void Ops::getUserEntityCardsWithRoomId(const PellixText& roomId, ListCompletion<PellixEntityCardInfo> completion) {
    auto record = EntityCardsOp::makeRecord();
    record->setRoom_id(roomId);
    runList<EntityCardsOp>(record, std::move(completion));
}

void Ops::addAuthorizeWithNationCode(const PellixText& nationCode, const PellixText& name, const PellixText& authMobile,
                                     const PellixText& roomId, const PellixText& authType, const PellixText& beginTime,
                                     const PellixText& endTime, FlagCompletion completion) {
    auto record = AddAuthOp::makeRecord();
    record->setRoom_id(roomId);
    record->setName(name);
    record->setNation_code(orDefault(nationCode, kDefaultNationCode));
    record->setAuth_mobile(authMobile);
    record->setAuth_type(authType);
    record->setBegin_time(beginTime);
    record->setEnd_time(endTime);
    runFlag<AddAuthOp>(record, std::move(completion));
}

void Ops::modifyAuthorizeWithName(const PellixText& name, const PellixText& authUserId, const PellixText& roomId,
                                  const PellixText& authType, const PellixText& beginTime, const PellixText& endTime,
                                  FlagCompletion completion) {
    auto record = ModifyAuthOp::makeRecord();
    record->setRoom_id(roomId);
    record->setName(name);
    record->setAuth_user_id(authUserId);
    record->setAuth_type(authType);
    record->setBegin_time(beginTime);
    record->setEnd_time(endTime);
    runFlag<ModifyAuthOp>(record, std::move(completion));
}

void Ops::deleteAuthorizeWithAuthUserId(const PellixText& authUserId, const PellixText& roomId,
                                        FlagCompletion completion) {
    auto record = DeleteAuthOp::makeRecord();
    record->setRoom_id(roomId);
    record->setAuth_user_id(authUserId);
    runFlag<DeleteAuthOp>(record, std::move(completion));
}

void Ops::terminalAuthorizeWithRoomId(const PellixText& roomId, FlagCompletion completion) {
    auto record = StopAuthOp::makeRecord();
    record->setRoom_id(roomId);
    runFlag<StopAuthOp>(record, std::move(completion));
}

void Ops::getAuthorizeListWithRoomId(const PellixText& roomId, const PellixText& startPage, const PellixText& pageSize,
                                     RecordCompletion<PellixAuthorizeListInfo> completion) {
    auto record = AuthListOp::makeRecord();
    record->setRoom_id(roomId);
    record->setStart_page(orDefault(startPage, kDefaultStartPage));
    record->setPage_no(orDefault(pageSize, kDefaultPageSize));
    runRecord<AuthListOp>(record, std::move(completion));
}

void Ops::contactPropertyHistoryWithDepID(const PellixText& depID, const PellixText& startPage,
                                          const PellixText& pageNo,
                                          ListCompletion<PellixPropertyPublishInfo> completion) {
    auto record = PropertyHistoryOp::makeRecord();
    record->setDep_id(depID);
    record->setStart_page(orDefault(startPage, kDefaultStartPage));
    record->setPage_no(orDefault(pageNo, kDefaultPageSize));
    runList<PropertyHistoryOp>(record, std::move(completion));
}

void Ops::getEstateDepartmentSearchWithKeyword(const PellixText& keyword, std::uint64_t startPage,
                                               std::uint64_t pageSize,
                                               ListCompletion<PellixEstateDepartmentSearch> completion) {
    estateLookUp<DepartmentSearchOp>(keyword, startPage, pageSize, [](auto&) {}, std::move(completion));
}

void Ops::getEstateCityWithKeyword(const PellixText& keyword, std::uint64_t startPage, std::uint64_t pageSize,
                                   ListCompletion<PellixEstateCity> completion) {
    estateLookUp<CityOp>(keyword, startPage, pageSize, [](auto&) {}, std::move(completion));
}

void Ops::getEstateDepartmentListWithKeyword(const PellixText& keyword, const PellixText& cityId,
                                             std::uint64_t startPage, std::uint64_t pageSize,
                                             ListCompletion<PellixEstateDepartment> completion) {
    estateLookUp<DepartmentListOp>(
        keyword, startPage, pageSize, [&](auto& r) { r.setCity_id(cityId); }, std::move(completion));
}

void Ops::getEstateBuildingUnitWithKeyword(const PellixText& keyword, const PellixText& depId, std::uint64_t startPage,
                                           std::uint64_t pageSize,
                                           ListCompletion<PellixEstateBuildingUnit> completion) {
    estateLookUp<BuildingUnitOp>(
        keyword, startPage, pageSize, [&](auto& r) { r.setDep_id(depId); }, std::move(completion));
}

void Ops::getEstateRoomNumberWithKeyword(const PellixText& keyword, const PellixText& unitId, std::uint64_t startPage,
                                         std::uint64_t pageSize, ListCompletion<PellixEstateRoomNumber> completion) {
    estateLookUp<RoomNumberOp>(
        keyword, startPage, pageSize, [&](auto& r) { r.setUnit_id(unitId); }, std::move(completion));
}

void Ops::getSelfAuthRecordWithStartPage(std::uint64_t startPage, std::uint64_t pageSize,
                                         ListCompletion<PellixSelfAuthRecord> completion) {
    auto record = SelfAuthRecordOp::makeRecord();
    record->setStart_page(pageNumber(startPage));
    record->setPage_no(pageNumber(pageSize));
    runList<SelfAuthRecordOp>(record, std::move(completion));
}

void Ops::getMobileOfProprietorWithRoomId(const PellixText& roomId, TextListCompletion completion) {
    auto record = OwnerMobileOp::makeRecord();
    record->setRoom_id(roomId);
    pellixPerform<OwnerMobileOp>(
        record,
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            std::vector<std::string> mobiles;
            if (response) {
                for (const auto& owner : response->bodyRecords<PellixOwnMobile>()) {
                    // A record without a number has nothing to add.
                    if (owner->mobile_no()) mobiles.push_back(*owner->mobile_no());
                }
            }
            if (completion) completion(std::move(mobiles), nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void Ops::getCallTransferMobileListWithCompletion(TextListCompletion completion) {
    pellixPerform<TransferMobilesOp>(
        TransferMobilesOp::makeRecord(),
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            auto mobiles = firstRecord<PellixCallTranferMobile>(response);
            std::optional<std::vector<std::string>> numbers;
            if (mobiles && mobiles->numbers()) numbers = splitAtCommas(*mobiles->numbers());
            if (completion) completion(numbers, nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(std::nullopt, error);
        });
}

}  // namespace pellix
