// TVHTTPRequestSerializer's multipart entry points.
#include <memory>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVNetworkingSupport.h"
#include "TVNetworking/TVQueryStringPair.h"
#include "TVNetworking/TVStreamingMultipartFormData.h"
#include "platform/OutputStream.h"
#include "platform/URLError.h"

namespace pellix {

using platform::ErrorPtr;
using platform::URLRequest;
using platform::Value;

ErrorPtr TVWriteInputStreamToOutputStream(platform::InputStream& input, platform::OutputStream& output) {
    output.open();
    input.open();
    ErrorPtr error;
    if (output.streamStatus() == platform::OutputStream::Status::Error) error = output.streamError();
    if (!error && input.streamStatus() == platform::InputStream::Status::Error) error = input.streamError();
    std::uint8_t buffer[1024];
    while (!error) {
        std::int64_t n = input.read(buffer, sizeof buffer);
        if (n < 0) {
            error = input.streamError();
            if (!error) error = platform::Error::make(platform::URLError::kDomain, platform::URLError::Unknown);
            break;
        }
        if (n == 0) break;
        // A write may take only part of the bytes; the rest must follow, or
        // the file would silently miss them.
        std::int64_t written = 0;
        while (written < n) {
            std::int64_t w = output.write(buffer + written, static_cast<std::size_t>(n - written));
            if (w <= 0) {
                error = output.streamError();
                if (!error) error = platform::Error::make(platform::URLError::kDomain, platform::URLError::CannotWriteToFile);
                break;
            }
            written += w;
        }
    }
    output.close();
    input.close();
    return error;
}

std::optional<URLRequest> TVHTTPRequestSerializer::multipartFormRequestWithMethod(
    const std::string& method, const std::string& URLString, const Value& parameters,
    const std::function<void(TVMultipartFormData&)>& block, ErrorPtr* error) {
    TVParameterAssert(!method.empty(), "method");
    TVParameterAssert(method != "GET" && method != "HEAD",
                      "![method isEqualToString:@\"GET\"] && ![method isEqualToString:@\"HEAD\"]");
    auto request = requestWithMethod(method, URLString, Value(), error);
    if (!request) return std::nullopt;
    TVStreamingMultipartFormData formData(*request, kTVUTF8StringEncoding);
    if (!parameters.isNull()) {
        for (const TVQueryStringPair& pair : TVQueryStringPairsFromDictionary(parameters)) {
            platform::Bytes data;
            if (pair.value().isBytes()) {
                data = pair.value().asBytes();
            } else if (!pair.value().isNull()) {
                std::string text = pair.value().description();
                data.assign(text.begin(), text.end());
            }
            formData.appendPartWithFormData(data, pair.field());
        }
    }
    if (block) block(formData);
    if (const ErrorPtr& refused = formData.refusalError()) {
        // A part the caller asked for is missing: the request must not go out without it.
        if (error) *error = refused;
        return std::nullopt;
    }
    return formData.requestByFinalizingMultipartFormData();
}

URLRequest TVHTTPRequestSerializer::requestWithMultipartFormRequest(const URLRequest& request,
                                                                    const platform::URL& fileURL,
                                                                    std::function<void(ErrorPtr)> completionHandler) {
    TVParameterAssert(request.httpBodyStream() != nullptr, "request.HTTPBodyStream");
    TVParameterAssert(fileURL.isFileURL(), "[fileURL isFileURL]");
    std::shared_ptr<platform::InputStream> input = request.httpBodyStream();
    std::string path = fileURL.path();
    platform::DispatchQueue::global()->async([input, path, completionHandler = std::move(completionHandler)] {
        auto output = platform::OutputStream::toFile(path, false);
        ErrorPtr error = TVWriteInputStreamToOutputStream(*input, *output);
        if (completionHandler) platform::DispatchQueue::main()->async([completionHandler, error] { completionHandler(error); });
    });
    URLRequest copy = request;
    copy.setHTTPBodyStream(nullptr);
    return copy;
}

}  // namespace pellix
