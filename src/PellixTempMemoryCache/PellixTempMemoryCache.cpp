#include "PellixTempMemoryCache/PellixTempMemoryCache.h"

namespace pellix {

const std::shared_ptr<PellixTempMemoryCache>& PellixTempMemoryCache::sharedInstance() {
    // Never destroyed: a detection may still finish while the process exits.
    static const auto* instance = new std::shared_ptr<PellixTempMemoryCache>(new PellixTempMemoryCache());
    return *instance;
}

std::shared_ptr<PellixOCRIdentifyCardSideFront> PellixTempMemoryCache::cardFront() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_.cardFront;
}

void PellixTempMemoryCache::setCardFront(std::shared_ptr<PellixOCRIdentifyCardSideFront> record) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.cardFront = std::move(record);
}

PellixText PellixTempMemoryCache::cardFrontImageObjectKey() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_.cardFrontImageObjectKey;
}

void PellixTempMemoryCache::setCardFrontImageObjectKey(PellixText key) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.cardFrontImageObjectKey = std::move(key);
}

std::shared_ptr<PellixOCRIdentifyCardSideBack> PellixTempMemoryCache::cardBack() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_.cardBack;
}

void PellixTempMemoryCache::setCardBack(std::shared_ptr<PellixOCRIdentifyCardSideBack> record) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.cardBack = std::move(record);
}

PellixText PellixTempMemoryCache::cardBackImageObjectKey() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_.cardBackImageObjectKey;
}

void PellixTempMemoryCache::setCardBackImageObjectKey(PellixText key) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.cardBackImageObjectKey = std::move(key);
}

PellixText PellixTempMemoryCache::handIdentifyCardImageObjectKey() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_.handIdentifyCardImageObjectKey;
}

void PellixTempMemoryCache::setHandIdentifyCardImageObjectKey(PellixText key) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.handIdentifyCardImageObjectKey = std::move(key);
}

void PellixTempMemoryCache::storeFront(std::shared_ptr<PellixOCRIdentifyCardSideFront> record, std::string key) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.cardFront = std::move(record);
    contents_.cardFrontImageObjectKey = std::move(key);
}

void PellixTempMemoryCache::storeBack(std::shared_ptr<PellixOCRIdentifyCardSideBack> record, std::string key) {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_.cardBack = std::move(record);
    contents_.cardBackImageObjectKey = std::move(key);
}

PellixTempMemoryCache::Contents PellixTempMemoryCache::contents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_;
}

void PellixTempMemoryCache::clearIdentifyCardInformation() {
    std::lock_guard<std::mutex> lock(mutex_);
    contents_ = Contents{};
}

}  // namespace pellix
