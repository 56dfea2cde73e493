// PellixDataManagerPrivate: the SDK's internal platform operations: the
// token fetch (registration and the expired-token path), the storage
// credentials (the image tool) and the family call's request (the client
// facade).
//
// Completions run on the main queue, exactly once.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixToken.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PXHalvaneInfoClassModel.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "PellixEnvironmenConfig/PellixOptions.h"

namespace pellix {

class PellixDataManagerPrivate {
public:
    // Key and IV of the signing key's encryption, their ASCII bytes as they
    // stand (AES-128-CBC).
    static constexpr const char* kSignKeyAESKey = "4829175036184927";
    static constexpr const char* kSignKeyAESIV = "kqvmzhtrwpxlbnjd";

    using BoolCompletion = std::function<void(bool success, const PellixErrorPtr& error)>;
    using HalvaneCompletion =
        std::function<void(const std::shared_ptr<PXHalvaneInfoClassModel>& info, const PellixErrorPtr& error)>;
    using CallCompletion = std::function<void(const std::shared_ptr<PellixCall>& call, const PellixErrorPtr& error)>;

    // PellixDataManager::registSDKWithAppId after the client facade it
    // starts is up: everything but starting the facade.
    static void registSDKWithStartedClient(const PellixText& appId, const PellixText& secretKey,
                                           const std::shared_ptr<PellixOptions>& options, BoolCompletion completion);

    // Fetches a token ("/sdk/v2/token") without a completeness check; on
    // success stamps it (updateDate now, key "<app id>:<secret>:<mode>",
    // sign = the decrypted sign_key, unset when that does not decrypt),
    // archives and stores it with the credentials, then completes with true.
    // An answer without a token record fails with 500.
    static void refreshhAccessTokenWithAppId(const PellixText& appId, const PellixText& secretKey,
                                             const PellixText& packageName, BoolCompletion completion);

    // The signing key hidden in a token's "sign_key"; nullopt only when it
    // does not decrypt (an empty key decrypts to "", which signs as "").
    static std::optional<std::string> decryptSignKey(const std::string& signKey);

    // Fetches storage credentials ("/sdk/v1/halvane_tokens") with the held
    // token; completes with the answer's first record and no error, or with
    // null and the error. An answer without a record fails with 500, so the
    // image tool never takes an empty answer for credentials.
    static void getHalvaneTokenCompletion(HalvaneCompletion completion);

    // Places the family call ("v1/call") with the held token, no user id and
    // the given device GUID, rooms and call type; completes with the answer's
    // first record, or null and the error.
    static void makeCall(const PellixText& deviceGuid, const PellixText& fromRoomId, const PellixText& toRoomId,
                         const PellixText& toRoomNo, const PellixText& callType, CallCompletion completion);
};

}  // namespace pellix
