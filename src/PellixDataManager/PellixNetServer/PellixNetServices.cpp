#include "PellixDataManager/PellixNetServer/PellixNetServices.h"

#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixResponseImage.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace {

constexpr int kStatusOK = 200;
constexpr int kStatusTokenInvalid = 426;
constexpr std::int64_t kServerErrorCode = 500;

PellixErrorPtr errorWithTableText(std::int64_t code) {
    auto error = std::make_shared<PellixError>();
    error->setErrorCode(code);
    return error;
}

void fail(const PellixNetServices::Failure& failure, std::int64_t code) {
    if (failure) failure(errorWithTableText(code));
}

int statusOf(const PellixDataService::Task& task) {
    auto response = task ? task->response() : nullptr;
    return response ? response->statusCode() : 0;
}

}  // namespace

PellixDataService::Task PellixNetServices::getPellixSDKData(const std::shared_ptr<PellixBaseRequestParam>& param,
                                                            PellixBodyType bodyType, Success success,
                                                            Failure failure) {
    return send(param, bodyType, std::move(success), std::move(failure), false);
}

PellixDataService::Task PellixNetServices::send(const std::shared_ptr<PellixBaseRequestParam>& param,
                                                PellixBodyType bodyType, Success success, Failure failure,
                                                bool resent) {
    auto onAnswer = [param, bodyType, success, failure, resent](const PellixDataService::Task& task,
                                                                const TVResponseObject& object) {
        if (auto image = object.image()) {
            auto response = std::make_shared<PellixBaseResponse>();
            response->setCode(kStatusOK);
            response->setMessage(std::string(kImageMessage));
            response->setBody(PellixBaseResponse::Body{std::make_shared<PellixResponseImage>(image)});
            if (success) success(response);
            return;
        }
        const platform::Value* value = object.value();
        if (!value || !value->isDictionary()) {
            // An answer without an envelope still ends the operation: the
            // caller is told, never left waiting.
            fail(failure, kServerErrorCode);
            return;
        }
        auto response = PellixBaseResponse::make(*value, bodyType);
        const int status = statusOf(task);
        if (status == kStatusOK) {
            response->setCode(kStatusOK);
            if (success) success(response);
        } else if (status == kStatusTokenInvalid) {
            // One refresh and one resend per operation: a platform that keeps
            // refusing fresh tokens must not keep the SDK fetching forever.
            if (resent) {
                fail(failure, kStatusTokenInvalid);
            } else {
                refreshAndResend(param, bodyType, success, failure);
            }
        } else {
            auto error = std::make_shared<PellixError>();
            error->setErrorCode(response->code() >= 0 ? response->code() : status);
            if (response->message()) error->setMessage(response->message());
            if (failure) failure(error);
        }
    };
    auto onError = [failure](const PellixDataService::Task&, const platform::ErrorPtr& error) {
        fail(failure, error ? error->code() : 0);
    };
    return PellixDataService::services()->getPellixSDKData(param, std::move(onAnswer), std::move(onError));
}

void PellixNetServices::refreshAndResend(const std::shared_ptr<PellixBaseRequestParam>& param, PellixBodyType bodyType,
                                         Success success, Failure failure) {
    const auto store = PellixProxyInfo::sharedInstance();
    PellixDataManagerPrivate::refreshhAccessTokenWithAppId(
        store->appId(), store->secretKey(), store->package_name(),
        [param, bodyType, success, failure](bool ok, const PellixErrorPtr&) {
            if (ok) {
                // A record that carries its own token (the family call's)
                // would send the refused one again: it takes the fresh one.
                if (auto root = std::dynamic_pointer_cast<PellixRootParam>(param); root && root->token()) {
                    if (auto token = PellixProxyInfo::sharedInstance()->token()) root->setToken(token->token());
                }
                send(param, bodyType, success, failure, true);
                return;
            }
            platform::NotificationCenter::defaultCenter().post(kTokenInvalideNotification, nullptr);
            fail(failure, kStatusTokenInvalid);
        });
}

void PellixNetServices::configCommonRequestHearderParams(platform::Dictionary headers) {
    PellixDataService::services()->setRequestHeaderParams(std::move(headers));
}

void PellixNetServices::cancelAllTask() { PellixDataService::services()->cancelAllTask(); }

}  // namespace pellix
