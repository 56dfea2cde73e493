#include "PellixDataManager/PellixDataManagerHooks.h"

#include <mutex>
#include <utility>

#include "platform/DispatchQueue.h"

namespace pellix {

namespace {

std::mutex& hooksMutex() {
    static std::mutex mutex;
    return mutex;
}

PellixDataManagerHooks& installed() {
    static PellixDataManagerHooks hooks;
    return hooks;
}

void onMain(std::function<void()> block) { platform::DispatchQueue::main()->async(std::move(block)); }

// Fills the hooks nobody installed with ones that keep their callers'
// promise of one outcome.
void fallBack(PellixDataManagerHooks& hooks) {
    if (!hooks.configureImageTool) hooks.configureImageTool = [] {};
    if (!hooks.resubscribeTopics) hooks.resubscribeTopics = [](const PellixTextList&) {};
    if (!hooks.uploadImageData) {
        hooks.uploadImageData = [](const platform::Bytes&, std::int64_t, PellixImageUploadSuccess,
                                   PellixImageUploadFailure failure) {
            onMain([failure = std::move(failure)] {
                if (failure) failure();
            });
        };
    }
    if (!hooks.uploadImageDatas) {
        hooks.uploadImageDatas = [](const std::vector<platform::Bytes>&, std::int64_t, PellixImageUploadsSuccess,
                                    PellixImageUploadFailure failure) {
            onMain([failure = std::move(failure)] {
                if (failure) failure();
            });
        };
    }
    if (!hooks.downloadWithImageObjectKey) {
        hooks.downloadWithImageObjectKey = [](const PellixText& key, PellixImageDownloadSuccess,
                                              PellixImageDownloadFailure failure) {
            if (!failure) return;
            if (!key || key->empty()) return failure(key);
            onMain([key, failure = std::move(failure)] { failure(key); });
        };
    }
    if (!hooks.detectIdentifyCard) {
        hooks.detectIdentifyCard = [](const platform::Bytes&, const PellixText&, const PellixText&,
                                      PellixIdentifyCardReading finished) {
            onMain([finished = std::move(finished)] {
                if (finished) finished(platform::Value(), nullptr, nullptr);
            });
        };
    }
}

}  // namespace

void PellixDataManagerHooks::install(PellixDataManagerHooks hooks) {
    std::lock_guard<std::mutex> lock(hooksMutex());
    installed() = std::move(hooks);
}

PellixDataManagerHooks PellixDataManagerHooks::current() {
    PellixDataManagerHooks hooks;
    {
        std::lock_guard<std::mutex> lock(hooksMutex());
        hooks = installed();
    }
    fallBack(hooks);
    return hooks;
}

}  // namespace pellix
