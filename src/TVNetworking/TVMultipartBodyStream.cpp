#include "TVNetworking/TVMultipartBodyStream.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "TVNetworking/TVHTTPRequestSerializer.h"

namespace pellix {

TVMultipartBodyStream::TVMultipartBodyStream(unsigned stringEncoding) : stringEncoding_(stringEncoding) {}

void TVMultipartBodyStream::setInitialAndFinalBoundaries() {
    for (auto& part : parts_) part->hasInitialBoundary = part->hasFinalBoundary = false;
    if (!parts_.empty()) {
        parts_.front()->hasInitialBoundary = true;
        parts_.back()->hasFinalBoundary = true;
    }
}

void TVMultipartBodyStream::appendHTTPBodyPart(std::shared_ptr<TVHTTPBodyPart> part) { parts_.push_back(std::move(part)); }

std::uint64_t TVMultipartBodyStream::contentLength() const {
    std::uint64_t length = 0;
    for (const auto& part : parts_) length += part->contentLength();
    return length;
}

std::int64_t TVMultipartBodyStream::knownLength() const { return static_cast<std::int64_t>(contentLength()); }

void TVMultipartBodyStream::open() {
    if (status_ == Status::Open) return;
    status_ = Status::Open;
    setInitialAndFinalBoundaries();
    nextPart_ = 0;
    currentPart_.reset();
}

void TVMultipartBodyStream::close() {
    if (status_ != Status::Error) status_ = Status::Closed;
}

std::int64_t TVMultipartBodyStream::read(std::uint8_t* buffer, std::size_t maxLength) {
    if (status_ == Status::Closed) return 0;
    if (failurePending_) {
        failurePending_ = false;
        status_ = Status::Error;
    }
    if (status_ == Status::Error) return -1;
    if (status_ != Status::Open) {
        error_ = platform::Error::make(TVURLRequestSerializationErrorDomain, -1,
                                       platform::Dictionary{{platform::Error::kLocalizedFailureReasonErrorKey,
                                                             platform::Value("Body stream read before it was opened.")}});
        status_ = Status::Error;
        return -1;
    }
    const std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(maxLength, numberOfBytesInPacket));
    std::size_t total = 0;
    while (total < limit) {
        if (!currentPart_ || !currentPart_->hasBytesAvailable()) {
            if (nextPart_ >= parts_.size()) break;
            currentPart_ = parts_[nextPart_++];
            continue;
        }
        std::int64_t n = currentPart_->read(buffer + total, limit - total);
        if (n < 0) {
            error_ = currentPart_->streamError();
            // What this call delivered goes out first; the failure follows.
            if (total > 0) {
                failurePending_ = true;
                return static_cast<std::int64_t>(total);
            }
            status_ = Status::Error;
            return -1;
        }
        total += static_cast<std::size_t>(n);
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    }
    return static_cast<std::int64_t>(total);
}

std::shared_ptr<platform::InputStream> TVMultipartBodyStream::copy() const {
    auto c = std::make_shared<TVMultipartBodyStream>(stringEncoding_);
    for (const auto& part : parts_) c->appendHTTPBodyPart(part->copy());
    c->setInitialAndFinalBoundaries();
    return c;
}

}  // namespace pellix
