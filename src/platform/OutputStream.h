// OutputStream: a sink of bytes written in order, as the platform's output
// streams are (to memory or to a file). A host supplies its own by deriving
// from OutputStream. Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class OutputStream {
public:
    enum class Status { NotOpen, Open, Closed, Error };

    virtual ~OutputStream() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    // Writes up to length bytes: the count written, or -1 on error
    // (streamError() tells why).
    virtual std::int64_t write(const std::uint8_t* buffer, std::size_t length) = 0;
    virtual Status streamStatus() const = 0;
    virtual ErrorPtr streamError() const = 0;
    // The bytes written so far, for a stream to memory; nullopt otherwise.
    virtual std::optional<Bytes> dataWritten() const { return std::nullopt; }

    // A stream collecting what is written in memory.
    static std::shared_ptr<OutputStream> toMemory();
    // A stream to a file, created with mode 0600 when missing; truncated
    // unless append is set.
    static std::shared_ptr<OutputStream> toFile(std::string path, bool append);
};

}  // namespace pellix::platform
