// PellixUploadAndDownloadImageTool: images to and from the object store
// under short-lived storage credentials issued by the platform. Each class
// method forwards to PellixHalvaneUploadAndDownloadTool.
//
// Object keys: "<folder>/<user_id>/<yyyyMMdd>/<name>", the folder chosen by
// the directory type (0 apk_packages, 1 contact_management, 2 head_portrait,
// 3 id_cards, 4 visitor_images, named by the platform's credential reply when
// one is held; any other type an empty folder), the name 32 hexadecimal
// characters of a random UUID and 17 digits of the local time to the
// millisecond; no extension. Images go up as "image/png".
//
// Completions: success and failure run on the main queue, exactly one of them
// once per call, except that a download with a nil or empty key fails at once
// on the calling thread. Any storage or credential failure is reduced to the
// failure block; no PellixError is made here.
//
// Thread safety: class methods may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "platform/Value.h"

namespace pellix {

class PellixUploadAndDownloadImageTool {
public:
    // The data manager names these types too, so they are declared below it.
    using UploadSuccess = PellixImageUploadSuccess;
    using UploadsSuccess = PellixImageUploadsSuccess;
    using UploadFailure = PellixImageUploadFailure;
    using DownloadSuccess = PellixImageDownloadSuccess;
    // The key asked for; nullopt when the download was asked without one.
    using DownloadFailure = PellixImageDownloadFailure;

    // Uploads one image under a new key of the directory type; success gets
    // the key.
    static void uploadImageData(const platform::Bytes& imageData, std::int64_t directoryType, UploadSuccess success,
                                UploadFailure failure);

    // Uploads every image at once, image i under a new key ending in i + 1.
    // Once the last upload has ended, success gets the keys in image order
    // when all were stored, otherwise failure runs (some images may have been
    // stored nonetheless). An empty array succeeds with no keys.
    static void uploadImageDatas(const std::vector<platform::Bytes>& imageDatas, std::int64_t directoryType,
                                 UploadsSuccess success, UploadFailure failure);

    // Downloads an object; success gets its bytes and the key. A download of
    // a key whose download is still running joins it and hears its outcome.
    static void downloadWithImageObjectKey(const PellixText& imageObjectKey, DownloadSuccess success,
                                           DownloadFailure failure);

    // Prepares the storage client for the logged-in resident (after a login
    // and when a cached user record is replayed at registration): fetches
    // fresh storage credentials in the background.
    static void pellixUploadAndDownloadConfiguration();
};

}  // namespace pellix
