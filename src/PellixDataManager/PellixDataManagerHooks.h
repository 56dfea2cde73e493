// PellixDataManagerHooks: what the data manager needs from the layers above
// it (the image tool, the OCR reader, the MQTT manager), handed down once at
// start-up so that nothing here includes them. The client facade installs
// them when it starts, and registration starts the facade before anything
// else, so every operation that reaches a hook finds it set.
//
// A hook that was never installed does the least harmful thing its caller's
// contract allows: the image tool's configuration and the topics' resubscription
// do nothing; uploads, downloads and readings fail, once, on the main queue
// (a download without a key at once, on the calling thread, as the image tool
// would).
//
// Thread safety: install() and current() may be called from any thread; an
// operation works with the hooks it read when it started.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixEstateRecords.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "platform/Value.h"

namespace pellix {

// The notifications the facade starts and stops SIP and MQTT on: a user
// record became available (object: the PellixInitUserInfo record), the
// resident logged out (no object). The facade's own names equal these.
inline constexpr const char* kPellixSDKClientInitUserInfoNotification = "PellixSDKClientInitUserInfo";
inline constexpr const char* kPellixSDKClientLogoutNotification = "PellixSDKClientLogout";

// The image tool's blocks (its own aliases name these types).
using PellixImageUploadSuccess = std::function<void(const std::string& imageObjectKey)>;
using PellixImageUploadsSuccess = std::function<void(const std::vector<std::string>& imageObjectKeys)>;
using PellixImageUploadFailure = std::function<void()>;
using PellixImageDownloadSuccess = std::function<void(const platform::Bytes& data, const std::string& imageObjectKey)>;
// The key asked for; nullopt when the download was asked without one.
using PellixImageDownloadFailure = std::function<void(const PellixText& imageObjectKey)>;

// An identity-card reading: the answer's JSON object (null when there is
// none) and the side read.
using PellixIdentifyCardReading =
    std::function<void(const platform::Value& dictionary, const std::shared_ptr<PellixOCRIdentifyCardSideFront>& front,
                       const std::shared_ptr<PellixOCRIdentifyCardSideBack>& back)>;

struct PellixDataManagerHooks {
    // Prepares the image tool for the logged-in resident.
    std::function<void()> configureImageTool;
    std::function<void(const platform::Bytes& imageData, std::int64_t directoryType, PellixImageUploadSuccess success,
                       PellixImageUploadFailure failure)>
        uploadImageData;
    std::function<void(const std::vector<platform::Bytes>& imageDatas, std::int64_t directoryType,
                       PellixImageUploadsSuccess success, PellixImageUploadFailure failure)>
        uploadImageDatas;
    std::function<void(const PellixText& imageObjectKey, PellixImageDownloadSuccess success,
                       PellixImageDownloadFailure failure)>
        downloadWithImageObjectKey;
    // Moves the MQTT subscriptions to the resident's new room topics.
    std::function<void(const PellixTextList& topics)> resubscribeTopics;
    // Reads an identity-card photograph with the user record's OCR key and
    // secret; `finished` runs once, on the main queue.
    std::function<void(const platform::Bytes& imageData, const PellixText& apiKey, const PellixText& apiSecret,
                       PellixIdentifyCardReading finished)>
        detectIdentifyCard;

    // Replaces the installed hooks.
    static void install(PellixDataManagerHooks hooks);
    // The installed hooks, each missing one replaced by its fallback.
    static PellixDataManagerHooks current();
};

}  // namespace pellix
