// InputStream: a source of bytes read in order, as the platform's input
// streams are (request bodies, file reads).
//
// The library supplies streams over bytes in memory and over a file; a host
// supplies its own by deriving from InputStream. A stream is used by one
// thread at a time: a URL session reads a request's body stream on its engine
// thread, so a host stream's read() must not wait long (it holds up the
// session's other transfers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class InputStream {
public:
    enum class Status { NotOpen, Open, AtEnd, Closed, Error };

    virtual ~InputStream() = default;

    // Opens the source; on failure the status becomes Error and
    // streamError() tells why.
    virtual void open() = 0;
    virtual void close() = 0;
    // Reads up to maxLength bytes: the count read, 0 at the end, -1 on error
    // (streamError() tells why). Reading a stream that is not open is an error.
    virtual std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) = 0;
    virtual Status streamStatus() const = 0;
    virtual ErrorPtr streamError() const = 0;
    // Total length when the stream knows it in advance, else -1.
    virtual std::int64_t knownLength() const { return -1; }
    // A fresh, unopened stream over the same bytes, or null when this stream
    // cannot be replayed (the platform's copyable streams). A session that
    // must send a body again (a 307/308 redirect) uses it.
    virtual std::shared_ptr<InputStream> copy() const { return nullptr; }

    // A stream over a copy of the bytes.
    static std::shared_ptr<InputStream> withData(Bytes data);
    // A stream over a file; opening fails with an NSPOSIXErrorDomain error
    // when the file cannot be read.
    static std::shared_ptr<InputStream> withFile(std::string path);
};

}  // namespace pellix::platform
