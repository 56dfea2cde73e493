#include "PellixOCRAPI/PellixOCRAPIManager.h"

#include <mutex>

#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVHTTPSessionManager.h"
#include "platform/Application.h"
#include "platform/JSON.h"
#include "platform/Log.h"

namespace pellix {

namespace {

constexpr const char* kImagePartName = "image_file";
constexpr const char* kImageMimeType = "image/jpeg/png";
constexpr std::int64_t kIdentityCardType = 1;

std::mutex& urlMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

std::string& urlOverride() {
    static auto* url = new std::string();
    return *url;
}

void setIndicator(bool visible) { platform::Application::sharedApplication().setNetworkActivityIndicatorVisible(visible); }

// The answer as a JSON object: taken as it is when it already is one, else
// its bytes (or text) parsed; null when it is no object.
platform::Value answerDictionary(const TVResponseObject& responseObject) {
    const platform::Value* value = responseObject.value();
    if (!value) return {};
    if (value->isDictionary()) return *value;
    std::optional<platform::Value> parsed;
    if (value->isBytes()) {
        parsed = platform::JSON::parse(value->asBytes(), platform::JSON::kMutableContainers);
    } else if (const std::string* text = value->stringIf()) {
        parsed = platform::JSON::parse(*text, platform::JSON::kMutableContainers);
    }
    if (parsed && parsed->isDictionary()) return *parsed;
    return {};
}

void report(const PellixOCRAPIManager::Finished& finished, const platform::Value& dictionary,
            const std::shared_ptr<PellixOCRIdentifyCardSideFront>& front,
            const std::shared_ptr<PellixOCRIdentifyCardSideBack>& back) {
    if (finished) finished(dictionary, front, back);
}

void readAnswer(const platform::Value& dictionary, const PellixOCRAPIManager::Finished& finished) {
    if (dictionary.isNull()) return report(finished, {}, nullptr, nullptr);
    const platform::Value* cards = dictionary.get("cards");
    const platform::Array* list = cards ? cards->arrayIf() : nullptr;
    // An answer that reads no card, or more than one, names no single side.
    if (!list || list->size() != 1) return report(finished, dictionary, nullptr, nullptr);
    const platform::Value& card = (*list)[0];
    const platform::Value* type = card.get("type");
    if (!card.isDictionary() || !type || type->intValue() != kIdentityCardType) {
        return report(finished, dictionary, nullptr, nullptr);
    }
    const platform::Value* side = card.get("side");
    if (side && side->stringIf() && *side->stringIf() == "front") {
        auto front = PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(card.asDictionary());
        if (front->checkValue()) return report(finished, dictionary, front, nullptr);
        return report(finished, {}, nullptr, nullptr);
    }
    auto back = PellixBaseModel::make<PellixOCRIdentifyCardSideBack>(card.asDictionary());
    if (back->checkValue()) return report(finished, dictionary, nullptr, back);
    report(finished, {}, nullptr, nullptr);
}

void logProgress(const TVProgress& progress) {
    const std::int64_t total = progress.totalUnitCount();
    const std::int64_t completed = progress.completedUnitCount();
    platform::Log::writef("uploadProgress： %f\n", progress.fractionCompleted());
    platform::Log::writef("总大小：%lld,当前大小:%lld，uploadProgress ：%lld", static_cast<long long>(total),
                          static_cast<long long>(completed),
                          static_cast<long long>(total == 0 ? 0 : completed / total));
}

}  // namespace

std::string PellixOCRAPIManager::OCRURLString() {
    std::lock_guard<std::mutex> lock(urlMutex());
    return urlOverride().empty() ? std::string(kPellixSDKOCRAPIManagerAPURLString) : urlOverride();
}

void PellixOCRAPIManager::setOCRURLString(std::string urlString) {
    std::lock_guard<std::mutex> lock(urlMutex());
    urlOverride() = std::move(urlString);
}

void PellixOCRAPIManager::_handleNSURLSessionDataTaskResponseCode(
    const std::shared_ptr<const platform::HTTPURLResponse>& response) {
    if (!response) return;
    if (response->statusCode() == 413) platform::Log::write(kTooLargeLine);
    if (response->statusCode() == 500) platform::Log::write(kServerErrorLine);
}

void PellixOCRAPIManager::detectionIdentifyCardImageWithImageData(const platform::Bytes& imageData,
                                                                  const PellixText& ocrAPIKey,
                                                                  const PellixText& ocrAPISecret, Finished finished) {
    setIndicator(true);
    auto manager = TVHTTPSessionManager::manager();
    manager->setResponseSerializer(TVHTTPResponseSerializer::serializer());

    platform::Dictionary parameters;
    if (ocrAPIKey) parameters.set("api_key", *ocrAPIKey);
    if (ocrAPISecret) parameters.set("api_secret", *ocrAPISecret);

    manager->POST(
        OCRURLString(), platform::Value(std::move(parameters)),
        [imageData](TVMultipartFormData& formData) {
            formData.appendPartWithFileData(imageData, kImagePartName, kImagePartName, kImageMimeType);
        },
        [](TVProgress& progress) { logProgress(progress); },
        [finished](const TVURLSessionTaskPtr& task, const TVResponseObject& responseObject) {
            _handleNSURLSessionDataTaskResponseCode(task ? task->response() : nullptr);
            readAnswer(answerDictionary(responseObject), finished);
            setIndicator(false);
        },
        [finished](const TVURLSessionTaskPtr& task, const platform::ErrorPtr&) {
            setIndicator(false);
            _handleNSURLSessionDataTaskResponseCode(task ? task->response() : nullptr);
            report(finished, {}, nullptr, nullptr);
        });
    // The manager serves this one request: its task runs to its end.
    manager->invalidateSessionCancelingTasks(false);
}

}  // namespace pellix
