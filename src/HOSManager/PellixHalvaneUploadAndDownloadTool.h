// PellixHalvaneUploadAndDownloadTool: the SDK's object-store client: turns
// the platform's short-lived storage credentials into the storage client's
// federation credentials, builds object keys, uploads images and downloads
// objects (the public face is PellixUploadAndDownloadImageTool).
//
// Life cycle: one tool per process, made on first use (the first refresh,
// upload or download) and never destroyed. Its storage client keeps the
// endpoint the tool had then: the user record's "hos_endpoint" when longer
// than 2 characters, else kHalvaneUploadDownloadTool_EndPoint; later
// credential replies change only the halvane_EndPoint property. The bucket
// ("hos_bucket" longer than 2 characters, else "pellixstorage") is read at
// every request.
//
// Credentials: the storage client asks the credential getter on its own
// worker threads whenever its cached token is missing or has under 300 s
// left. The getter asks the platform on the main queue and waits for the
// answer at most the request timeout plus kCredentialWaitMargin; it never
// waits on the main thread (where that answer arrives) and gives no token
// there. A failed or late answer gives no token, and the storage request
// then fails with the storage client's credential error.
//
// Completions: as PellixUploadAndDownloadImageTool.h.
//
// Thread safety: every member from any thread; endpoint and bucket sit
// behind the tool's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"
#include "HOSSDK/HOSClient.h"

namespace pellix {

// The storage service's endpoint and bucket when the user record names none.
inline constexpr const char* kHalvaneUploadDownloadTool_EndPoint = "https://cn-south-1.hos.halvane.com";
inline constexpr const char* kHalvaneUploadDownloadTool_BucketName = "pellixstorage";

class PellixHalvaneUploadAndDownloadTool {
public:
    using UploadSuccess = PellixUploadAndDownloadImageTool::UploadSuccess;
    using UploadsSuccess = PellixUploadAndDownloadImageTool::UploadsSuccess;
    using UploadFailure = PellixUploadAndDownloadImageTool::UploadFailure;
    using DownloadSuccess = PellixUploadAndDownloadImageTool::DownloadSuccess;
    using DownloadFailure = PellixUploadAndDownloadImageTool::DownloadFailure;

    // How much longer than the request timeout the credential getter waits
    // for the platform's answer, in seconds.
    static constexpr double kCredentialWaitMargin = 5;

    static const std::shared_ptr<PellixHalvaneUploadAndDownloadTool>& sharedManager();
    PellixHalvaneUploadAndDownloadTool(const PellixHalvaneUploadAndDownloadTool&) = delete;
    PellixHalvaneUploadAndDownloadTool& operator=(const PellixHalvaneUploadAndDownloadTool&) = delete;

    // Declared for the record's shape; nothing reads or writes it.
    std::string directoryString() const;
    void setDirectoryString(std::string value);
    std::string halvane_EndPoint() const;
    std::string halvane_BucketName() const;
    const std::shared_ptr<HOSClient>& halvaneClient() const { return halvaneClient_; }

    // Endpoint and bucket from the defaults and the held user record.
    void __configBaseSetting();

    // A new key "<folder>/<user_id>/<yyyyMMdd>/<UUID hex><yyyyMMddHHmmssSSS>"
    // (local time); types 0-4 name a folder, any other (negative ones too)
    // an empty one. A missing user id reads "(null)", as the platform has
    // always received it.
    static std::string __getImageObjectKeyWithDirectoryType(std::int64_t directoryType);
    // Uploads one image under `imageObjectKey` as "image/png".
    static void __uploadImageData(const platform::Bytes& imageData, const std::string& imageObjectKey,
                                  UploadSuccess success, UploadFailure failure);

    static void uploadImageData(const platform::Bytes& imageData, std::int64_t directoryType, UploadSuccess success,
                                UploadFailure failure);
    static void uploadImageDatas(const std::vector<platform::Bytes>& imageDatas, std::int64_t directoryType,
                                 UploadsSuccess success, UploadFailure failure);
    static void downloadWithImageObjectKey(const PellixText& imageObjectKey, DownloadSuccess success,
                                           DownloadFailure failure);

    // In the background: forgets the storage client's cached token and asks
    // for a new one, so credentials, folder names and endpoint are fresh
    // before the first upload.
    static void refreshHalvaneConfiguration();

    // The credential getter the storage client calls (see above).
    static HOSFederationTokenPtr fetchFederationToken();

private:
    PellixHalvaneUploadAndDownloadTool();
    void _setupConfigHalvaneClient();

    mutable std::mutex lock_;
    std::string directoryString_;
    std::string halvane_EndPoint_;
    std::string halvane_BucketName_;
    std::shared_ptr<HOSClient> halvaneClient_;
};

}  // namespace pellix
