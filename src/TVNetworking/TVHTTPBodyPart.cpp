#include "TVNetworking/TVHTTPBodyPart.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "platform/Crypto.h"
#include "platform/URLRequest.h"

namespace pellix {

using platform::ErrorPtr;
using platform::InputStream;

namespace {
constexpr const char* kCRLF = "\r\n";

ErrorPtr lengthMismatch(const char* reason) {
    return platform::Error::make(TVURLRequestSerializationErrorDomain, TVHTTPBodyPart::kContentLengthMismatchErrorCode,
                                 platform::Dictionary{{platform::Error::kLocalizedFailureReasonErrorKey, platform::Value(reason)}});
}
}  // namespace

std::string TVCreateMultipartFormBoundary() {
    std::uint8_t r[8] = {};
    if (!platform::crypto::randomBytes(r, sizeof r)) {
        // The secure source failing leaves no sound fallback for a boundary
        // that must not occur in the content.
        throw platform::Exception(platform::Exception::kInternalInconsistencyException,
                                  "secure random source unavailable");
    }
    std::uint32_t a, b;
    std::memcpy(&a, r, 4);
    std::memcpy(&b, r + 4, 4);
    char text[40];
    std::snprintf(text, sizeof text, "Boundary+%08X%08X", a, b);
    return text;
}

std::string TVMultipartFormInitialBoundary(const std::string& boundary) { return "--" + boundary + kCRLF; }
std::string TVMultipartFormEncapsulationBoundary(const std::string& boundary) {
    return std::string(kCRLF) + "--" + boundary + kCRLF;
}
std::string TVMultipartFormFinalBoundary(const std::string& boundary) {
    return std::string(kCRLF) + "--" + boundary + "--" + kCRLF;
}

bool TVHTTPBodyPart::headersAreSafe(const TVHTTPBodyPartHeaders& headers) {
    for (const auto& [name, value] : headers)
        if (!platform::URLRequest::isToken(name) || !platform::URLRequest::isSafeHeaderValue(value)) return false;
    return true;
}

ErrorPtr TVHTTPBodyPart::unsafeHeaderError() {
    return platform::Error::make(
        TVURLRequestSerializationErrorDomain, kUnsafeHeaderErrorCode,
        platform::Dictionary{{platform::Error::kLocalizedFailureReasonErrorKey,
                              platform::Value("Part header name is not an HTTP token, or its value holds CR, LF "
                                              "or NUL.")}});
}

TVHTTPBodyPart::TVHTTPBodyPart() { transitionToNextPhase(); }

TVHTTPBodyPart::~TVHTTPBodyPart() {
    if (inputStream_) inputStream_->close();
}

const std::shared_ptr<InputStream>& TVHTTPBodyPart::inputStream() {
    if (!inputStream_) {
        if (auto* data = std::get_if<std::shared_ptr<const platform::Bytes>>(&body)) {
            inputStream_ = InputStream::withData(*data ? **data : platform::Bytes());
        } else if (auto* url = std::get_if<platform::URL>(&body)) {
            inputStream_ = InputStream::withFile(url->path());
        } else if (auto* stream = std::get_if<std::shared_ptr<InputStream>>(&body); stream && *stream) {
            inputStream_ = *stream;
        } else {
            inputStream_ = InputStream::withData({});
        }
    }
    return inputStream_;
}

std::string TVHTTPBodyPart::stringForHeaders() const {
    std::string text;
    for (const auto& [name, value] : headers) text += name + ": " + value + kCRLF;
    text += kCRLF;
    return text;
}

std::uint64_t TVHTTPBodyPart::contentLength() const {
    std::uint64_t length = hasInitialBoundary ? TVMultipartFormInitialBoundary(boundary).size()
                                              : TVMultipartFormEncapsulationBoundary(boundary).size();
    length += stringForHeaders().size();
    length += bodyContentLength;
    if (hasFinalBoundary) length += TVMultipartFormFinalBoundary(boundary).size();
    return length;
}

bool TVHTTPBodyPart::hasBytesAvailable() const { return !delivered_ && !error_; }

std::int64_t TVHTTPBodyPart::fail(ErrorPtr error) {
    error_ = error ? std::move(error)
                   : platform::Error::make(TVURLRequestSerializationErrorDomain, -1,
                                           platform::Dictionary{{platform::Error::kLocalizedFailureReasonErrorKey,
                                                                 platform::Value("Body part stream failed.")}});
    return -1;
}

std::int64_t TVHTTPBodyPart::read(std::uint8_t* buffer, std::size_t length) {
    if (error_) return -1;
    // Checked before the first byte: a header line break would let the
    // headers forge further headers or a boundary.
    if (phase_ == TVEncapsulationBoundaryPhase && phaseReadOffset_ == 0 && !headersAreSafe(headers))
        return fail(unsafeHeaderError());
    std::size_t total = 0;
    if (phase_ == TVEncapsulationBoundaryPhase) total += readData(phaseText(), buffer, length);
    if (phase_ == TVHeaderPhase) total += readData(phaseText(), buffer + total, length - total);
    if (phase_ == TVBodyPhase) {
        std::int64_t n = readBody(buffer + total, length - total);
        if (n < 0) return -1;
        total += static_cast<std::size_t>(n);
    }
    if (phase_ == TVFinalBoundaryPhase) total += readData(phaseText(), buffer + total, length - total);
    return static_cast<std::int64_t>(total);
}

std::string TVHTTPBodyPart::phaseText() const {
    switch (phase_) {
        case TVEncapsulationBoundaryPhase:
            return hasInitialBoundary ? TVMultipartFormInitialBoundary(boundary)
                                      : TVMultipartFormEncapsulationBoundary(boundary);
        case TVHeaderPhase: return stringForHeaders();
        case TVFinalBoundaryPhase: return hasFinalBoundary ? TVMultipartFormFinalBoundary(boundary) : std::string();
        default: return std::string();
    }
}

std::int64_t TVHTTPBodyPart::readBody(std::uint8_t* buffer, std::size_t length) {
    InputStream& stream = *inputStream();
    if (stream.streamStatus() == InputStream::Status::Error) return fail(stream.streamError());
    std::uint64_t remaining = bodyContentLength - bodyDelivered_;
    std::size_t total = 0;
    while (total < length && remaining > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length - total, remaining));
        std::int64_t n = stream.read(buffer + total, want);
        if (n < 0) return fail(stream.streamError());
        if (n == 0) return fail(lengthMismatch("Body part content ended before its declared length."));
        total += static_cast<std::size_t>(n);
        remaining -= static_cast<std::uint64_t>(n);
        bodyDelivered_ += static_cast<std::uint64_t>(n);
    }
    if (remaining == 0) {
        if (stream.streamStatus() != InputStream::Status::AtEnd) {
            // The declared length is reached: the content must end here.
            std::uint8_t probe;
            std::int64_t n = stream.read(&probe, 1);
            if (n < 0) return fail(stream.streamError());
            if (n > 0) return fail(lengthMismatch("Body part content is longer than its declared length."));
        }
        transitionToNextPhase();
    }
    return static_cast<std::int64_t>(total);
}

