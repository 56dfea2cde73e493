// PellixNetServices: the one entry through which every platform operation is
// sent. It hands the record to PellixDataService and turns the answer into a
// PellixBaseResponse for the success block or a PellixError for the failure
// block.
//
// Outcomes (every operation hears back exactly once, on the main queue):
// - HTTP 200 with a JSON object: success, the envelope's code set to 200;
// - HTTP 426: one token fetch; when it works the same record is sent again
//   with the new token and signing key and that answer decides; a resent
//   request that meets 426 again fails with 426 "Token失效"; when the fetch
//   fails "PellixSDKNotificationOfTokenInvalide" is posted and the operation
//   fails with 426 "Token失效";
// - any other status with a JSON object: failure with the envelope's code
//   (the HTTP status when that is negative) and the envelope's message, else
//   the error table's text;
// - an image answer: success with code 200, "获取图片成功" and the image as
//   the only body element (PellixResponseImage), whatever the status;
// - no object (empty body, one space), a JSON array or anything else:
//   failure 500 "服务器异常";
// - transport and parse errors: failure with the error's code and the
//   table's text ("" for codes the table lacks).
// A success or failure block may be empty; its outcome is then dropped.
// Call from any thread; the 426 path's fetch and resend are ordinary
// asynchronous requests.
#pragma once

#include <functional>
#include <memory>

#include "PellixDataManager/PellixNetServer/DataService/PellixDataService.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixBaseRequestParam.h"

namespace pellix {

class PellixNetServices {
public:
    static constexpr const char* kTokenInvalideNotification = "PellixSDKNotificationOfTokenInvalide";
    static constexpr const char* kImageMessage = "获取图片成功";

    using Success = std::function<void(const std::shared_ptr<PellixBaseResponse>& response)>;
    using Failure = std::function<void(const PellixErrorPtr& error)>;

    // Sends the record; `bodyType` is the record class of the answer's
    // "data" (nullptr: none). Returns the started task (null when the request
    // could not be built; the failure block then hears of it).
    static PellixDataService::Task getPellixSDKData(const std::shared_ptr<PellixBaseRequestParam>& param,
                                                    PellixBodyType bodyType, Success success, Failure failure);

    // Replaces the data service's header dictionary.
    static void configCommonRequestHearderParams(platform::Dictionary headers);
    // Cancels every request of the data service; it carries none afterwards.
    static void cancelAllTask();

private:
    static PellixDataService::Task send(const std::shared_ptr<PellixBaseRequestParam>& param, PellixBodyType bodyType,
                                        Success success, Failure failure, bool resent);
    static void refreshAndResend(const std::shared_ptr<PellixBaseRequestParam>& param, PellixBodyType bodyType,
                                 Success success, Failure failure);
};

}  // namespace pellix
