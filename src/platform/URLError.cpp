#include "platform/URLError.h"

namespace pellix::platform {

std::string URLError::description(int code, const std::string& host) {
    switch (code) {
        case Cancelled: return "cancelled";
        case BadURL: return "bad URL";
        case TimedOut: return "The request timed out.";
        case UnsupportedURL: return "unsupported URL";
        case CannotFindHost: return "A server with the specified hostname could not be found.";
        case CannotConnectToHost: return "Could not connect to the server.";
        case NetworkConnectionLost: return "The network connection was lost.";
        case HTTPTooManyRedirects: return "too many HTTP redirects";
        case NotConnectedToInternet: return "The Internet connection appears to be offline.";
        case RequestBodyStreamExhausted: return "request body stream exhausted";
        case SecureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be made.";
        case ServerCertificateUntrusted:
            return "The certificate for this server is invalid. You might be connecting to a server that is "
                   "pretending to be \u201c" + host + "\u201d which could put your confidential information at risk.";
        case CannotWriteToFile: return "The file could not be written.";
        default: return "unknown error";
    }
}

ErrorPtr URLError::make(int code, const URL& failingURL, const std::string& reason, ErrorPtr underlying) {
    Dictionary info;
    info.set(Error::kLocalizedDescriptionKey, Value(description(code, failingURL.host())));
    if (!reason.empty()) info.set(Error::kLocalizedFailureReasonErrorKey, Value(reason));
    std::string text = failingURL.absoluteString();
    info.set(Error::kURLErrorFailingURLErrorKey, Value(text));
    info.set(Error::kURLErrorFailingURLStringErrorKey, Value(text));
    return Error::make(kDomain, code, std::move(info), std::move(underlying));
}

}  // namespace pellix::platform
