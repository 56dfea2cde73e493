// Property messages with images, and the download of stored images.
#include <string>
#include <vector>

#include "PellixDataManager/PellixDataManager.h"
#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixAuthParams.h"
#include "PellixDataManager/PellixOperation.h"

namespace pellix {

namespace {

// The folder of property-contact photographs.
constexpr std::int64_t kPropertyContactDirectory = 1;
constexpr std::size_t kMaxPropertyImages = 3;

void refuse(const PellixDataManager::Completion& completion, std::int64_t code, const char* message) {
    if (completion) completion(false, PellixError::errorWithCode(code, message));
}

std::string joinedKeys(const std::vector<std::string>& keys) {
    std::string joined;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) joined += ',';
        joined += keys[i];
    }
    return joined;
}

}  // namespace

void PellixDataManager::contactPropertyWithRoomId(const PellixText& roomId, const PellixText& content,
                                                  const platform::Value& imageDatas, const PellixText& tagType,
                                                  Completion completion) {
    const bool hasText = content && !content->empty();
    const platform::Array* images = imageDatas.arrayIf();
    if (!hasText && (imageDatas.isNull() || !images || images->empty())) {
        return refuse(completion, PellixError::kNoticeEmptyCode, PellixError::kNoticeEmptyMessage);
    }
    // Images in any other shape than a list of bytes are refused rather than
    // dropped: the resident would believe them sent.
    if (!imageDatas.isNull() && !images) {
        return refuse(completion, PellixError::kParamsMissingCode, PellixError::kParamsMissingMessage);
    }
    if (!images || images->empty()) {
        return _contactPropertyWithRoomId(roomId, content, std::nullopt, tagType, std::move(completion));
    }
    if (images->size() > kMaxPropertyImages) {
        return refuse(completion, PellixError::kNoticeTooManyImagesCode, PellixError::kNoticeTooManyImagesMessage);
    }
    std::vector<platform::Bytes> datas;
    for (const platform::Value& image : *images) {
        if (!image.isBytes()) {
            return refuse(completion, PellixError::kParamsMissingCode, PellixError::kParamsMissingMessage);
        }
        datas.push_back(image.asBytes());
    }
    const PellixText text = hasText ? content : std::nullopt;
    PellixDataManagerHooks::current().uploadImageDatas(
        datas, kPropertyContactDirectory,
        [roomId, text, tagType, completion](const std::vector<std::string>& keys) {
            _contactPropertyWithRoomId(roomId, text, joinedKeys(keys), tagType, completion);
        },
        [completion] {
            // The image tool names no key on failure, so images that did
            // upload stay in the store, unreferenced.
            refuse(completion, PellixError::kNoticeImageUploadCode, PellixError::kNoticeImageUploadMessage);
        });
}

void PellixDataManager::_contactPropertyWithRoomId(const PellixText& roomId, const PellixText& content,
                                                   const PellixText& imagesName, const PellixText& tagType,
                                                   Completion completion) {
    auto record = std::make_shared<PellixPropertyPublishParam>();
    record->setRoom_id(roomId);
    record->setTag_type(tagType);
    if (content && !content->empty()) record->setContent(content);
    if (imagesName) record->setImages_name(imagesName);
    // Sent as built: a message needs only the fields its kind carries.
    pellixSend(
        record, PellixRecordClass::of<PellixAuthorizeListInfo>(), false,
        [completion](const std::shared_ptr<PellixBaseResponse>&) {
            if (completion) completion(true, nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(false, error);
        });
}

void PellixDataManager::downloadWithImageObjectKey(const PellixText& imageObjectKey,
                                                   PellixImageDownloadSuccess success,
                                                   PellixImageDownloadFailure failure) {
    PellixDataManagerHooks::current().downloadWithImageObjectKey(imageObjectKey, std::move(success),
                                                                 std::move(failure));
}

}  // namespace pellix
