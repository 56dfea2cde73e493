// PellixTempMemoryCache: what the identity-card detection has accepted so
// far, in memory only: the OCR reading of the card's front and back and the
// object keys of the three photographs (front, back, the resident holding
// the card). The self-authentication application must repeat exactly these.
//
// Life cycle: empty at start; each accepted photograph replaces the values of
// its own kind; clearIdentifyCardInformation() (after an accepted
// application) empties it. Nothing is archived: a restart forgets it, a
// logout or a new registration does not.
//
// Thread safety: detections store their results on the main queue while an
// application may read from the caller's thread, so every accessor takes the
// cache's lock; contents() reads all five values under one lock, so a reader
// never sees one kind half replaced.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixEstateRecords.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"

namespace pellix {

class PellixTempMemoryCache {
public:
    // All five values at one moment.
    struct Contents {
        std::shared_ptr<PellixOCRIdentifyCardSideFront> cardFront;
        PellixText cardFrontImageObjectKey;
        std::shared_ptr<PellixOCRIdentifyCardSideBack> cardBack;
        PellixText cardBackImageObjectKey;
        PellixText handIdentifyCardImageObjectKey;
    };

    static const std::shared_ptr<PellixTempMemoryCache>& sharedInstance();

    std::shared_ptr<PellixOCRIdentifyCardSideFront> cardFront() const;
    void setCardFront(std::shared_ptr<PellixOCRIdentifyCardSideFront> record);
    PellixText cardFrontImageObjectKey() const;
    void setCardFrontImageObjectKey(PellixText key);
    std::shared_ptr<PellixOCRIdentifyCardSideBack> cardBack() const;
    void setCardBack(std::shared_ptr<PellixOCRIdentifyCardSideBack> record);
    PellixText cardBackImageObjectKey() const;
    void setCardBackImageObjectKey(PellixText key);
    PellixText handIdentifyCardImageObjectKey() const;
    void setHandIdentifyCardImageObjectKey(PellixText key);

    // One accepted side: its reading and its photograph's key together.
    void storeFront(std::shared_ptr<PellixOCRIdentifyCardSideFront> record, std::string key);
    void storeBack(std::shared_ptr<PellixOCRIdentifyCardSideBack> record, std::string key);

    Contents contents() const;

    // Sets all five values to nil.
    void clearIdentifyCardInformation();

    PellixTempMemoryCache(const PellixTempMemoryCache&) = delete;
    PellixTempMemoryCache& operator=(const PellixTempMemoryCache&) = delete;

private:
    PellixTempMemoryCache() = default;

    mutable std::mutex mutex_;
    Contents contents_;
};

}  // namespace pellix
