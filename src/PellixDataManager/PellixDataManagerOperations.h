// PellixDataManagerOperations: the platform operations of PellixDataManager
// (which derives from this class, so they are called as
// PellixDataManager::getUserKeyListWithRoomId(...) and so on): call
// transfer, communities and rooms, keys, notices, visitors, doors,
// do-not-disturb, cards, authorisations, property-message history, estate
// look-ups and self-authentication history.
//
// Every operation fills its parameter record from its arguments, applies its
// defaults, and (where the record's completeness gates it) refuses an
// incomplete record at once: the completion is called before the method
// returns, on the calling thread, with error 40400 "参数缺失" and no result,
// and nothing is sent. Otherwise the record goes to PellixNetServices with
// the operation's response record class, and the completion is called once,
// on the main queue, with the result or with the pipeline's error unchanged.
//
// Results: a list is the answer's body (nullopt when it has none), a record
// its first element (null when empty), a flag true on success (the body is
// not looked at). On failure the result is nullopt / null / false.
// A null completion still sends the request; the outcome is dropped.
//
// Page values given as integers are not checked; given as text, nil means
// "1" (start page) and "20" (page size).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAllResponse.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"

namespace pellix {

class PellixDataManagerOperations {
public:
    template <class T>
    using List = std::optional<std::vector<std::shared_ptr<T>>>;
    template <class T>
    using ListCompletion = std::function<void(const List<T>& list, const PellixErrorPtr& error)>;
    template <class T>
    using RecordCompletion = std::function<void(const std::shared_ptr<T>& record, const PellixErrorPtr& error)>;
    using FlagCompletion = std::function<void(bool success, const PellixErrorPtr& error)>;
    using TextListCompletion =
        std::function<void(const std::optional<std::vector<std::string>>& texts, const PellixErrorPtr& error)>;

    // Call transfer.
    static void getUserTransferNumberWithRoomId(const PellixText& roomId, RecordCompletion<PellixCallTransfer> completion);
    // nationCode "86" when nil or empty.
    static void setUserTransferNumberWithRoomId(const PellixText& roomId, const PellixText& mobile,
                                                const PellixText& nationCode, FlagCompletion completion);

    // Communities and rooms. The room list also brings the user record's MQTT
    // topics up to date: after the completion, when the answer's topics differ
    // from the stored ones, they replace them in the stored (and archived)
    // user record and go to the MQTT manager. An answer without a topic list
    // (none, or a "topic" that is not a list) leaves them as they are.
    static void getUserCommunityListWithCompletion(ListCompletion<PellixRoomInfo> completion);
    static void getUserRoomListWithCompletion(ListCompletion<PellixRoomInfo> completion);

    // Keys.
    static void getUserKeyListWithRoomId(const PellixText& roomId, RecordCompletion<PellixKeyList> completion);
    static void setUserKeysSortWithRoomId(const PellixText& roomId, const PellixText& doorIds, FlagCompletion completion);
    static void setUserKeypackageAliasWithDoorId(const PellixText& doorId, const PellixText& alias,
                                                 FlagCompletion completion);

    // Community notices.
    static void getCommunityNoticeListWithStartPage(std::uint64_t startPage, std::uint64_t pageSize,
                                                    ListCompletion<PellixCommunityNotice> completion);
    static void getCommunityNoticeListWithRoomId(const PellixText& roomId, std::uint64_t startPage,
                                                 std::uint64_t pageSize, ListCompletion<PellixCommunityNotice> completion);
    static void getNoticeDetailWithNoticeId(const PellixText& noticeId, RecordCompletion<PellixCommunityNotice> completion);

    // Visitor history.
    static void getUserVistorsHistoryWithRoomId(const PellixText& roomId, std::uint64_t openType, std::uint64_t startPage,
                                                std::uint64_t pageSize, ListCompletion<PellixVistorHistoryInfo> completion);
    static void getRoomVistorsHistoryWithRoomId(const PellixText& roomId, std::uint64_t openType, std::uint64_t startPage,
                                                std::uint64_t pageSize, ListCompletion<PellixVistorHistoryInfo> completion);

