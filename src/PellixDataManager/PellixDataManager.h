// PellixDataManager: the SDK's public platform operations, as class methods
// with completion blocks.
//
// Session operations (this part): registration with the application's
// credentials, login of a resident, logout, push-token binding and the
// hand-over of the device token from the host's push registration. They
// post the notifications the client facade starts and stops SIP and MQTT on:
// "PellixSDKClientInitUserInfo" (object: the PellixInitUserInfo record) at
// login and when registration replays a cached user record, and
// "PellixSDKClientLogout" (no object) once the platform accepted a logout.
//
// Completions: incomplete parameters are refused synchronously, on the
// calling thread, with PellixError 40400 "参数缺失", and never reach the
// network; a registration answered from the token cache is answered
// synchronously too; every other outcome arrives on the main queue, once.
// Network failures are the PellixErrors of PellixNetServices.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixDataManagerOperations.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixEstateRecords.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "PellixEnvironmenConfig/PellixOptions.h"
#include "platform/Value.h"

namespace pellix {

// The platform operations (keys, doors, notices, ...) come from the base.
class PellixDataManager : public PellixDataManagerOperations {
public:
    using Completion = std::function<void(bool success, const PellixErrorPtr& error)>;

    // Creates the client facade (which hands this class its hooks), applies the options (nil: production, 15 s,
    // logging off), answers true at once when a cached token for these
    // credentials and this environment has more than 15 s left, replays a
    // cached user record of this environment (its broker replaces the
    // environment's when it names one), then fetches a fresh token; the
    // fetch's outcome is reported unless the cache already answered.
    static void registSDKWithAppId(const PellixText& appId, const PellixText& secretKey,
                                   const std::shared_ptr<PellixOptions>& options, Completion completion);

    // Logs a resident in by open id, or by mobile number and nation code
    // (nil nation code: "86"). On success the user record is posted, its open
    // id and the record are kept and archived (key "mode:<mode>"), a held
    // push token is bound again and the image tool configured.
    static void loginSDKWithNationCode(const PellixText& nationCode, const PellixText& mobileNo,
                                       const PellixText& openId, Completion completion);

    // Logs out; once the platform accepted it posts the logout notification
    // and forgets the user record and open id (the user file deleted). A
    // refused logout changes nothing.
    static void loginoutWithCompletion(Completion completion);

    // Binds the push device token to the logged-in resident.
    static void bindPushTokenWithDeviceToken(const PellixText& deviceToken, Completion completion);

    // Keeps the device token the system handed to the host (as lower-case
    // hex) and, when non-empty, binds it at once; results go to the debug log.
    static void registerDeviceToken(const platform::Bytes& deviceToken);

    // Property messages. A message is a text, up to three images, or both:
    // `imageDatas` is null (no images) or an array of image bytes. Refused at
    // once, on the calling thread, with nothing uploaded or sent: no text and
    // no image (null, not an array, or empty) with 100000002; more than three
    // images with 100000003; images given as something other than an array
    // of bytes (with a text) with 40400 "参数缺失". Otherwise the images are
    // uploaded to the property-contact folder and the message names their
    // object keys joined with "," in image order. A failed upload completes
    // with 100000004 and sends nothing; images already stored stay stored.
    // The outcome of the send arrives on the main queue.
    static void contactPropertyWithRoomId(const PellixText& roomId, const PellixText& content,
                                          const platform::Value& imageDatas, const PellixText& tagType,
                                          Completion completion);

    // Any stored image by its object key: forwards to the image tool, whose
    // blocks get exactly what it reports.
    static void downloadWithImageObjectKey(const PellixText& imageObjectKey,
                                           PellixImageDownloadSuccess success, PellixImageDownloadFailure failure);

    // Identity-card detection: (front record, back record, object key, error).
    using DetectionCompletion =
        std::function<void(const std::shared_ptr<PellixOCRIdentifyCardSideFront>& cardFront,
                           const std::shared_ptr<PellixOCRIdentifyCardSideBack>& cardBack,
                           const PellixText& imageObjectKey, const PellixErrorPtr& error)>;
    static constexpr std::int64_t kUploadIdentifyCardFront = 1;
    static constexpr std::int64_t kUploadIdentifyCardBack = 2;
    static constexpr std::int64_t kUploadHandIdentifyCard = 3;

    // Submits one photograph for self-authentication: type 1 the card's
    // front, 2 its back (each read by the OCR service first; the front's name
    // must equal `realName` exactly), 3 the resident holding the card (not
    // read). An accepted photograph is uploaded to the identity-card folder
    // and, with its reading, replaces that type's entry of the card cache
    // (PellixTempMemoryCache); the completion gets the reading and the key.
    // Refusals, in the order tested (nothing uploaded, all values null):
    // 100000005 the user record lacks the OCR key or secret (every type);
    // 100000009 `realName` shorter than two characters (types 1 and 2);
    // 40400 "上传类型错误" another type; 100000006 / 100000007 no complete
    // front / back reading; 100000008 the card's name differs; 100000010 the
    // upload failed. Refusals before the OCR request complete on the calling
    // thread, the rest on the main queue.
    static void detectionAndUploadIdentifyImageData(const platform::Bytes& imageData, const PellixText& realName,
                                                    std::int64_t uploadImageDataType, DetectionCompletion completion);

    // Applies for self-authentication with the seventeen texts (all
    // required: 40400 "参数缺失"). The card cache must hold both sides and
    // the hand-held photograph, and the card number, card name, `realName`
    // and the three image keys must repeat what the detections accepted
    // (100000011 otherwise). Refusals complete at once on the calling
    // thread; the platform's answer on the main queue. Once the platform
    // accepts, the card cache is emptied; a refusal keeps it for a retry.
    static void selfAuthApplyWithRoomNumberId(
        const PellixText& roomNumberId, const PellixText& cityId, const PellixText& depId,
        const PellixText& realName, const PellixText& mobileNo, const PellixText& selfHelpStatus,
        const PellixText& authType, const PellixText& cardImg1, const PellixText& cardImg2,
        const PellixText& cardImg3, const PellixText& cardNo, const PellixText& cardName, const PellixText& nation,
        const PellixText& address, const PellixText& government, const PellixText& validity,
        const PellixText& nationCode, Completion completion);

private:
    // The send step of a property message, with the joined image keys or
    // nil (one underscore: names with two are the compiler's).
    static void _contactPropertyWithRoomId(const PellixText& roomId, const PellixText& content,
                                           const PellixText& imagesName, const PellixText& tagType,
                                           Completion completion);
    // The upload step of an accepted identity-card photograph.
    static void _uploadIdentifyImageData(const platform::Bytes& imageData, std::int64_t uploadImageDataType,
                                         const std::shared_ptr<PellixOCRIdentifyCardSideFront>& cardFront,
                                         const std::shared_ptr<PellixOCRIdentifyCardSideBack>& cardBack,
                                         DetectionCompletion completion);
};

}  // namespace pellix
