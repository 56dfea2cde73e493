// TVStreamingMultipartFormData: builds a streamed "multipart/form-data" body
// for one request. Parts are collected (nothing is read yet);
// requestByFinalizingMultipartFormData() installs a TVMultipartBodyStream as
// the request's body stream with "Content-Type" (with this body's boundary)
// and the exact "Content-Length".
//
// Names and file names are written between double quotes; a '"', CR or LF in
// them is percent-escaped (%22, %0D, %0A) so that no name can end its header
// line or add one.
//
// Every part's headers pass the request serializer's header check: a header
// name must be an HTTP token and a value (a MIME type, the disposition with
// its names) must hold no CR, LF or NUL, else a caller could add header lines
// or a fake boundary. A part failing it is refused whole and nothing of it is
// appended: appendPartWithFileURL returns false with the error (code
// TVHTTPBodyPart::kUnsafeHeaderErrorCode in
// TVURLRequestSerializationErrorDomain); the methods without a result log a
// warning. Either way refusalError() keeps the first refusal, and
// TVHTTPRequestSerializer::multipartFormRequestWithMethod then fails with it
// rather than send a request missing a part the caller asked for.
//
// Used on the caller's thread while building; precondition failures raise
// platform::Exception ("Invalid parameter not satisfying: ...").
#pragma once

#include <memory>
#include <string>

#include "TVNetworking/TVMultipartBodyStream.h"
#include "TVNetworking/TVMultipartFormData.h"
#include "platform/URLRequest.h"

namespace pellix {

class TVStreamingMultipartFormData : public TVMultipartFormData {
public:
    TVStreamingMultipartFormData(const platform::URLRequest& request, unsigned stringEncoding);
    TVStreamingMultipartFormData(const TVStreamingMultipartFormData&) = delete;
    TVStreamingMultipartFormData& operator=(const TVStreamingMultipartFormData&) = delete;

    const platform::URLRequest& request() const { return request_; }
    void setRequest(const platform::URLRequest& request) { request_ = request; }
    unsigned stringEncoding() const { return stringEncoding_; }
    const std::string& boundary() const { return boundary_; }
    const std::shared_ptr<TVMultipartBodyStream>& bodyStream() const { return bodyStream_; }
    // The error of the first part refused so far (see above); null when none.
    const platform::ErrorPtr& refusalError() const { return refusalError_; }

    bool appendPartWithFileURL(const platform::URL& fileURL, const std::string& name,
                               platform::ErrorPtr* error) override;
    bool appendPartWithFileURL(const platform::URL& fileURL, const std::string& name, const std::string& fileName,
                               const std::string& mimeType, platform::ErrorPtr* error) override;
    void appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream, const std::string& name,
                                   const std::string& fileName, std::int64_t length,
                                   const std::string& mimeType) override;
    void appendPartWithFileData(const platform::Bytes& data, const std::string& name, const std::string& fileName,
                                const std::string& mimeType) override;
    void appendPartWithFormData(const platform::Bytes& data, const std::string& name) override;
    void appendPartWithHeaders(TVHTTPBodyPartHeaders headers, const platform::Bytes& body) override;
    void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) override;

    // The request with the body stream and its headers; unchanged when no
    // part was appended.
    platform::URLRequest requestByFinalizingMultipartFormData();

private:
    // False (nothing appended, the refusal recorded) when a header is unsafe.
    bool appendPart(TVHTTPBodyPartHeaders headers, TVHTTPBodyPart::Body body, std::uint64_t length);

    platform::URLRequest request_;
    unsigned stringEncoding_;
    std::string boundary_;
    std::shared_ptr<TVMultipartBodyStream> bodyStream_;
    platform::ErrorPtr refusalError_;
};

// "form-data; name=\"...\"" and "form-data; name=\"...\"; filename=\"...\"",
// with '"', CR and LF escaped.
std::string TVMultipartFormDisposition(const std::string& name);
std::string TVMultipartFileDisposition(const std::string& name, const std::string& fileName);

}  // namespace pellix
