// HOSHttpResponseParser: turns one storage reply into the operation's result
// record. The networking layer hands it the response head, then each body
// chunk in order, and on success asks for the result. Body bytes go to the
// caller's receive block, a download file, or memory; a GetObject body's
// CRC-64 is carried on chunk by chunk whatever the sink.
//
// Header names are compared without regard to case, as HTTP defines them.
// reset() returns the parser to its fresh state for a retry, the running CRC
// included (the retry receives the body again from its first byte).
//
// Not locked: one request's callbacks use it, one at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "HOSSDK/HOSModel.h"
#include "HOSSDK/HOSTask/HOSTask.h"
#include "platform/HTTPURLResponse.h"

namespace pellix {

class HOSHttpResponseParser {
public:
    explicit HOSHttpResponseParser(std::int64_t operationType);
    ~HOSHttpResponseParser();
    HOSHttpResponseParser(const HOSHttpResponseParser&) = delete;
    HOSHttpResponseParser& operator=(const HOSHttpResponseParser&) = delete;

    std::int64_t operationTypeForThisParser() const { return type_; }

    void consumeHttpResponse(std::shared_ptr<const platform::HTTPURLResponse> response);
    // nil-result task when the chunk was taken; an error task when the
    // download file cannot be created or written.
    HOSTaskPtr consumeHttpResponseBody(const platform::Bytes& chunk);
    // The result for the operation type, or null (receive block set, a type
    // without a row, a reply of the wrong shape, or a download file that
    // could not be completed on disk: see resultError()).
    HOSResultPtr constructResultObject();
    // Why the last constructResultObject() gave no result although the reply
    // was a success: its XML had the wrong shape (client code 10), or the
    // download file could not be written, flushed or closed (client code 2).
    // Null otherwise.
    const platform::ErrorPtr& resultError() const { return resultError_; }
    void reset();

    void parseResponseHeader(const platform::HTTPURLResponse& response, HOSResult& result) const;
    platform::Dictionary parseResponseHeaderToGetMeta(const platform::HTTPURLResponse& response) const;

    const HOSReceiveBlock& onRecieveBlock() const { return onRecieveBlock_; }
    void setOnRecieveBlock(HOSReceiveBlock block) { onRecieveBlock_ = std::move(block); }
    const std::optional<platform::URL>& downloadingFileURL() const { return downloadingFileURL_; }
    void setDownloadingFileURL(std::optional<platform::URL> url) { downloadingFileURL_ = std::move(url); }
    bool crc64Verifiable() const { return crc64Verifiable_; }
    void setCrc64Verifiable(bool v) { crc64Verifiable_ = v; }
    std::uint64_t crc64ecma() const { return crc64ecma_; }

    // The largest reply body collected in memory for an operation other than
    // GetObject (an XML result, a callback's answer). No real reply comes
    // near it; past it the request fails with client code 10 instead of
    // holding whatever a broken or hostile server keeps sending.
    static constexpr std::size_t kMaxResultBodyBytes = std::size_t{16} << 20;

private:
    class FaultAhead;
    // Bodies reserved at least this large get their pages faulted in ahead.
    static constexpr std::size_t kFaultAheadFrom = std::size_t{16} << 20;

    HOSTaskPtr openDownloadFile();
    // Creates the file when no chunk did, then flushes and closes it; the
    // client's file-write error when any of that failed.
    platform::ErrorPtr finishDownloadFile();
    platform::ErrorPtr fileWriteError(const char* what, int error) const;
    void closeFile();

    const std::int64_t type_;
    std::FILE* fileHandle_ = nullptr;
    std::optional<platform::Bytes> collectingData_;
    // Declared after the body: stopped before the body's memory goes.
    std::unique_ptr<FaultAhead> faultAhead_;
    std::shared_ptr<const platform::HTTPURLResponse> response_;
    std::uint64_t crc64ecma_ = 0;
    bool crc64Verifiable_ = false;
    HOSReceiveBlock onRecieveBlock_;
    std::optional<platform::URL> downloadingFileURL_;
    platform::ErrorPtr resultError_;
};

}  // namespace pellix
