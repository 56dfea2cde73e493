// TVHTTPBodyPart: one part of a multipart body, delivered phase by phase:
// its boundary, its header lines, its content, and (for the last part) the
// final boundary.
//
// The content is data, a file (read while the body streams) or a caller's
// input stream. Its declared length is what the body's Content-Length was
// computed from, so the part holds the content to it: a content that cannot
// be opened or read, that ends before the declared length or that has bytes
// beyond it makes read() return -1 with streamError() set, never a silent
// end of the part.
//
// A part is read by one thread at a time; phase changes happen on that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "TVNetworking/TVMultipartFormData.h"
#include "platform/Error.h"
#include "platform/InputStream.h"
#include "platform/URL.h"
#include "platform/Value.h"

namespace pellix {

// Boundary texts for a body with boundary `boundary`.
std::string TVCreateMultipartFormBoundary();
std::string TVMultipartFormInitialBoundary(const std::string& boundary);
std::string TVMultipartFormEncapsulationBoundary(const std::string& boundary);
std::string TVMultipartFormFinalBoundary(const std::string& boundary);

class TVHTTPBodyPart {
public:
    enum Phase : std::int32_t {
        TVEncapsulationBoundaryPhase = 1,
        TVHeaderPhase = 2,
        TVBodyPhase = 3,
        TVFinalBoundaryPhase = 4,
    };
    // Data, a file URL or an input stream.
    using Body = std::variant<std::shared_ptr<const platform::Bytes>, platform::URL, std::shared_ptr<platform::InputStream>>;

    // Failure code (in TVURLRequestSerializationErrorDomain) of a content
    // whose length differs from the declared one.
    static constexpr std::int64_t kContentLengthMismatchErrorCode = -1021;
    // Failure code (same domain) of a part whose header name is not an HTTP
    // token or whose value holds CR, LF or NUL: written out, such a header
    // could add header lines or a fake boundary. The caller's input could not
    // be used, as with the builder's file-URL failures (-1000).
    static constexpr std::int64_t kUnsafeHeaderErrorCode = -1000;

    // True when every header can be written as one line of its own (the
    // request serializer's header check).
    static bool headersAreSafe(const TVHTTPBodyPartHeaders& headers);
    static platform::ErrorPtr unsafeHeaderError();

    TVHTTPBodyPart();
    ~TVHTTPBodyPart();
    TVHTTPBodyPart(const TVHTTPBodyPart&) = delete;
    TVHTTPBodyPart& operator=(const TVHTTPBodyPart&) = delete;

    unsigned stringEncoding = 4;
    TVHTTPBodyPartHeaders headers;
    std::string boundary;
    Body body;
    std::uint64_t bodyContentLength = 0;
    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;

    // The stream over the content, made on first use.
    const std::shared_ptr<platform::InputStream>& inputStream();
    // Every header line, then an empty line.
    std::string stringForHeaders() const;
    // Boundary + headers + declared content length (+ final boundary).
    std::uint64_t contentLength() const;
    // True until the part has been delivered whole (or has failed).
    bool hasBytesAvailable() const;
    Phase phase() const { return phase_; }

    // Delivers up to `length` bytes, moving through the phases; -1 on failure,
    // also before any byte when `headers` fail headersAreSafe() (a part built
    // by hand: the builder never appends such parts).
    std::int64_t read(std::uint8_t* buffer, std::size_t length);
    platform::ErrorPtr streamError() const { return error_; }

    // A fresh part (phase 1) with the same content; a caller's stream is
    // shared with the copy.
    std::shared_ptr<TVHTTPBodyPart> copy() const;

private:
    // The boundary or header text the current phase delivers.
    std::string phaseText() const;
    std::size_t readData(const std::string& text, std::uint8_t* buffer, std::size_t length);
    std::int64_t readBody(std::uint8_t* buffer, std::size_t length);
    bool transitionToNextPhase();
    std::int64_t fail(platform::ErrorPtr error);

    Phase phase_ = static_cast<Phase>(0);  // init moves it to the first phase
    std::uint64_t phaseReadOffset_ = 0;
    std::uint64_t bodyDelivered_ = 0;
    bool delivered_ = false;
    std::shared_ptr<platform::InputStream> inputStream_;
    platform::ErrorPtr error_;
};

}  // namespace pellix
