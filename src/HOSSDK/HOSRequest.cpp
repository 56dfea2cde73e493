#include "HOSSDK/HOSRequest.h"

#include "HOSSDK/HOSNetworkingRequestDelegate.h"

namespace pellix {

HOSRequest::HOSRequest() : requestDelegate_(std::make_shared<HOSNetworkingRequestDelegate>()) {}

void HOSRequest::cancel() {
    isCancelled_ = true;
    if (requestDelegate_) requestDelegate_->cancel();
}

}  // namespace pellix