std::size_t TVHTTPBodyPart::readData(const std::string& text, std::uint8_t* buffer, std::size_t length) {
    std::size_t offset = static_cast<std::size_t>(phaseReadOffset_);
    std::size_t n = std::min(text.size() - std::min(offset, text.size()), length);
    if (n) std::memcpy(buffer, text.data() + offset, n);
    phaseReadOffset_ += n;
    if (phaseReadOffset_ >= text.size()) transitionToNextPhase();
    return n;
}

bool TVHTTPBodyPart::transitionToNextPhase() {
    // Runs on the reading thread: a hop to the main thread for every phase
    // would stall the transfer whenever the main thread is busy or waiting.
    switch (phase_) {
        case TVEncapsulationBoundaryPhase: phase_ = TVHeaderPhase; break;
        case TVHeaderPhase:
            inputStream()->open();
            phase_ = TVBodyPhase;
            break;
        case TVBodyPhase:
            inputStream()->close();
            phase_ = TVFinalBoundaryPhase;
            break;
        case TVFinalBoundaryPhase:
        default:
            if (phase_ == TVFinalBoundaryPhase) delivered_ = true;
            phase_ = TVEncapsulationBoundaryPhase;
            break;
    }
    phaseReadOffset_ = 0;
    return true;
}

std::shared_ptr<TVHTTPBodyPart> TVHTTPBodyPart::copy() const {
    auto c = std::make_shared<TVHTTPBodyPart>();
    c->stringEncoding = stringEncoding;
    c->headers = headers;
    c->bodyContentLength = bodyContentLength;
    c->body = body;
    c->boundary = boundary;
    return c;
}

}  // namespace pellix
