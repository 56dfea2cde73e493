// PellixOCRAPIManager: reads an identity-card photograph through the outside
// OCR service.
//
// The request: a multipart/form-data POST to OCRURLString() (by default
// kPellixSDKOCRAPIManagerAPURLString, path "/ocr/v1/ocridcard") with the form
// fields "api_key" and "api_secret" and one file part "image_file" (file name
// "image_file", type "image/jpeg/png"), on a session manager made for this
// request alone, with the layer's default trust policy. The answer is taken
// as raw bytes; any status from 200 to 299 is success.
//
// The answer reaches `finished` as (dictionary, front, back):
//   - transport failure, a status outside 200-299, or a body that is not a
//     JSON object: (null, null, null);
//   - no "cards", "cards" not a list of exactly one item, or an item whose
//     "type" does not read as the integer 1: (dictionary, null, null);
//   - the item's "side" is "front": (dictionary, front record, null) when the
//     record passes checkValue(), else (null, null, null);
//   - any other side: (dictionary, null, back record) when it passes
//     checkValue(), else (null, null, null).
// The network-activity indicator is shown while the request runs.
//
// System log, whatever the SDK's log switch says: two lines per upload
// progress report ("uploadProgress： …" and "总大小：…"), and for the
// statuses 413 and 500 one line naming the cause.
//
// Threads: call from any thread; `finished` runs once, on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixEstateRecords.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "platform/HTTPURLResponse.h"
#include "platform/Value.h"

namespace pellix {

// The OCR service's endpoint unless the host points the SDK elsewhere.
inline constexpr const char* kPellixSDKOCRAPIManagerAPURLString = "https://ocr.pellix.example/ocr/v1/ocridcard";

class PellixOCRAPIManager {
public:
    // The answer's JSON object (null when there is none) and the side read.
    using Finished = std::function<void(const platform::Value& dictionary,
                                        const std::shared_ptr<PellixOCRIdentifyCardSideFront>& front,
                                        const std::shared_ptr<PellixOCRIdentifyCardSideBack>& back)>;

    // Log lines of the statuses the service explains.
    static constexpr const char* kTooLargeLine = "客户发送的请求大小超过了2MB限制";
    static constexpr const char* kServerErrorLine = "服务器内部错误";

    // Sends the photograph; nil key or secret fields are left out.
    static void detectionIdentifyCardImageWithImageData(const platform::Bytes& imageData, const PellixText& ocrAPIKey,
                                                        const PellixText& ocrAPISecret, Finished finished);

    // Writes the line for a 413 or 500 status; any other status (or no
    // response) writes nothing.
    static void _handleNSURLSessionDataTaskResponseCode(
        const std::shared_ptr<const platform::HTTPURLResponse>& response);

    // The endpoint requests go to; replaceable (tests point it at a local
    // stand-in). Empty restores the default. Thread-safe.
    static std::string OCRURLString();
    static void setOCRURLString(std::string urlString);
};

}  // namespace pellix
