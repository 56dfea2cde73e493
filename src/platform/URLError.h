// URLError: the platform's URL-loading error domain, its codes and how an
// error of it is made (with the failing URL in its user info, under
// Error::kURLErrorFailingURLErrorKey and kURLErrorFailingURLStringErrorKey).
#pragma once

#include <string>

#include "platform/Error.h"
#include "platform/URL.h"

namespace pellix::platform {

class URLError {
public:
    static constexpr const char* kDomain = "NSURLErrorDomain";

    enum Code : int {
        Unknown = -1,
        Cancelled = -999,
        BadURL = -1000,
        TimedOut = -1001,
        UnsupportedURL = -1002,
        CannotFindHost = -1003,
        CannotConnectToHost = -1004,
        NetworkConnectionLost = -1005,
        HTTPTooManyRedirects = -1007,
        NotConnectedToInternet = -1009,
        RequestBodyStreamExhausted = -1021,
        SecureConnectionFailed = -1200,
        ServerCertificateUntrusted = -1202,
        CannotWriteToFile = -3003,
    };

    // The platform's wording for a code ("cancelled", "The request timed out.", ...).
    static std::string description(int code, const std::string& host = {});

    // An error of the domain: localized description, the failing URL (as text
    // under both failing-URL keys) and, when given, a failure reason (the
    // transport's own words) and an underlying error.
    static ErrorPtr make(int code, const URL& failingURL, const std::string& reason = {},
                         ErrorPtr underlying = nullptr);
};

}  // namespace pellix::platform
