// Identity-card detection and the self-authentication application.
#include "PellixDataManager/PellixDataManager.h"
#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixEstateParams.h"
#include "PellixDataManager/PellixOperation.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "PellixTempMemoryCache/PellixTempMemoryCache.h"
#include "platform/Value.h"

namespace pellix {

namespace {

// The folder of identity-card photographs.
constexpr std::int64_t kIdentityCardDirectory = 3;
constexpr std::size_t kMinRealNameLength = 2;

using DetectionCompletion = PellixDataManager::DetectionCompletion;

void refuseDetection(const DetectionCompletion& completion, std::int64_t code, const char* message) {
    if (completion) completion(nullptr, nullptr, std::nullopt, PellixError::errorWithCode(code, message));
}

bool hasText(const PellixText& text) { return text && !text->empty(); }

}  // namespace

void PellixDataManager::detectionAndUploadIdentifyImageData(const platform::Bytes& imageData,
                                                            const PellixText& realName,
                                                            std::int64_t uploadImageDataType,
                                                            DetectionCompletion completion) {
    auto user = PellixProxyInfo::sharedInstance()->userInfo();
    const PellixText apiKey = user ? user->id_card_api_key() : std::nullopt;
    const PellixText apiSecret = user ? user->id_card_api_secret() : std::nullopt;
    if (!hasText(apiKey) || !hasText(apiSecret)) {
        return refuseDetection(completion, PellixError::kOCRKeyMissingCode, PellixError::kOCRKeyMissingMessage);
    }

    switch (uploadImageDataType) {
    case kUploadIdentifyCardFront:
    case kUploadIdentifyCardBack:
        break;
    case kUploadHandIdentifyCard:
        return _uploadIdentifyImageData(imageData, uploadImageDataType, nullptr, nullptr, std::move(completion));
    default:
        return refuseDetection(completion, PellixError::kParamsMissingCode, PellixError::kUploadTypeMessage);
    }

    if (!realName || platform::utf16Length(*realName) < kMinRealNameLength) {
        return refuseDetection(completion, PellixError::kRealNameMissingCode, PellixError::kRealNameMissingMessage);
    }
    PellixDataManagerHooks::current().detectIdentifyCard(
        imageData, apiKey, apiSecret,
        [imageData, realName, uploadImageDataType, completion](
            const platform::Value&, const std::shared_ptr<PellixOCRIdentifyCardSideFront>& front,
            const std::shared_ptr<PellixOCRIdentifyCardSideBack>& back) {
            if (uploadImageDataType == kUploadIdentifyCardFront) {
                if (!front || !front->checkValue()) {
                    return refuseDetection(completion, PellixError::kIDCardFrontCode,
                                           PellixError::kIDCardFrontMessage);
                }
                if (front->name() != realName) {
                    return refuseDetection(completion, PellixError::kRealNameMismatchCode,
                                           PellixError::kRealNameMismatchMessage);
                }
                return _uploadIdentifyImageData(imageData, uploadImageDataType, front, nullptr, completion);
            }
            if (!back || !back->checkValue()) {
                return refuseDetection(completion, PellixError::kIDCardBackCode, PellixError::kIDCardBackMessage);
            }
            _uploadIdentifyImageData(imageData, uploadImageDataType, nullptr, back, completion);
        });
}

void PellixDataManager::_uploadIdentifyImageData(const platform::Bytes& imageData, std::int64_t uploadImageDataType,
                                                 const std::shared_ptr<PellixOCRIdentifyCardSideFront>& cardFront,
                                                 const std::shared_ptr<PellixOCRIdentifyCardSideBack>& cardBack,
                                                 DetectionCompletion completion) {
    PellixDataManagerHooks::current().uploadImageData(
        imageData, kIdentityCardDirectory,
        [uploadImageDataType, cardFront, cardBack, completion](const std::string& key) {
            const auto& cache = PellixTempMemoryCache::sharedInstance();
            if (uploadImageDataType == kUploadIdentifyCardFront) cache->storeFront(cardFront, key);
            if (uploadImageDataType == kUploadIdentifyCardBack) cache->storeBack(cardBack, key);
            if (uploadImageDataType == kUploadHandIdentifyCard) cache->setHandIdentifyCardImageObjectKey(key);
            if (completion) completion(cardFront, cardBack, key, nullptr);
        },
        [completion] {
            refuseDetection(completion, PellixError::kIDCardUploadCode, PellixError::kIDCardUploadMessage);
        });
}

void PellixDataManager::selfAuthApplyWithRoomNumberId(
    const PellixText& roomNumberId, const PellixText& cityId, const PellixText& depId, const PellixText& realName,
    const PellixText& mobileNo, const PellixText& selfHelpStatus, const PellixText& authType,
    const PellixText& cardImg1, const PellixText& cardImg2, const PellixText& cardImg3, const PellixText& cardNo,
    const PellixText& cardName, const PellixText& nation, const PellixText& address, const PellixText& government,
    const PellixText& validity, const PellixText& nationCode, Completion completion) {
    auto record = std::make_shared<PellixSelfAuthApplyParam>();
    record->setRoom_number_id(roomNumberId);
    record->setCity_id(cityId);
    record->setDep_id(depId);
    record->setReal_name(realName);
    record->setMobile_no(mobileNo);
    record->setSelf_help_status(selfHelpStatus);
    record->setAuth_type(authType);
    record->setCard_img1(cardImg1);
    record->setCard_img2(cardImg2);
    record->setCard_img3(cardImg3);
    record->setCard_no(cardNo);
    record->setCard_name(cardName);
    record->setNation(nation);
    record->setAddress(address);
    record->setGovernment(government);
    record->setValidity(validity);
    record->setNation_code(nationCode);
    if (!record->isParamsComplete()) {
        if (completion) completion(false, pellixParamsMissingError());
        return;
    }

    // One reading of the cache: a detection finishing on the main queue
    // meanwhile cannot mix an old and a new side into the comparison.
    const PellixTempMemoryCache::Contents cached = PellixTempMemoryCache::sharedInstance()->contents();
    const bool consistent = cached.cardFront && cached.cardBack && cached.handIdentifyCardImageObjectKey &&
                            cached.cardFront->id_card_number() == cardNo && cached.cardFront->name() == cardName &&
                            cached.cardFront->name() == realName && cached.cardFrontImageObjectKey == cardImg1 &&
                            cached.cardBackImageObjectKey == cardImg2 &&
                            cached.handIdentifyCardImageObjectKey == cardImg3;
    if (!consistent) {
        if (completion) {
            completion(false, PellixError::errorWithCode(PellixError::kIDCardChangedCode,
                                                         PellixError::kIDCardChangedMessage));
        }
        return;
    }

    pellixSend(
        record, nullptr, false,
        [completion](const std::shared_ptr<PellixBaseResponse>&) {
            PellixTempMemoryCache::sharedInstance()->clearIdentifyCardInformation();
            if (completion) completion(true, nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(false, error);
        });
}

}  // namespace pellix
