#include "HOSManager/PellixHalvaneUploadAndDownloadTool.h"

#include <algorithm>

#include "HOSManager/PellixHalvaneDownloadManager.h"
#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/Clock.h"
#include "platform/DateFormatter.h"
#include "platform/Device.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/RunLoop.h"

namespace pellix {

namespace {

// A user-record value replaces a default only when longer than this.
constexpr std::size_t kMinSettingLength = 2;
// The request timeout the pipeline applies when none is configured.
constexpr double kDefaultRequestTimeout = 15;

const char* const kBuiltInFolders[] = {"apk_packages", "contact_management", "head_portrait", "id_cards",
                                       "visitor_images"};

PellixText folderOfReply(const PXRemoteDirectory& dir, std::uint64_t type) {
    switch (type) {
        case 0: return dir.apk_packages();
        case 1: return dir.contact_management();
        case 2: return dir.head_portrait();
        case 3: return dir.id_cards();
        default: return dir.visitor_images();
    }
}

std::string withoutHyphens(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

void onMain(std::function<void()> block) { platform::DispatchQueue::main()->async(std::move(block)); }

}  // namespace

const std::shared_ptr<PellixHalvaneUploadAndDownloadTool>& PellixHalvaneUploadAndDownloadTool::sharedManager() {
    static const auto* tool =
        new std::shared_ptr<PellixHalvaneUploadAndDownloadTool>(new PellixHalvaneUploadAndDownloadTool);
    return *tool;
}

PellixHalvaneUploadAndDownloadTool::PellixHalvaneUploadAndDownloadTool() { _setupConfigHalvaneClient(); }

std::string PellixHalvaneUploadAndDownloadTool::directoryString() const {
    std::lock_guard guard(lock_);
    return directoryString_;
}

void PellixHalvaneUploadAndDownloadTool::setDirectoryString(std::string value) {
    std::lock_guard guard(lock_);
    directoryString_ = std::move(value);
}

std::string PellixHalvaneUploadAndDownloadTool::halvane_EndPoint() const {
    std::lock_guard guard(lock_);
    return halvane_EndPoint_;
}

std::string PellixHalvaneUploadAndDownloadTool::halvane_BucketName() const {
    std::lock_guard guard(lock_);
    return halvane_BucketName_;
}

void PellixHalvaneUploadAndDownloadTool::__configBaseSetting() {
    std::string endpoint = kHalvaneUploadDownloadTool_EndPoint;
    std::string bucket = kHalvaneUploadDownloadTool_BucketName;
    if (auto user = PellixProxyInfo::sharedInstance()->userInfo()) {
        if (const auto& e = user->hos_endpoint(); e && e->size() > kMinSettingLength) endpoint = *e;
        if (const auto& b = user->hos_bucket(); b && b->size() > kMinSettingLength) bucket = *b;
    }
    std::lock_guard guard(lock_);
    halvane_EndPoint_ = std::move(endpoint);
    halvane_BucketName_ = std::move(bucket);
}

void PellixHalvaneUploadAndDownloadTool::_setupConfigHalvaneClient() {
    __configBaseSetting();
    auto provider = std::make_shared<HOSFederationCredentialProvider>(&fetchFederationToken);
    auto configuration = std::make_shared<HOSClientConfiguration>();
    configuration->setMaxRetryCount(3);
    configuration->setTimeoutIntervalForRequest(60);
    configuration->setTimeoutIntervalForResource(24 * 60 * 60);
    halvaneClient_ = std::make_shared<HOSClient>(halvane_EndPoint(), provider, configuration);
}

HOSFederationTokenPtr PellixHalvaneUploadAndDownloadTool::fetchFederationToken() {
    // The platform's answer arrives on the main queue: waiting for it there
    // would wait for ever.
    if (platform::RunLoop::isMainThread()) {
        PellixLog::debug("storage credentials are not fetched on the main thread");
        return nullptr;
    }
    struct Slot {
        std::mutex lock;
        HOSFederationTokenPtr token;
        std::shared_ptr<platform::DispatchSemaphore> done = platform::DispatchSemaphore::create(0);
    };
    auto slot = std::make_shared<Slot>();
    // Sent from the main queue like every other platform request; the
    // pipeline's state is the main thread's.
    onMain([slot] {
        PellixDataManagerPrivate::getHalvaneTokenCompletion(
            [slot](const std::shared_ptr<PXHalvaneInfoClassModel>& info, const PellixErrorPtr& error) {
                if (!error && info) {
                    PellixHalvaneDownloadManager::sharedManager().setAliModel(info);
                    // A reply without credentials is no token: signing with
                    // empty keys would only fail later and less clearly.
                    if (const auto& c = info->credentials()) {
                        auto token = std::make_shared<HOSFederationToken>();
                        token->setTAccessKey(c->AccessKeyId());
                        token->setTSecretKey(c->AccessKeySecret());
                        token->setTToken(c->SecurityToken());
                        token->setExpirationTimeInGMTFormat(c->Expiration());
                        std::lock_guard guard(slot->lock);
                        slot->token = std::move(token);
                    }
                    sharedManager()->__configBaseSetting();
                }
                slot->done->signal();
            });
    });
    double timeout = PellixGlobleConfig::sharedInstance()->requestTimeout();
    if (!(timeout > 1e-7)) timeout = kDefaultRequestTimeout;
    if (!slot->done->waitSeconds(timeout + kCredentialWaitMargin)) {
        PellixLog::debug("storage credentials did not arrive in time");
        return nullptr;
    }
    std::lock_guard guard(slot->lock);
    return slot->token;
}

void PellixHalvaneUploadAndDownloadTool::refreshHalvaneConfiguration() {
    platform::DispatchQueue::global()->async([] {
        auto provider =
            std::dynamic_pointer_cast<HOSFederationCredentialProvider>(sharedManager()->halvaneClient()->credentialProvider());
        if (!provider) return;
        provider->setCachedToken(nullptr);
        provider->getToken(nullptr);
    });
}

std::string PellixHalvaneUploadAndDownloadTool::__getImageObjectKeyWithDirectoryType(std::int64_t directoryType) {
    const auto type = static_cast<std::uint64_t>(directoryType);
    std::string folder;
    if (type < std::size(kBuiltInFolders)) {
        folder = kBuiltInFolders[type];
        if (auto model = PellixHalvaneDownloadManager::sharedManager().aliModel(); model && model->remoteDir()) {
            if (auto named = folderOfReply(*model->remoteDir(), type)) folder = *named;
        }
    }
    std::string userId = "(null)";
    if (auto user = PellixProxyInfo::sharedInstance()->userInfo(); user && user->user_id()) userId = *user->user_id();
    const std::string day = platform::DateFormatter::format(platform::Clock::now(), "yyyyMMdd").value_or("");
    const std::string stamp =
        platform::DateFormatter::format(platform::Clock::now(), "yyyy-MM-dd-HH-mm-ss-SSS").value_or("");
    const std::string name = withoutHyphens(platform::Device::makeUUID() + stamp);
    return folder + "/" + userId + "/" + day + "/" + name;
}

void PellixHalvaneUploadAndDownloadTool::__uploadImageData(const platform::Bytes& imageData,
                                                           const std::string& imageObjectKey, UploadSuccess success,
                                                           UploadFailure failure) {
    PellixLog::verbose("imageObjectKey：" + imageObjectKey);
    const auto& tool = sharedManager();
    auto request = std::make_shared<HOSPutObjectRequest>();
    request->setBucketName(tool->halvane_BucketName());
    request->setObjectKey(imageObjectKey);
    request->setUploadingData(imageData);
    request->setContentType(std::string("image/png"));
    tool->halvaneClient()->putObject(request)->continueWithBlock(
        [imageObjectKey, success, failure](const HOSTaskPtr& task) -> std::any {
            if (const auto error = task->error()) {
                PellixLog::debug("upload of " + imageObjectKey + " failed: " + error->description());
                if (failure) onMain(failure);
            } else if (success) {
                onMain([success, imageObjectKey] { success(imageObjectKey); });
            }
            return std::any();
        });
}

void PellixHalvaneUploadAndDownloadTool::uploadImageData(const platform::Bytes& imageData, std::int64_t directoryType,
                                                         UploadSuccess success, UploadFailure failure) {
    __uploadImageData(imageData, __getImageObjectKeyWithDirectoryType(directoryType), std::move(success),
                      std::move(failure));
}

void PellixHalvaneUploadAndDownloadTool::uploadImageDatas(const std::vector<platform::Bytes>& imageDatas,
                                                          std::int64_t directoryType, UploadsSuccess success,
                                                          UploadFailure failure) {
    if (imageDatas.empty()) {
        // Nothing to store is stored: the caller still hears once.
        if (success) onMain([success] { success({}); });
        return;
    }
    // Outcomes arrive on the main queue; the lock keeps the tally sound even
    // so. Keys are kept by image index, so the answer is in image order
    // whatever order the uploads finish in.
    struct Tally {
        std::mutex lock;
        std::size_t finished = 0;
        bool allSucceeded = true;
        std::vector<std::string> keys;
    };
    auto tally = std::make_shared<Tally>();
    tally->keys.resize(imageDatas.size());
    const std::size_t total = imageDatas.size();
    auto finish = [tally, total, success, failure](std::optional<std::size_t> index, const std::string& key) {
        bool last;
        bool succeeded;
        std::vector<std::string> keys;
        {
            std::lock_guard guard(tally->lock);
            if (index) {
                tally->keys[*index] = key;
            } else {
                tally->allSucceeded = false;
            }
            last = ++tally->finished == total;
            succeeded = tally->allSucceeded;
            if (last && succeeded) keys = tally->keys;
        }
        if (!last) return;
        if (succeeded) {
            if (success) success(keys);
        } else if (failure) {
            failure();
        }
    };
    for (std::size_t i = 0; i < total; ++i) {
        const std::string key = __getImageObjectKeyWithDirectoryType(directoryType) + std::to_string(i + 1);
        __uploadImageData(
            imageDatas[i], key, [finish, i](const std::string& stored) { finish(i, stored); },
            [finish] { finish(std::nullopt, std::string()); });
    }
}

void PellixHalvaneUploadAndDownloadTool::downloadWithImageObjectKey(const PellixText& imageObjectKey,
                                                                    DownloadSuccess success, DownloadFailure failure) {
    if (!imageObjectKey || imageObjectKey->empty()) {
        if (failure) failure(imageObjectKey);
        return;
    }
    const std::string key = *imageObjectKey;
    auto& manager = PellixHalvaneDownloadManager::sharedManager();
    PellixHalvaneDownloadManager::Waiter waiter;
    if (success) waiter.success = [success](const platform::Bytes& data, const std::string& k) { success(data, k); };
    if (failure) waiter.failure = [failure](const std::string& k) { failure(PellixText(k)); };
    if (manager.joinOrStartWithKey(key, std::move(waiter))) return;

    const auto& tool = sharedManager();
    auto request = std::make_shared<HOSGetObjectRequest>();
    request->setBucketName(tool->halvane_BucketName());
    request->setObjectKey(key);
    tool->halvaneClient()->getObject(request)->continueWithBlock([key](const HOSTaskPtr& task) -> std::any {
        // Taken out of the in-flight table before the callers hear: a
        // download asked for after this starts afresh.
        auto waiters = PellixHalvaneDownloadManager::sharedManager().safelyRemoveWithKey(key);
        std::optional<platform::Bytes> data;
        if (!task->error()) {
            const auto* result = task->resultAs<HOSResultPtr>();
            auto get = result ? std::dynamic_pointer_cast<HOSGetObjectResult>(*result) : nullptr;
            data = get && get->downloadedData() ? *get->downloadedData() : platform::Bytes();
        }
        onMain([waiters = std::move(waiters), data = std::move(data), key] {
            for (const auto& w : waiters) {
                if (data) {
                    if (w.success) w.success(*data, key);
                } else if (w.failure) {
                    w.failure(key);
                }
            }
        });
        return std::any();
    });
}

}  // namespace pellix
