// TVMultipartBodyStream: the input stream that carries a multipart body,
// producing it part by part on demand so the body is never held in memory.
// Its knownLength() is the exact body length, computed without reading any
// content.
//
// A failing part (content unreadable, shorter or longer than declared) makes
// read() fail (-1, status Error, streamError() set); bytes delivered in the
// same call before the failure are returned first and the failure follows
// on the next call, so a failure is never mistaken for the end of the body.
//
// Used by one thread at a time (the URL session's engine thread); throttling
// sleeps that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "TVNetworking/TVHTTPBodyPart.h"
#include "platform/InputStream.h"

namespace pellix {

class TVMultipartBodyStream : public platform::InputStream {
public:
    explicit TVMultipartBodyStream(unsigned stringEncoding);
    TVMultipartBodyStream(const TVMultipartBodyStream&) = delete;
    TVMultipartBodyStream& operator=(const TVMultipartBodyStream&) = delete;

    // At most this many bytes per read() call (default: no limit).
    std::uint64_t numberOfBytesInPacket = 9223372036854775807ull;
    // Seconds to sleep after each part read inside a read() call.
    double delay = 0;

    unsigned stringEncoding() const { return stringEncoding_; }
    const std::vector<std::shared_ptr<TVHTTPBodyPart>>& HTTPBodyParts() const { return parts_; }

    // Marks the first part as initial and the last as final (clearing the
    // marks of all others).
    void setInitialAndFinalBoundaries();
    void appendHTTPBodyPart(std::shared_ptr<TVHTTPBodyPart> part);
    bool isEmpty() const { return parts_.empty(); }
    std::uint64_t contentLength() const;
    // True while the stream is open.
    bool hasBytesAvailable() const { return status_ == Status::Open; }

    void open() override;
    void close() override;
    std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override;
    Status streamStatus() const override { return status_; }
    platform::ErrorPtr streamError() const override { return error_; }
    std::int64_t knownLength() const override;
    // A fresh stream over copies of the parts (the whole body from the start).
    std::shared_ptr<platform::InputStream> copy() const override;

private:
    unsigned stringEncoding_;
    std::vector<std::shared_ptr<TVHTTPBodyPart>> parts_;
    std::size_t nextPart_ = 0;
    std::shared_ptr<TVHTTPBodyPart> currentPart_;
    Status status_ = Status::NotOpen;
    platform::ErrorPtr error_;
    bool failurePending_ = false;
};

}  // namespace pellix
