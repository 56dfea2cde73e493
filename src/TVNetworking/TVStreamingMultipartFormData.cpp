#include "TVNetworking/TVStreamingMultipartFormData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "TVNetworking/TVContentTypeForPathExtension.h"
#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVNetworkingSupport.h"
#include "platform/Log.h"

namespace pellix {

using platform::ErrorPtr;
using platform::Value;

namespace {

// A quoted parameter of Content-Disposition; an unescaped quote or line break
// would end the value or the header line early.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += "%22";
        else if (c == '\r') out += "%0D";
        else if (c == '\n') out += "%0A";
        else out.push_back(c);
    }
    out.push_back('"');
    return out;
}

ErrorPtr requestError(std::int64_t code, const char* reason) {
    return platform::Error::make(
        TVURLRequestSerializationErrorDomain, code,
        platform::Dictionary{{platform::Error::kLocalizedFailureReasonErrorKey, Value(TVNetworkingLocalizedString(reason))}});
}

}  // namespace

std::string TVMultipartFormDisposition(const std::string& name) { return "form-data; name=" + quoted(name); }

std::string TVMultipartFileDisposition(const std::string& name, const std::string& fileName) {
    return "form-data; name=" + quoted(name) + "; filename=" + quoted(fileName);
}

TVStreamingMultipartFormData::TVStreamingMultipartFormData(const platform::URLRequest& request, unsigned stringEncoding)
    : request_(request),
      stringEncoding_(stringEncoding),
      boundary_(TVCreateMultipartFormBoundary()),
      bodyStream_(std::make_shared<TVMultipartBodyStream>(stringEncoding)) {}

bool TVStreamingMultipartFormData::appendPartWithFileURL(const platform::URL& fileURL, const std::string& name,
                                                         ErrorPtr* error) {
    std::string path = fileURL.path();
    std::string fileName = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    std::size_t dot = fileName.find_last_of('.');
    std::string extension = dot == std::string::npos || dot == 0 ? std::string() : fileName.substr(dot + 1);
    return appendPartWithFileURL(fileURL, name, fileName, TVContentTypeForPathExtension(extension), error);
}

bool TVStreamingMultipartFormData::appendPartWithFileURL(const platform::URL& fileURL, const std::string& name,
                                                         const std::string& fileName, const std::string& mimeType,
                                                         ErrorPtr* error) {
    if (!fileURL.isFileURL()) {
        if (error) *error = requestError(-1000, "Expected URL to be a file URL");
        return false;
    }
    const std::string path = fileURL.path();
    if (::access(path.c_str(), F_OK) != 0) {
        if (error) *error = requestError(-1000, "File URL not reachable.");
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int err = errno;
        if (error)
            *error = platform::Error::make(
                "NSPOSIXErrorDomain", err,
                platform::Dictionary{{platform::Error::kLocalizedDescriptionKey, Value(std::string(std::strerror(err)))}});
        return false;
    }
    if (!appendPart({{"Content-Disposition", TVMultipartFileDisposition(name, fileName)}, {"Content-Type", mimeType}},
                    fileURL, static_cast<std::uint64_t>(st.st_size))) {
        if (error) *error = refusalError_;
        return false;
    }
    return true;
}

void TVStreamingMultipartFormData::appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream,
                                                             const std::string& name, const std::string& fileName,
                                                             std::int64_t length, const std::string& mimeType) {
    TVParameterAssert(inputStream != nullptr, "inputStream");
    TVParameterAssert(length >= 0, "length >= 0");
    appendPart({{"Content-Disposition", TVMultipartFileDisposition(name, fileName)}, {"Content-Type", mimeType}},
               std::move(inputStream), static_cast<std::uint64_t>(length));
}

void TVStreamingMultipartFormData::appendPartWithFileData(const platform::Bytes& data, const std::string& name,
                                                          const std::string& fileName, const std::string& mimeType) {
    appendPartWithHeaders({{"Content-Disposition", TVMultipartFileDisposition(name, fileName)}, {"Content-Type", mimeType}},
                          data);
}

void TVStreamingMultipartFormData::appendPartWithFormData(const platform::Bytes& data, const std::string& name) {
    appendPartWithHeaders({{"Content-Disposition", TVMultipartFormDisposition(name)}}, data);
}

void TVStreamingMultipartFormData::appendPartWithHeaders(TVHTTPBodyPartHeaders headers, const platform::Bytes& body) {
    appendPart(std::move(headers), std::make_shared<const platform::Bytes>(body), body.size());
}

bool TVStreamingMultipartFormData::appendPart(TVHTTPBodyPartHeaders headers, TVHTTPBodyPart::Body body,
                                              std::uint64_t length) {
    if (!TVHTTPBodyPart::headersAreSafe(headers)) {
        // The headers are not logged: they are what could not be written safely.
        platform::Log::write("TVStreamingMultipartFormData: part refused: a header name is not an HTTP token, or a "
                             "header value (a MIME type, a name) holds CR, LF or NUL");
        if (!refusalError_) refusalError_ = TVHTTPBodyPart::unsafeHeaderError();
        return false;
    }
    auto part = std::make_shared<TVHTTPBodyPart>();
    part->stringEncoding = stringEncoding_;
    part->headers = std::move(headers);
    part->boundary = boundary_;
    part->body = std::move(body);
    part->bodyContentLength = length;
    bodyStream_->appendHTTPBodyPart(std::move(part));
    return true;
}

void TVStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) {
    bodyStream_->numberOfBytesInPacket = numberOfBytes;
    bodyStream_->delay = delay;
}

platform::URLRequest TVStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
    if (bodyStream_->isEmpty()) return request_;
    bodyStream_->setInitialAndFinalBoundaries();
    request_.setHTTPBodyStream(bodyStream_);
    request_.setValue("multipart/form-data; boundary=" + boundary_, "Content-Type");
    request_.setValue(std::to_string(bodyStream_->contentLength()), "Content-Length");
    return request_;
}

}  // namespace pellix
