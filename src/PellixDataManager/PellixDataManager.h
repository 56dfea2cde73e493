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

#include <functional>
#include <memory>

#include "PellixDataManager/PellixDataManagerOperations.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "PellixEnvironmenConfig/PellixOptions.h"
#include "platform/Value.h"

namespace pellix {

// The platform operations (keys, doors, notices, ...) come from the base.
class PellixDataManager : public PellixDataManagerOperations {
public:
    using Completion = std::function<void(bool success, const PellixErrorPtr& error)>;

    // Creates the client facade, applies the options (nil: production, 15 s,
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
};

}  // namespace pellix