    // Doors. The open type is sent as given when it is one character, else "2".
    static void openDoorWithRoomId(const PellixText& roomId, const PellixText& doorId, FlagCompletion completion);
    static void openDoorWithRoomId(const PellixText& roomId, const PellixText& doorId, const PellixText& openType,
                                   FlagCompletion completion);
    static void getDoorPasswordWithRoomId(const PellixText& roomId, RecordCompletion<PellixDoorPassword> completion);
    static void getDoorPasswordListWithRoomId(const PellixText& roomId, ListCompletion<PellixOpenDoorPwd> completion);
    static void getDoorPasswordDetailWithRoomId(const PellixText& roomId, const PellixText& passwordId,
                                                RecordCompletion<PellixOpenDoorPasswordDetail> completion);

    // Do-not-disturb.
    static void getUserDisturbInfoWithCompletion(RecordCompletion<PellixCallDisturbInfo> completion);
    static void setUserRoomDisturbInfoWithRoomId(const PellixText& roomId, const PellixText& appStatus,
                                                 const PellixText& callStatus,
                                                 RecordCompletion<PellixRoomDisturbSettingResult> completion);
    static void setAllRoomDisturbInfoWithAppStatus(const PellixText& appStatus, const PellixText& callStatus,
                                                   RecordCompletion<PellixDisturbSettingResult> completion);

    // Entity cards.
    static void getUserEntityCardsWithRoomId(const PellixText& roomId, ListCompletion<PellixEntityCardInfo> completion);

    // Visitor authorisations. Adding one: nationCode "86" when nil (an empty
    // text stays empty and fails the gate).
    static void addAuthorizeWithNationCode(const PellixText& nationCode, const PellixText& name,
                                           const PellixText& authMobile, const PellixText& roomId,
                                           const PellixText& authType, const PellixText& beginTime,
                                           const PellixText& endTime, FlagCompletion completion);
    static void modifyAuthorizeWithName(const PellixText& name, const PellixText& authUserId, const PellixText& roomId,
                                        const PellixText& authType, const PellixText& beginTime,
                                        const PellixText& endTime, FlagCompletion completion);
    static void deleteAuthorizeWithAuthUserId(const PellixText& authUserId, const PellixText& roomId,
                                              FlagCompletion completion);
    static void terminalAuthorizeWithRoomId(const PellixText& roomId, FlagCompletion completion);
    static void getAuthorizeListWithRoomId(const PellixText& roomId, const PellixText& startPage,
                                           const PellixText& pageSize, RecordCompletion<PellixAuthorizeListInfo> completion);

    // Property messages sent so far.
    static void contactPropertyHistoryWithDepID(const PellixText& depID, const PellixText& startPage,
                                                const PellixText& pageNo,
                                                ListCompletion<PellixPropertyPublishInfo> completion);

    // Estate look-ups and self-authentication history (pages sent as numbers).
    static void getEstateDepartmentSearchWithKeyword(const PellixText& keyword, std::uint64_t startPage,
                                                     std::uint64_t pageSize,
                                                     ListCompletion<PellixEstateDepartmentSearch> completion);
    static void getEstateCityWithKeyword(const PellixText& keyword, std::uint64_t startPage, std::uint64_t pageSize,
                                         ListCompletion<PellixEstateCity> completion);
    static void getEstateDepartmentListWithKeyword(const PellixText& keyword, const PellixText& cityId,
                                                   std::uint64_t startPage, std::uint64_t pageSize,
                                                   ListCompletion<PellixEstateDepartment> completion);
    static void getEstateBuildingUnitWithKeyword(const PellixText& keyword, const PellixText& depId,
                                                 std::uint64_t startPage, std::uint64_t pageSize,
                                                 ListCompletion<PellixEstateBuildingUnit> completion);
    static void getEstateRoomNumberWithKeyword(const PellixText& keyword, const PellixText& unitId,
                                               std::uint64_t startPage, std::uint64_t pageSize,
                                               ListCompletion<PellixEstateRoomNumber> completion);
    static void getSelfAuthRecordWithStartPage(std::uint64_t startPage, std::uint64_t pageSize,
                                               ListCompletion<PellixSelfAuthRecord> completion);

    // The owner's mobile numbers (records without one are skipped) and the
    // call-transfer numbers (the record's "numbers" split at ","; nullopt
    // when the answer has none).
    static void getMobileOfProprietorWithRoomId(const PellixText& roomId, TextListCompletion completion);
    static void getCallTransferMobileListWithCompletion(TextListCompletion completion);

protected:
    PellixDataManagerOperations() = default;
};

}  // namespace pellix
